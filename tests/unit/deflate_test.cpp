// DEFLATE, zlib and gzip: the compressor's token choices, interoperability
// with zlib and the gzip tool in both directions, and corrupt input.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "io/deflate.h"

namespace dfl = vyr::deflate;
using dfl::Status;
using Bytes = std::vector<uint8_t>;

namespace {

// ---- Inputs ---------------------------------------------------------------

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Words of a small vocabulary with spaces, punctuation and line ends.
Bytes text_bytes(size_t n, uint32_t seed) {
    static const char* words[] = {"the",  "of",    "and",    "console", "value", "block", "series",
                                  "word", "print", "return", "if",      "either", "x",    "12345",
                                  "func", "[",     "]",      "\"text\"", "none",  "true"};
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const char* w = words[rng() % std::size(words)];
        b.insert(b.end(), w, w + std::strlen(w));
        b.push_back(rng() % 9 == 0 ? '\n' : ' ');
    }
    b.resize(n);
    return b;
}

// Runs of one byte of many lengths, some longer than the longest match.
Bytes run_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) b.insert(b.end(), 1 + rng() % 700, uint8_t(rng() % 4));
    b.resize(n);
    return b;
}

// A random block repeated: every match lies exactly `period` back.
Bytes periodic_bytes(size_t n, size_t period, uint32_t seed) {
    Bytes unit = random_bytes(period, seed), b(n);
    for (size_t i = 0; i < n; i++) b[i] = unit[i % period];
    return b;
}

// ---- zlib as the oracle -----------------------------------------------------

constexpr int raw_bits = -15, zlib_bits = 15, gzip_bits = 31;

Bytes zlib_deflate(const Bytes& in, int level, int window_bits, int strategy = Z_DEFAULT_STRATEGY,
                   size_t flush_every = 0, int mem_level = 8) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, window_bits, mem_level, strategy), Z_OK);
    Bytes out(deflateBound(&s, in.size()) + 64 + (flush_every ? 6 * (in.size() / flush_every + 1) : 0));
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    size_t pos = 0;
    int rc;
    do {
        size_t chunk = flush_every ? std::min(flush_every, in.size() - pos) : in.size() - pos;
        s.next_in = const_cast<uint8_t*>(in.data() + pos);
        s.avail_in = uInt(chunk);
        pos += chunk;
        rc = deflate(&s, pos == in.size() ? Z_FINISH : Z_SYNC_FLUSH);
    } while (rc == Z_OK && pos < in.size());
    EXPECT_EQ(rc, Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// The decompressed bytes, or nothing when zlib refuses the stream or leaves
// input over.
std::optional<Bytes> zlib_inflate(const Bytes& in, int window_bits) {
    z_stream s{};
    if (inflateInit2(&s, window_bits) != Z_OK) return std::nullopt;
    Bytes out;
    uint8_t buf[65536];
    s.next_in = const_cast<uint8_t*>(in.data());
    s.avail_in = uInt(in.size());
    int rc;
    do {
        s.next_out = buf;
        s.avail_out = sizeof buf;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - s.avail_out));
    } while (rc == Z_OK);
    bool whole = rc == Z_STREAM_END && s.avail_in == 0;
    inflateEnd(&s);
    if (!whole) return std::nullopt;
    return out;
}

// The three framings side by side.
struct Framing {
    const char* name;
    int window_bits;
    Bytes (*compress)(std::span<const uint8_t>);
    dfl::Decoded (*decompress)(std::span<const uint8_t>, size_t);
};
const Framing framings[] = {
    {"deflate", raw_bits, dfl::deflate_compress, dfl::inflate},
    {"zlib", zlib_bits, dfl::zlib_compress, dfl::zlib_decompress},
    {"gzip", gzip_bits, dfl::gzip_compress, dfl::gzip_decompress},
};

struct Input {
    std::string name;
    Bytes bytes;
};

std::vector<Input> interop_inputs() {
    std::vector<Input> v;
    for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 64, 258, 259, 1000, 32767, 32768, 32769, 65536, 300000})
        for (auto [kind, make] : std::initializer_list<std::pair<const char*, Bytes (*)(size_t, uint32_t)>>{
                 {"random", random_bytes}, {"text", text_bytes}, {"runs", run_bytes}})
            v.push_back({std::string(kind) + "/" + std::to_string(n), make(n, uint32_t(n))});
    v.push_back({"zeros/100000", Bytes(100000, 0)});
    for (size_t period : {3, 258, 32767, 32768, 40000})
        v.push_back({"period/" + std::to_string(period), periodic_bytes(200000, period, 7)});
    v.push_back({"text/3MB", text_bytes(3 << 20, 11)});
    v.push_back({"random/3MB", random_bytes(3 << 20, 12)});
    return v;
}

// ---- Crafted streams --------------------------------------------------------

