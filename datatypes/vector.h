// vector!: a series of fixed-width numbers packed without cell headers.
//
// Cell: w1 the index (in elements), w2 the node of the series buffer, w3 the
// element type: char! (10), integer! (11), float! (12) or percent! (38).
// The buffer's unit width is the element size: 1, 2 or 4 bytes for char!
// and integer!, 4 or 8 for float! and percent!. Elements are little-endian.
// Integers of 8 and 16 bits read back sign-extended (an 8-bit element
// holding 200 reads as -56); characters read back as stored, since a code
// point is never negative; 32-bit floats are widened to 64 bits when read.
//
// vector! inherits string!'s navigation and editing; its own actions are
// make, form, mold, compare, append/insert, change and the element-wise
// arithmetic. A value of another type than the elements is refused with
// `invalid-arg` before anything is stored.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::vector_t {

inline uint32_t element_type(const Cell& v) { return v.w3; }
// The element size of a type when none is given: 4 bytes for char! and
// integer!, 8 for float! and percent!.
uint32_t default_size(uint32_t type);

// The element at `p` (an element of `unit` bytes of `type`) as a value.
Cell element_value(const uint8_t* p, uint32_t unit, uint32_t type);
// The same, pushed on the argument stack.
Cell* get_value(const uint8_t* p, uint32_t unit, uint32_t type);
// Stores a char!, integer! (low 8, 16 or 32 bits), float! or percent! (as a
// float32 or float64) at `p`; any other value raises script `invalid-type`.
// The caller checks that the value has the vector's element type.
void set_value(uint8_t* p, const Cell& value, uint32_t unit);
// Element i (from the head) of a vector value.
Cell element_at(const Cell& vector, uint32_t i);
// Stores a value at element i (from the head) after checking its type
// (`invalid-arg`); i at the tail appends it.
void poke_at(const Cell& vector, uint32_t i, const Cell& value);
// Inserts a value at element i, moving the rest up; checks its type.
void insert_at(const Cell& vector, uint32_t i, const Cell& value);
// Elements from the index to the tail.
int32_t length_at(const Cell& vector);

// A new block of the elements from the index, as values of the element type.
Cell* to_block(const Cell& vector, Cell* out);
// vector op number, in place from the index; answers the vector. op as in
// integer.h (0 add .. 7 xor~).
Cell* do_math_scalar(int32_t op, Cell* vector, const Cell& operand);
// The action core of the arithmetic: the vector at the argument base, the
// operand after it; a vector operand gives a new vector.
Cell* do_math(int32_t op);
Cell* push(const Cell& vector);

// ---- Actions ------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* add();
Cell* divide();
Cell* multiply();
Cell* remainder();
Cell* subtract();
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);  // append too
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);

void init();

}  // namespace vyr::vector_t
