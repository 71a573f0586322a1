// The lexer's decoders: the text of one token to plain C++ results.
//
// Every routine here is a pure function of the bytes it is given: it reads
// [start, end), never past `end`, allocates nothing and raises nothing. A
// check answers 0 when the text is valid, else the code the lexer reports for
// it: a datatype id (the text is an invalid value of that type) or one of the
// negative codes below. The loaders (lexer_load.cpp) run these checks, then
// make the value through its datatype's module; the string-to-number
// conversions (number_text.h) share the number rules.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vyr::lexer {

// Error codes besides datatype ids.
inline constexpr int32_t code_ok = 0;
inline constexpr int32_t code_bad_char = -1;        // invalid character
inline constexpr int32_t code_malconstruct = -2;    // a construction #(...) naming nothing
inline constexpr int32_t code_missing = -3;         // missing delimiter
inline constexpr int32_t code_missing_at_end = -4;  // missing delimiter at the end of the input

// ---- Shared decoders --------------------------------------------------------

// The character after a "^": `p` points just after the "^" and moves past the
// escape. Answers the code point, or -1 when the escape is invalid (a "^(...)"
// that is neither a known name nor 1 to 6 hex digits closed by ")", or a
// value beyond U+10FFFF).
int32_t escape_decode(const uint8_t*& p, const uint8_t* end);

// Two hexadecimal digits as one byte value; -1 when either is not a hex digit
// or fewer than two bytes remain.
int32_t hex_pair_decode(const uint8_t* p, const uint8_t* end);

// Up to `max` decimal digits from `p` into `value`; answers the position after
// them. `error` becomes -2 when there is no text, -1 when no digit was read or
// when `exact` > 0 and the digit count differs from it; else it is untouched.
const uint8_t* fixed_digits(const uint8_t* p, const uint8_t* end, int exact, int max, int32_t& value,
                            int32_t& error);

// An optional "-" and decimal digits with "'" skipped, stopping at any other
// byte. On 32-bit overflow the value is -2147483648 when the text read is
// exactly "-2147483648", else `error` becomes -5.
const uint8_t* separated_integer(const uint8_t* p, const uint8_t* end, int32_t& value, int32_t& error);

// The longest run of digits and "." from `p`, converted to a double; `error`
// becomes -1 when the run is empty. Answers the position after the run.
const uint8_t* float_prefix(const uint8_t* p, const uint8_t* end, double& value, int32_t& error);

// The float syntax of literals and string-to-float: optional signs, digits
// with "'" between them, an optional "." with digits, an optional exponent
// with an optional sign and digits. False for texts of 313 bytes or more.
bool float_syntax(const uint8_t* start, const uint8_t* end);
inline constexpr size_t float_text_limit = 313;

// Whether the text after a "(" is a point literal: at least 4 bytes remain and
// the first byte that cannot be part of a number is ",", or every remaining
// byte can be part of a number.
bool point_literal_ahead(const uint8_t* start, const uint8_t* end);

// Words and the Unicode blanks: the position after the blanks that lead the
// token; the position of the first blank inside it (or `end`).
const uint8_t* unicode_blank_skip(const uint8_t* start, const uint8_t* end);
const uint8_t* unicode_blank_cut(const uint8_t* start, const uint8_t* end);

// ---- Numbers ----------------------------------------------------------------

// A decimal integer token: an integer! when it fits, else (more than 10
// digits, or beyond 32 bits) a float! of the same text.
struct IntegerValue {
    bool is_float;
    int32_t integer;
    double number;
};
int32_t scan_integer(const uint8_t* start, const uint8_t* end, uint32_t flags, IntegerValue& out);

int32_t scan_float(const uint8_t* start, const uint8_t* end, uint32_t flags, double& out);
// "1.#NaN", "1.#INF", "-1.#INF" (letters in any case).
int32_t scan_float_special(const uint8_t* start, const uint8_t* end, double& out);
// The digits before a "%": the value divided by 100.
int32_t scan_percent(const uint8_t* start, const uint8_t* end, uint32_t flags, double& out);
// "FFh": 2 to 8 hex digits and the "h", wrapping above 7FFFFFFF.
int32_t scan_hex_integer(const uint8_t* start, const uint8_t* end, int32_t& out);