// Builds a bit stream least significant bit first, as DEFLATE stores it.
struct BitWriter {
    Bytes out;
    uint32_t count = 0;
    void bits(uint32_t value, uint32_t n) {
        for (uint32_t i = 0; i < n; i++, count++) {
            if (count % 8 == 0) out.push_back(0);
            out.back() |= uint8_t(((value >> i) & 1) << (count % 8));
        }
    }
    // A Huffman code: most significant bit first.
    void code(uint32_t value, uint32_t n) {
        for (uint32_t i = n; i-- > 0;) bits((value >> i) & 1, 1);
    }
    void align() { count = (count + 7) / 8 * 8; }
    void bytes(std::initializer_list<uint8_t> b) {
        align();
        out.insert(out.end(), b);
        count += uint32_t(b.size() * 8);
    }
};

// Canonical codes of a set of lengths (RFC 1951, 3.2.2).
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
    uint32_t count[16] = {}, next[16] = {};
    for (auto l : lengths) count[l]++;
    count[0] = 0;
    for (uint32_t bits = 1, code = 0; bits < 16; bits++) next[bits] = code = (code + count[bits - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); s++)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

// A dynamic block header giving `lit` and `dist` lengths one by one, with a
// code-length code of sixteen 4-bit codes (lengths 0-15, no repeats).
struct DynamicBlock {
    std::vector<uint8_t> lit, dist;
    std::vector<uint32_t> lit_codes, dist_codes;
    DynamicBlock(BitWriter& w, bool final, std::vector<uint8_t> lit_lengths, std::vector<uint8_t> dist_lengths)
        : lit(std::move(lit_lengths)), dist(std::move(dist_lengths)) {
        w.bits(final, 1);
        w.bits(2, 2);
        w.bits(uint32_t(lit.size() - 257), 5);
        w.bits(uint32_t(dist.size() - 1), 5);
        w.bits(19 - 4, 4);
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (int sym : order) w.bits(sym < 16 ? 4 : 0, 3);
        for (auto l : lit) w.code(l, 4);
        for (auto l : dist) w.code(l, 4);
        lit_codes = canonical_codes(lit);
        dist_codes = canonical_codes(dist);
    }
    void symbol(BitWriter& w, unsigned s) { w.code(lit_codes[s], lit[s]); }
    void distance(BitWriter& w, unsigned s) { w.code(dist_codes[s], dist[s]); }
};

// Fixed-code writers for crafted streams.
void fixed_literal(BitWriter& w, uint8_t b) {
    if (b < 144) w.code(0x30 + b, 8);
    else w.code(0x190 + b - 144, 9);
}
void fixed_symbol_7(BitWriter& w, unsigned sym) { w.code(sym - 256, 7); }  // 256-279
void fixed_symbol_8(BitWriter& w, unsigned sym) { w.code(0xC0 + sym - 280, 8); }  // 280-287

// ---- Reading the compressor's tokens ------------------------------------------

// A literal (dist 0) or a match.
struct Token {
    uint32_t length, dist;
    bool operator==(const Token&) const = default;
};

const uint16_t len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The tokens of one final fixed-code block, the only form the compressor writes.
std::vector<Token> fixed_tokens(const Bytes& s) {
    size_t bit = 0;
    auto take = [&](unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; i++, bit++) v |= uint32_t((s.at(bit / 8) >> (bit % 8)) & 1) << i;
        return v;
    };
    auto code = [&](unsigned n, uint32_t v) {
        for (unsigned i = 0; i < n; i++, bit++) v = v << 1 | ((s.at(bit / 8) >> (bit % 8)) & 1);
        return v;
    };
    EXPECT_EQ(take(3), 0b011u) << "one final fixed block";
    std::vector<Token> tokens;
    for (;;) {
        uint32_t v = code(7, 0), sym;
        if (v < 24) sym = 256 + v;
        else if ((v = code(1, v)) < 0xC0) sym = v - 0x30;
        else if (v < 0xC8) sym = 280 + v - 0xC0;
        else sym = 144 + code(1, v) - 0x190;
        if (sym == 256) break;
        if (sym < 256) {
            tokens.push_back({1, 0});
            continue;
        }
        uint32_t length = len_base[sym - 257] + take(len_extra[sym - 257]);
        uint32_t d = code(5, 0);
        tokens.push_back({length, dist_base[d] + take(dist_extra[d])});
    }
    EXPECT_EQ((bit + 7) / 8, s.size()) << "nothing after the end-of-block code";
    return tokens;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

// ---- The compressor -----------------------------------------------------------

