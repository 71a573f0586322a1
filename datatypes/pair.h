// pair!: a two-dimensional integer coordinate or size, written x "x" y
// (10x20, -5x0).
//
// Cell layout: w2 = x and w3 = y, each a signed 32-bit integer; w1 is 0.
//
// Arithmetic is per component through the integer core. It never wraps: an
// operation whose integer result overflows is redone in point2D! arithmetic
// (2147483647x0 + 1 gives a point), and a float! or percent! multiplier or
// divisor gives a point2D! (10x20 * 0.5 is (5, 10)); other float operands
// are truncated first (10x20 + 0.7 is 10x20).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::pair_t {

inline int32_t x_of(const Cell& c) { return int32_t(c.w2); }
inline int32_t y_of(const Cell& c) { return int32_t(c.w3); }
inline Cell cell_of(int32_t x, int32_t y) { return Cell{type_pair, 0, uint32_t(x), uint32_t(y)}; }

// Types the cell pair! with x and y (flag bits kept).
Cell* make_at(Cell* cell, int32_t x, int32_t y);
// Appends a new pair at the tail of the block value.
Cell* load(const Cell& block, int32_t x, int32_t y);
// Pushes a new pair on the argument stack.
Cell* push(int32_t x, int32_t y);
// 1 for the word x, 2 for y (any letter case). Any other element raises
// `cannot-use` when `value` is a pair (pick), else `invalid-path` naming the
// path.
int32_t field_index(const Cell& word, const Cell& value, const Cell* path);
// Turns the pair in argument cell base + offset into a point2D!.
void to_point(uint32_t offset);
// The integer of an integer!, or a float! truncated toward zero.
int32_t number_at(const Cell& c);

// add ... xor~ (codes 0-7) of the pair at the argument base and the operand
// after it; the result replaces the pair (or is a point2D!, see above).
Cell* do_math(int32_t op);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // also to
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* absolute();
Cell* add();
Cell* divide();
Cell* multiply();
Cell* negate(Cell* value);
Cell* remainder();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* subtract();
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

void init();

}  // namespace vyr::pair_t
