// context!: scopes. A context is a table of words with a parallel store of
// values: the global context, every object (error!, port!), and every
// function!, native!, action! and routine! for its arguments and locals.
//
// A context is a series of exactly two cells reached through its node (the
// context node that words and objects keep in payload word 1):
//   cell 0  the context cell: header type 14, kind in bits 11-12, the owner
//           flag (bit 16), values-on-stack (bit 22), object (bit 24);
//           w1 the word table (a kind-2 hash table whose block holds one
//           word! per entry, bound to this context, w3 its position);
//           w2 the values block (one cell per entry, in the same order), or,
//           with values on the stack, the argument-stack cell index of the
//           first value (0 while the owning function is not running);
//   cell 1  the self slot: the value that owns the context.
//
// Invariants: entries are only appended, and an entry's position is the index
// of its value. In the global context every ASCII case variant of a name may
// have its own entry, but the entry's w3 names the slot of the first spelling
// added, so all spellings share one value: lookups that lead to a value go
// through the entry's w3, never through the entry's position.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyr::context_t {

enum Kind : uint32_t { kind_global = 0, kind_function = 1, kind_object = 2 };
inline constexpr uint32_t global_words = 4000;

// The global context's node (start-up step `global_context`).
extern NodeId global_context;
void make_global_context();

// The context cell (the first cell of its series).
inline Cell* context_cell(NodeId ctx) { return memory::cell_at(ctx, 0); }
Cell* self_slot(NodeId ctx);
inline uint32_t kind_of(const Cell& context) {
    return (context.header & header::context_kind_mask) >> header::context_kind_shift;
}
inline bool values_on_stack(const Cell& context) { return context.header & header::context_on_stack; }
// Number of entries.
uint32_t word_count(NodeId ctx);
// The first value cell (values block or argument stack), or null when the
// values live on the stack and the owner is not running.
[[gnu::always_inline]] inline Cell* values_base(NodeId ctx) {
    const Cell& c = *context_cell(ctx);
    if (values_on_stack(c)) return c.w2 ? stack::bottom() + c.w2 : nullptr;
    return c.w2 ? memory::cell_head(c.w2) : nullptr;
}
// The global context's first value cell, kept while the memory layout stays
// (read through the node on the first use after a change of it).
namespace detail {
extern Cell* global_values;
extern uint32_t global_values_epoch;
Cell* read_global_values();
}  // namespace detail
inline Cell* global_values() {
    if (detail::global_values_epoch == memory::layout_epoch()) [[likely]] return detail::global_values;
    return detail::read_global_values();
}
// Points a values-on-stack context at its first value cell (null: none).
void set_stack_values(NodeId ctx, Cell* first);

// A new context for n words (0 counts as 1). With a source context, the word
// table is copied from it (same entries in the same order, words still
// bound to the source) and the values are that many unset cells.
NodeId make(uint32_t n, bool on_stack, bool object, NodeId source, uint32_t kind);
// One entry per distinct word!, get-word!, lit-word! and refinement! of the
// argument block (case-folded), walked from its first cell.
NodeId make_from_spec(const Cell& spec, bool on_stack, bool object, uint32_t kind);

// Entry index of the symbol, or -1.
int32_t find_word(NodeId ctx, int32_t symbol, bool fold);
// Entry index when present; else appends an entry, writes its index to
// `out` and answers -1. Values are not touched.
int32_t find_word_case(NodeId ctx, int32_t symbol, bool fold, int32_t& out);
// The value index of the word's symbol (case-folded); when absent adds an
// entry and, unless the values live on the stack, an unset value.
int32_t find_or_add_word(NodeId ctx, const Cell& word);
// When the symbol is absent, adds it with a copy of the value and answers
// the new value cell; else null.
Cell* add_if_absent(NodeId ctx, const Cell& word, const Cell& value);
// Stores a copy of the value at the word's entry, adding it when absent.
void put_word_value(NodeId ctx, const Cell& word, const Cell& value);
// The global word for a symbol (see context.cpp).
Cell add_global_word(int32_t symbol, bool fold, bool keep);
// Adds every top-level set-word! of the block; answers whether any was new.
bool collect_set_words(NodeId ctx, const Cell& block);
// A new context with the same words and unset values; its words are bound to
// it and the value's w1 switched to it. Answers the new node.
NodeId duplicate(Cell& value, uint32_t kind);
// Word-table cell i.
Cell* word_at(NodeId ctx, int32_t i);
// The word-table cell for the symbol (exact spelling), else the global word.
Cell get_or_add_word(NodeId ctx, int32_t symbol);
// Value cell i.
inline Cell* context_value_at(NodeId ctx, int32_t i) {
    Cell* base = values_base(ctx);
    return base ? base + i : nullptr;
}
// The value of a symbol present in the context (case-folded); the global
// context stands in for one whose values live on the stack. Null if absent.
Cell* value_of_symbol(int32_t symbol, NodeId ctx);
Cell* global_symbol_value(int32_t symbol);
void set_global_symbol_value(int32_t symbol, const Cell& value);

// Slot access for code that refers to context slots by index.
void push_value_at(NodeId ctx, int32_t i);
void set_value_at(NodeId ctx, int32_t i);
void set_value_at_node(NodeId ctx, int32_t i);
Cell* set_value_at_from_result(NodeId ctx, int32_t i);

// The object's change notification, called when a word of an object with
// an event record is set. object! installs it; until then nothing fires.
using FireOnChange = void (*)(Cell* object, Cell* word, Cell* old_value, Cell* new_value);
void set_fire_on_change(FireOnChange fn);
FireOnChange fire_on_change_hook();

void init();

}  // namespace vyr::context_t

namespace vyr::block_t {
// Binds every word of the block (from its index, deeply) that the context
// has; with `self`, a word! spelled exactly `self` gets the context with
// index -1. A block that contains itself is bound once. Answers the block.
Cell* bind(Cell* block, NodeId ctx, bool self);
}  // namespace vyr::block_t
