// object!: the language's records, and their change events.
//
// Cell layout (object! 32; error! 34 and port! 48 use the same):
//   w1  the object's context node (kind 2, object flag, values in a block;
//       its self slot holds this object value);
//   w2  the class id: objects with the same class id have the same fields
//       in the same order;
//   w3  the node of the event record, or 0 when the object declares no
//       change handler.
//
// Event record: a block of two pair! cells, the first for `on-change*`, the
// second for `on-deep-change*`. In each, w2 holds the handler's field index
// in its high 16 bits (0xFFFF, -1 through an arithmetic shift, when absent)
// and the handler's local-slot count in its low 16 bits; w3 the node of the
// handler's spec that the count was taken from (0 when unknown), so that a
// replaced handler is recounted.
//
// Invariants:
//  - the self slot of an object's context holds the object value with its
//    current class id and event record (every change of either rewrites it);
//  - the field flag (bit 13 on a word-table word) is set by every store
//    through a field and cleared once construction has evaluated its body block;
//  - an object whose record names an on-deep-change* handler owns the series
//    in its fields (runtime/owners.h); the owners table calls back into
//    `fire_on_deep_change` after such a series changes.
//
// Vyr code runs from here in two places, both through entries the evaluator
// provides (datatypes/eval_hooks.h): evaluating a make object! body block
// and the change handlers (function_t::call). Everything held across them is kept on
// the argument stack and read again afterwards.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"
#include "runtime/series.h"

namespace vyr::object_t {

inline constexpr int32_t first_class_id = 1000000;  // run-time class ids start above it
inline constexpr uint32_t default_words = 4;       // room of a new object's context
inline constexpr int32_t no_handler = -1;

// ---- The evaluator's entry for make object! ---------------------------------
// Evaluates a block (from its index) and leaves the last value in `result`.
// Until the evaluator installs one, a body block raises internal `not-done`.
Status eval_block(const Cell& block, Cell& result);

// ---- Values ------------------------------------------------------------------

// A new class id: one more than the last one handed out.
int32_t next_class_id();
// The cell becomes an empty object! with room for n words: class id 0, no
// events; the object is stored in its self slot.
Cell* make_at(Cell& cell, uint32_t n);
// Pushes an object! with these fields and stores it in the self slot.
Cell* push(NodeId context, NodeId events, int32_t class_id);
// For compiled code: a context whose values block is still empty gets one
// unset value per word; pushes the object (no events).
Cell* push_from_context(NodeId context, int32_t class_id);
// Gives the object on the stack top a new event record (spec nodes 0); an
// on-deep-change* index other than -1 makes it own its series. Answers the
// record node.
NodeId attach_events(NodeId context, int32_t change_index, int32_t change_slots, int32_t deep_index,
                     int32_t deep_slots);
// A new event record for the handlers the context declares, or 0 when it
// declares none. A handler field that holds neither a function! nor a
// routine! raises script `bad-field-set`.
NodeId make_events(NodeId context);
// Sets the object's event record from make_events, takes ownership of its
// series when it has an on-deep-change* handler, stores it in its self slot.
void finish(Cell& object);
bool has_deep_handler_q(const Cell& object);

// ---- Fields ------------------------------------------------------------------

// The field's value cell (found case-insensitively), or the shared none.
Cell* select_field(const Cell& object, const Cell& word);
int32_t find_field_index(const Cell& object, const Cell& word);
Cell* first_word(const Cell& object);
Cell* fields(const Cell& object);
uint32_t field_count(const Cell& object);
// The value at a field path of the `system` object (system/locale/...), or
// null while `system` or one of the objects on the way is missing.
const Cell* system_field(std::initializer_list<const char*> path);
bool word_is_class_q(const Cell& word, int32_t class_id);
bool field_is_class_q(NodeId context, int32_t i, int32_t class_id);
// Word-table cell i of a context.
Cell* context_node_word_at(NodeId context, int32_t i);
// Clears the field flag on every word of the context.
void clear_set_flags(NodeId context);
// Clears the new-line flag on every cell of a block buffer.
void clear_new_lines(NodeId block);
// For every word of the source context, copies its value into the
// destination's field of the same name (series values copied).
void copy_fields_by_name(NodeId source, NodeId destination);

// ---- Making ------------------------------------------------------------------

// make object! (slot 1): from the datatype or a prototype object, with a
// body block (evaluated) or another object.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
// The `construct` native's core: a block's set-words become fields, each
// taking the next value that is not a set-word, unevaluated (true/yes/on,
// false/no/off and none become their values unless `only`).
Cell* construct(const Cell& spec, const Cell* proto, bool only, Cell& out);
// Copies the object into `destination`: a new context with the same words
// and copies of the values. `deep` copies series values (blocks and texts),
// `types` (a typeset! or datatype!, or null) limits copying to those types;
// function! values are always rebound to the copy. With `rebuild` the copy
// gets its own event record.
void copy_into(const Cell& source, Cell& destination, bool deep, const Cell* types, bool rebuild);
// Replaces the function by a copy whose body is bound to the context. A
// function without a body raises script `bad-func-def`.
void rebind_function(Cell& fn, NodeId context);
// The `set` native on an object: from a block's values or another object's
// fields (by name), or every field to one value.
void set_fields(Cell& object, const Cell& value, bool any, bool only, bool some);

// ---- Change events -------------------------------------------------------------

// Runs the on-change* handler (when there is one) with the word, the old
// value and the new value. The handler's result is dropped.
void fire_on_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value);
// The same with the old value on the stack top and the new one just below.
void fire_on_change_top(Cell* object, Cell* word);
void fire_on_change_of_context(NodeId context, Cell* word);
void fire_on_change_word(const Cell& object_word, Cell* word);
// Runs the on-deep-change* handler with the owner, the field word, the
// changed series, the action word, the new value (null: none), the
// position and the part.
void fire_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* value, int32_t index,
                         int32_t part);

// ---- Actions (object_actions.cpp) ------------------------------------------------

// Writes the fields for mold and form (also for error! and port!).
int32_t mold_fields(const Cell& object, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    bool indent, int32_t level, bool mold_mode);
Cell* reflect(Cell* value, Cell* field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);
void init();

}  // namespace vyr::object_t
