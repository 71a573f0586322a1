// Number helpers shared by every numeric type: the bit layout of a double and
// the one float-to-int32 truncation of the system.
//
// Invariant: no code converts a double to a 32-bit integer with a plain C++
// cast, which is undefined behaviour for NaN and out-of-range values. Every
// such truncation calls `truncate_to_int32`, which answers what the x86
// conversion instruction answers: the value truncated toward zero when it
// fits, otherwise the "integer indefinite" 0x80000000.
#pragma once

#include <bit>
#include <cstdint>

namespace vyr::numeric {

// IEEE 754 double layout: sign, 11 exponent bits, 52 stored significand bits.
inline constexpr uint64_t float_sign_bit = 0x8000000000000000ull;
inline constexpr uint64_t float_exponent_mask = 0x7FF0000000000000ull;
inline constexpr uint64_t float_fraction_mask = 0x000FFFFFFFFFFFFFull;
inline constexpr int float_exponent_shift = 52;
inline constexpr int float_exponent_bias = 1023;
inline constexpr int float_exponent_max = 0x7FF;  // infinities and NaN
inline constexpr int float_precision = 53;        // significand bits, hidden bit included
// The quiet NaN the system makes: sign clear, high word 0x7FF80000.
inline constexpr uint64_t float_quiet_nan_bits = 0x7FF8000000000000ull;

constexpr uint64_t float_bits(double d) { return std::bit_cast<uint64_t>(d); }
constexpr double float_from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }
// The biased exponent field (0 for zeros and subnormals, 0x7FF for infinities and NaN).
constexpr int float_exponent_field(double d) {
    return int((float_bits(d) & float_exponent_mask) >> float_exponent_shift);
}

// The x86 answer for a value that does not fit in an int32.
inline constexpr int32_t int32_indefinite = INT32_MIN;

// Truncates toward zero to a 32-bit integer as the x86 instruction does:
// NaN, infinities and values outside (-2147483649, 2147483648) give 0x80000000.
constexpr int32_t truncate_to_int32(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) return static_cast<int32_t>(x);
    return int32_indefinite;
}

}  // namespace vyr::numeric
