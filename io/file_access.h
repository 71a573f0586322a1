// The file! actions as the host carries them out: `read` (of a file, or the
// listing of a directory), `write`, `delete`, `query` and `rename`, and the
// bytes a value is written as.
//
// Files are read and written as bytes. Text read from a file is UTF-8 (a
// leading byte-order mark is skipped, CR LF becomes LF); text written gets
// LF line ends, the system's own. A host failure of read or write raises
// the access error `cannot-open` naming the file; delete and rename answer
// false, query none.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace vyr::file_access {

// Installs the actions behind file! (datatypes/file.h).
void install();

// The bytes `write` stores for a value: a string!'s UTF-8 (at most `part`
// characters when part is 0 or more), a binary!'s bytes (at most `part`),
// any other value molded and then taken as a string!. `value` must be a
// rooted cell (its text conversion buffer is used).
std::vector<uint8_t> value_bytes(Cell& value, int64_t part);

// The value that `read` gives for the bytes: a binary! (with `binary`), a
// block of lines (with `lines`: each LF ends a line, less one CR before it)
// or a string! (UTF-8, CR LF folded to LF; ill-formed UTF-8 raises
// `invalid-utf8`). No bytes give an empty binary! or an empty string!, also
// with `lines`. The bytes may be changed.
Cell bytes_value(std::vector<uint8_t>& bytes, bool binary, bool lines);

}  // namespace vyr::file_access
