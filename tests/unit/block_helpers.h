// Helpers of the series and block tests: building values and molding them
// to std::string.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

// ---- Values ------------------------------------------------------------------

inline Cell I(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }
inline Cell none_value() { return Cell{type_none, 0, 0, 0}; }
inline Cell datatype_value(uint32_t t) { return Cell{type_datatype, t, 0, 0}; }
inline Cell with_new_line(Cell c) {
    c.header |= header::new_line;
    return c;
}

// An unbound word of the name (or a set-word!, lit-word!... with `type`).
inline Cell W(const char* name, uint32_t type = type_word) {
    return Cell{type, 0, uint32_t(symbol_t::make(name)), word_t::unresolved};
}

// A new block (or another block-family type) holding the items.
inline Cell B(std::initializer_list<Cell> items, uint32_t type = type_block) {
    Cell b;
    block_t::make_at(b, int32_t(items.size()));
    for (const Cell& c : items) block_t::append_value(b, c);
    set_type(b, type);
    return b;
}

// A text value with units of `width` bytes.
inline Cell S(const std::u32string& text, uint32_t width = 1, uint32_t type = type_string) {
    NodeId n = memory::alloc_units(uint32_t(text.size() + 1), width);
    memory::SeriesBuffer* b = memory::buffer_of(n);
    for (size_t i = 0; i < text.size(); ++i) unicode::store_unit(b->head_ptr(), i, width, text[i]);
    b->tail = b->head + uint32_t(text.size()) * width;
    return Cell{type, 0, n, 0};
}
inline Cell S(const char* text) {
    std::u32string t;
    for (const char* p = text; *p; ++p) t += char32_t(uint8_t(*p));
    return S(t);
}

inline std::string chars_of(const Cell& s) {
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    std::string out;
    for (uint32_t i = 0; i < b->length(); ++i) out += char(unicode::load_unit(b->head_ptr(), i, b->unit()));
    return out;
}
// The text from the value's index.
inline std::string chars_at(const Cell& s) { return chars_of(s).substr(s.w1); }

inline Cell mold_buffer() { return Cell{type_string, 0, memory::alloc_units(16, 1), 0}; }

struct MoldOptions {
    bool only = false;
    bool all = false;
    bool flat = false;
    int32_t part = -1;  // -1: no /part
};

// mold* and form*: the budget is the /part length, the text cut to it.
inline std::string mold(const Cell& v, MoldOptions o = {}) {
    Cell buffer = mold_buffer(), value = v, part = I(o.part);
    auto fn = registry::action<registry::action_sig::mold>(type_of(v), registry::slot_mold);
    fn(&value, &buffer, o.only, o.all, o.flat, o.part >= 0 ? &part : nullptr, o.part >= 0 ? o.part : INT32_MAX, 0);
    std::string s = chars_of(buffer);
    return o.part >= 0 ? s.substr(0, size_t(o.part)) : s;
}
inline std::string form(const Cell& v, int32_t part = -1) {
    Cell buffer = mold_buffer(), value = v, p = I(part);
    auto fn = registry::action<registry::action_sig::form>(type_of(v), registry::slot_form);
    fn(&value, &buffer, part >= 0 ? &p : nullptr, part >= 0 ? part : INT32_MAX);
    std::string s = chars_of(buffer);
    return part >= 0 ? s.substr(0, size_t(part)) : s;
}
// The molded cells of a block from its index, for comparing contents.
inline std::string M(const Cell& b) { return mold(b); }

using BlockTest = RuntimeTest;

}  // namespace vyr::test
