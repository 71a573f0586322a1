// integer!: the 32-bit signed whole number (payload word 2), and the integer
// arithmetic core that char!, vector!, pair! and tuple! arithmetic call.
//
// Arithmetic never wraps silently: an add, subtract or multiply that
// overflows, and a divide that does not come out even, turn the result cell
// into a float!; negate and absolute of -2147483648, -2147483648 divided by
// (or remainder by) -1, and rounding past the 32-bit range raise math error
// `overflow`.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace vyr::integer_t {

// Operation codes of the arithmetic core, shared by every scalar type; the
// set operations continue the table.
enum MathOp : int32_t {
    op_add = 0, op_subtract = 1, op_multiply = 2, op_divide = 3, op_remainder = 4,
    op_or = 5, op_and = 6, op_xor = 7,
    op_unique = 8, op_union = 9, op_intersect = 10, op_exclude = 11, op_difference = 12,
};

// ---- Helpers -----------------------------------------------------------------

inline int32_t get(const Cell& c) { return int32_t(c.w2); }
// The value of the first argument (the argument base).
int32_t arg_value();
// The first argument's value when it is an integer!, else 0.
int32_t arg_value_or_0();
// Writes an integer! into the result cell (the argument base).
Cell* box(int32_t value);
// Turns the cell into an integer! (flag bits kept).
Cell* make_at(Cell* cell, int32_t value);
// Appends an integer! at the tail of the block value.
Cell* load_in(const Cell& block, int32_t value);
// Pushes a new integer! on the argument stack.
Cell* push(int32_t value);

int32_t sign(int32_t value);
// |value|; -2147483648 raises math error `overflow`.
int32_t abs_checked(int32_t value);

// The decimal text of a value ("-2147483648", "0", "42").
struct Text {
    char chars[12];
    uint8_t start;  // the text is chars[start .. 11]
    std::string_view view() const { return {chars + start, size_t(sizeof chars - start)}; }
};
Text to_text(int32_t value);
// The number of characters of the value's decimal text.
uint32_t text_length(int32_t value);
// Writes that text into the text_length(value) chars that end before `end`.
void write_text(int32_t value, char* end);

// The arithmetic core. Answers the 32-bit result of `left op right`. With a
// result cell: an add, subtract or multiply that overflows, and a divide
// that does not come out even, make the cell a float! holding the exact
// floating-point result and answer 0; an integer result is written to the
// cell's payload without touching its type. Without a result cell (element
// arithmetic of vector! and tuple!, char! division) a divide answers the
// truncated quotient and an overflowing add, subtract or multiply answers
// the 32-bit wrapped value. Division or remainder by 0 raise `zero-divide`;
// -2147483648 by -1 raises `overflow`.
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);

// The action core of add ... xor~ on the two argument cells (the first is
// integer!); the result is left at the argument base.
Cell* do_math(int32_t op);

// The integer of a binary!'s first (at most 4) bytes from its index, big-endian.
int32_t from_binary(const Cell& binary);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* absolute();
Cell* add();
Cell* divide();
Cell* multiply();
Cell* negate(Cell* value);
Cell* power();
Cell* remainder();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* and_t();
Cell* complement(Cell* value);
Cell* or_t();
Cell* xor_t();

void init();

}  // namespace vyr::integer_t
