// Host services for the console's own code (see host.cpp): routine entries.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::console::host {

Status command_line(Cell* args, uint32_t count);  // -> block of the arguments

}  // namespace vyr::console::host
