// Big integers for the exact decimal <-> binary float conversions.
//
// A big integer is a record of unsigned 32-bit words, least significant first,
// with room for 2^k words (k is its size class). Values are exact: an
// operation whose result does not fit takes a record of a larger class.
// Records of class 0..7 are recycled through one free list per class and live
// for the whole process; larger ones go back to the raw allocation list.
//
// Invariants: `wds` >= 1 and the top word in use is nonzero, except for the
// value 0 (one word holding 0); `sign` is set only by `big_diff`.
//
// Ownership: a `BigPtr` owns one record and releases it when it goes out of
// scope. Operations that consume an argument take it by `BigPtr&` and leave
// the result in it (the record may be replaced when it grows). The free lists
// are process-wide and not locked: conversions run on the interpreter thread.
#pragma once

#include <cstdint>

namespace vyr::bigint {

inline constexpr int max_free_class = 7;  // highest size class kept on a free list

struct Big {
    Big* next;   // free-list link
    int k;       // size class
    int maxwds;  // capacity in words: 1 << k
    int sign;    // 1 when `big_diff` found a < b
    int wds;     // words in use
    uint32_t* x() { return reinterpret_cast<uint32_t*>(this + 1); }
    const uint32_t* x() const { return reinterpret_cast<const uint32_t*>(this + 1); }
    bool is_zero() const { return wds <= 1 && x()[0] == 0; }
};

void big_free(Big* b);

// Owns one record; releases it on destruction.
class BigPtr {
public:
    BigPtr() = default;
    explicit BigPtr(Big* b) : b_(b) {}
    BigPtr(BigPtr&& o) noexcept : b_(o.b_) { o.b_ = nullptr; }
    BigPtr& operator=(BigPtr&& o) noexcept {
        if (this != &o) {
            big_free(b_);
            b_ = o.b_;
            o.b_ = nullptr;
        }
        return *this;
    }
    BigPtr(const BigPtr&) = delete;
    BigPtr& operator=(const BigPtr&) = delete;
    ~BigPtr() { big_free(b_); }
    Big* get() const { return b_; }
    Big* operator->() const { return b_; }
    Big& operator*() const { return *b_; }
    explicit operator bool() const { return b_ != nullptr; }

private:
    Big* b_ = nullptr;
};

// An empty record of class k (no words in use, sign clear).
BigPtr big_alloc(int k);
// A copy of b in a record of the same class.
BigPtr big_copy(const Big& b);
// b = b * m + a, in place.
void big_mul_add(BigPtr& b, uint32_t m, uint32_t a);
// a * b as a new record.
BigPtr big_mul(const Big& a, const Big& b);
// b = b * 5^k.
void big_pow5_mul(BigPtr& b, int k);
// b = b << n bits.
void big_shift_left(BigPtr& b, int n);
// The sign of a - b: -1, 0 or 1.
int big_compare(const Big& a, const Big& b);
// |a - b| as a new record, with `sign` set when a < b.
BigPtr big_diff(const Big& a, const Big& b);
// The quotient digit (0..9) of b / S; b becomes the remainder. S must have
// been shifted so that its top word has 4 leading zero bits, and b < 10 * S.
int big_quot_rem(Big& b, const Big& S);
// The extra left shift (0..31) that, added to `s2`, leaves S's top word with
// 4 leading zero bits once S is shifted by s2 plus it.
int big_shift_for_divisor(const Big& S, int s2);
// A one-word big integer.
BigPtr int_to_big(uint32_t i);
// The significand of a nonzero finite double with its trailing zero bits
// dropped: d = result * 2^e, and `bits` is the result's bit length.
BigPtr float_to_big(double d, int* e, int* bits);
// The top 53 bits of b as a double in [1, 2), and b's bit length in `e`.
double big_to_float(const Big& b, int* e);
// a / b as a double, computed from their top bits.
double big_ratio(const Big& a, const Big& b);

// A run of decimal digits in text, possibly with one '.' inside: digit i is
// s0[i] before the point and s0[i + 1] after it.
struct DigitRun {
    const char* s0;
    int64_t nd0;  // digits before the point
    int64_t nd;   // digit count
    int digit(int64_t i) const { return s0[i < nd0 ? i : i + 1] - '0'; }
};
// The digits of the run as one big integer; `y9` is the value of the first
// min(9, nd) digits, already computed by the caller.
BigPtr digits_to_big(const DigitRun& run, uint32_t y9);

// Leading zero bits of a word (32 for 0).
int high_zero_bits(uint32_t x);
// One unit in the last place of d (d finite and nonzero, or 0: the least subnormal).
double ulp(double d);
// `ulp`, or 2^-968 (the least subnormal scaled by 2^106) when `scaled` is set
// and d's exponent field is at most 107, i.e. the unscaled value is subnormal.
double scaled_ulp(double d, bool scaled);
// The exact double of an unsigned 32-bit integer.
inline double uint_to_float(uint32_t u) { return double(u); }

// Records taken from the allocator or the free lists and not yet released
// (for tests of record recycling).
int64_t live_records();

}  // namespace vyr::bigint
