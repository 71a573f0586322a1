// native!, action! and op!: the built-in callables as values.
//
// Cell layout (all three):
//   header  the type id; for op! bits 16-23 hold the type of the wrapped
//           callable (native!, action!, function! or routine!);
//   w1      native!: its slot in the natives table (native index - 1);
//           action!: its slot in the generic action table (action slot - 1);
//           op!: the wrapped value's w1 (its slot, or the context node of a
//           wrapped function! or routine!);
//   w2      the node of its argument block (which starts at its head);
//   w3      the node of the record block.
//
// The record of a native! or action! holds two cells: a context! cell of the
// context made from its argument block (values on the stack, kind 1), and a cell that
// holds no value (none when made by make). An op! shares the record of the
// value it wraps, so an op! made from a function! reaches its body.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::native_t {

inline constexpr uint32_t native_slots = 120;  // natives table
inline constexpr uint32_t action_slots = 62;   // generic action table

// Pushes a native! or action! for an argument block and table position (0-based
// slot), with a new record; answers the pushed cell.
Cell* push(uint32_t type, const Cell& spec, uint32_t slot);

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // native! and action!
// `spec`, `body` (the table position, or the wrapped body of an op! made
// from a function! or routine!); anything else raises internal `not-done`.
Cell* reflect(Cell* value, Cell* field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
// Same type only; the ordering codes compare w1 as signed integers.
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace vyr::native_t

namespace vyr::action_t {
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::action_t

namespace vyr::op_t {

// Whether a spec (from its head) suits an operator: exactly two arguments,
// the first a plain word (see native.cpp).
bool spec_ok_q(NodeId spec);
// The type of the wrapped callable.
inline uint32_t wrapped_type(const Cell& op) { return (op.header & header::op_type_mask) >> header::op_type_shift; }

// Wraps a native!, action!, function! or routine! (the argument) into the
// result cell.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();

}  // namespace vyr::op_t