TEST(DeflateCompress, EmptyInputsGiveTheMinimalStreams) {
    EXPECT_EQ(dfl::deflate_compress({}), (Bytes{0x03, 0x00}));
    EXPECT_EQ(dfl::zlib_compress({}), (Bytes{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(dfl::gzip_compress({}),
              (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DeflateCompress, TokenChoices) {
    struct Case {
        const char* input;
        std::vector<Token> tokens;
    };
    const Token lit{1, 0};
    const Case cases[] = {
        {"aaaaaa", {lit, lit, lit, {3, 1}}},  // the first three bytes are always literals
        {"abcabcabc", {lit, lit, lit, {6, 3}}},
        {"abcdef", {lit, lit, lit, lit, lit, lit}},
        {"abcab", {lit, lit, lit, lit, lit}},  // no match of 2 bytes
    };
    for (const auto& c : cases) EXPECT_EQ(fixed_tokens(dfl::deflate_compress(bytes_of(c.input))), c.tokens) << c.input;
}

// The compressor's output is visible to scripts, so it is pinned: these are
// the size and CRC-32 of the stream for a fixed input (words picked by an
// LCG, a zero run, then the first 40000 bytes again), as an independent
// implementation of the same algorithm produces them.
TEST(DeflateCompress, OutputIsPinned) {
    static const char* words[] = {"the ", "of ", "and ", "console ", "value ", "block\n", "x", "12345", "[", "]"};
    Bytes in;
    for (uint32_t x = 1; in.size() < 60000;) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFF;
        const char* w = words[(x >> 16) % std::size(words)];
        in.insert(in.end(), w, w + std::strlen(w));
    }
    in.resize(60000);
    in.resize(61000, 0);
    Bytes head(in.begin(), in.begin() + 40000);
    in.insert(in.end(), head.begin(), head.end());
    ASSERT_EQ(::crc32(0, in.data(), uInt(in.size())), 0x1a7b6c51u);
    Bytes out = dfl::deflate_compress(in);
    EXPECT_EQ(out.size(), 42886u);
    EXPECT_EQ(::crc32(0, out.data(), uInt(out.size())), 0xe18e00c2u);
}

// Matches stop at 258 bytes and never reach 32768 bytes back: a block that
// repeats at 32767 is matched, one that repeats at 32768 is not.
TEST(DeflateCompress, MatchesStayWithinLengthAndWindow) {
    auto tokens = fixed_tokens(dfl::deflate_compress(Bytes(10000, 'z')));
    uint64_t covered = 0;
    for (auto t : tokens) {
        EXPECT_LE(t.length, 258u);
        covered += t.length;
    }
    EXPECT_EQ(covered, 10000u);
    EXPECT_EQ(tokens.back().length, 10000u - 3 - 38 * 258);  // 3 literals, then 258s, then the rest

    // The same 100 bytes 32767 or 32768 bytes apart, zeros between them.
    for (size_t gap : {32767, 32768}) {
        Bytes x = random_bytes(100, 3), data = x;
        data.resize(gap, 0);
        data.insert(data.end(), x.begin(), x.end());
        bool reached = false;
        for (auto t : fixed_tokens(dfl::deflate_compress(data))) {
            EXPECT_LT(t.dist, 32768u);
            reached |= t.dist == gap;
        }
        EXPECT_EQ(reached, gap == 32767);
    }
}

// Input that already starts with the gzip magic is compressed like any other,
// so the round trip always answers the input (it used to be passed through
// unchanged, and decompressing then gave the inner data instead).
TEST(DeflateCompress, GzipOfGzipDataIsCompressedAndRoundTrips) {
    Bytes inner = text_bytes(5000, 1);
    Bytes once = dfl::gzip_compress(inner);
    Bytes twice = dfl::gzip_compress(once);
    EXPECT_NE(twice, once);
    auto back = dfl::gzip_decompress(twice);
    ASSERT_EQ(back.status, Status::ok);
    EXPECT_EQ(back.bytes, once);
    for (Bytes magic : {Bytes{0x1F, 0x8B, 0x08}, Bytes{0x1F, 0x8B, 0x08, 0x00}, Bytes{0x1F, 0x8B}}) {
        auto r = dfl::gzip_decompress(dfl::gzip_compress(magic));
        EXPECT_EQ(r.status, Status::ok);
        EXPECT_EQ(r.bytes, magic);
        EXPECT_EQ(zlib_inflate(dfl::gzip_compress(magic), gzip_bits), magic);
    }
}

// ---- Interoperability ---------------------------------------------------------

TEST(DeflateInterop, OursDecompressWithZlibAndWithOurs) {
    for (const auto& input : interop_inputs())
        for (const auto& f : framings) {
            SCOPED_TRACE(input.name + " " + f.name);
            Bytes packed = f.compress(input.bytes);
            auto theirs = zlib_inflate(packed, f.window_bits);
            ASSERT_TRUE(theirs.has_value());
            EXPECT_TRUE(*theirs == input.bytes);
            auto ours = f.decompress(packed, dfl::max_output);
            ASSERT_EQ(ours.status, Status::ok);
            EXPECT_TRUE(ours.bytes == input.bytes);
        }
}

TEST(DeflateInterop, ZlibAtEveryLevelDecompressesWithOurs) {
    std::vector<Input> inputs = {{"text", text_bytes(300000, 21)},
                                 {"random", random_bytes(70000, 22)},
                                 {"runs", run_bytes(100000, 23)},
                                 {"short", bytes_of("hello hello hello")},
                                 {"empty", {}}};
    for (const auto& input : inputs)
        for (int level = 0; level <= 9; level++)
            for (const auto& f : framings) {
                SCOPED_TRACE(input.name + " level " + std::to_string(level) + " " + f.name);
                auto r = f.decompress(zlib_deflate(input.bytes, level, f.window_bits), dfl::max_output);
                ASSERT_EQ(r.status, Status::ok);
                EXPECT_TRUE(r.bytes == input.bytes);
            }
}

// Fixed codes, Huffman-only and run-length blocks, small windows and memory
// (many short blocks), and sync flushes (empty stored blocks mid-stream).
TEST(DeflateInterop, ZlibStrategiesWindowsAndFlushesDecompressWithOurs) {
    Bytes big = text_bytes(3 << 20, 31);
    Bytes mixed = text_bytes(200000, 32);
    Bytes noise = random_bytes(50000, 33);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    struct Variant {
        const char* name;
        const Bytes* input;
        int level, strategy, window, mem_level;
        size_t flush_every;
    };
    const Variant variants[] = {
        {"big level 1", &big, 1, Z_DEFAULT_STRATEGY, 15, 8, 0},
        {"big level 6", &big, 6, Z_DEFAULT_STRATEGY, 15, 8, 0},
        {"big level 9", &big, 9, Z_DEFAULT_STRATEGY, 15, 8, 0},
        {"filtered", &mixed, 6, Z_FILTERED, 15, 8, 0},
        {"huffman only", &mixed, 6, Z_HUFFMAN_ONLY, 15, 8, 0},
        {"rle", &mixed, 6, Z_RLE, 15, 8, 0},
        {"fixed", &mixed, 6, Z_FIXED, 15, 8, 0},
        {"window 9", &mixed, 9, Z_DEFAULT_STRATEGY, 9, 8, 0},
        {"mem level 1", &mixed, 9, Z_DEFAULT_STRATEGY, 15, 1, 0},
        {"sync flush", &mixed, 6, Z_DEFAULT_STRATEGY, 15, 8, 997},
        {"stored, sync flush", &mixed, 0, Z_DEFAULT_STRATEGY, 15, 8, 10000},
    };
    for (const auto& v : variants)
        for (const auto& f : framings) {
            SCOPED_TRACE(std::string(v.name) + " " + f.name);
            int bits = f.window_bits < 0 ? -v.window : f.window_bits == gzip_bits ? v.window + 16 : v.window;
            auto r = f.decompress(zlib_deflate(*v.input, v.level, bits, v.strategy, v.flush_every, v.mem_level),
                                  dfl::max_output);
            ASSERT_EQ(r.status, Status::ok);
            EXPECT_TRUE(r.bytes == *v.input);
        }
}

// The gzip tool, through temporary files: it reads ours, and ours reads its
// output at every level (with the file name and time in the header).
TEST(DeflateInterop, GzipToolInBothDirections) {
    char dir[] = "/tmp/vyr_gzip_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string base = std::string(dir) + "/data";
    auto write_file = [](const std::string& path, const Bytes& b) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    };
    auto read_file = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    };
    Bytes data = text_bytes(400000, 41);
    Bytes noise = random_bytes(30000, 42);
    data.insert(data.end(), noise.begin(), noise.end());

    write_file(base + ".gz", dfl::gzip_compress(data));
    ASSERT_EQ(std::system(("gzip -dc " + base + ".gz > " + base + ".out").c_str()), 0);
    EXPECT_TRUE(read_file(base + ".out") == data);

    write_file(base, data);
    for (int level = 1; level <= 9; level++) {
        SCOPED_TRACE(level);
        ASSERT_EQ(std::system(("gzip -f -k -" + std::to_string(level) + " " + base).c_str()), 0);
        Bytes packed = read_file(base + ".gz");
        ASSERT_GE(packed.size(), 4u);
        EXPECT_TRUE(packed[3] & 0x08) << "the tool stores the file name";
        auto r = dfl::gzip_decompress(packed);
        ASSERT_EQ(r.status, Status::ok);
        EXPECT_TRUE(r.bytes == data);
    }
    std::system(("rm -rf " + std::string(dir)).c_str());
}

// ---- Buffer form ----------------------------------------------------------------

TEST(DeflateBuffer, TooSmallReportsTheSizeNeededAndWritesNothing) {
    Bytes data = text_bytes(20000, 51);
    Bytes packed = dfl::gzip_compress(data);
    using Fn = Status (*)(std::span<uint8_t>, size_t&, std::span<const uint8_t>);
    struct Case {
        const char* name;
        Fn fn;
        Bytes input, expected;
    };
    const Case cases[] = {
        {"deflate", dfl::deflate_compress, data, dfl::deflate_compress(data)},
        {"zlib", dfl::zlib_compress, data, dfl::zlib_compress(data)},
        {"gzip", dfl::gzip_compress, data, packed},
        {"inflate", dfl::inflate, dfl::deflate_compress(data), data},
        {"zlib-decompress", dfl::zlib_decompress, dfl::zlib_compress(data), data},
        {"gzip-decompress", dfl::gzip_decompress, packed, data},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t size = 12345;
        EXPECT_EQ(c.fn({}, size, c.input), Status::output_too_small);  // no buffer: learn the size
        EXPECT_EQ(size, c.expected.size());
        Bytes small(c.expected.size() - 1, 0xAA);
        EXPECT_EQ(c.fn(small, size, c.input), Status::output_too_small);
        EXPECT_EQ(size, c.expected.size());
        EXPECT_EQ(small, Bytes(c.expected.size() - 1, 0xAA));
        Bytes room(c.expected.size() + 10, 0xAA);
        EXPECT_EQ(c.fn(room, size, c.input), Status::ok);
        EXPECT_EQ(size, c.expected.size());
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), room.begin()));
    }
    size_t size = 99;
    Bytes room(100);
    EXPECT_EQ(dfl::zlib_decompress(room, size, Bytes{0x78, 0x01}), Status::bad_data);
    EXPECT_EQ(size, 0u);
}

