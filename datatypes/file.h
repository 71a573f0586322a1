// file!: a file or directory name (type id 8, parent url!).
//
// A file! holds the name in the system's portable form, which on this
// platform is the POSIX path itself: forward slashes, no drive letters. The
// host services take it as a local path through to_local_path.
//
// What file! does differently from url!: its mold (a "%" prefix, and double
// quotes when a character needs them), and the actions that hand the name
// to the host's file services.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyr::file_t {

// Pushes a copy of the file value on the argument stack.
Cell* push(const Cell& file);
// The local path of the file (from its index) as UTF-8, for the host.
std::string to_local_path(const Cell& file);
// Appends the local path form to the output string; with `full`, a relative
// name is preceded by the current directory.
void to_local_text(const Cell& file, Cell& output, bool full);
// A new string of the current directory, ending with "/".
Cell current_dir();

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

}  // namespace vyr::file_t
