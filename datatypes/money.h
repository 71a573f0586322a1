// money!: exact decimal amounts with an optional currency. The whole value
// lives in its cell: 17 integral and 5 fractional decimal digits in packed
// BCD, a sign bit in the header and a currency index.
//
// Cell layout (bytes of the 16-byte cell):
//   0-3   header: type id 49, the sign in bit 14 (1 = negative);
//   4     currency: 0 for none, else the 1-based position of the code in
//         system/locale/currencies/list;
//   5-15  22 BCD digits, two per byte, most significant first (the high
//         nibble holds the odd-numbered digit). Digit 17 is the units digit,
//         digits 18-22 the tenths down to the hundred-thousandths.
//
// Invariants: every nibble is 0-9; a zero amount may carry the sign bit,
// which is then ignored (`sign_of` is 0, it forms without "-"); the currency
// index is only meaningful against the list, which only ever grows.
//
// The arithmetic (add ... remainder, round) is exact and is in
// money_math.cpp. It works on the digits as one integer count of
// hundred-thousandths (`Units`, below 10^22) and never allocates.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::money_t {

// ---- Layout ------------------------------------------------------------------

inline constexpr uint32_t sign_bit = 0x4000;
inline constexpr uint32_t sign_shift = 14;
inline constexpr uint32_t currency_byte = 4;
inline constexpr uint32_t digits_byte = 5;
inline constexpr uint32_t digit_bytes = 11;
inline constexpr uint32_t digit_count_max = digit_bytes * 2;               // 22
inline constexpr uint32_t fraction_digits = 5;
inline constexpr uint32_t integral_digits = digit_count_max - fraction_digits;  // 17
inline constexpr uint32_t units_digit = integral_digits;                   // digit 17
inline constexpr int32_t largest_fraction = 99999;
inline constexpr uint32_t max_currencies = 255;

// The amount as a count of hundred-thousandths (below 10^22).
using Units = unsigned __int128;
inline constexpr Units units_per_one = 100000;

// ---- Sign and currency -----------------------------------------------------------

// The header's sign bit (0 or 1).
inline uint32_t sign(const Cell& c) { return (c.header & sign_bit) >> sign_shift; }
Cell* set_sign(Cell* c, uint32_t s);
Cell* flip_sign(Cell* c);
Cell* make_positive(Cell* c);
uint32_t currency(const Cell& c);
Cell* set_currency(Cell* c, uint32_t index);
// The 1-based position of the symbol in the currency list (letter case
// ignored), or -1.
int32_t currency_index(int32_t symbol);
// The word at that position of the currency list (none when there is none).
Cell currency_word(uint32_t index);
// Pushes the word at that position of the currency list.
Cell* push_currency_word(uint32_t index);
// Pushes the value's currency word, or none when it has no currency.
Cell* push_currency(const Cell& c);
// Pushes a copy without the currency.
Cell* push_amount(const Cell& c);
// Without `strict`: true when either has no currency or both have the same;
// with it: only when both indexes are equal.
bool same_currency_q(const Cell& a, const Cell& b, bool strict);

// ---- Digits ------------------------------------------------------------------------

uint8_t* digits(Cell& c);
const uint8_t* digits(const Cell& c);
Cell* set_digits(Cell* c, const uint8_t* src);
// Digit n (1..22) of a digit run (also of the longer scratch runs).
uint32_t get_digit(const uint8_t* run, uint32_t n);
void set_digit(uint8_t* run, uint32_t n, uint32_t value);
bool digits_zero_q(const uint8_t* run);
// Bytewise comparison of two 11-byte runs: the order of the magnitudes.
int32_t compare_digits(const uint8_t* a, const uint8_t* b);
// Payload words 1-3 become 0 (no currency, all digits 0).
Cell* clear_payload(Cell* c);
// Moves every digit of a run of `bytes` bytes n places towards the top (x
// 10^n) or the bottom (/ 10^n, low digits lost); zeros come in.
uint8_t* shift_left(uint8_t* run, uint32_t bytes, uint32_t n);
uint8_t* shift_right(uint8_t* run, uint32_t bytes, uint32_t n);
// Digits from the first non-zero one through digit 22; at least 1.
uint32_t digit_count(const uint8_t* run);
// The magnitude as Units, and back (the value must be below 10^22).
Units units_of(const Cell& c);
void set_units(Cell& c, Units u);

