// Delimiter-separated text to values and back: the routines behind
// `load-csv` and `to-csv` (library/csv.vyr).
//
// Reading: each line is a run of values separated by the delimiter (a
// character, or a text that must stand whole), ended by CR LF, LF or CR. A
// value is either quoted (the quote character around any text, line breaks
// included, with the quote written twice inside) or plain (anything but the
// line ends and the delimiter's characters). Lines become blocks of strings,
// one flat block, maps of column name to value (records) or one map of
// column name to a block of values (columns). Every line must hold as many
// values as the first. Text that cannot be read to its end, and lines that
// are not aligned, answer an error! value instead of a partial result.
//
// Writing: lines, a flat block, records or a map of columns become text,
// each line ended by a line feed. A value is quoted when it holds the quote
// character (then written twice), the delimiter, a space or a line break
// (CR included, so reading the text back gives the value again).
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::library {

// [data delimiter header? as-columns? as-records? flat? trim? quote-char]:
// the lines read, or the error! value. Too little text for a header line
// raises a user error.
Status load_csv(Cell* args, uint32_t count);
// [data delimiter size quote-char]: the text, or the error! value.
Status to_csv(Cell* args, uint32_t count);

}  // namespace vyr::library