TEST(DeflateBuffer, OutputBeyondTheLimitIsTooSmall) {
    Bytes data = run_bytes(5000, 61);
    Bytes packed = dfl::deflate_compress(data);
    EXPECT_EQ(dfl::inflate(packed, 5000).status, Status::ok);
    EXPECT_EQ(dfl::inflate(packed, 4999).status, Status::output_too_small);
    EXPECT_EQ(dfl::inflate(packed, 0).status, Status::output_too_small);
    // Two stored blocks of 1000 bytes: each length is checked before copying.
    Bytes stored = random_bytes(1000, 62), expected;
    BitWriter w;
    for (bool final : {false, true}) {
        w.bits(final, 1);
        w.bits(0, 2);
        w.bytes({0xE8, 0x03, 0x17, 0xFC});
        w.out.insert(w.out.end(), stored.begin(), stored.end());
        w.count += 8000;
        expected.insert(expected.end(), stored.begin(), stored.end());
    }
    for (size_t limit : {999, 1000, 1999}) EXPECT_EQ(dfl::inflate(w.out, limit).status, Status::output_too_small);
    EXPECT_EQ(dfl::inflate(w.out, 2000).bytes, expected);
}

// ---- Crafted and corrupt input ---------------------------------------------------

TEST(DeflateCorrupt, CraftedRawStreams) {
    struct Case {
        const char* name;
        std::function<void(BitWriter&)> write;
        Status status;
        std::string output;
    };
    auto stored = [](BitWriter& w, bool final, std::initializer_list<uint8_t> bytes) {
        w.bits(final, 1);
        w.bits(0, 2);
        w.bytes(bytes);
    };
    auto fixed_header = [](BitWriter& w, bool final) {
        w.bits(final, 1);
        w.bits(1, 2);
    };
    // 'a' coded in 1 bit, end and length 3 in 2 bits each.
    std::vector<uint8_t> lit(258, 0);
    lit['a'] = 1;
    lit[256] = 2;
    lit[257] = 2;
    const Case cases[] = {
        {"stored then fixed",
         [&](BitWriter& w) {
             stored(w, false, {2, 0, 0xFD, 0xFF, 'h', 'i'});
             fixed_header(w, true);
             fixed_literal(w, '!');
             fixed_symbol_7(w, 256);
         },
         Status::ok, "hi!"},
        {"stored LEN past the input", [&](BitWriter& w) { stored(w, true, {5, 0, 0xFA, 0xFF, 'a', 'b'}); },
         Status::stored_cut_short, ""},
        {"stored NLEN not the complement", [&](BitWriter& w) { stored(w, true, {2, 0, 0xFD, 0xFE, 'a', 'b'}); },
         Status::bad_data, ""},
        {"stored header cut short", [&](BitWriter& w) { stored(w, true, {2, 0, 0xFD}); }, Status::bad_data, ""},
        {"block type 3", [&](BitWriter& w) { w.bits(0b111, 3); w.bits(0, 13); }, Status::bad_data, ""},
        {"no final block", [&](BitWriter& w) { stored(w, false, {1, 0, 0xFE, 0xFF, 'x'}); }, Status::bad_data, ""},
        {"bytes after the final block",
         [&](BitWriter& w) {
             stored(w, true, {1, 0, 0xFE, 0xFF, 'x'});
             w.bytes({0});
         },
         Status::bad_data, ""},
        {"match at distance equal to the output",
         [&](BitWriter& w) {
             fixed_header(w, true);
             fixed_literal(w, 'a');
             fixed_literal(w, 'b');
             fixed_symbol_7(w, 257);  // length 3
             w.code(1, 5);            // distance 2
             fixed_symbol_7(w, 256);
         },
         Status::ok, "ababa"},
        {"distance before the start",
         [&](BitWriter& w) {
             fixed_header(w, true);
             fixed_literal(w, 'a');
             fixed_symbol_7(w, 257);
             w.code(1, 5);  // distance 2, one byte produced
             fixed_symbol_7(w, 256);
         },
         Status::bad_data, ""},
        {"length symbol 286", [&](BitWriter& w) { fixed_header(w, true); fixed_symbol_8(w, 286); w.code(0, 5); },
         Status::bad_data, ""},
        {"distance symbol 30",
         [&](BitWriter& w) {
             fixed_header(w, true);
             fixed_literal(w, 'a');
             fixed_symbol_7(w, 257);
             w.code(30, 5);
             fixed_symbol_7(w, 256);
         },
         Status::bad_data, ""},
        {"fixed block without its end",
         [&](BitWriter& w) {
             fixed_header(w, true);
             fixed_literal(w, 'a');
         },
         Status::bad_data, ""},
        {"dynamic block",
         [&](BitWriter& w) {
             std::vector<uint8_t> dist = {1, 1};
             DynamicBlock b(w, true, lit, dist);
             b.symbol(w, 'a');
             b.symbol(w, 257);
             b.distance(w, 0);  // distance 1
             b.symbol(w, 256);
         },
         Status::ok, "aaaa"},
        {"single distance code of 1 bit",
         [&](BitWriter& w) {
             DynamicBlock b(w, true, lit, {0, 1});
             b.symbol(w, 'a');
             b.symbol(w, 'a');
             b.symbol(w, 257);
             b.distance(w, 1);  // distance 2
             b.symbol(w, 256);
         },
         Status::ok, "aaaaa"},
        {"empty distance table used",
         [&](BitWriter& w) {
             DynamicBlock b(w, true, lit, {0});
             b.symbol(w, 'a');
             b.symbol(w, 257);
             w.bits(0, 16);
         },
         Status::bad_data, ""},
        {"empty distance table, literals only",
         [&](BitWriter& w) {
             DynamicBlock b(w, true, lit, {0});
             b.symbol(w, 'a');
             b.symbol(w, 256);
         },
         Status::ok, "a"},
        {"unused code of an incomplete table",
         [&](BitWriter& w) {
             std::vector<uint8_t> incomplete(257, 0);
             incomplete['a'] = 2;
             incomplete[256] = 2;  // codes 00 and 01; 1x unused
             DynamicBlock b(w, true, incomplete, {1});
             b.symbol(w, 'a');
             w.code(0b11, 2);
         },
         Status::bad_data, ""},
        {"over-subscribed literal lengths",
         [&](BitWriter& w) {
             std::vector<uint8_t> over(257, 0);
             over['a'] = over['b'] = over[256] = 1;  // three 1-bit codes
             DynamicBlock b(w, true, over, {1});
             w.bits(0b01, 2);  // would read as 'b' then the end
         },
         Status::bad_data, ""},
        {"over-subscribed code-length code",
         [&](BitWriter& w) {
             w.bits(0b101, 3);
             w.bits(0, 5);
             w.bits(0, 5);
             w.bits(15, 4);
             for (int i = 0; i < 19; i++) w.bits(1, 3);
             w.bits(0, 16);
         },
         Status::bad_data, ""},
        {"repeat code 16 first",
         [&](BitWriter& w) {
             w.bits(0b101, 3);
             w.bits(0, 5);
             w.bits(0, 5);
             w.bits(0, 4);  // four lengths: 16, 17, 18, 0
             for (int len : {1, 0, 0, 1}) w.bits(uint32_t(len), 3);
             w.code(1, 1);  // symbol 16
             w.bits(0, 16);
         },
         Status::bad_data, ""},
        {"stream ends inside a block whose zero bits are a literal",
         [&](BitWriter& w) {
             DynamicBlock b(w, true, lit, {1});
             b.symbol(w, 'a');
         },
         Status::bad_data, ""},
        {"zero run past the distance lengths",
         [&](BitWriter& w) {
             w.bits(0b101, 3);
             w.bits(0, 5);  // 257 literal/length lengths
             w.bits(0, 5);  // 1 distance length
             w.bits(14, 4);  // 18 code-length lengths: 18 and 1 get 1 bit
             for (int i = 0; i < 18; i++) w.bits(i == 2 || i == 17 ? 1 : 0, 3);
             w.code(1, 1);  // 18: 138 zeros
             w.bits(127, 7);
             w.code(1, 1);  // 18: 118 zeros, up to symbol 255
             w.bits(107, 7);
             w.code(0, 1);  // 256 gets 1 bit
             w.code(1, 1);  // 18: 11 zeros where one length is left
             w.bits(0, 7);
             w.code(0, 1);  // would be the end of an empty block
         },
         Status::bad_data, ""},
        {"zero run past the lengths",
         [&](BitWriter& w) {
             w.bits(0b101, 3);
             w.bits(0, 5);
             w.bits(0, 5);
             w.bits(0, 4);
             for (int len : {0, 0, 1, 1}) w.bits(uint32_t(len), 3);  // 18 and 0
             for (int i = 0; i < 2; i++) {
                 w.code(1, 1);  // symbol 18: 11 + 127 zeros, twice > 258
                 w.bits(127, 7);
             }
             w.bits(0, 16);
         },
         Status::bad_data, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BitWriter w;
        c.write(w);
        auto r = dfl::inflate(w.out, 1 << 20);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), c.output);
        auto theirs = zlib_inflate(w.out, raw_bits);
        if (c.status == Status::ok) {
            EXPECT_TRUE(theirs.has_value() && *theirs == bytes_of(c.output));
        }
    }
}

