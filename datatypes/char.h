// char!: the Unicode code point scalar (type id 10, parent integer!).
//
// Cell: payload word 2 holds the code point, always within 0 to 0x10FFFF;
// payload words 1 and 3 are not used. Arithmetic runs through the integer
// arithmetic core and must land back in that range (else math `overflow`).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::char_t {

inline constexpr uint32_t max_code_point = 0x10FFFF;

inline Cell make_cell(uint32_t cp) { return Cell{type_char, 0, cp, 0}; }
inline uint32_t get(const Cell& c) { return c.w2; }

// A new char! on the argument stack.
Cell* push(uint32_t cp);
// A new char! cell at the block's tail.
Cell* load_in(const Cell& block, uint32_t cp);

// The arithmetic of add (0), subtract (1), multiply (2), divide (3),
// remainder (4), or~ (5), and~ (6), xor~ (7) on the two argument cells (the
// first is the char!); the first cell is changed in place.
Cell* do_math(int32_t op);

}  // namespace vyr::char_t
