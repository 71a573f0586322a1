// point2D!: a pair of 32-bit float coordinates, written "(x, y)", the
// floating counterpart of pair!.
//
// Cell layout: w1 = x and w2 = y, each the bits of an IEEE 754 single; w3 is
// 0. Arithmetic works on the components in double precision and narrows
// each result back to 32 bits, except that a float! or percent! multiplier
// or divisor is applied in single precision directly (so (1, 2) / 0.0 gives
// infinities, while a whole-number divisor of 0 raises `zero-divide`).
// Equality is near-equality per component; ordering is by x, then y.
//
// pair!, integer! and float! arithmetic hand mixed operations to do_math.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::point2d_t {

inline float x_of(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y_of(const Cell& c) { return std::bit_cast<float>(c.w2); }
// A double narrowed to 32 bits; a finite value beyond the 32-bit range
// becomes the infinity of its sign.
inline float narrow(double d) {
    constexpr double largest = 3.4028234663852886e38;  // FLT_MAX
    if (d > largest) return d < 3.4028235677973366e38 ? float(largest) : __builtin_inff();
    if (d < -largest) return d > -3.4028235677973366e38 ? -float(largest) : -__builtin_inff();
    return float(d);
}
inline Cell cell_of(float x, float y) {
    return Cell{type_point2d, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
}

// Types the cell point2D! with the components (flag bits kept).
Cell* make_at(Cell* cell, float x, float y);
// Appends a new point at the tail of the block value.
Cell* make_in(const Cell& block, float x, float y);
// Pushes a new point on the argument stack.
Cell* push(float x, float y);
// The number of an integer! or float! cell as a 32-bit float: a float!
// narrowed, anything else read as an integer!.
float component(const Cell& c);
// 1 for the word x, 2 for y (any letter case). Any other element raises
// `cannot-use` when `value` is a point (pick), else `invalid-path` naming
// the path.
int32_t field_index(const Cell& word, const Cell& value, const Cell* path);

// add, subtract, multiply, divide, remainder (codes 0-4) of the point at the
// argument base and the operand after it; the result replaces the point.
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
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

void init();

}  // namespace vyr::point2d_t
