// The LZ77 container (see lz77.h): the bit stream, the decompressor and the
// compressor that writes what the decompressor reads.
#include "io/lz77.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vyr::lz77 {

namespace {

constexpr size_t header_size = 8;

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

// Reads bits least significant first from a 64-bit reserve. The block
// structure is byte-based: after a block, the cursor is the first byte its
// stream did not touch, so whole bytes still held are given back on
// `restart`. Reading past the end sets `failed` and answers zero bits.
class BitReader {
public:
    BitReader(const uint8_t* at, const uint8_t* end) : at_(at), end_(end) {}

    // The most bits one literal or match takes: 1 + 14 for the length,
    // 4 + 17 for the distance.
    static constexpr uint32_t token_bits = 36;

    // Tops the reserve up to at least 56 bits, or to what the input holds.
    void fill() {
        if (count_ >= 56) return;
        if (end_ - at_ >= 8) {
            // Eight bytes at once: the bits loaded above the whole bytes
            // taken are those that the next load puts there again.
            uint64_t word;
            std::memcpy(&word, at_, 8);
            held_ |= le64(word) << count_;
            uint32_t taken = (63 - count_) >> 3;
            at_ += taken;
            count_ += taken * 8;
            return;
        }
        while (count_ <= 56 && at_ < end_) {
            held_ |= uint64_t(*at_++) << count_;
            count_ += 8;
        }
    }
    // Whether the next token can be read with `take`.
    bool token_ready() const { return count_ >= token_bits; }
    // n bits that the reserve holds (n <= 24).
    uint32_t take(uint32_t n) {
        auto v = uint32_t(held_ & ((uint64_t(1) << n) - 1));
        held_ >>= n;
        count_ -= n;
        return v;
    }
    // n bits, loaded as needed (n <= 24).
    uint32_t bits(uint32_t n) {
        if (count_ < n) {
            fill();
            if (count_ < n) {
                failed = true;
                return 0;
            }
        }
        return take(n);
    }
    // A new block: the bits left of the last byte are dropped.
    void restart() {
        at_ -= count_ / 8;
        held_ = count_ = 0;
    }
    const uint8_t* cursor() const { return at_ - count_ / 8; }
    void skip(size_t n) { at_ += n; }
    size_t left() const { return size_t(end_ - cursor()); }

    bool failed = false;

private:
    static uint64_t le64(uint64_t v) {
        if constexpr (std::endian::native == std::endian::little) return v;
        else return __builtin_bswap64(v);
    }

    const uint8_t* at_;
    const uint8_t* end_;
    uint64_t held_ = 0;
    uint32_t count_ = 0;
};

// The length code of a match (length - 3, 0 to 563).
template <typename Read>
uint32_t read_length_code(Read bits) {
    if (bits(1)) return bits(2);
    if (bits(1)) return 4 + bits(2);
    if (bits(1)) return 8 + bits(2);
    if (bits(1)) return 12 + bits(3);
    if (bits(1)) return 20 + bits(5);
    return 52 + bits(9);
}

// The distance of a match minus 1 (0 to 262143).
template <typename Read>
uint32_t read_distance_code(Read bits) {
    uint32_t n = bits(4) + 2;
    if (n > 2) return (1u << n) + bits(n);
    return bits(3);
}

// Appends bits least significant first; `flush` pads to a byte boundary.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void bits(uint32_t value, uint32_t n) {
        held_ |= uint64_t(value) << count_;
        count_ += n;
        while (count_ >= 8) {
            out_.push_back(uint8_t(held_));
            held_ >>= 8;
            count_ -= 8;
        }
    }
    void flush() {
        if (count_) bits(0, 8 - count_);
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t held_ = 0;
    uint32_t count_ = 0;
};

void write_length_code(BitWriter& out, uint32_t code) {
    if (code < 4) return out.bits(1 | code << 1, 3);
    if (code < 8) return out.bits(2 | (code - 4) << 2, 4);
    if (code < 12) return out.bits(4 | (code - 8) << 3, 5);
    if (code < 20) return out.bits(8 | (code - 12) << 4, 7);
    if (code < 52) return out.bits(16 | (code - 20) << 5, 10);
    out.bits(0, 5);
    out.bits(code - 52, 9);
}

void write_distance_code(BitWriter& out, uint32_t v) {
    if (v < 8) {
        out.bits(0, 4);
        out.bits(v, 3);
        return;
    }
    uint32_t n = 31 - uint32_t(__builtin_clz(v));  // 3 to 17
    out.bits(n - 2, 4);
    out.bits(v - (1u << n), n);
}

constexpr uint32_t hash_bits = 19;
constexpr uint32_t max_candidates = 256;
// A 3-byte match this far back costs more than its three literals.
constexpr uint32_t far_short_match = 0x10000;