TEST(DeflateCorrupt, LongestDistanceReachesTheFirstByte) {
    Bytes start = random_bytes(32768, 71);
    BitWriter w;
    w.bits(0, 1);
    w.bits(0, 2);
    w.bytes({0x00, 0x80, 0xFF, 0x7F});
    w.out.insert(w.out.end(), start.begin(), start.end());
    w.count += 32768 * 8;
    w.bits(1, 1);
    w.bits(1, 2);
    fixed_symbol_7(w, 257);
    w.code(29, 5);
    w.bits(8191, 13);  // 24577 + 8191 = 32768
    fixed_symbol_7(w, 256);
    auto r = dfl::inflate(w.out);
    ASSERT_EQ(r.status, Status::ok);
    Bytes expected = start;
    expected.insert(expected.end(), start.begin(), start.begin() + 3);
    EXPECT_TRUE(r.bytes == expected);
}

TEST(DeflateCorrupt, FramingHeadersAndTrailers) {
    Bytes data = text_bytes(3000, 81);
    Bytes z = dfl::zlib_compress(data);
    Bytes g = dfl::gzip_compress(data);
    auto with = [](Bytes b, size_t at, uint8_t v) {
        b.at(at) = v;
        return b;
    };
    auto flipped = [](Bytes b, size_t from_end) {
        b[b.size() - from_end] ^= 1;
        return b;
    };
    // A gzip member with optional fields: FEXTRA, FNAME, FCOMMENT and FHCRC.
    auto gzip_with = [&](uint8_t flags, Bytes fields, bool right_crc = true) {
        Bytes b = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
        b.insert(b.end(), fields.begin(), fields.end());
        if (flags & 0x02) {
            uint32_t crc = uint32_t(::crc32(0, b.data(), uInt(b.size()))) ^ (right_crc ? 0 : 1);
            b.push_back(uint8_t(crc));
            b.push_back(uint8_t(crc >> 8));
        }
        b.insert(b.end(), g.begin() + 10, g.end());
        return b;
    };
    Bytes extra = {3, 0, 'x', 'y', 'z'};
    Bytes names = {'n', 'a', 'm', 'e', 0, 'h', 'i', 0};
    Bytes all = extra;
    all.insert(all.end(), names.begin(), names.end());
    Bytes g_trail = g;
    g_trail.push_back(0);

    struct Case {
        const char* name;
        Bytes input;
        bool gzip;
        Status status;
    };
    const Case cases[] = {
        {"zlib: whole", z, false, Status::ok},
        {"zlib: empty", {}, false, Status::bad_data},
        {"zlib: 5 bytes", Bytes(z.begin(), z.begin() + 5), false, Status::bad_data},
        {"zlib: header only", {0x78, 0x01}, false, Status::bad_data},
        {"zlib: check bits", with(z, 1, 0x02), false, Status::bad_data},
        {"zlib: method 7", {0x77, 0x09, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, false, Status::bad_data},
        {"zlib: window 64K", {0x88, 0x1C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, false, Status::bad_data},
        {"zlib: preset dictionary (78 20)", {0x78, 0x20, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, false, Status::bad_data},
        {"zlib: Adler-32", flipped(z, 1), false, Status::bad_data},
        {"zlib: trailing byte", [&] { Bytes b = z; b.push_back(0); return b; }(), false, Status::bad_data},
        {"zlib: 78 9C header", with(z, 1, 0x9C), false, Status::ok},
        {"gzip: whole", g, true, Status::ok},
        {"gzip: empty", {}, true, Status::bad_data},
        {"gzip: 17 bytes", Bytes(g.begin(), g.begin() + 17), true, Status::bad_data},
        {"gzip: magic", with(g, 1, 0x8C), true, Status::bad_data},
        {"gzip: method", with(g, 2, 0x07), true, Status::bad_data},
        {"gzip: reserved flag", with(g, 3, 0x20), true, Status::bad_data},
        {"gzip: CRC-32", flipped(g, 5), true, Status::bad_data},
        {"gzip: ISIZE one more", flipped(g, 4), true, Status::bad_data},
        {"gzip: ISIZE one less", with(g, g.size() - 4, uint8_t(g[g.size() - 4] - 1)), true, Status::bad_data},
        {"gzip: ISIZE 64K more", flipped(g, 2), true, Status::bad_data},
        {"gzip: trailing byte", g_trail, true, Status::bad_data},
        {"gzip: all fields", gzip_with(0x1E, all), true, Status::ok},
        {"gzip: FHCRC wrong", gzip_with(0x1E, all, false), true, Status::bad_data},
        {"gzip: FEXTRA past the end", Bytes{0x1F, 0x8B, 8, 0x04, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0},
         true, Status::bad_data},
        {"gzip: FNAME without end", Bytes{0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0},
         true, Status::bad_data},
        {"gzip: FHCRC in the trailer", Bytes{0x1F, 0x8B, 8, 0x02, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true, Status::bad_data},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = c.gzip ? dfl::gzip_decompress(c.input) : dfl::zlib_decompress(c.input);
        EXPECT_EQ(r.status, c.status);
        if (c.status == Status::ok) {
            EXPECT_TRUE(r.bytes == data);
        }
        EXPECT_EQ(zlib_inflate(c.input, c.gzip ? gzip_bits : zlib_bits).has_value(), c.status == Status::ok);
    }
}

// Every cut of a stream is refused; a cut inside a stored block's data says so.
TEST(DeflateCorrupt, TruncatedStreams) {
    Bytes data = text_bytes(4000, 91);
    Bytes stored_raw = zlib_deflate(data, 0, raw_bits);
    for (const auto& f : framings) {
        for (const Bytes& packed : {f.compress(data), zlib_deflate(data, 9, f.window_bits)}) {
            for (size_t cut = 0; cut < packed.size(); cut++) {
                auto r = f.decompress(std::span(packed).first(cut), dfl::max_output);
                ASSERT_NE(r.status, Status::ok) << f.name << " cut at " << cut;
                EXPECT_TRUE(r.bytes.empty());
            }
        }
    }
    EXPECT_EQ(dfl::inflate(std::span(stored_raw).first(stored_raw.size() - 10)).status, Status::stored_cut_short);
}

// gzip's ISIZE claims 4 GB of a tiny stream: the claim is refused after
// decoding what the stream holds, and sizes no buffer.
TEST(DeflateCorrupt, GzipSizeFieldDrivesNoAllocation) {
    auto peak_kb = [] {
        std::ifstream f("/proc/self/status");
        std::string line;
        while (std::getline(f, line))
            if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
        return 0L;
    };
    Bytes g = dfl::gzip_compress(bytes_of("small"));
    for (size_t i = 1; i <= 4; i++) g[g.size() - i] = 0xFF;
    long before = peak_kb();
    EXPECT_EQ(dfl::gzip_decompress(g).status, Status::bad_data);
    size_t size = 0;
    EXPECT_EQ(dfl::gzip_decompress({}, size, g), Status::bad_data);
    EXPECT_LT(peak_kb() - before, 64 * 1024);
}

// Random damage to valid streams never crashes, hangs or answers bytes with
// a failure; where zlib accepts a damaged raw stream, so do we, with the same bytes.
TEST(DeflateCorrupt, DamagedStreamsAreAnsweredSafely) {
    std::mt19937 rng(101);
    std::vector<Bytes> seeds;
    for (int level : {1, 6, 9}) seeds.push_back(zlib_deflate(text_bytes(3000, level), level, raw_bits));
    seeds.push_back(zlib_deflate(run_bytes(3000, 5), 6, raw_bits, Z_FIXED));
    seeds.push_back(dfl::deflate_compress(text_bytes(3000, 6)));
    int agreed = 0;
    for (int round = 0; round < 3000; round++) {
        Bytes s = seeds[round % seeds.size()];
        for (int k = 1 + int(rng() % 3); k > 0; k--) s[rng() % s.size()] ^= uint8_t(1u << (rng() % 8));
        auto ours = dfl::inflate(s);
        auto theirs = zlib_inflate(s, raw_bits);
        if (theirs) {  // zlib refuses incomplete codes, which we accept
            ASSERT_EQ(ours.status, Status::ok) << "round " << round;
            EXPECT_TRUE(*theirs == ours.bytes) << "round " << round;
            agreed++;
        }
        if (ours.status != Status::ok) {
            EXPECT_TRUE(ours.bytes.empty());
            continue;
        }
        for (const auto& f : framings) {
            auto again = f.decompress(f.compress(ours.bytes), dfl::max_output);
            EXPECT_TRUE(again.status == Status::ok && again.bytes == ours.bytes);
        }
    }
    EXPECT_GT(agreed, 0);
}