// -1, 0 or 1; 0 for every zero amount, whatever its sign bit.
int32_t sign_of(const Cell& c);
inline bool negative_q(const Cell& c) { return sign_of(c) < 0; }
inline bool zero_q(const Cell& c) { return sign_of(c) == 0; }
inline bool positive_q(const Cell& c) { return sign_of(c) > 0; }

// ---- Making ----------------------------------------------------------------------

// The cell becomes exactly a money! (no flag bits) with that sign, currency
// index and 11 digit bytes.
Cell* load(Cell* c, uint32_t sign, uint32_t currency, const uint8_t* src);
Cell* push(uint32_t sign, uint32_t currency, const uint8_t* src);
// Builds a value from 8-bit text: `start` is just before the first integral
// digit, `point` the decimal point (or null), `end` just after the last
// character; "'" separators are skipped; fractional digits past the fifth
// are ignored. `currency` is a 3-letter code or null. Answers the cell, or
// null (raising nothing) when the code is not in the currency list.
Cell* from_text_parts(Cell* c, bool negative, const uint8_t* currency, const uint8_t* start, const uint8_t* point,
                      const uint8_t* end);

// ---- Text --------------------------------------------------------------------------

// The number of decimals form and mold show: system/options/money-digits
// when it holds an integer!, else 2.
int32_t money_digits();
// Appends "-", the currency code, "$", the integral digits (a "0" below 1;
// with `group` a "'" between groups of three) and the decimals (5 with
// `all`, else money_digits, truncated). Answers the budget less the
// characters written.
int32_t form_text(const Cell& c, Cell* buffer, int32_t budget, bool all, bool group);

// ---- Numbers -----------------------------------------------------------------------

// Truncated toward zero; beyond the 32-bit range raises script `type-limit`
// with integer!.
int32_t to_integer(const Cell& c);
Cell from_integer(int32_t value);
double to_float(const Cell& c);
// The amount of a float!; `strict` refuses more than 5 decimals (else they
// are dropped). Infinities, NaN and magnitudes the type cannot hold raise
// script `bad-make-arg` with money! and the float.
Cell from_float(double x, bool strict);
// Magnitude 1e17 or more / above 0 and below 0.00001.
bool float_overflow_q(double x);
bool float_underflow_q(double x);

// The comparison of an integer! or float! with a money! amount (integer!
// and float! compare call it): -1, 0 or 1 as for the number on the left.
int32_t compare_number(const Cell& number, const Cell& money, int32_t op);

// ---- Arithmetic (money_math.cpp) -------------------------------------------------------

enum MathOp : int32_t { op_add = 0, op_subtract = 1, op_multiply = 2, op_divide = 3, op_remainder = 4 };
// The action core of add ... remainder with the operands at the argument
// base (one of them money!): the result is left in the result cell. Also
// called by integer! and float! arithmetic when the other operand is money!.
Cell* do_math(int32_t op);
// The cores on two money! values; the result keeps neither currency.
Cell apply_op(const Cell& a, const Cell& b, int32_t op);
Cell add_values(const Cell& a, const Cell& b);
Cell subtract_values(const Cell& a, const Cell& b);
Cell multiply_values(const Cell& a, const Cell& b);
// `remainder` answers the remainder (the dividend's sign); `integer` the
// quotient truncated to a whole number; neither: 5 decimals, truncated.
Cell divide_values(const Cell& a, const Cell& b, bool remainder, bool integer);
// Signed comparison of two amounts: -1, 0, 1.
int32_t compare_values(const Cell& a, const Cell& b);

// ---- Actions -------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
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
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

void init();

}  // namespace vyr::money_t