uint32_t hash3(const uint8_t* p) {
    uint32_t h = (uint32_t(p[0]) << 14) ^ (uint32_t(p[1]) << 7) ^ p[2];
    return (h * 2654435761u) >> (32 - hash_bits);
}

}  // namespace

// The most bytes n bytes of block data can yield: the densest code is a
// 566-byte match in 22 bits.
constexpr uint64_t most_output(uint64_t n) { return n * 8 * max_match / 22 + max_match; }

std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> container) {
    if (container.size() < header_size) return std::nullopt;
    uint32_t data_size = load32(container.data());
    uint32_t declared = load32(container.data() + 4);
    if (data_size > container.size() - header_size) return std::nullopt;
    // The output may not outgrow what the header declares (with the slack of
    // the original's buffer), nor what the data can yield: room for that
    // much is taken once.
    uint64_t capacity = std::min(uint64_t(declared) + 8, most_output(data_size));
    std::vector<uint8_t> out(capacity);
    uint8_t* o = out.data();
    size_t produced = 0;
    const uint8_t* data = container.data() + header_size;
    BitReader in(data, data + data_size);
    while (in.cursor() < data + data_size) {
        in.restart();
        if (in.left() < 4) return std::nullopt;
        uint32_t length = load32(in.cursor());
        in.skip(4);
        if (length < 1 || length > max_block) return std::nullopt;
        if (produced + length > capacity) return std::nullopt;
        size_t block_start = produced;
        size_t block_end = block_start + length;
        auto checked = [&in](uint32_t n) { return in.bits(n); };
        auto unchecked = [&in](uint32_t n) { return in.take(n); };
        while (produced < block_end) {
            in.fill();
            // Near the end of the data every read is checked.
            bool ready = in.token_ready();
            if ((ready ? in.take(1) : in.bits(1)) == 0) {
                auto byte = uint8_t(ready ? in.take(8) : in.bits(8));
                if (in.failed) return std::nullopt;
                o[produced++] = byte;
                continue;
            }
            uint32_t count, back;
            if (ready) {
                count = read_length_code(unchecked) + min_match;
                back = read_distance_code(unchecked) + 1;
            } else {
                count = read_length_code(checked) + min_match;
                back = read_distance_code(checked) + 1;
            }
            if (in.failed) return std::nullopt;
            if (back > produced - block_start || count > block_end - produced) return std::nullopt;
            uint8_t* to = o + produced;
            const uint8_t* from = to - back;
            // A distance below the length repeats bytes: byte by byte then.
            if (back >= count) std::memcpy(to, from, count);
            else for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
            produced += count;
        }
    }
    out.resize(produced);
    return out;
}

std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> in) {
    if (in.size() <= min_input) return std::nullopt;
    std::vector<uint8_t> out(header_size);
    std::vector<int32_t> head(size_t(1) << hash_bits);
    std::vector<int32_t> chain(max_distance);
    const uint8_t* src = in.data();
    for (size_t block = 0; block < in.size(); block += max_block) {
        size_t end = std::min(in.size(), block + max_block);
        uint32_t length = uint32_t(end - block);
        size_t at = out.size();
        out.resize(at + 4);
        store32(out, at, length);
        // Matches stay within the block: the tables start afresh.
        std::fill(head.begin(), head.end(), -1);
        BitWriter bits(out);
        auto insert = [&](size_t pos) {
            if (pos + min_match > end) return;
            uint32_t h = hash3(src + pos);
            chain[pos % max_distance] = head[h];
            head[h] = int32_t(pos);
        };
        size_t pos = block;
        while (pos < end) {
            uint32_t best = 0, best_back = 0;
            if (pos + min_match <= end) {
                uint32_t limit = uint32_t(std::min<size_t>(max_match, end - pos));
                int32_t cand = head[hash3(src + pos)];
                for (uint32_t tries = 0; cand >= 0 && tries < max_candidates; ++tries) {
                    size_t c = size_t(cand);
                    if (c < block || pos - c > max_distance) break;
                    uint32_t n = 0;
                    while (n < limit && src[c + n] == src[pos + n]) ++n;
                    if (n > best) {
                        best = n;
                        best_back = uint32_t(pos - c);
                        if (n == limit) break;
                    }
                    int32_t next = chain[c % max_distance];
                    if (next >= int32_t(c)) break;  // the slot was reused by a newer position
                    cand = next;
                }
            }
            if (best < min_match || (best == min_match && best_back > far_short_match)) {
                bits.bits(uint32_t(src[pos]) << 1, 9);
                insert(pos);
                ++pos;
                continue;
            }
            bits.bits(1, 1);
            write_length_code(bits, best - min_match);
            write_distance_code(bits, best_back - 1);
            for (uint32_t i = 0; i < best; ++i) insert(pos + i);
            pos += best;
        }
        bits.flush();
    }
    store32(out, 0, uint32_t(out.size() - header_size));
    store32(out, 4, uint32_t(in.size()));
    return out;
}

}  // namespace vyr::lz77
