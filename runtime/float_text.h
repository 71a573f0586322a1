// Conversions between decimal text and IEEE 754 doubles, and the float texts
// of the system.
//
// Text to float is correctly rounded (ties to even) for every input: exact
// double arithmetic where it is exact, otherwise an approximation corrected by
// exact big-integer comparison with the decimal value. Float to text gives the
// shortest digit string that reads back to the same double (optionally cut to
// a number of significant digits), or a fixed number of correctly rounded
// digits for the "%.<n>g" layout. Neither direction uses the C library.
//
// Infinities and NaN are written "1.#INF", "-1.#INF" and "1.#NaN", and
// `text_to_float` reads these texts back.
//
// Results are returned by value in small fixed buffers; nothing is shared
// between calls except the big-integer free lists (see bigint.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vyr::float_text {

// ---- Text to float ------------------------------------------------------

// Converts the decimal number at the start of [start, end): optional sign,
// digits with an optional '.', an optional exponent ("e" or "E" followed by
// at least one character: optional sign, digits), or the forms "1.#INF" and
// "1.#NaN" (any one digit before the point, letters in any case).
// `exponent_offset` is added to the decimal exponent (-2 divides by 100). The
// count of characters after the number is written to `unconsumed` when it is
// given. Overflow gives an infinity with the sign; underflow gives +0.0; the
// exponent may have any number of digits. Never fails: callers check the syntax.
double text_to_float(const char* start, const char* end, int exponent_offset = 0,
                     size_t* unconsumed = nullptr);

// ---- Float to text ------------------------------------------------------

// Decimal point position markers of `FloatDigits::decpt`.
inline constexpr int decpt_nonfinite = 9999;  // infinity or NaN
inline constexpr int decpt_zero = 9998;

// Digits d1 d2 ... dn standing for 0.d1d2...dn x 10^decpt, without the sign.
// For infinities, NaN and zeros, `text` holds their whole text instead
// ("1.#INF", "-1.#INF", "1.#NaN", "0", "-0", "0.0", "-0.0") and `decpt` is
// one of the markers above.
struct FloatDigits {
    char text[32];
    int decpt;
    int count;  // characters in `text`
    bool negative;
    std::string_view view() const { return {text, size_t(count)}; }
};

// The shortest digits that read back to `value` (nearest, then even, among
// the shortest); with `limit` > 0 and a longer shortest string, the value
// correctly rounded to `limit` digits (ties to even), trailing zeros removed.
// `zero_form` selects "0.0" over "0" for zeros.
FloatDigits float_to_text(double value, int limit, bool zero_form);

// Exactly `ndigits` significant digits (1..17), correctly rounded with ties
// to even, trailing zeros removed; zeros, infinities and NaN as above.
inline constexpr int max_exact_digits = 17;
FloatDigits float_to_exact_digits(double value, int ndigits);

// A NUL-terminated text of at most 63 characters.
struct FloatText {
    char text[64];
    uint32_t length;
    std::string_view view() const { return {text, length}; }
    const char* c_str() const { return text; }
};

// The displayed text of `float_to_text`: exponent notation ("1.5e22",
// "1.0e-8") when decpt >= 18 or decpt < -6, else fixed notation; a lone digit
// or a whole number gets ".0" only with `zero_form`; infinities, NaN and zeros as their texts.
FloatText format_float_digits(double value, int limit, bool zero_form);

// The system's "%.<precision>g" text (precision 1..17; 0 counts as 1, more
// as 17): the value's 17 significant digits, correctly rounded, are rounded
// half up to `precision` digits (so 1e-20 gives "1e-20" at 16 digits, where
// a single rounding would give 9.999999999999999e-21), then laid out as C's
// %g: "1e+20", "0.0001", "1.5e-07", "100", "inf", "-nan".
FloatText format_g(double value, int precision);

// What a double is being written as; selects the digits and the decorations.
enum class FloatKind : int {
    float32 = 0,       // vector! element of 32 bits
    float64 = 1,       // float!
    percent32 = 2,     // 32-bit percent vector! element (already times 100)
    percent = 3,       // percent! (already times 100)
    time_seconds = 4,  // the seconds of a time!
    point = 5,         // a point2D! / point3D! component
};

// The text of a double for form of float!, percent!, time!, vector! and the
// point types. `pretty` is the state of system/options/float's pretty?: it
// writes near-zero values as zero and retries a text that ends in "01" or "99"
// beyond the 16th character with fewer digits.
FloatText format_float(double value, FloatKind kind, bool pretty);

}  // namespace vyr::float_text
