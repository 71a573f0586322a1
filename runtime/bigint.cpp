#include "runtime/bigint.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/numeric.h"
#include "runtime/platform.h"

namespace vyr::bigint {

namespace {
Big* free_lists[max_free_class + 1];
int64_t live_count = 0;

constexpr uint64_t word_mask = 0xFFFFFFFFull;

// Drops leading zero words, keeping at least one.
void trim(Big& b) {
    while (b.wds > 1 && b.x()[b.wds - 1] == 0) --b.wds;
}

// The smallest class whose capacity holds n words.
int class_for_words(int64_t n) {
    int k = 0;
    while ((int64_t(1) << k) < n) ++k;
    return k;
}
}  // namespace

BigPtr big_alloc(int k) {
    Big* b;
    if (k <= max_free_class && free_lists[k]) {
        b = free_lists[k];
        free_lists[k] = b->next;
    } else {
        size_t words = size_t(1) << k;
        b = static_cast<Big*>(platform::allocate(sizeof(Big) + words * sizeof(uint32_t)));
        b->k = k;
        b->maxwds = int(words);
    }
    b->next = nullptr;
    b->sign = 0;
    b->wds = 0;
    ++live_count;
    return BigPtr(b);
}

void big_free(Big* b) {
    if (!b) return;
    --live_count;
    if (b->k <= max_free_class) {
        b->next = free_lists[b->k];
        free_lists[b->k] = b;
    } else {
        platform::release(b);
    }
}

int64_t live_records() { return live_count; }

BigPtr big_copy(const Big& b) {
    BigPtr c = big_alloc(b.k);
    c->sign = b.sign;
    c->wds = b.wds;
    std::memcpy(c->x(), b.x(), size_t(b.wds) * sizeof(uint32_t));
    return c;
}

BigPtr int_to_big(uint32_t i) {
    BigPtr b = big_alloc(1);
    b->x()[0] = i;
    b->wds = 1;
    return b;
}

void big_mul_add(BigPtr& b, uint32_t m, uint32_t a) {
    uint32_t* x = b->x();
    uint64_t carry = a;
    for (int i = 0; i < b->wds; ++i) {
        uint64_t y = uint64_t(x[i]) * m + carry;
        carry = y >> 32;
        x[i] = uint32_t(y & word_mask);
    }
    if (carry) {
        if (b->wds >= b->maxwds) {
            BigPtr grown = big_alloc(b->k + 1);
            grown->wds = b->wds;
            std::memcpy(grown->x(), b->x(), size_t(b->wds) * sizeof(uint32_t));
            b = std::move(grown);
        }
        b->x()[b->wds++] = uint32_t(carry);
    }
}

BigPtr big_mul(const Big& a0, const Big& b0) {
    const Big* a = &a0;
    const Big* b = &b0;
    if (a->wds < b->wds) std::swap(a, b);
    int wa = a->wds, wb = b->wds, wc = wa + wb;
    BigPtr c = big_alloc(wc > a->maxwds ? a->k + 1 : a->k);
    uint32_t* xc0 = c->x();
    std::memset(xc0, 0, size_t(wc) * sizeof(uint32_t));
    const uint32_t* xa = a->x();
    const uint32_t* xb = b->x();
    for (int j = 0; j < wb; ++j) {
        uint64_t y = xb[j];
        if (!y) continue;
        uint32_t* xc = xc0 + j;
        uint64_t carry = 0;
        for (int i = 0; i < wa; ++i) {
            uint64_t z = uint64_t(xa[i]) * y + xc[i] + carry;
            carry = z >> 32;
            xc[i] = uint32_t(z & word_mask);
        }
        xc[wa] = uint32_t(carry);
    }
    c->wds = wc;
    trim(*c);
    return c;
}

// 5^(k AND 3) through one multiply-add; the rest of k / 4 by squaring 625.
void big_pow5_mul(BigPtr& b, int k) {
    static constexpr uint32_t small_powers[3] = {5, 25, 125};
    if (int i = k & 3) big_mul_add(b, small_powers[i - 1], 0);
    k >>= 2;
    if (!k) return;
    BigPtr p5 = int_to_big(625);
    for (;;) {
        if (k & 1) b = big_mul(*b, *p5);
        k >>= 1;
        if (!k) break;
        p5 = big_mul(*p5, *p5);
    }
}

void big_shift_left(BigPtr& b, int n) {
    int words = n >> 5;
    int bits = n & 31;
    int64_t needed = int64_t(words) + b->wds + 1;
    int k = b->k;
    while ((int64_t(1) << k) < needed) ++k;
    BigPtr r = big_alloc(k);
    uint32_t* out = r->x();
    std::memset(out, 0, size_t(words) * sizeof(uint32_t));
    out += words;
    const uint32_t* in = b->x();
    int wds = b->wds;
    if (bits) {
        uint32_t carry = 0;
        for (int i = 0; i < wds; ++i) {
            out[i] = (in[i] << bits) | carry;
            carry = in[i] >> (32 - bits);
        }
        out[wds] = carry;
        r->wds = words + wds + (carry ? 1 : 0);
    } else {
        std::memcpy(out, in, size_t(wds) * sizeof(uint32_t));
        r->wds = words + wds;
    }
    trim(*r);  // a shifted zero stays a one-word zero
    b = std::move(r);
}

int big_compare(const Big& a, const Big& b) {
    if (a.wds != b.wds) return a.wds < b.wds ? -1 : 1;
    for (int i = a.wds - 1; i >= 0; --i) {
        if (a.x()[i] != b.x()[i]) return a.x()[i] < b.x()[i] ? -1 : 1;
    }
    return 0;
}

BigPtr big_diff(const Big& a0, const Big& b0) {
    int c = big_compare(a0, b0);
    if (c == 0) {
        BigPtr z = big_alloc(0);
        z->wds = 1;
        z->x()[0] = 0;
        return z;
    }
    const Big* a = &a0;
    const Big* b = &b0;
    if (c < 0) std::swap(a, b);
    BigPtr r = big_alloc(a->k);
    r->sign = c < 0 ? 1 : 0;
    const uint32_t* xa = a->x();
    const uint32_t* xb = b->x();
    uint32_t* xr = r->x();
    uint64_t borrow = 0;
    for (int i = 0; i < a->wds; ++i) {
        uint64_t y = uint64_t(xa[i]) - (i < b->wds ? xb[i] : 0) - borrow;
        borrow = (y >> 32) & 1;
        xr[i] = uint32_t(y & word_mask);
    }
    r->wds = a->wds;
    trim(*r);
    return r;
}

// Subtracts q * S from b (q * S <= b) and trims b.
static void subtract_multiple(Big& b, const Big& S, uint32_t q) {
    const uint32_t* sx = S.x();
    uint32_t* bx = b.x();
    uint64_t borrow = 0, carry = 0;
    for (int i = 0; i < S.wds; ++i) {
        uint64_t ys = uint64_t(sx[i]) * q + carry;
        carry = ys >> 32;
        uint64_t y = uint64_t(bx[i]) - (ys & word_mask) - borrow;
        borrow = (y >> 32) & 1;
        bx[i] = uint32_t(y & word_mask);
    }
    trim(b);
}

// The estimate top(b) / (top(S) + 1) is the quotient or one less, because
// S's top word has 4 leading zeros and b < 10 * S has no more words than S.
int big_quot_rem(Big& b, const Big& S) {
    int n = S.wds;
    if (b.wds < n) return 0;
    uint32_t q = b.x()[n - 1] / (S.x()[n - 1] + 1);
    if (q) subtract_multiple(b, S, q);
    if (big_compare(b, S) >= 0) {
        ++q;
        subtract_multiple(b, S, 1);
    }
    return int(q);
}

int big_shift_for_divisor(const Big& S, int s2) {
    int shift = high_zero_bits(S.x()[S.wds - 1]) - 4;
    if (s2 > 0) shift -= s2;
    return shift & 31;
}

BigPtr float_to_big(double d, int* e, int* bits) {
    using namespace numeric;
    uint64_t u = float_bits(d);
    uint64_t m = u & float_fraction_mask;
    int field = int((u & float_exponent_mask) >> float_exponent_shift);
    if (field) m |= uint64_t(1) << float_exponent_shift;
    int tz = m ? std::countr_zero(m) : 0;
    m >>= tz;
    *e = (field ? field : 1) - float_exponent_bias - (float_precision - 1) + tz;
    *bits = m ? 64 - std::countl_zero(m) : 0;
    BigPtr b = big_alloc(1);
    b->x()[0] = uint32_t(m & word_mask);
    b->x()[1] = uint32_t(m >> 32);
    b->wds = b->x()[1] ? 2 : 1;
    return b;
}

double big_to_float(const Big& b, int* e) {
    // Bring the top set bit to bit 63 of a 64-bit window over the top three
    // words, then keep 53 bits (truncated).
    int wds = b.wds;
    const uint32_t* x = b.x();
    int top_zeros = high_zero_bits(x[wds - 1]);
    *e = 32 * wds - top_zeros;
    uint64_t hi = (uint64_t(x[wds - 1]) << 32) | (wds > 1 ? x[wds - 2] : 0);
    uint32_t lo = wds > 2 ? x[wds - 3] : 0;
    uint64_t top = top_zeros ? (hi << top_zeros) | (lo >> (32 - top_zeros)) : hi;
    uint64_t significand = top >> 11;  // the leading one lands on bit 52
    return numeric::float_from_bits((uint64_t(numeric::float_exponent_bias) << numeric::float_exponent_shift) |
                                    (significand & numeric::float_fraction_mask));
}

double big_ratio(const Big& a, const Big& b) {
    int ea, eb;
    double da = big_to_float(a, &ea);
    double db = big_to_float(b, &eb);
    return std::ldexp(da / db, ea - eb);
}

BigPtr digits_to_big(const DigitRun& run, uint32_t y9) {
    BigPtr b = big_alloc(class_for_words((run.nd + 8) / 9));
    b->x()[0] = y9;
    b->wds = 1;
    // Nine digits at a time fit one multiply-add by 10^9.
    int64_t i = run.nd < 9 ? run.nd : 9;
    while (i < run.nd) {
        uint32_t chunk = 0, scale = 1;
        for (int n = 0; n < 9 && i < run.nd; ++n, ++i) {
            chunk = chunk * 10 + uint32_t(run.digit(i));
            scale *= 10;
        }
        big_mul_add(b, scale, chunk);
    }
    return b;
}

int high_zero_bits(uint32_t x) { return std::countl_zero(x); }

double ulp(double d) {
    using namespace numeric;
    int field = float_exponent_field(d);
    if (field > float_precision - 1)
        return float_from_bits(uint64_t(field - (float_precision - 1)) << float_exponent_shift);
    return float_from_bits(uint64_t(1) << (field > 0 ? field - 1 : 0));
}

double scaled_ulp(double d, bool scaled) {
    constexpr int scaled_subnormal_field = 2 * numeric::float_precision + 1;  // 107
    if (scaled && numeric::float_exponent_field(d) <= scaled_subnormal_field) return 0x1p-968;
    return ulp(d);
}

}  // namespace vyr::bigint
