// Random numbers: the process's Mersenne Twister, the secure source, and the
// uniform integers and scaled floats every datatype's `random` action draws.
//
// The generator uses the MT19937 constants but treats its 624 words as signed
// 32-bit integers: every right shift is arithmetic, so the sequence differs
// from the textbook one wherever a word has its top bit set. Scripts see the
// sequence (random/seed then random), so the seeding and the order of the
// draws below are fixed. Invariant: the last tempering step clears the top
// bit, so every output lies in 0 .. 0x7FFFFFFF.
//
// The secure source reads the kernel (getrandom) and answers 31 bits too.
#pragma once

#include <array>
#include <cstdint>

namespace vyr::random {

inline constexpr int32_t start_seed = 19650218;
inline constexpr int32_t max_output = 0x7FFFFFFF;

// One generator. The process uses a single instance (below); tests may make
// their own.
class Twister {
public:
    static constexpr int word_count = 624;

    explicit Twister(int32_t seed = start_seed) { reseed(seed); }
    // state[0] = seed, state[i] = 1812433253 x (state[i-1] ^ (state[i-1] >> 30)) + i;
    // the next output tempers state[0] itself.
    void reseed(int32_t seed);
    // The next 31-bit output.
    int32_t next();

private:
    void regenerate();

    std::array<uint32_t, word_count> state_{};
    int index_ = 0;
};

// Seeds the process generator with 19650218 (start-up step).
void random_init();

// Seeds the process generator (random/seed).
void random_seed(int32_t seed);

// The next output of the process generator, 0 .. 0x7FFFFFFF.
int32_t random_next();

// 31 bits from the secure source.
int32_t random_secure();

// A uniform integer by rejection: 0 for 0, 1..n for n > 0, n..-1 for n < 0.
// `secure` draws from random_secure instead of the generator.
int32_t random_int(bool secure, int32_t n);

// float! random: v x (r / 2147483647.0) for one generator draw r; with
// `secure`, v x (r2 + r1 / 2147483647.0) / 2147483648.0 for two secure draws,
// r1 first.
double random_float(double v, bool secure);

}  // namespace vyr::random
