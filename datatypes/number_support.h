// What the number types (integer!, float!, time!) share: the errors they
// raise with the values they pass as error arguments, and read-only views of
// the binary! and block! values they convert from.
//
// Ids are positions in their category of the error catalog (see errors.h).
// Word arguments (the action word, the calling word, a function's argument
// word) need the symbol table and the call frames; until those exist they
// are passed as none! so that every raise already names the right error.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "datatypes/string_buffer.h"
#include "runtime/memory.h"

namespace vyr::number_support {

// Script errors.
inline constexpr int expect_arg = 7;
inline constexpr int cannot_use = 10;
inline constexpr int invalid_arg = 11;
inline constexpr int invalid_type = 12;
inline constexpr int invalid_data = 18;
inline constexpr int not_related = 22;
inline constexpr int invalid_path = 33;
inline constexpr int out_of_range = 43;
inline constexpr int type_limit = 48;
inline constexpr int bad_to_arg = 56;
// Math errors.
inline constexpr int zero_divide = 2;
inline constexpr int overflow = 3;
// Internal errors.
inline constexpr int not_done = 11;

// A datatype! value naming the type.
inline Cell datatype_cell(uint32_t type) { return Cell{type_datatype, type, 0, 0}; }
// The datatype! of a value.
inline Cell datatype_of(const Cell& value) { return datatype_cell(type_of(value)); }

// A word argument: the action or refinement word named, or the word of the
// running call. Passed as none! until words can be made.
inline Cell word_arg(const char* /*spelling*/) { return Cell{type_none, 0, 0, 0}; }
inline Cell calling_word() { return Cell{type_none, 0, 0, 0}; }
// The argument word at `index` of the running function's spec (none until
// function specs exist).
inline Cell spec_word_at(int /*index*/) { return Cell{type_none, 0, 0, 0}; }

[[noreturn]] inline void raise_math(int id) { raise_error(err_cat::math, id); }

[[noreturn]] inline void raise_script(int id, const Cell& arg1) { raise_error(err_cat::script, id, &arg1); }
[[noreturn]] inline void raise_script(int id, const Cell& arg1, const Cell& arg2) {
    raise_error(err_cat::script, id, &arg1, &arg2);
}
[[noreturn]] inline void raise_script(int id, const Cell& arg1, const Cell& arg2, const Cell& arg3) {
    raise_error(err_cat::script, id, &arg1, &arg2, &arg3);
}

// "cannot MAKE/TO <type> from: <value>"
[[noreturn]] inline void raise_bad_to_arg(uint32_t type, const Cell& value) {
    raise_script(bad_to_arg, datatype_cell(type), value);
}
// "incompatible argument for <word> of <type>"
[[noreturn]] inline void raise_not_related(const Cell& word, uint32_t type) {
    raise_script(not_related, word, datatype_cell(type));
}
// "<type> type is not allowed here", for an operand of the wrong type.
[[noreturn]] inline void raise_invalid_type(const Cell& operand) { raise_script(invalid_type, datatype_of(operand)); }

// The hand-off to a datatype that is not built yet (pair!, tuple!, money!,
// date!, vector!, the point types) or to a service that does not exist yet
// (the lexer's number scanners, symbols): "reserved for future use".
[[noreturn]] inline void raise_not_done() { raise_error(err_cat::internal, not_done); }

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
