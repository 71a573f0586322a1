// function! and routine!: user and library functions as values.
//
// function! cell (type 24):
//   header  type, plus flag::no_trace / flag::trace from the attribute
//           block of its argument block;
//   w1      the node of the function's context (kind 1, values on the
//           argument stack while it runs; its self slot holds the function);
//   w2      the node of its argument block (which starts at its head);
//   w3      the node of the record: five cells, see `record`.
// routine! cell (type 29): the same layout; the header carries the routine
// flag and the arity (the number of word! entries of the whole spec) in
// bits 25-29; the record's entry point is an index into the routine table
// (engine/routines.h) and its last cell the return type id (-1: nothing).
//
// Calling a function is the evaluator's; this module makes and checks
// function values, reflects and molds them, and holds the one entry through
// which C++ code runs a function value (`call`).
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::function_t {

namespace flag {
inline constexpr uint32_t no_trace = 0x200;
inline constexpr uint32_t trace = 0x400;
inline constexpr uint32_t routine = 0x8000;  // routine!: made with the routine flag
}  // namespace flag

// Cell positions in a function's or routine's record.
namespace record {
inline constexpr uint32_t body = 0;         // block!, or none without a body
inline constexpr uint32_t reserved = 1;     // unset
inline constexpr uint32_t entry = 2;        // integer! entry point, or unset
inline constexpr uint32_t op_copy = 3;      // the value, once an op! is made from it
inline constexpr uint32_t second = 4;       // function!: integer! second word; routine!: return type
inline constexpr uint32_t cells = 5;
}  // namespace record

// ---- Making --------------------------------------------------------------------

// Pushes a new function! (see function.cpp for the steps): its argument block (copied
// when its index is above 0), a deep copy of the body (null or none: no
// body), the given context or a new one made from that spec (then the body
// copy is bound to it), the entry point and second word (0: none), and the
// header flags. Answers the context node.
NodeId make_function(const Cell& spec, const Cell* body, NodeId context, int32_t entry, int32_t second,
                     uint32_t flags);
// Checks a spec from its index; answers the header flags of its attribute
// block (0 without one). Raises `bad-func-def`, `invalid-type-spec`,
// `no-value` or `dup-vars` on an invalid spec.
uint32_t check_spec(const Cell& spec);
// For the native `function`: adds the body's set-words and loop words that
// its argument block (a copy that may be changed) does not know as locals after
// /local. Answers the new block of added words.
Cell collect_locals(Cell& spec, const Cell& body);
// The local slots of a spec searched from `index`: 1 for /local plus 1 per
// word! after it; without /local 0, or -1 with `check`.
int32_t arity_to_refinement(NodeId spec, uint32_t index, bool check);
// Pushes the initial locals of n slots: false (the /local refinement's own
// slot), then n - 1 none values. Nothing when n is 0 or less.
void push_initial_locals(int32_t n);

// ---- Calling a function value from C++ -------------------------------------
// The one place through which runtime code (object change handlers, ...)
// runs a function! or routine! value: `args` are `count` cells on the
// argument stack (the arguments in spec order, then the initial locals),
// `object` the object context given to the call (0: none), `name` the word
// that names its call frame. The answer is copied into `answer`. A routine!
// runs straight from the routine table; a function! runs through the
// evaluator's entry (datatypes/eval_hooks.h), and raises internal `not-done`
// until the evaluator is installed.
Status call(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name, Cell& answer);

// ---- Actions ---------------------------------------------------------------------

// The argument is [spec body] (two blocks from its index).
Cell* make(Cell* proto, Cell* spec, uint32_t type);
// `spec`, `body`, `words`; anything else raises internal `not-done`.
Cell* reflect(Cell* value, Cell* field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
// Same type only; the ordering codes compare the record nodes.
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace vyr::function_t

namespace vyr::routine_t {

// Pushes a new routine! for an argument block, the body (null: none), the routine
// table index of its entry point, the return type id (-1: nothing) and the
// routine flag; answers the pushed cell.
Cell* make_routine(const Cell& spec, const Cell* body, int32_t entry, int32_t return_type, bool routine_flag);
inline uint32_t arity(const Cell& routine) {
    return (routine.header & header::routine_arity_mask) >> header::routine_arity_shift;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();

}  // namespace vyr::routine_t
