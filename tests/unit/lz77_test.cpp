// The LZ77 container: round trips, hand-made streams for the token forms and
// the block rules, and damaged containers (never a crash nor an over-read).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "io/lz77.h"

namespace lz = vyr::lz77;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes random_bytes(size_t n, uint32_t seed, uint32_t alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng() % alphabet);
    return b;
}

Bytes text_bytes(size_t n) {
    static const char* words[] = {"func ", "[", "]", "print ", "either ", "value ", "\"text\" ", "none\n"};
    std::mt19937 rng(7);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % std::size(words)];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

void put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// Builds containers by hand: blocks of tokens, least significant bit first.
struct Stream {
    Bytes data;
    uint64_t held = 0;
    uint32_t count = 0;

    void bits(uint32_t v, uint32_t n) {
        held |= uint64_t(v) << count;
        count += n;
        while (count >= 8) {
            data.push_back(uint8_t(held));
            held >>= 8;
            count -= 8;
        }
    }
    void block(uint32_t length) {
        if (count) bits(0, 8 - count);
        put32(data, length);
    }
    void literal(uint8_t b) { bits(uint32_t(b) << 1, 9); }
    // A match of 3-6 bytes (short length code) reaching 1-8 bytes back.
    void short_match(uint32_t length, uint32_t back) {
        bits(1, 1);
        bits(1, 1);
        bits(length - 3, 2);
        bits(0, 4);
        bits(back - 1, 3);
    }
    Bytes container(uint32_t declared) {
        if (count) bits(0, 8 - count);
        Bytes c;
        put32(c, uint32_t(data.size()));
        put32(c, declared);
        c.insert(c.end(), data.begin(), data.end());
        return c;
    }
};

}  // namespace

TEST(Lz77, RoundTrips) {
    Bytes repeated = random_bytes(5000, 3);
    for (int i = 0; i < 4; ++i) repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 5000);
    // Far matches (> 64 KiB back) and several blocks.
    Bytes far = random_bytes(200000, 4);
    far.insert(far.end(), far.begin(), far.begin() + 100000);
    Bytes big = text_bytes(2'500'000);
    const Bytes inputs[] = {random_bytes(128, 1),        random_bytes(100000, 2),  repeated,
                            Bytes(3'000'000, 'a'),       random_bytes(70000, 5, 3), far,
                            big,                         text_bytes(1 << 20)};
    for (const Bytes& in : inputs) {
        auto packed = lz::compress(in);
        ASSERT_TRUE(packed) << in.size();
        auto back = lz::decompress(*packed);
        ASSERT_TRUE(back) << in.size();
        EXPECT_EQ(*back, in) << in.size();
    }
    // Repetitive data shrinks.
    EXPECT_LT(lz::compress(Bytes(3'000'000, 'a'))->size(), 20000u);
    EXPECT_LT(lz::compress(big)->size(), big.size() / 4);
}

TEST(Lz77, SmallInputsAreRefused) {
    EXPECT_FALSE(lz::compress(Bytes(127, 'x')));
    EXPECT_FALSE(lz::compress(Bytes{}));
}

TEST(Lz77, TokenForms) {
    // A run from distance 1: "ab" then 5 copies of the byte before.
    Stream s;
    s.block(7);
    s.literal('a');
    s.literal('b');
    s.short_match(5, 1);
    auto out = lz::decompress(s.container(7));
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(out->begin(), out->end()), "abbbbbb");

    // The longest match (566) at the farthest distance (262144).
    Bytes src = random_bytes(262144, 9);
    Stream t;
    t.block(262144 + 566);
    for (uint8_t b : src) t.literal(b);
    t.bits(1, 1);
    t.bits(0, 5);  // length prefix 00000
    t.bits(511, 9);  // code 52 + 511 = 563: 566 bytes
    t.bits(15, 4);  // distance width 17
    t.bits(262143 - (1u << 17), 17);
    out = lz::decompress(t.container(262144 + 566));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 262144u + 566);
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 566, out->begin() + 262144));
}

TEST(Lz77, EmptyBlockDataGivesNoBytes) {
    Bytes c;
    put32(c, 0);
    put32(c, 0);
    auto out = lz::decompress(c);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->empty());
}

TEST(Lz77, DamagedContainersAreRefused) {
    auto with_blocks = [](auto build, uint32_t declared) {
        Stream s;
        build(s);
        return s.container(declared);
    };
    Bytes two_blocks = with_blocks(
        [](Stream& s) {
            s.block(2);
            s.literal('a');
            s.literal('b');
            s.block(3);
            s.short_match(3, 1);  // the byte before lies in the previous block
        },
        5);
    Bytes huge_block = with_blocks([](Stream& s) { s.block(lz::max_block + 1); }, 0x7FFFFFFF);
    Bytes zero_block = with_blocks([](Stream& s) { s.block(0); }, 0);
    Bytes past_block = with_blocks(
        [](Stream& s) {
            s.block(3);
            s.literal('a');
            s.short_match(3, 1);  // 4 bytes in a block of 3
        },
        3);
    Bytes cut_stream = with_blocks(
        [](Stream& s) {
            s.block(100);
            s.literal('a');
        },
        100);
    // A header that promises far more than the stream holds: refused once
    // the stream runs out, never allocated ahead.
    Bytes big_promise = with_blocks(
        [](Stream& s) {
            s.block(lz::max_block);
            s.literal('a');
        },
        0xFFFFFFF0);
    Bytes over_declared = with_blocks(
        [](Stream& s) {
            s.block(4);
            for (int i = 0; i < 4; ++i) s.literal('a');
        },
        1);  // slack of 8: 4 fit in 1 + 8; 10 would not
    Bytes over_slack = with_blocks(
        [](Stream& s) {
            s.block(10);
            for (int i = 0; i < 10; ++i) s.literal('a');
        },
        1);
    Bytes size_beyond = with_blocks([](Stream& s) { s.block(1), s.literal('a'); }, 1);
    size_beyond[0] += 1;
    Bytes cut_length = {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0};

    for (const Bytes* bad : {&two_blocks, &huge_block, &zero_block, &past_block, &cut_stream, &big_promise,
                             &over_slack, &size_beyond, &cut_length})
        EXPECT_FALSE(lz::decompress(*bad));
    EXPECT_TRUE(lz::decompress(over_declared));
    EXPECT_FALSE(lz::decompress(Bytes{1, 2, 3}));
}

TEST(Lz77, TruncatedAndFlippedContainersNeverOverRead) {
    Bytes in = text_bytes(4000);
    Bytes packed = *lz::compress(in);
    for (size_t n = 0; n < packed.size(); n += 7) {
        // A copy of exactly n bytes: the sanitizer catches any read past it.
        Bytes cut(packed.begin(), packed.begin() + long(n));
        auto out = lz::decompress(cut);
        if (out) EXPECT_LE(out->size(), in.size() + 8);
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        Bytes bad = packed;
        bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
        auto out = lz::decompress(bad);
        if (out) EXPECT_LE(out->size(), 0x7FFFFFFFull);
    }
}
