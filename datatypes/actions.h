// The generic action layer: how the 62 actions reach the implementation of
// their first argument's datatype in the action table (datatypes/registry.h).
//
// Two doors per action:
//  - the generic entry, called by the evaluator and through action! values:
//    the arguments are the cells from the argument base up, and the entry
//    receives one refinement position per refinement of the action, in spec
//    order (the index of the refinement's first argument cell from the base,
//    or -1 when the refinement was not used). It normalises what the
//    implementations expect (refinement flags as bool, /part and /dup counts,
//    the mold buffer of form and mold, the index of pick and poke) and leaves
//    the result in the result cell (the argument base);
//  - the typed dispatcher (named like the action), called by runtime code
//    with machine arguments, which finds the implementation and calls it.
// A type without an implementation for the slot raises script `expect-arg`.
//
// An action! value's payload word 1 holds its slot number less one (its
// position in the generic table).
//
// Also here: the comparison core (`compare`, `compare_op`, `compare_cells`)
// and the path-access dispatcher that the evaluator's path walk uses.
#pragma once

#include <cstdint>

#include "runtime/registry.h"
#include "runtime/cell.h"

namespace vyr::actions {

// A generic entry: arguments on the argument stack, refinement positions in
// `refs` (one per refinement of the action; may be null when it has none).
using GenericEntry = void (*)(const int32_t* refs);

// Refinements each action's generic entry receives, by slot (1-based).
uint32_t refinement_count(uint32_t slot);

// Fills the generic table. Called once at start-up, after the registrations.
void actions_init();
// The generic entry of a slot; null for slot 8 (no action) and slot 9
// (compare, which takes machine arguments: see `compare`).
GenericEntry entry(uint32_t slot);

// ---- Looking up implementations --------------------------------------------

// The implementation of `slot` for `type` (the value is the argument: a
// port! whose actor is a handle! takes the actions above slot 24 from that
// actor's native table); an empty slot raises `expect-arg` (the calling
// word, the value's datatype, the first argument word of the running
// callable).
registry::ActionFn get_action_ptr_slow(uint32_t type, const Cell& value, uint32_t slot);
// Every action call comes through here: a plain table read unless the value
// is a port! or the slot is empty.
inline registry::ActionFn get_action_ptr_from(uint32_t type, const Cell& value, uint32_t slot) {
    if (type_of(value) != type_port)
        if (registry::ActionFn fn = registry::get_action(type, slot)) return fn;
    return get_action_ptr_slow(type, value, slot);
}
inline registry::ActionFn get_action_ptr(const Cell& value, uint32_t slot) {
    return get_action_ptr_from(type_of(value), value, slot);
}
// The same for the cell at the argument base.
registry::ActionFn get_action_ptr(uint32_t slot);
// The path-access implementation of the value's type; an empty slot raises
// `bad-path-type` when a path is given (naming the path, the datatype and the
// path cut after the element at `index`), else `bad-path-type2`.
registry::action_sig::path_access get_path_access_ptr(const Cell& value, const Cell& element, const Cell* path,
                                                      int32_t index);

// ---- Typed dispatchers ---------------------------------------------------------
// Arguments as the slot signatures give them (registry::action_sig). make and
// to dispatch on the type a datatype! argument names (else on the argument's
// own type) and pass that type on.

Cell* make(Cell* proto, Cell* spec);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, Cell* field);
Cell* to(Cell* proto, Cell* spec);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
Cell* negate(Cell* value);
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* complement(Cell* value);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
int32_t length_q(Cell* value);  // -1 means none
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* series, int32_t index, Cell* index_cell);
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);
Cell* swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* create(Cell* target);
Cell* close(Cell* target);
Cell* delete_(Cell* target);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* open_q(Cell* target);
Cell* query(Cell* target);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* update(Cell* target);
Cell* write(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

// The index pick and poke receive: logic! true 1 and false 2, integer! and
// char! their value, anything else 0.
int32_t pick_index(const Cell& index);

// ---- Comparison ------------------------------------------------------------------

// The truth of `a op b` (operator codes: registry::CompareOp). A type that
// cannot compare the two raises `invalid-compare` under the ordering codes
// 3-6 and answers false (true for not-equal) under the others; codes 7, 8
// and above 12 are runtime error 101.
bool compare(Cell* a, Cell* b, int32_t op);
// compare of the first two argument cells, as a logic! in the result cell.
void compare_op(int32_t op);
// The raw -1/0/1 (or -2) of two cells of one type: logic! by payload,
// native!/action!/op! by entry, function!/routine! by record, the others
// through their compare implementation.
int32_t compare_cells(Cell* a, Cell* b, int32_t op);

}  // namespace vyr::actions
