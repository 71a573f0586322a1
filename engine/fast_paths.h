// Fast paths for the most frequent operations: integer and float arithmetic,
// comparison, picking from a block and block navigation.
//
// Each routine computes the common case in place, opening no call frame and
// pushing at most one cell, and hands every other case to the generic action
// (engine/actions.h) inside a plain call frame named by `word`, so that every
// datatype's own rules still apply. The evaluator calls them before the
// generic dispatch.
//
// Operands are cells (which may lie on the argument stack) or machine
// integers (the _imm variants, standing for an integer!). The _top variants
// take their left operand from the top cell and write the answer over it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::fast_paths {

// Block navigation codes of fast_series_step.
namespace step {
inline constexpr int32_t length_q = 1;
inline constexpr int32_t index_q = 2;
inline constexpr int32_t head_q = 3;
inline constexpr int32_t tail_q = 4;
inline constexpr int32_t next = 5;
inline constexpr int32_t back = 6;
inline constexpr int32_t head = 7;
inline constexpr int32_t tail = 8;
}  // namespace step

// Arithmetic: the codes of integer_t::MathOp add, subtract, multiply, or,
// and, xor (comparison: registry::CompareOp 0-6). Any other code is runtime
// error 101. Two integer!s compute in 32 bits through the integer core, an
// add, subtract or multiply that overflows giving the float! of the exact
// result; two float!s add, subtract and multiply directly.

// Pushes the result and answers it.
Cell* fast_math(const Cell& word, int32_t op, const Cell& left, const Cell& right);
Cell* fast_math_imm(const Cell& word, int32_t op, const Cell& left, int32_t n);
// Writes the result over the top cell (the left operand) and answers it.
Cell* fast_math_top(const Cell& word, int32_t op, const Cell& right);
Cell* fast_math_top_imm(const Cell& word, int32_t op, int32_t n);

// Comparison: pushes a logic! and answers it.
Cell* fast_compare(const Cell& word, int32_t op, const Cell& left, const Cell& right);
Cell* fast_compare_imm(const Cell& word, int32_t op, const Cell& left, int32_t n);
// Writes the logic! over the top cell (the left operand) and answers it.
Cell* fast_compare_top(const Cell& word, int32_t op, const Cell& right);
Cell* fast_compare_top_imm(const Cell& word, int32_t op, int32_t n);
// For a conditional jump: whether the truth differs from `expected`;
// pushes nothing.
bool fast_compare_test(const Cell& word, int32_t op, const Cell& left, const Cell& right, bool expected);
bool fast_compare_test_imm(const Cell& word, int32_t op, const Cell& left, int32_t n, bool expected);
// Writes the logic! into the current frame's result cell; answers the truth.
bool fast_compare_set(const Cell& word, int32_t op, const Cell& left, const Cell& right);
bool fast_compare_set_imm(const Cell& word, int32_t op, const Cell& left, int32_t n);

// Pushes the n-th value (1-based) from a block's index, none when n is out of
// range; other values go through path access.
Cell* fast_pick(const Cell& word, const Cell& series, int32_t n);
// Pushes the answer of a navigation action on a block (codes above).
Cell* fast_series_step(const Cell& word, const Cell& series, int32_t code);

}  // namespace vyr::fast_paths
