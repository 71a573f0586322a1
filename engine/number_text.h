// String-to-number conversion: text held in a string series (1, 2 or 4
// bytes per character) to integers, floats, money and tuples, for `to` and
// `make` of those types from a string.
//
// The rules are the lexer's rules for the same literals, on any character
// width. Nothing here raises: failure is reported through `error` (-1 invalid
// text, -2 overflow), which is left untouched on success, and the lexer's
// state is never touched.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::number_text {

inline constexpr int32_t error_invalid = -1;
inline constexpr int32_t error_overflow = -2;

// An optional sign, then decimal digits with "'" skipped anywhere. -1 for any
// other character, an empty text or a lone sign; -2 (and 0) when the value
// does not fit in 32 bits.
int32_t string_to_integer(const void* text, uint32_t count, uint32_t unit, int32_t& error);

// The float syntax of literals, "," read as ".", "'" skipped between digits.
// -1 and NaN for a text of 313 characters or more, a character above 127, or
// a text that is not a float.
double string_to_float(const void* text, uint32_t count, uint32_t unit, int32_t& error);

// The parts of a money text: an optional sign, an optional 3-letter currency
// code followed by "$" (without a code the "$" is optional), digits with "'"
// separators and at most one ".". `text` holds the characters as bytes; the
// positions are offsets into it, in the form the money! constructor takes:
// `digits` is the offset before the first integral digit, `point` the offset
// of the "." or -1, `end` the offset after the last digit.
struct MoneyText {
    char text[48];
    bool negative;
    int32_t currency;  // offset of the code, or -1
    int32_t digits;
    int32_t point;
    int32_t end;
};
// False when the text is not valid money (no digit, more than 17 integral
// digits, a misplaced "'" or ".", another character).
bool money_text(const void* text, uint32_t count, uint32_t unit, MoneyText& out);
// Builds the money! value in `cell`; error -1 for invalid text or an unknown
// currency code.
void string_to_money(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell* cell);

// Dotted decimal parts 0..255, at most 12 of them.
struct TupleBytes {
    uint8_t bytes[12];
    uint32_t count;
};
bool tuple_text(const void* text, uint32_t count, uint32_t unit, TupleBytes& out);
// Builds the tuple! value in `cell`; error -1 for invalid text.
void string_to_tuple(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell* cell);

// Subtracts 32 from every byte above 96 of a NUL-terminated text (so "a".."z"
// become "A".."Z") and answers the text.
char* ascii_upcase(char* text);

}  // namespace vyr::number_text
