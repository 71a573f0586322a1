// Decimal text <-> double conversions after David M. Gay's algorithms for
// correctly rounded binary-decimal and decimal-binary conversion, and the
// float layouts built on them.
#include "runtime/float_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/bigint.h"
#include "runtime/numeric.h"

namespace vyr::float_text {

using namespace bigint;
using numeric::float_bits;
using numeric::float_from_bits;

namespace {

constexpr int P = numeric::float_precision;  // 53
constexpr int bias = numeric::float_exponent_bias;
constexpr int emin = 1 - bias;  // binary exponent of the least normal double
constexpr int exp_shift = numeric::float_exponent_shift;
constexpr uint64_t exp_mask = numeric::float_exponent_mask;
constexpr uint64_t frac_mask = numeric::float_fraction_mask;
constexpr uint64_t largest_bits = 0x7FEFFFFFFFFFFFFFull;
constexpr int top_field = 0x7FE;                        // exponent field of the largest binade
constexpr int overflow_check_field = 1024 + bias - P;   // 1994: top_field + 1 lowered by P

constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int max_exact_power = 22;  // tens[] holds 10^0 .. 10^22 exactly
constexpr double bigtens[] = {1e16, 1e32, 1e64, 1e128, 1e256};
// The last entry is 1e-256 scaled by 2^106, so that a scaled result stays normal.
constexpr double tinytens[] = {1e-16, 1e-32, 1e-64, 1e-128, 9007199254740992. * 9007199254740992.e-256};
constexpr int n_bigtens = 5;
constexpr int scale_bit = 0x10;            // -e1 / 16 with this bit reaches the subnormal range
constexpr int scale = 2 * P;               // the 2^106 scaling of such results
constexpr double unscale = 0x1p-106;
constexpr int scaled_subnormal_field = 2 * P + 1;  // 107: unscaled field <= 1

constexpr int exact_digits = 15;       // digits that a double always holds exactly
constexpr int approx_digits = 16;      // digits that form the starting approximation
constexpr int long_input_digits = 40;  // beyond this, the loop works on a prefix
constexpr int long_input_kept = 18;
constexpr int64_t exponent_cap = 1000000000000000;  // far beyond any text's digit count
// Decimal exponents (of 0.d1d2... x 10^n) outside this range overflow or underflow at once.
constexpr int64_t highest_decimal_exponent = 310;
constexpr int64_t lowest_decimal_exponent = -324;

constexpr double infinity = std::numeric_limits<double>::infinity();

int field_of(uint64_t u) { return int((u & exp_mask) >> exp_shift); }
int field_of(double d) { return field_of(float_bits(d)); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ---- Scanning -------------------------------------------------------------

enum class ScanKind { number, zero, infinity, nan };

struct Scanned {
    ScanKind kind = ScanKind::number;
    bool negative = false;
    DigitRun run{nullptr, 0, 0};  // significant digits, trailing zeros dropped
    int64_t e = 0;                // value = digits x 10^e
    size_t unconsumed = 0;
};

// "1.#INF" / "1.#NaN" after one significant digit: p points at the '#'.
// Answers false when the letter after '#' is neither I nor N.
bool scan_nonfinite(const char* p, const char* end, Scanned& r) {
    ++p;
    if (p >= end) return false;
    char c = char(*p | 0x20);
    if (c != 'i' && c != 'n') return false;
    const char* word = c == 'i' ? "inf" : "nan";
    for (int n = 0; n < 3 && p < end && char(*p | 0x20) == word[n]; ++n) ++p;
    r.kind = c == 'i' ? ScanKind::infinity : ScanKind::nan;
    r.unconsumed = size_t(end - p);
    return true;
}

Scanned scan_number(const char* s, const char* end, int exponent_offset) {
    Scanned r;
    if (s < end && (*s == '+' || *s == '-')) r.negative = *s++ == '-';
    bool leading_zeros = false;
    while (s < end && *s == '0') {
        ++s;
        leading_zeros = true;
    }
    if (leading_zeros && s == end) {
        r.kind = ScanKind::zero;
        return r;
    }
    const char* s0 = s;
    int64_t n_int = 0, n_frac = 0, skipped_frac_zeros = 0;
    while (s < end && is_digit(*s)) ++s, ++n_int;
    if (s < end && *s == '.') {
        if (n_int == 1 && s + 1 < end && s[1] == '#' && scan_nonfinite(s + 1, end, r)) return r;
        ++s;
        if (n_int == 0) {  // zeros right after the point only move the exponent
            while (s < end && *s == '0') ++s, ++skipped_frac_zeros;
            s0 = s;
        }
        const char* f = s;
        while (s < end && is_digit(*s)) ++s;
        n_frac = s - f;
    }
    int64_t exponent = 0;
    if (s < end && (*s == 'e' || *s == 'E') && s + 1 < end) {
        ++s;
        bool negative_exponent = false;
        if (*s == '+' || *s == '-') negative_exponent = *s++ == '-';
        // Saturates, so that any number of exponent digits is safe.
        for (; s < end && is_digit(*s); ++s) exponent = std::min(exponent * 10 + (*s - '0'), exponent_cap);
        if (negative_exponent) exponent = -exponent;
    }
    r.unconsumed = size_t(end - s);

    int64_t nd = n_int + n_frac;
    r.run = DigitRun{s0, n_int > 0 ? n_int : nd, nd};
    r.e = exponent + exponent_offset - n_frac - skipped_frac_zeros;
    while (nd > 0 && r.run.digit(nd - 1) == 0) --nd, ++r.e;
    r.run.nd = nd;
    if (nd == 0) r.kind = ScanKind::zero;
    return r;
}

// ---- Decimal to binary ------------------------------------------------------

enum class Outcome { value, overflow, underflow };

// The power-of-two case of the correction loop: the value lies below rv by
// at least the (smaller) half-spacing of the binade under rv.
Outcome drop_down(double& rv, bool scaled) {
    int f = field_of(rv);
    if (scaled && f <= scaled_subnormal_field) {
        // Subnormal spacing is the same on both sides: a tie keeps the even
        // rv, unless rv is the least subnormal, whose even neighbour is 0.
        return f > P + 2 ? Outcome::value : Outcome::underflow;
    }
    rv = float_from_bits((uint64_t(f - 1) << exp_shift) | frac_mask);
    return Outcome::value;
}

// The mask of the last bit that the unscaled result holds, for ties to even:
// below the least normal binade it moves up by the missing exponent.
uint64_t last_place_bit(int logb) {
    if (logb >= emin) return 1;
    int i = emin - logb;
    return i < 52 ? uint64_t(1) << i : exp_mask;
}

// Gay's correction loop: compares digits x 10^e exactly with rv (scaled by
// 2^106 when `scaled`), measures the error in half-units in the last place and
// steps rv until it is the correctly rounded value of the digits.
Outcome correct(double& rv, const DigitRun& run, int e, bool scaled, uint32_t y9) {
    const int sc = scaled ? scale : 0;
    BigPtr bd0 = digits_to_big(run, y9);
    for (;;) {
        if (!std::isfinite(rv)) return Outcome::overflow;
        if (rv <= 0) return Outcome::underflow;
        BigPtr bd = big_copy(*bd0);
        int bbe, bbbits;
        BigPtr bb = float_to_big(rv, &bbe, &bbbits);  // rv = bb x 2^bbe
        BigPtr bs = int_to_big(1);
        int bb2, bb5, bd2, bd5;
        if (e >= 0) {
            bb2 = bb5 = 0;
            bd2 = bd5 = e;
        } else {
            bb2 = bb5 = -e;
            bd2 = bd5 = 0;
        }
        if (bbe >= 0) bb2 += bbe; else bd2 -= bbe;
        int bs2 = bb2;
        // Make bb twice the significand in units of bs, one half-unit in the
        // last place (which is coarser for a subnormal result).
        int logb = bbe - sc + bbbits - 1;
        uint64_t lsb = last_place_bit(logb);
        int j = P + 1 - bbbits;
        if (logb < emin) j -= emin - logb;
        bb2 += j;
        bd2 += j + sc;
        int common = std::min({bb2, bd2, bs2});
        if (common > 0) bb2 -= common, bd2 -= common, bs2 -= common;
        if (bb5 > 0) {
            big_pow5_mul(bs, bb5);
            bb = big_mul(*bs, *bb);
        }
        if (bb2 > 0) big_shift_left(bb, bb2);
        if (bd5 > 0) big_pow5_mul(bd, bd5);
        if (bd2 > 0) big_shift_left(bd, bd2);
        if (bs2 > 0) big_shift_left(bs, bs2);
        BigPtr delta = big_diff(*bb, *bd);
        bool dsign = delta->sign != 0;  // the decimal value lies above rv
        delta->sign = 0;
        int c = big_compare(*delta, *bs);
        uint64_t u = float_bits(rv);

        if (c < 0) {
            // Less than half a unit away. Only a power of two approached from
            // above can still be off: the spacing below it is half as wide.
            if (dsign || (u & frac_mask) || field_of(u) <= scaled_subnormal_field) return Outcome::value;
            if (delta->is_zero()) return Outcome::value;
            big_shift_left(delta, 1);
            if (big_compare(*delta, *bs) > 0) return drop_down(rv, scaled);
            return Outcome::value;
        }
        if (c == 0) {
            // Exactly half-way: round to the even neighbour.
            if (!dsign && !(u & frac_mask)) return drop_down(rv, scaled);
            if (!(u & lsb)) return Outcome::value;
            if (dsign) {
                rv += scaled_ulp(rv, scaled);
                return std::isinf(rv) ? Outcome::overflow : Outcome::value;
            }
            rv -= scaled_ulp(rv, scaled);
            return rv == 0 ? Outcome::underflow : Outcome::value;
        }

        // More than half a unit away: step by the measured error.
        double aadj = big_ratio(*delta, *bs);  // in half-units
        double aadj1;
        if (aadj <= 2.0) {
            if (dsign) {
                aadj = aadj1 = 1.0;
            } else if (u & frac_mask) {
                if (u == 1) return Outcome::underflow;  // below the least subnormal
                aadj = 1.0;
                aadj1 = -1.0;
            } else {
                aadj = aadj < 1.0 ? 0.5 : aadj * 0.5;  // units of the binade below
                aadj1 = -aadj;
            }
        } else {
            aadj *= 0.5;
            aadj1 = dsign ? aadj : -aadj;
        }
        int y = field_of(u);
        if (y == top_field) {
            // Step with the exponent lowered, so that an overflow shows.
            double rv0 = rv;
            rv = float_from_bits(u - (uint64_t(P) << exp_shift));
            rv += aadj1 * ulp(rv);
            if (field_of(rv) >= overflow_check_field) {
                if (float_bits(rv0) == largest_bits) return Outcome::overflow;
                rv = float_from_bits(largest_bits);
                continue;
            }
            rv = float_from_bits(float_bits(rv) + (uint64_t(P) << exp_shift));
        } else if (scaled && y <= 2 * P) {
            // Subnormal result: step by whole units of its own last place.
            if (aadj <= 2147483647.0) {
                double whole = std::floor(aadj);
                aadj = whole > 0 ? whole : 1.0;
                aadj1 = dsign ? aadj : -aadj;
            }
            aadj1 = float_from_bits(float_bits(aadj1) + (uint64_t(scaled_subnormal_field - y) << exp_shift));
            rv += aadj1 * ulp(rv);
            if (rv == 0) return Outcome::underflow;
        } else {
            rv += aadj1 * ulp(rv);
        }
        if (!scaled && y == field_of(rv)) {
            // Can we stop now? Only when the step was safely not a tie.
            double frac = aadj - std::floor(aadj);
            if (dsign || (float_bits(rv) & frac_mask)) {
                if (frac < .4999999 || frac > .5000001) return Outcome::value;
            } else if (frac < .4999999 / 2) {
                return Outcome::value;
            }
        }
    }
}

// The first min(n, 9) digits of a run as an integer.
uint32_t leading_nine(const DigitRun& run) {
    uint32_t y = 0;
    for (int64_t i = 0; i < run.nd && i < 9; ++i) y = y * 10 + uint32_t(run.digit(i));
    return y;
}

// digits x 10^e for a run of at most `long_input_digits` digits (or a prefix
// of a longer one), correctly rounded; 0 on underflow, infinity on overflow.
double decimal_to_double(const DigitRun& run, int e) {
    int nd = int(run.nd);
    int k = std::min(nd, approx_digits);
    uint32_t y = 0, z = 0;
    for (int i = 0; i < k; ++i) {
        if (i < 9) y = y * 10 + uint32_t(run.digit(i));
        else z = z * 10 + uint32_t(run.digit(i));
    }
    double rv = y;
    if (k > 9) rv = tens[k - 9] * rv + z;

    // Exact when both operands are exact and one rounding makes the result.
    if (nd <= exact_digits) {
        if (e == 0) return rv;
        if (e > 0) {
            if (e <= max_exact_power) return rv * tens[e];
            int i = exact_digits - nd;
            if (e <= max_exact_power + i) {
                rv *= tens[i];
                return rv * tens[e - i];
            }
        } else if (e >= -max_exact_power) {
            return rv / tens[-e];
        }
    }

    // Starting approximation rv x 10^e1.
    int e1 = e + nd - k;
    bool scaled = false;
    if (e1 > 0) {
        if (int i = e1 & 15) rv *= tens[i];
        if (e1 &= ~15) {
            if (e1 > 308) return infinity;
            e1 >>= 4;
            int j = 0;
            for (; e1 > 1; ++j, e1 >>= 1)
                if (e1 & 1) rv *= bigtens[j];
            rv = float_from_bits(float_bits(rv) - (uint64_t(P) << exp_shift)) * bigtens[j];
            int f = field_of(rv);
            if (f > overflow_check_field) return infinity;
            if (f == overflow_check_field) rv = float_from_bits(largest_bits);  // just below: let the loop decide
            else rv = float_from_bits(float_bits(rv) + (uint64_t(P) << exp_shift));
        }
    } else if (e1 < 0) {
        e1 = -e1;
        if (int i = e1 & 15) rv /= tens[i];
        if (e1 >>= 4) {
            if (e1 >= 1 << n_bigtens) return 0.0;
            scaled = (e1 & scale_bit) != 0;
            for (int j = 0; e1 > 0; ++j, e1 >>= 1)
                if (e1 & 1) rv *= tinytens[j];
            if (scaled) {
                // A subnormal result holds fewer bits: clear the ones it cannot hold.
                int j = scaled_subnormal_field - field_of(rv);
                if (j > 0) {
                    if (j > P + 1) return 0.0;
                    if (j >= P) rv = float_from_bits(uint64_t(P + 2) << exp_shift);
                    else rv = float_from_bits(float_bits(rv) & (~uint64_t(0) << j));
                }
            }
            if (rv == 0) return 0.0;
        }
    }

    switch (correct(rv, run, e, scaled, y)) {
        case Outcome::overflow: return infinity;
        case Outcome::underflow: return 0.0;
        case Outcome::value: break;
    }
    if (scaled) rv *= unscale;
    return rv;
}

BigPtr u64_to_big(uint64_t v) {
    BigPtr b = int_to_big(uint32_t(v));
    if (uint32_t high = uint32_t(v >> 32)) {
        b->x()[1] = high;
        b->wds = 2;
    }
    return b;
}

// For an input longer than `long_input_digits`: rv is the correctly rounded
// value of a prefix, which lies at most one unit of its 18th digit below the
// whole value, so the whole value rounds to rv or to the double above it.
// Compares the half-way point between them with the whole digit string.
double settle_long_input(double rv, const DigitRun& run, int64_t e) {
    if (std::isinf(rv)) return rv;
    uint64_t u = float_bits(rv);
    int f = field_of(u);
    uint64_t m = (u & frac_mask) | (f ? uint64_t(1) << exp_shift : 0);
    int be = (f ? f : 1) - bias - (P - 1);  // rv = m x 2^be
    // half-way = (2m + 1) x 2^(be - 1); digits x 2^e x 5^e against it.
    BigPtr lhs = digits_to_big(run, leading_nine(run));
    BigPtr rhs = u64_to_big(2 * m + 1);
    int64_t twos = e - (be - 1);
    if (e >= 0) big_pow5_mul(lhs, int(e));
    else big_pow5_mul(rhs, int(-e));
    if (twos > 0) big_shift_left(lhs, int(twos));
    else if (twos < 0) big_shift_left(rhs, int(-twos));
    int c = big_compare(*lhs, *rhs);
    double up = float_from_bits(u + 1);
    if (c > 0 || (c == 0 && (m & 1))) return up;
    return rv;
}

}  // namespace

double text_to_float(const char* start, const char* end, int exponent_offset, size_t* unconsumed) {
    Scanned sc = scan_number(start, end, exponent_offset);
    if (unconsumed) *unconsumed = sc.unconsumed;
    switch (sc.kind) {
        case ScanKind::zero: return sc.negative ? -0.0 : 0.0;
        case ScanKind::infinity: return sc.negative ? -infinity : infinity;
        case ScanKind::nan: return float_from_bits(numeric::float_quiet_nan_bits);
        case ScanKind::number: break;
    }
    int64_t decimal_exponent = sc.e + sc.run.nd;  // value = 0.d1d2... x 10^decimal_exponent
    double magnitude;
    if (decimal_exponent > highest_decimal_exponent) {
        magnitude = infinity;
    } else if (decimal_exponent < lowest_decimal_exponent) {
        magnitude = 0.0;
    } else if (sc.run.nd <= long_input_digits) {
        magnitude = decimal_to_double(sc.run, int(sc.e));
    } else {
        DigitRun prefix = sc.run;
        prefix.nd = long_input_kept;
        while (prefix.digit(prefix.nd - 1) == 0) --prefix.nd;
        magnitude = decimal_to_double(prefix, int(sc.e + (sc.run.nd - prefix.nd)));
        magnitude = settle_long_input(magnitude, sc.run, sc.e);
    }
    if (magnitude == 0) return 0.0;  // underflow does not keep the sign
    return sc.negative ? -magnitude : magnitude;
}

// ---- Binary to decimal ------------------------------------------------------

namespace {

// Constants of the estimate of log10 from the binary exponent and the
// significand in [1, 2): a tangent of log10 at 1.5, never below it.
constexpr double log10_tangent_at = 1.5;
constexpr double log10_tangent_slope = 0.289529654602168;
constexpr double log10_of_1_5 = 0.1760912590558;
constexpr double log10_of_2 = 0.301029995663981;
constexpr int small_integer_digits = 14;  // integers below 10^15 use double arithmetic

// Increments the digits before `s` (the round-off of step 8): trailing nines
// go, and all nines become "1" one decimal place higher. Answers the new end.
char* round_up_digits(char* s0, char* s, int& k) {
    while (*--s == '9') {
        if (s == s0) {
            ++k;
            *s = '1';
            return s + 1;
        }
    }
    ++*s;
    return s + 1;
}

char* strip_zeros(char* s0, char* s) {
    while (s > s0 + 1 && s[-1] == '0') --s;
    return s;
}

// Writes the decimal digits of a positive finite double at s0 and answers
// their end; k receives the decimal exponent of the first digit. With
// `shortest`, the digits are the shortest that read back to d, cut at `ilim`
// digits when ilim > 0; otherwise exactly `ilim` digits correctly rounded.
// Trailing zeros are never written.
char* generate_digits(double d, bool shortest, int ilim, char* s0, int& k) {
    int be, bbits;
    BigPtr b = float_to_big(d, &be, &bbits);  // d = b x 2^be
    uint64_t u = float_bits(d);
    int field = field_of(u);
    bool denorm = field == 0;
    double d2;  // the significand in [1, 2)
    int i;      // the binary exponent
    if (!denorm) {
        d2 = float_from_bits((u & frac_mask) | (uint64_t(bias) << exp_shift));
        i = field - bias;
    } else {
        int length = bbits + be + 1074;  // bit length of the stored fraction
        d2 = float_from_bits(((u << (P - length)) & frac_mask) | (uint64_t(bias) << exp_shift));
        i = bbits + be - 1;
    }
    double ds = (d2 - log10_tangent_at) * log10_tangent_slope + log10_of_1_5 + i * log10_of_2;
    k = int(ds);
    if (ds < 0 && ds != k) --k;  // floor
    bool k_check = true;
    if (k >= 0 && k <= max_exact_power) {
        if (d < tens[k]) --k;
        k_check = false;
    }
    int j = bbits - i - 1;
    int b2, s2, b5, s5;
    if (j >= 0) b2 = 0, s2 = j;
    else b2 = -j, s2 = 0;
    if (k >= 0) b5 = 0, s5 = k, s2 += k;
    else b2 -= k, b5 = -k, s5 = 0;

    char* s = s0;
    if (be >= 0 && k <= small_integer_digits) {
        // An integer of at most 15 digits: double arithmetic is exact.
        double ten_k = tens[k];
        double v = d;
        for (int n = 1;; ++n, v *= 10.0) {
            int L = int(v / ten_k);
            v -= L * ten_k;
            *s++ = char('0' + L);
            if (v == 0) break;
            if (n == ilim) {
                v += v;
                if (v > ten_k || (v == ten_k && (L & 1))) return round_up_digits(s0, s, k);
                break;
            }
        }
        return strip_zeros(s0, s);
    }

    // b / S is d / 10^k exactly; mlo and mhi are the half-unit margins.
    int m2 = b2, m5 = b5;
    BigPtr mhi, mlo;
    if (shortest) {
        int shift = denorm ? be + bias + P - 1 : 1 + P - bbits;
        b2 += shift;
        s2 += shift;
        mhi = int_to_big(1);
    }
    if (m2 > 0 && s2 > 0) {
        int common = std::min(m2, s2);
        b2 -= common, m2 -= common, s2 -= common;
    }
    if (b5 > 0) {
        if (shortest) {
            big_pow5_mul(mhi, m5);
            b = big_mul(*mhi, *b);
        } else {
            big_pow5_mul(b, b5);
        }
    }
    BigPtr S = int_to_big(1);
    if (s5 > 0) big_pow5_mul(S, s5);
    // A normal power of two has twice the spacing above it as below it.
    bool power_of_two = shortest && !(u & frac_mask) && field > 1;
    if (power_of_two) ++b2, ++s2;
    int shift = big_shift_for_divisor(*S, s2);
    b2 += shift, m2 += shift, s2 += shift;
    if (b2 > 0) big_shift_left(b, b2);
    if (s2 > 0) big_shift_left(S, s2);
    if (k_check && big_compare(*b, *S) < 0) {
        // The estimate was one too high.
        --k;
        big_mul_add(b, 10, 0);
        if (shortest) big_mul_add(mhi, 10, 0);
    }

    int dig = 0;
    if (shortest) {
        if (m2 > 0) big_shift_left(mhi, m2);
        if (power_of_two) {
            mlo = big_copy(*mhi);
            big_shift_left(mhi, 1);
        }
        bool even = !(u & 1);  // a tie reads back to d
        for (int n = 1;; ++n) {
            dig = '0' + big_quot_rem(*b, *S);
            int jlo = big_compare(*b, mlo ? *mlo : *mhi);
            BigPtr delta = big_diff(*S, *mhi);
            int jhi = delta->sign ? 1 : big_compare(*b, *delta);
            if (jhi == 0 && even) {
                if (dig == '9') {
                    *s++ = '9';
                    return round_up_digits(s0, s, k);
                }
                if (jlo > 0) ++dig;
                *s++ = char(dig);
                return s;
            }
            if (jlo < 0 || (jlo == 0 && even)) {
                if (!b->is_zero() && jhi > 0) {
                    // Both the digit and the one above read back: take the nearer.
                    big_shift_left(b, 1);
                    int c = big_compare(*b, *S);
                    if (c > 0 || (c == 0 && (dig & 1))) {
                        if (dig == '9') {
                            *s++ = '9';
                            return round_up_digits(s0, s, k);
                        }
                        ++dig;
                    }
                }
                *s++ = char(dig);
                return strip_zeros(s0, s);
            }
            if (jhi > 0) {
                if (dig == '9') {
                    *s++ = '9';
                    return round_up_digits(s0, s, k);
                }
                *s++ = char(dig + 1);
                return s;
            }
            *s++ = char(dig);
            if (n == ilim) break;
            big_mul_add(b, 10, 0);
            big_mul_add(mhi, 10, 0);
            if (mlo) big_mul_add(mlo, 10, 0);
        }
    } else {
        for (int n = 1;; ++n) {
            dig = '0' + big_quot_rem(*b, *S);
            *s++ = char(dig);
            if (b->is_zero()) return strip_zeros(s0, s);
            if (n >= ilim) break;
            big_mul_add(b, 10, 0);
        }
    }
    // Cut at the limit: round the last digit by the remainder, ties to even.
    big_shift_left(b, 1);
    int c = big_compare(*b, *S);
    if (c > 0 || (c == 0 && (dig & 1))) return round_up_digits(s0, s, k);
    return strip_zeros(s0, s);
}

void set_text(FloatDigits& r, const char* text) {
    r.count = int(std::strlen(text));
    std::memcpy(r.text, text, size_t(r.count) + 1);
}

// Fills the texts of zeros, infinities and NaN; answers false for a finite nonzero value.
bool zero_or_nonfinite_digits(double value, bool zero_form, FloatDigits& r) {
    uint64_t u = float_bits(value);
    r.negative = (u & numeric::float_sign_bit) != 0;
    if (field_of(u) == numeric::float_exponent_max) {
        r.decpt = decpt_nonfinite;
        set_text(r, (u & frac_mask) ? "1.#NaN" : r.negative ? "-1.#INF" : "1.#INF");
        return true;
    }
    if (!(u & ~numeric::float_sign_bit)) {
        r.decpt = decpt_zero;
        set_text(r, zero_form ? (r.negative ? "-0.0" : "0.0") : (r.negative ? "-0" : "0"));
        return true;
    }
    return false;
}

FloatDigits make_digits(double value, bool shortest, int ilim, bool zero_form) {
    FloatDigits r{};
    if (zero_or_nonfinite_digits(value, zero_form, r)) return r;
    int k;
    char* end = generate_digits(std::fabs(value), shortest, ilim, r.text, k);
    *end = '\0';
    r.count = int(end - r.text);
    r.decpt = k + 1;
    return r;
}

// Appends to a FloatText; the callers' texts always fit.
struct TextWriter {
    FloatText& t;
    void put(char c) { t.text[t.length++] = c; }
    void put(const char* p, size_t n) {
        std::memcpy(t.text + t.length, p, n);
        t.length += uint32_t(n);
    }
    void zeros(int n) {
        for (; n > 0; --n) put('0');
    }
    void integer(int v) {
        char buf[12];
        int n = 0;
        unsigned mag = v < 0 ? 0u - unsigned(v) : unsigned(v);
        do buf[n++] = char('0' + mag % 10); while (mag /= 10);
        if (v < 0) put('-');
        while (n) put(buf[--n]);
    }
    // Fixed notation without a final ".0"; answers true for a whole number.
    bool fixed(const FloatDigits& d) {
        if (d.decpt <= 0) {
            put("0.", 2);
            zeros(-d.decpt);
            put(d.text, size_t(d.count));
            return false;
        }
        if (d.decpt < d.count) {
            put(d.text, size_t(d.decpt));
            put('.');
            put(d.text + d.decpt, size_t(d.count - d.decpt));
            return false;
        }
        put(d.text, size_t(d.count));
        zeros(d.decpt - d.count);
        return true;
    }
    void finish() { t.text[t.length] = '\0'; }
};

FloatText text_of(std::string_view v) {
    FloatText t{};
    TextWriter w{t};
    w.put(v.data(), v.size());
    w.finish();
    return t;
}

}  // namespace

FloatDigits float_to_text(double value, int limit, bool zero_form) {
    return make_digits(value, true, limit > 0 ? limit : -1, zero_form);
}

FloatDigits float_to_exact_digits(double value, int ndigits) {
    return make_digits(value, false, std::clamp(ndigits, 1, max_exact_digits), false);
}

FloatText format_float_digits(double value, int limit, bool zero_form) {
    FloatDigits d = float_to_text(value, limit, zero_form);
    if (d.decpt >= decpt_zero) return text_of(d.view());
    FloatText t{};
    TextWriter w{t};
    if (d.negative) w.put('-');
    if (d.decpt >= 18 || d.decpt < -6) {
        w.put(d.text[0]);
        if (d.count > 1) {
            w.put('.');
            w.put(d.text + 1, size_t(d.count - 1));
        } else if (zero_form) {
            w.put(".0", 2);
        }
        w.put('e');
        w.integer(d.decpt - 1);
    } else {
        bool whole = w.fixed(d);
        if (whole && zero_form) w.put(".0", 2);
    }
    w.finish();
    return t;
}

namespace {

// Rounds the digits of d half up to n digits (the digit after the cut alone
// decides), removing trailing zeros.
void round_half_up(FloatDigits& d, int n) {
    if (d.count <= n) return;
    char* s0 = d.text;
    char* end = s0 + n;
    int k = d.decpt - 1;
    if (d.text[n] >= '5') end = round_up_digits(s0, end, k);
    end = strip_zeros(s0, end);
    *end = '\0';
    d.count = int(end - s0);
    d.decpt = k + 1;
}

}  // namespace

FloatText format_g(double value, int precision) {
    uint64_t u = float_bits(value);
    bool negative = (u & numeric::float_sign_bit) != 0;
    if (field_of(u) == numeric::float_exponent_max) {
        if (u & frac_mask) return text_of(negative ? "-nan" : "nan");
        return text_of(negative ? "-inf" : "inf");
    }
    precision = std::clamp(precision, 1, max_exact_digits);
    FloatText t{};
    TextWriter w{t};
    if (negative) w.put('-');
    if (!(u & ~numeric::float_sign_bit)) {
        w.put('0');
        w.finish();
        return t;
    }
    FloatDigits d = float_to_exact_digits(value, max_exact_digits);
    round_half_up(d, precision);
    int x = d.decpt - 1;  // the exponent of the rounded value
    if (x < -4 || x >= precision) {
        w.put(d.text[0]);
        if (d.count > 1) {
            w.put('.');
            w.put(d.text + 1, size_t(d.count - 1));
        }
        w.put('e');
        w.put(x < 0 ? '-' : '+');
        int mag = x < 0 ? -x : x;
        if (mag < 10) w.put('0');
        w.integer(mag);
    } else {
        w.fixed(d);
    }
    w.finish();
    return t;
}

namespace {

constexpr double pretty_zero_bound = 2.220446049250313e-16;  // below this, pretty text is zero
constexpr size_t pretty_check_length = 16;                   // texts longer than this are checked

bool percent_kind(FloatKind kind) { return kind == FloatKind::percent32 || kind == FloatKind::percent; }

// The first text of a kind: "%.7g", "%.13g", "%.16g", or six shortest digits
// for the seconds of a time.
FloatText first_text(double x, FloatKind kind) {
    switch (kind) {
        case FloatKind::float32:
        case FloatKind::percent32:
        case FloatKind::point: return format_g(x, 7);
        case FloatKind::percent: return format_g(x, 13);
        case FloatKind::float64: return format_g(x, 16);
        case FloatKind::time_seconds: break;
    }
    return format_float_digits(x, 6, false);
}

// The retry text when the first one ends in "01" or "99" beyond 16 characters.
FloatText retry_text(double x, FloatKind kind) {
    bool short_kind = kind == FloatKind::float32 || kind == FloatKind::time_seconds || kind == FloatKind::point;
    return format_g(x, short_kind ? 5 : 14);
}

// The two characters whose "01" or "99" marks a binary rounding artefact:
// the last two of a long plain text, or the two before a long mantissa's "e".
bool has_rounding_artefact(std::string_view t) {
    size_t e = t.find('e');
    std::string_view tail;
    if (e == std::string_view::npos) {
        size_t first = t[0] == '-' ? 1 : 0;
        bool short_fraction = t.size() == 17 && t.size() > first && t[first] == '0';
        if (t.size() > pretty_check_length && !short_fraction) tail = t.substr(t.size() - 2);
    } else if (e > pretty_check_length) {
        tail = t.substr(e - 2, 2);
    }
    return tail == "01" || tail == "99";
}

}  // namespace

FloatText format_float(double x, FloatKind kind, bool pretty) {
    uint64_t u = float_bits(x);
    if (field_of(u) == numeric::float_exponent_max) {
        if (u & frac_mask) return text_of("1.#NaN");
        return text_of((u & numeric::float_sign_bit) ? "-1.#INF" : "1.#INF");
    }
    if (pretty && std::fabs(x) < pretty_zero_bound) {
        if (percent_kind(kind)) return text_of("0%");
        return text_of(kind == FloatKind::point ? "0" : "0.0");
    }
    FloatText raw = first_text(x, kind);
    if (pretty && has_rounding_artefact(raw.view())) raw = retry_text(x, kind);

    // Shorten the exponent ("e+20" -> "e20", "e-07" -> "e-7"), then decorate.
    std::string_view v = raw.view();
    size_t e = v.find('e');
    std::string_view mantissa = v.substr(0, e);
    FloatText t{};
    TextWriter w{t};
    w.put(mantissa.data(), mantissa.size());
    bool needs_point = !percent_kind(kind) && kind != FloatKind::time_seconds && kind != FloatKind::point &&
                       mantissa.find('.') == std::string_view::npos;
    if (needs_point) w.put(".0", 2);
    if (e != std::string_view::npos) {
        w.put('e');
        size_t p = e + 1;
        if (p < v.size() && (v[p] == '+' || v[p] == '-')) {
            if (v[p] == '-') w.put('-');
            ++p;
        }
        while (p + 1 < v.size() && v[p] == '0') ++p;
        w.put(v.data() + p, v.size() - p);
    }
    if (percent_kind(kind)) w.put('%');
    w.finish();
    return t;
}

}  // namespace vyr::float_text
