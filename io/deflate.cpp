// The compressor: one final fixed-Huffman block written from a small hash of
// 3-byte prefixes; the zlib and gzip writers around it; the checksums of the
// two framings.
#include <array>
#include <cstring>

#include "datatypes/symbol.h"
#include "io/deflate.h"
#include "io/deflate_internal.h"

namespace vyr::deflate {

namespace {

// ---- Fixed Huffman codes, bit-reversed for a least-significant-first writer ---

constexpr uint32_t reverse_bits(uint32_t code, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; i++, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// A code ready to write: `bits` (low `count` bits) go out as they are.
struct Bits {
    uint32_t bits;
    uint32_t count;
};

// The fixed code of a literal/length symbol (0-287).
constexpr Bits fixed_litlen_code(uint32_t sym) {
    if (sym < 144) return {reverse_bits(0x30 + sym, 8), 8};
    if (sym < 256) return {reverse_bits(0x190 + sym - 144, 9), 9};
    if (sym < 280) return {reverse_bits(sym - 256, 7), 7};
    return {reverse_bits(0xC0 + sym - 280, 8), 8};
}

constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

using LiteralTable = std::array<Bits, 256>;
using LengthTable = std::array<Bits, 259>;  // indexed by match length 3-258

constexpr LiteralTable make_literal_table() {
    LiteralTable t{};
    for (uint32_t b = 0; b < 256; b++) t[b] = fixed_litlen_code(b);
    return t;
}

// Each match length as its symbol's code followed by the extra bits.
constexpr LengthTable make_length_table() {
    LengthTable t{};
    for (uint32_t code = 0; code < 29; code++) {
        // 258 has a symbol of its own (285), so the range of 284 ends at 257
        uint32_t last = code == 28 ? 258 : length_base[code + 1] - 1u;
        Bits sym = fixed_litlen_code(257 + code);
        for (uint32_t len = length_base[code]; len <= last; len++)
            t[len] = {sym.bits | (len - length_base[code]) << sym.count, sym.count + length_extra[code]};
    }
    return t;
}

constexpr LiteralTable literal_codes = make_literal_table();
constexpr LengthTable length_codes = make_length_table();

// A distance (1-32768) as its 5-bit code followed by the extra bits: distance
// codes come in pairs per power of two, told apart by the bit below the top.
inline Bits distance_bits(uint32_t dist) {
    uint32_t d = dist - 1;
    if (d < 4) return {reverse_bits(d, 5), 5};
    int top = 31 - __builtin_clz(d);
    uint32_t code = 2 * uint32_t(top) + ((d >> (top - 1)) & 1);
    uint32_t extra = uint32_t(top) - 1;
    return {reverse_bits(code, 5) | (d & ((1u << extra) - 1)) << 5, 5 + extra};
}

// ---- Bit writer ----------------------------------------------------------------

// Appends bits least significant first into a buffer sized in advance for
// the worst case, storing four bytes whenever 32 bits are held.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) {}
    void put(Bits b) {
        acc_ |= uint64_t(b.bits) << count_;
        count_ += b.count;
        if (count_ >= 32) {
            uint8_t word[4] = {uint8_t(acc_), uint8_t(acc_ >> 8), uint8_t(acc_ >> 16), uint8_t(acc_ >> 24)};
            std::memcpy(out_ + pos_, word, 4);
            pos_ += 4;
            acc_ >>= 32;
            count_ -= 32;
        }
    }
    // Pads with zero bits to a byte boundary, stores the rest and answers the
    // number of bytes written.
    size_t finish() {
        for (; count_ > 0; count_ -= count_ >= 8 ? 8 : count_, acc_ >>= 8) out_[pos_++] = uint8_t(acc_);
        return pos_;
    }

private:
    uint8_t* out_;
    size_t pos_ = 0;
    uint64_t acc_ = 0;
    uint32_t count_ = 0;
};

// The worst case of a fixed block: 3 header bits, 9 bits per input byte (no
// match costs more per byte than the longest literal code) and 7 end bits.
size_t compressed_bound(size_t n) { return (10 + 9 * n + 7) / 8; }

// ---- Match finder --------------------------------------------------------------

constexpr size_t bucket_count = 1024;
constexpr size_t bucket_slots = 4;
constexpr size_t min_match = 3;
constexpr size_t max_match = 258;
constexpr size_t window = 32768;  // a candidate must lie less than this far back

// The 3 bytes at p as one 24-bit value; bytes past the end count as 0.
inline uint32_t prefix_at(const uint8_t* in, size_t n, size_t p) {
    uint32_t x = 0;
    for (size_t i = 0; i < 3; i++) x = x << 8 | (p + i < n ? in[p + i] : 0u);
    return x;
}

inline uint32_t bucket_of(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (bucket_count - 1);
}

// Each bucket keeps up to 4 earlier positions, stored as position + 1 so
// that 0 marks an empty slot.
struct HashTable {
    uint64_t slot[bucket_count][bucket_slots] = {};
};

// The length of the match at candidate c for position p, or 0 when c does
// not qualify (empty, not behind p, too far back, or the 3 bytes differ).
inline size_t match_length(const uint8_t* in, size_t n, uint64_t entry, size_t p) {
    if (entry == 0) return 0;
    size_t c = size_t(entry - 1);
    if (c >= p || p - c >= window) return 0;
    if (in[c] != in[p] || in[c + 1] != in[p + 1] || in[c + 2] != in[p + 2]) return 0;
    size_t len = min_match;
    while (len < max_match && p + len < n && in[c + len] == in[p + len]) len++;
    return len;
}

// Writes one final fixed-Huffman block of `in` at the end of `out`.
void compress_into(std::vector<uint8_t>& out, std::span<const uint8_t> input) {
    const uint8_t* in = input.data();
    const size_t n = input.size();
    size_t start = out.size();
    out.resize(start + compressed_bound(n));
    BitWriter w(out.data() + start);
    HashTable table;

    w.put({0b011, 3});  // BFINAL 1, BTYPE 01 (fixed codes)
    size_t p = 0;
    while (p < n) {
        size_t step_start = p;
        uint64_t* bucket = table.slot[bucket_of(prefix_at(in, n, p))];
        size_t len = 0, dist = 0;
        if (p >= min_match && p + min_match <= n) {
            for (size_t k = 0; k < bucket_slots; k++) {
                len = match_length(in, n, bucket[k], p);
                if (len) {
                    dist = p - size_t(bucket[k] - 1);
                    break;
                }
            }
        }
        if (len) {
            w.put(length_codes[len]);
            w.put(distance_bits(uint32_t(dist)));
            p += len;
        } else {
            w.put(literal_codes[in[p]]);
            p++;
        }
        // The slot is picked by the bytes where the next step begins.
        uint32_t x = prefix_at(in, n, p);
        bucket[((x >> 14) - x) & (bucket_slots - 1)] = step_start + 1;
    }
    w.put({0, 7});  // end of block
    out.resize(start + w.finish());
}

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void put_le32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
}

constexpr uint8_t zlib_header[2] = {0x78, 0x01};
constexpr uint8_t gzip_header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};


}  // namespace