inline constexpr uint32_t tuple_max_parts = 12;
int32_t scan_tuple(const uint8_t* start, const uint8_t* end, uint8_t (&parts)[tuple_max_parts], uint32_t& count);

int32_t scan_pair(const uint8_t* start, const uint8_t* end, int32_t& x, int32_t& y);

// A point literal: the text after "(" up to the ")" that ended the token.
struct PointValue {
    float v[3];
    uint32_t count;  // 2 or 3
};
int32_t scan_point(const uint8_t* start, const uint8_t* end, PointValue& out);

// "12:30", "1:30.5", "-1:00:00": seconds.
int32_t scan_time(const uint8_t* start, const uint8_t* end, double& seconds);

// "$1.50", "-USD$1'000.25": the parts a money! is built from. `digits` is the
// byte before the first integral digit kept (leading zeros are dropped),
// `point` the decimal point or null, `end` the end of the digits.
struct MoneyParts {
    bool negative;
    const uint8_t* currency;  // the 3-letter code, or null
    const uint8_t* digits;
    const uint8_t* point;
    const uint8_t* end;
};
int32_t scan_money(const uint8_t* start, const uint8_t* end, MoneyParts& out);
inline constexpr int money_integral_digits = 17;
inline constexpr int money_fraction_digits = 5;

// A date with its optional time and zone, as the date! constructor takes it:
// the local date and time, and the zone in hours and minutes (the hours
// carry the sign).
struct DateValue {
    int32_t year;
    int32_t month;
    int32_t day;
    double time;  // seconds, local
    int32_t zone_hours;
    int32_t zone_minutes;
    bool has_time;
};
int32_t scan_date(const uint8_t* start, const uint8_t* end, DateValue& out);

// Calendar arithmetic on the proleptic Gregorian calendar with a year 0:
// day numbers count from 1-Mar-0000 (day 0), so 1-Jan-1970 is day 719468.
int32_t day_number(int32_t year, int32_t month, int32_t day);
void date_of_day_number(int32_t days, int32_t& year, int32_t& month, int32_t& day);
bool leap_year(int32_t year);

// "#"x"": the token from "#" up to the closing quote (excluded).
int32_t scan_char(const uint8_t* start, const uint8_t* end, uint32_t& cp);

// ---- Text -------------------------------------------------------------------

// The shape of a string value made from UTF-8 text: its characters and the
// unit (1, 2 or 4 bytes) that holds them.
struct TextShape {
    uint32_t count;
    uint32_t unit;
};
// Checks text (with "^" escapes when `escapes` is set) and measures it. The
// unit starts from the token flags (unit_of_flags) and widens for escapes of
// more than 2 (to 2) or 4 (to 4) hex digits. False on an invalid escape or
// an invalid UTF-8 sequence (when the unit is above 1 or escapes are on).
bool measure_text(const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes, TextShape& shape);
// Writes the characters measure_text measured, in units of `shape.unit`, at
// `dst` (room for shape.count units). With unit 1 bytes are copied as they are.
void decode_text(const uint8_t* start, const uint8_t* end, bool escapes, const TextShape& shape, void* dst);

// ---- Binary -----------------------------------------------------------------

// "#{...}", "2#{...}", "16#{...}", "64#{...}": the base before the "#"; 0 for
// a base other than 2, 16 and 64.
uint32_t binary_base(const uint8_t* start, const uint8_t* end);
// Room the decoded bytes of the text between the braces need at most.
uint32_t binary_capacity(uint32_t base, const uint8_t* start, const uint8_t* end);
// Decodes the text between the braces into `out` (room for binary_capacity
// bytes), or only checks it when `out` is null. Answers the byte count, or -1
// when the text is invalid in that base.
int32_t binary_decode(uint32_t base, const uint8_t* start, const uint8_t* end, uint8_t* out);

// ---- Constructions -----------------------------------------------------------

// The text between "#(" and ")": what it names.
struct Construction {
    enum Kind : uint8_t { logic_true, logic_false, none, unset, datatype } kind;
    uint32_t type;  // the datatype id for `datatype`
};
// `type_name(id)` gives the name of a registered type with its "!" (or null);
// ids run from 1 to `highest`. Answers 0 or code_malconstruct.
int32_t scan_construction(const uint8_t* start, const uint8_t* end, const char* (*type_name)(uint32_t),
                          uint32_t highest, Construction& out);

}  // namespace vyr::lexer
