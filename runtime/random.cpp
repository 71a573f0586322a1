#include "runtime/random.h"

#include <climits>

#include "runtime/checksum.h"

namespace vyr::random {

namespace {
// MT19937 constants.
constexpr uint32_t seed_multiplier = 1812433253;
constexpr int shift_distance = 397;
constexpr uint32_t upper_mask = 0x80000000;
constexpr uint32_t lower_mask = 0x7FFFFFFF;
constexpr uint32_t twist_matrix = 0x9908B0DF;
constexpr uint32_t temper_b = 0x9D2C5680;
constexpr uint32_t temper_c = 0xEFC60000;

// The sign bit is copied in: words are signed throughout.
inline uint32_t shift_right(uint32_t x, int n) { return uint32_t(int32_t(x) >> n); }

Twister generator;
}  // namespace

void Twister::reseed(int32_t seed) {
    state_[0] = uint32_t(seed);
    for (int i = 1; i < word_count; i++) {
        uint32_t prev = state_[i - 1];
        state_[i] = seed_multiplier * (prev ^ shift_right(prev, 30)) + uint32_t(i);
    }
    index_ = 0;
}

void Twister::regenerate() {
    for (int i = 0; i < word_count; i++) {
        uint32_t next_word = state_[(i + 1) % word_count];
        uint32_t y = (state_[i] & upper_mask) | (next_word & lower_mask);
        uint32_t w = state_[(i + shift_distance) % word_count] ^ shift_right(y, 1);
        if (next_word & 1) w ^= twist_matrix;
        state_[i] = w;
    }
    index_ = 0;
}

int32_t Twister::next() {
    if (index_ == word_count) regenerate();
    uint32_t y = state_[index_++];
    y ^= shift_right(y, 11);
    y ^= (y << 7) & temper_b;
    y ^= (y << 15) & temper_c;
    y ^= shift_right(y, 18);  // clears the top bit: it is XORed with itself
    return int32_t(y);
}

void random_init() {
    generator.reseed(start_seed);
}

void random_seed(int32_t seed) { generator.reseed(seed); }

int32_t random_next() { return generator.next(); }

int32_t random_secure() {
    uint8_t b[4];
    checksum::crypto_random(b);
    uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return int32_t(v & lower_mask);
}

namespace {
int32_t draw(bool secure) { return secure ? random_secure() : random_next(); }
}  // namespace

// Rejection keeps the draw uniform: outputs at or above the largest multiple
// of n below 2^31 - 1 are drawn again, so every residue is equally likely.
int32_t random_int(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure);
    if (n < 0) return -random_int(secure, -n);
    int32_t limit = (max_output / n) * n;
    int32_t r;
    do r = draw(secure);
    while (r >= limit);
    return r % n + 1;
}

double random_float(double v, bool secure) {
    constexpr double max31 = 2147483647.0;
    if (!secure) return v * (double(random_next()) / max31);
    double r1 = random_secure();
    double r2 = random_secure();
    return v * (r2 + r1 / max31) / 2147483648.0;
}

}  // namespace vyr::random
