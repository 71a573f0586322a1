// point3D!: a triple of 32-bit float coordinates, written "(x, y, z)". It
// follows point2D! action by action with a third component, except that its
// arithmetic and comparison take only point3D! operands (and numbers): a
// pair! or point2D! operand is refused, not converted.
//
// Cell layout: w1 = x, w2 = y, w3 = z, each the bits of an IEEE 754 single.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::point3d_t {

inline float x_of(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y_of(const Cell& c) { return std::bit_cast<float>(c.w2); }
inline float z_of(const Cell& c) { return std::bit_cast<float>(c.w3); }
inline Cell cell_of(float x, float y, float z) {
    return Cell{type_point3d, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), std::bit_cast<uint32_t>(z)};
}

// Types the cell point3D! with the components (flag bits kept).
Cell* make_at(Cell* cell, float x, float y, float z);
// Appends a new point at the tail of the block value.
Cell* make_in(const Cell& block, float x, float y, float z);
// Pushes a new point on the argument stack.
Cell* push(float x, float y, float z);
// A float! narrowed to 32 bits, anything else read as an integer!.
float component(const Cell& c);
// 1, 2, 3 for the words x, y, z (any letter case). Any other element raises
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

}  // namespace vyr::point3d_t