namespace detail {

Status copy_out(Status status, std::span<const uint8_t> bytes, std::span<uint8_t> out, size_t& size) {
    if (status != Status::ok) {
        // Output beyond the largest buffer: all that is known is "more".
        size = status == Status::output_too_small ? max_output + size_t(1) : 0;
        return status;
    }
    size = bytes.size();
    if (bytes.size() > out.size()) return Status::output_too_small;
    if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
    return Status::ok;
}

}  // namespace detail

// ---- Vector form -------------------------------------------------------------

std::vector<uint8_t> deflate_compress(std::span<const uint8_t> in) {
    std::vector<uint8_t> out;
    compress_into(out, in);
    return out;
}

std::vector<uint8_t> zlib_compress(std::span<const uint8_t> in) {
    std::vector<uint8_t> out(std::begin(zlib_header), std::end(zlib_header));
    compress_into(out, in);
    put_be32(out, checksum::adler32(in));
    return out;
}

// Input that already looks like gzip data is compressed like any other, so
// that decompressing always gives back exactly what was compressed.
std::vector<uint8_t> gzip_compress(std::span<const uint8_t> in) {
    std::vector<uint8_t> out(std::begin(gzip_header), std::end(gzip_header));
    compress_into(out, in);
    put_le32(out, checksum::crc32(in));
    put_le32(out, uint32_t(in.size()));
    return out;
}

// ---- Buffer form -------------------------------------------------------------

Status deflate_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    return detail::copy_out(Status::ok, deflate_compress(in), out, size);
}

Status zlib_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    return detail::copy_out(Status::ok, zlib_compress(in), out, size);
}

Status gzip_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    return detail::copy_out(Status::ok, gzip_compress(in), out, size);
}

// ---- Method words ------------------------------------------------------------

namespace {
constexpr const char* framing_names[] = {"zlib", "deflate", "gzip"};
int32_t framing_symbols[3];
}  // namespace

void compression_words_init() {
    for (int i = 0; i < 3; ++i) framing_symbols[i] = symbol_t::resolve_alias(symbol_t::make(framing_names[i]));
}

bool framing_of_symbol(int32_t symbol, Framing& out) {
    int32_t id = symbol_t::resolve_alias(symbol);
    for (int i = 0; i < 3; ++i) {
        if (framing_symbols[i] != id) continue;
        out = Framing(i);
        return true;
    }
    return false;
}

}  // namespace vyr::deflate
