// JSON text to values and back: the routines behind `load-json` and
// `to-json` (library/json.vyr).
//
// Reading: objects become map! values (keys that look like words become
// words, others stay strings), arrays blocks, strings string!, numbers the
// integer! or float! the lexer makes of their text, true/false logic! and
// null none. Text that is not JSON answers an error! value that tells the
// line, index and column where reading stopped; nothing is raised for it.
// An escape that names half a surrogate pair without its other half raises
// script `invalid-data`; a lone low surrogate is kept as that code.
// Containers nested deeper than the language's walks go (mold, copy) answer
// an error! value too, so no input can exhaust the machine stack.
//
// Writing: any value becomes JSON text, compact or indented, with non-ASCII
// characters written as they are or as \u escapes. Numbers are formed as the
// language forms them, except that a float that is not finite (which JSON
// cannot hold) is written as null. Values with no JSON counterpart become
// strings of their molded (or, for the text types, formed) text. Data that
// holds itself raises internal `too-deep` instead of recursing without end.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::library {

// [input [string!]]: the value of the text, or the error! value.
Status load_json(Cell* args, uint32_t count);
// [data [any-type!] indent [string! none!] ascii? [logic!]]: a new string!.
Status to_json(Cell* args, uint32_t count);

}  // namespace vyr::library
