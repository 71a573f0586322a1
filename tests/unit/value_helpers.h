// Helpers for tests of the callable, object and error modules: building
// blocks and words by hand (there is no lexer in these tests) and reading
// back the text that form and mold write.
#pragma once

#include <initializer_list>
#include <string>

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::test {

inline Cell int_cell(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }
inline Cell type_cell(uint32_t t) { return Cell{type_datatype, t, 0, 0}; }
inline Cell none_cell() { return Cell{type_none, 0, 0, 0}; }

// A global word of the text, with the given word type.
inline Cell word_of(const char* text, uint32_t type = type_word) {
    Cell w = word_t::make_global(text);
    set_type(w, type);
    return w;
}
inline Cell set_word_of(const char* text) { return word_of(text, type_set_word); }
inline Cell lit_word_of(const char* text) { return word_of(text, type_lit_word); }
inline Cell get_word_of(const char* text) { return word_of(text, type_get_word); }
inline Cell refinement_of(const char* text) { return word_of(text, type_refinement); }

// A block (or another block type) holding copies of the cells.
inline Cell block_of(std::initializer_list<Cell> cells, uint32_t type = type_block) {
    NodeId node = memory::alloc_cells(uint32_t(cells.size()) + 1);
    for (const Cell& c : cells) *series::alloc_tail_cell(node) = c;
    return Cell{type, 0, node, 0};
}

inline Cell string_cell(const char* text) {
    Cell s;
    string_t::make_at(s, 16);
    string_t::append_text(s, text);
    return s;
}

// The text of a string value from its index (ASCII; other code points as ?).
inline std::string text_of(const Cell& s) {
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    std::string out;
    for (uint32_t i = s.w1; i < b->length(); ++i) {
        uint32_t cp = string_t::get_code_point(b->head_ptr() + i * b->unit(), b->unit());
        out += cp < 0x80 ? char(cp) : '?';
    }
    return out;
}

inline std::string name_of(const Cell& word) { return std::string(symbol_t::name(int32_t(word.w2))); }

// mold and form through the action table, as the evaluator would call them.
inline std::string mold_text(Cell value, bool only = false, bool all = false, bool flat = false) {
    Cell buffer;
    string_t::make_at(buffer, 64);
    auto fn = registry::action<registry::action_sig::mold>(type_of(value), registry::slot_mold);
    fn(&value, &buffer, only, all, flat, nullptr, 0, 0);
    return text_of(buffer);
}
inline std::string form_text(Cell value) {
    Cell buffer;
    string_t::make_at(buffer, 64);
    auto fn = registry::action<registry::action_sig::form>(type_of(value), registry::slot_form);
    fn(&value, &buffer, nullptr, 0);
    return text_of(buffer);
}
inline int32_t compare_cells(Cell a, Cell b, int32_t op) {
    auto fn = registry::action<registry::action_sig::compare>(type_of(a), registry::slot_compare);
    return fn(&a, &b, op);
}

}  // namespace vyr::test
