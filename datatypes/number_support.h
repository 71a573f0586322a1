// What the number types (integer!, float!, time!, triple!) share: the
// errors they raise with the values they pass as error arguments, the text
// they append to the mold buffer, and read-only views of the binary! and
// block! values they convert from.
//
// Word arguments of errors (the action word, the calling word) need the
// symbol table and the call frames; until those exist they are passed as
// none!, so that every raise already names the right error and datatype.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/datatype.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "datatypes/frames.h"
#include "runtime/cell.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace vyr::number_support {

// ---- Text -------------------------------------------------------------------

// The characters of a string-like value from its index to its tail.
struct TextView {
    const uint8_t* units;
    uint32_t count;
    uint32_t unit;
};
inline TextView text_from_index(const Cell& string) {
    Cell s = string;
    uint32_t count = string_t::length_at(s);
    return {string_t::position(s), count, string_t::unit_of(string_t::node_of(s))};
}

// ---- Errors -------------------------------------------------------------------

namespace script = err_id::script;
namespace math = err_id::math;

// The datatype! of a value.
inline Cell datatype_of(const Cell& value) { return datatype_t::value_of(type_of(value)); }

// A word argument: the action word named, or the word of the running call.
inline Cell word_arg(const char* spelling) { return word_t::make_global(spelling); }
inline Cell calling_word() { return frames::calling_word(); }

[[noreturn]] inline void raise_math(int id) { raise_error(err_cat::math, id); }

[[noreturn]] inline void raise_script(int id, const Cell& arg1) { raise_error(err_cat::script, id, &arg1); }
[[noreturn]] inline void raise_script(int id, const Cell& arg1, const Cell& arg2) {
    raise_error(err_cat::script, id, &arg1, &arg2);
}

// "cannot MAKE/TO <type> from: <value>"
[[noreturn]] inline void raise_bad_to_arg(uint32_t type, const Cell& value) {
    raise_script(script::bad_to_arg, datatype_t::value_of(type), value);
}
// "incompatible argument for <word> of <type>"
[[noreturn]] inline void raise_not_related(const Cell& word, uint32_t type) {
    raise_script(script::not_related, word, datatype_t::value_of(type));
}
// "<type> type is not allowed here", for an operand of the wrong type.
[[noreturn]] inline void raise_invalid_type(const Cell& operand) { raise_script(script::invalid_type, datatype_of(operand)); }
// "<calling word> does not allow <type> for its <argument> argument", for
// the argument at `position` of the action's spec words.
[[noreturn]] inline void raise_expect_arg(int32_t position, const Cell& arg) { checks::raise_expect_arg(position, arg); }

// The hand-off to a datatype that is not built yet (pair!, tuple!, money!,
// date!, vector!, the point types) or to a service that does not exist yet
// (the lexer's number scanners, symbols): "reserved for future use".
[[noreturn]] inline void raise_not_done() { raise_error(err_cat::internal, err_id::internal::not_done); }

// ---- Text ---------------------------------------------------------------------

// Appends ASCII text to the mold buffer (a string! value) and answers the
// part budget less its length.
inline int32_t append_ascii(const Cell& buffer, std::string_view text, int32_t budget) {
    string_t::append_text_part(buffer, text.data(), uint32_t(text.size()));
    return budget - int32_t(text.size());
}

// ---- Series views -------------------------------------------------------------

// The units of a series value from its index to the tail (none when the index
// lies past the tail). Valid until the series grows or a safe point runs.
struct ByteView {
    const uint8_t* bytes;
    uint32_t length;
};
inline ByteView bytes_from_index(const Cell& series) {
    memory::SeriesBuffer* b = memory::buffer_of(series.w2);
    uint32_t n = b->length();
    uint32_t index = series.w1 < n ? series.w1 : n;
    return {b->head_ptr() + index * b->unit(), n - index};
}
struct CellView {
    const Cell* cells;
    uint32_t length;
};
inline CellView cells_from_index(const Cell& block) {
    memory::SeriesBuffer* b = memory::buffer_of(block.w2);
    uint32_t n = b->length();
    uint32_t index = block.w1 < n ? block.w1 : n;
    return {b->cells() + index, n - index};
}

}  // namespace vyr::number_support
