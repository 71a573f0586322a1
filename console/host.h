// Host services for the console's own code (see host.cpp): routine entries.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::console::host {

Status read_file(Cell* args, uint32_t count);     // file -> its text (UTF-8)
Status write_file(Cell* args, uint32_t count);    // file text -> none
Status exists(Cell* args, uint32_t count);        // file -> logic
Status make_dir(Cell* args, uint32_t count);      // folder, with its parents
Status change_dir(Cell* args, uint32_t count);    // folder
Status current_dir(Cell* args, uint32_t count);   // -> file! ending in "/"
Status list_dir(Cell* args, uint32_t count);      // folder -> block of its names (folders end in "/")
Status command_line(Cell* args, uint32_t count);  // -> block of the arguments

}  // namespace vyr::console::host
