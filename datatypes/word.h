// The word! family and issue!: word! (15) and its children set-word! (16),
// lit-word! (17), get-word! (18), refinement! (19) and issue! (20).
//
// All six share one cell layout:
//   w1  the context node the word is bound to, 0 when unbound;
//   w2  the symbol id;
//   w3  the index of its value in that context, -1 while unresolved.
// This module makes words from names written in the runtime's own code,
// reads and writes word values (through the word's context), binds words,
// and holds the actions of the six types (make and to, form, mold, compare,
// index?).
//
// Root keeping: while vyr::root_keep is set (start-up), every word made by
// make_global and make_global_from_symbol, and every issue made by
// issue_t::load_text, is also copied into a new cell of the root block, so
// that it stays reachable although nothing else refers to it yet.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr {
// While set, every word made global is also kept in the root block.
extern bool root_keep;
}  // namespace vyr

namespace vyr::word_t {

inline constexpr uint32_t unresolved = 0xFFFFFFFF;  // w3 of a word not yet resolved

// ---- Making words from names (text: NUL-terminated UTF-8) ----------------------

// The global word for the text (any spelling of a global name shares its value).
Cell make_global(const char* text);
// The same for a symbol, looked up with its exact spelling.
Cell make_global_from_symbol(int32_t symbol);
// Turns the cell into a word! bound to the global context (adding the name
// with an unset value when new); answers the cell.
Cell* make_at(int32_t symbol, Cell* cell);
Cell* box(int32_t symbol);
Cell* load_in(int32_t symbol, NodeId block);
Cell* load_text_in(const char* text, NodeId block);
Cell* push_symbol(int32_t symbol);
// Makes the word of every registered type's name (make_global) and stores
// it in the type-name table (start-up, after the symbol table exists).
void make_type_name_words();

// ---- Binding, reading and writing -------------------------------------------------

// Binds the word to the context when the context has its symbol (case-
// folded); answers the value index or -1.
int32_t bind_to(Cell& word, NodeId ctx);
// The word's value cell (errors: no-value, not-in-context).
Cell* get_in_context(const Cell& word, NodeId ctx);
Cell* get(const Cell& word);
// Stores a copy of the value as the word's value, resolving the word's index
// when it is -1; for a word of an object, marks the field changed and, with
// `fire`, runs the object's change notification. Answers the value cell.
Cell* set_in_context(Cell& word, const Cell& value, NodeId ctx, bool fire);
Cell* set(Cell& word, const Cell& value);
int32_t set_integer(Cell& word, int32_t value);

// ---- Access helpers ------------------------------------------------------------

Cell* push(const Cell& word);
Cell* push_local(NodeId ctx, int32_t i);
// Pushes a copy of the word's value; an unset value raises `no-value`.
Cell* push_value(const Cell& word);
Cell* push_value_unchecked(const Cell& word);
// The current frame's word and value arguments: sets the word, the value
// becoming the result; an unset value raises `need-value`.
void set_from_args();
// Copies the result into the destination; an unset result raises `need-value`.
void store_result_checked(Cell* destination);
// The word's symbol cell, with its cached string made.
Cell* symbol_cell(const Cell& word);
// Pushes a string! sharing the symbol's cached string.
Cell* push_name_string(const Cell& word);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* result, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
// The mold of all six types (each with its mark: 'a a: :a /a #a).
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* index_q();
void init();

}  // namespace vyr::word_t

// The per-type helpers of the children: `load_text_in` appends a word of
// the text with the type, `push` pushes a copy of a word as the type (flags
// kept), `push_local` pushes word-table cell i of a context as the type.
#define VYR_WORD_CHILD_HELPERS                             \
    Cell* load_text_in(const char* text, NodeId block);    \
    Cell* push(const Cell& word);                          \
    Cell* push_local(NodeId ctx, int32_t i);               \
    void init();

namespace vyr::set_word_t {
VYR_WORD_CHILD_HELPERS
}
namespace vyr::lit_word_t {
VYR_WORD_CHILD_HELPERS
}
namespace vyr::get_word_t {
VYR_WORD_CHILD_HELPERS
}
namespace vyr::refinement_t {
VYR_WORD_CHILD_HELPERS
// Appends an unbound refinement of the text to the root block; answers a copy.
Cell load_text_in(const char* text);
}  // namespace vyr::refinement_t
#undef VYR_WORD_CHILD_HELPERS

namespace vyr::issue_t {
// Turns the cell into an issue! of the text, bound to the global context
// with index -1.
Cell* make_at(Cell* cell, const char* text);
Cell* load_text_in(const char* text, NodeId block);
// In the root block while root keeping is on, else on the argument stack;
// answers a copy.
Cell load_text(const char* text);
Cell* push(const Cell& word);
Cell* make(Cell* result, Cell* spec, uint32_t type);
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();
}  // namespace vyr::issue_t

namespace vyr::root {
// Appends a copy of the cell to the root block; answers the root cell.
Cell* keep_cell(const Cell& cell);
}  // namespace vyr::root
