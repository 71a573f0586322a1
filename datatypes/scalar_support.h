// What the scalar types that live wholly in their cell (pair!, tuple!,
// point2D!, point3D!, time!, date!) share for path access and pick: naming
// a field by a word, the cell a path read answers, and storing a value that
// a set-path changed back where it came from.
//
// A set-path such as `size/x: 10`, `obj/size/x: 10` or `blk/2/x: 10`
// changes the scalar held in some cell (a word's value, an object field, a
// block cell). The evaluator walks the path on copies: the type's path
// access changes only the copy, and the evaluator then stores the copy
// back through its holder (one rule for every such type).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace vyr::scalar_support {

// The types whose values name a field by their symbol (`p/x`, `pick p 'x`).
bool any_word_q(uint32_t type);

// The 1-based position of the element's symbol among the field symbols
// (letter case ignored), or 0 when it is not a word or names none of them.
int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields);

// The field a word names among `fields` (1-based). Another word raises
// script `cannot-use` with the word when `value` has the type `type` (a
// field of a value read by pick), else `invalid-path` naming the path.
int32_t field_of_word(const Cell& word, const Cell& value, uint32_t type, const Cell* path,
                      std::initializer_list<int32_t> fields);

// The field a path element names: an integer! from 1 to the number of
// fields, or a field word; anything else raises `invalid-path`.
int32_t path_field(const Cell& element, const Cell* path, std::initializer_list<int32_t> fields);

// The field pick's index names (`index_cell` null: the plain integer
// `index`): a field word, or an integer from 1 to the number of fields.
// Another word raises `cannot-use`, any other index `out-of-range`.
int32_t pick_field(const Cell& value, int32_t index, const Cell* index_cell, std::initializer_list<int32_t> fields);

// The text of `text` loaded as one value, which must be of `type` (else
// script `bad-to-arg` with the type and the text).
Cell load_as(const Cell& text, uint32_t type);

// The first `count` values of a block from its index, each an integer! or
// a float!, for make from a block; fewer of them raise syntax
// `malconstruct` with the type and the block.
const Cell* number_values(const Cell& block, uint32_t count, uint32_t type);

// ---- Component arithmetic -------------------------------------------------

// One component of a pair! or tuple! through integer! arithmetic (op as in
// integer.h). Answers false when an add, subtract or multiply leaves the
// 32-bit range; `wide` then receives the exact result as a double.
bool integer_component(int32_t a, int32_t b, int32_t op, int32_t& out, double* wide = nullptr);

// The arithmetic of the point types on their n 32-bit components: p op q
// per component in double precision, narrowed back (a divisor or remainder
// of 0 raises `zero-divide`), except that a float! or percent! multiplier
// or divisor (`float_operand`) is applied in single precision directly.
void float_components(float* p, const float* q, uint32_t n, int32_t op, bool float_operand);

// float! round of one point component (the scale as round takes it).
float round_float_component(float c, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                            bool half_ceiling);

// The cell a path read answers when the value has no cell of its own to
// give (a component of a pair or a point): valid until the next path read,
// the caller copies it at once.
Cell* path_answer(const Cell& value);

// The types whose values live wholly in their cell and whose fields a
// set-path changes (`t/minute: 45`, `d/month: 3`, `p/x: 10`): the evaluator
// walks paths on copies, so a set through one of them must be stored back.
bool held_in_cell_q(uint32_t type);

// Stores `value`, a copy changed by a set-path, back where it was read: into
// the word `key` when there is no holder, else into the holder (an object,
// a series, or a value held in its cell such as a date taking a time) at
// the element `key`. An object runs its on-change* handler; a series cell
// is overwritten and its owner told with `set-path`.
void store_back(Cell* holder, const Cell& key, const Cell& value);

}  // namespace vyr::scalar_support
