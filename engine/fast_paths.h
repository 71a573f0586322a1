// Fast paths for the most frequent operations: integer and float arithmetic,
// comparison, picking from a block and block navigation.
//
// Each routine computes the common case in place, opening no call frame and
// pushing at most one cell, and hands every other case to the generic action
// (datatypes/actions.h) inside a plain call frame named by `word`, so that
// every datatype's own rules still apply.
//
// The evaluator uses the same core for its infix operators (`infix_op`,
// `apply_in_place`): the operator's frame is open, both operands stand in
// it, and the common cases answer without the call's set-up; every other
// case takes the full call, so its errors and events stay the same.
//
// Operands are cells (which may lie on the argument stack) or machine
// integers (the _imm variants, standing for an integer!). The _top variants
// take their left operand from the top cell and write the answer over it.
#pragma once

#include <array>
#include <cstdint>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "runtime/cell.h"
#include "runtime/registry.h"

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

// ---- The evaluator's operators -------------------------------------------------

// What an infix operator does when both operands are numbers: an arithmetic
// op (integer_t::MathOp code) or a comparison (registry::CompareOp code).
struct InPlace {
    enum Kind : uint8_t { none, math, compare };
    Kind kind = none;
    int8_t code = 0;
};
// The in-place operation of a callable (an op!'s wrapped native! or
// action!): add, subtract, multiply, divide, remainder, and~, or~, xor~ and
// the seven comparison natives; `none` for everything else.
InPlace infix_op(const Cell& callable);
namespace detail {
// The in-place operation by the slot of the callable an op! wraps, one row
// per callable type: [0] for a native!, [1] for an action!.
inline constexpr uint32_t op_slots = 32;
static_assert(type_action == type_native + 1);
extern const std::array<std::array<InPlace, op_slots>, 2> op_table;
}  // namespace detail
// The same for an op! (the callable it wraps), in one table look.
[[gnu::always_inline]] inline InPlace op_kind(const Cell& op) {
    uint32_t row = ((op.header & header::op_type_mask) >> header::op_type_shift) - type_native;
    uint32_t slot = op.w1 + 1;
    if (row > 1 || slot >= detail::op_slots) return {};
    return detail::op_table[row][slot];
}
// Computes the operation into `out` when the operands are two integer!s,
// two float!s, (arithmetic) an integer! and a float!, or (comparison) two
// char!s; false when the
// generic action must run. Integer overflow gives the float! of the exact
// result, as the integer action does; a zero divisor raises the action's
// own math error (the caller's frame names the operator).
bool apply_in_place(InPlace op, const Cell& left, const Cell& right, Cell& out);
// An operation's kind and code as one switch key.
constexpr uint32_t in_place_key(InPlace::Kind kind, int32_t code) { return uint32_t(kind) << 4 | uint32_t(code); }
static_assert(integer_t::op_xor < 16 && registry::op_greater_or_equal < 16);
// answer_quietly's most frequent case, two integer!s, computed inline: an
// add, subtract or multiply that does not overflow, a remainder by
// anything but 0 and -1, a comparison. False for the rest (left to
// answer_quietly), `out` untouched.
[[gnu::always_inline]] inline bool answer_integers(InPlace op, int32_t a, int32_t b, Cell& out) {
    using K = InPlace;
    int32_t r;
    switch (in_place_key(op.kind, op.code)) {
        case in_place_key(K::math, integer_t::op_add): if (__builtin_add_overflow(a, b, &r)) return false; break;
        case in_place_key(K::math, integer_t::op_subtract): if (__builtin_sub_overflow(a, b, &r)) return false; break;
        case in_place_key(K::math, integer_t::op_multiply): if (__builtin_mul_overflow(a, b, &r)) return false; break;
        case in_place_key(K::math, integer_t::op_remainder): if (b == 0 || b == -1) return false; r = a % b; break;
        case in_place_key(K::compare, registry::op_equal):
        case in_place_key(K::compare, registry::op_strict_equal): out = logic_t::value_of(a == b); return true;
        case in_place_key(K::compare, registry::op_not_equal): out = logic_t::value_of(a != b); return true;
        case in_place_key(K::compare, registry::op_lesser): out = logic_t::value_of(a < b); return true;
        case in_place_key(K::compare, registry::op_lesser_or_equal): out = logic_t::value_of(a <= b); return true;
        case in_place_key(K::compare, registry::op_greater): out = logic_t::value_of(a > b); return true;
        case in_place_key(K::compare, registry::op_greater_or_equal): out = logic_t::value_of(a >= b); return true;
        default: return false;
    }
    out = Cell{type_integer, 0, uint32_t(r), 0};
    return true;
}

// answer_quietly for everything but two char!s.
bool answer_other_quietly(InPlace op, const Cell& left, const Cell& right, Cell& out);
// apply_in_place for the cases that cannot raise (no integer divide or
// remainder by 0 or -1): false for every other case. Such an answer needs
// no frame. Two char!s compare inline by code point, as two integer!s do.
inline bool answer_quietly(InPlace op, const Cell& left, const Cell& right, Cell& out) {
    if (op.kind == InPlace::compare && type_of(left) == type_char && type_of(right) == type_char)
        return answer_integers(op, int32_t(left.w2), int32_t(right.w2), out);
    return answer_other_quietly(op, left, right, out);
}

// Pushes the n-th value (1-based) from a block's index, none when n is out of
// range; other values go through path access.
Cell* fast_pick(const Cell& word, const Cell& series, int32_t n);
// Pushes the answer of a navigation action on a block (codes above).
Cell* fast_series_step(const Cell& word, const Cell& series, int32_t code);

}  // namespace vyr::fast_paths
