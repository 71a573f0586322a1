// The decompressor: raw DEFLATE blocks of all three types, and the zlib and
// gzip readers around it.
//
// Huffman codes are decoded through two-level tables: the low `root` bits of
// the input index a root table whose entry is either the symbol (with its
// code length) or a link to a subtable indexed by the next 15 - root bits.
// Codes are read least significant bit first, so a code's table index is its
// bit-reversed value. Entries of codes that the lengths leave unused are
// invalid, so an incomplete (or empty) code answers bad data when its gaps
// are hit instead of being searched.
#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "io/deflate.h"
#include "io/deflate_internal.h"

namespace vyr::deflate {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

// ---- Decoding tables -----------------------------------------------------------

// One table entry. `op` says what the entry is; `bits` is the number of bits
// to consume (for a link: the root bits); `val` is the literal, the base
// length or distance, or the subtable's start.
struct Entry {
    uint8_t op;
    uint8_t bits;
    uint16_t val;
};

constexpr uint8_t op_literal = 0x00;  // val: the byte (or code-length symbol)
constexpr uint8_t op_base = 0x10;     // low 4 bits: extra bit count; val: base length or distance
constexpr uint8_t op_extra_mask = 0x0F;
constexpr uint8_t op_end = 0x20;      // end of block
constexpr uint8_t op_link = 0x40;     // val: subtable start
constexpr uint8_t op_invalid = 0x80;  // a code the lengths leave unused, or a symbol with no meaning

constexpr Entry invalid_entry = {op_invalid, 0, 0};

constexpr unsigned max_code_bits = 15;
constexpr unsigned litlen_root = 10;
constexpr unsigned dist_root = 8;
constexpr unsigned codelen_root = 7;  // code-length codes are at most 7 bits long: no subtables

constexpr size_t litlen_symbols = 288;
constexpr size_t dist_symbols = 32;
constexpr size_t codelen_symbols = 19;

// Room for the root table and one full subtable per symbol, the most
// subtables a code of that many symbols can need.
constexpr size_t table_room(unsigned root, size_t symbols) {
    return (size_t(1) << root) + symbols * (size_t(1) << (max_code_bits - root));
}

constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

enum class Alphabet { litlen, dist, codelen };

// What a symbol of an alphabet means, as a table entry without its length.
Entry meaning(Alphabet a, unsigned sym) {
    switch (a) {
    case Alphabet::litlen:
        if (sym < 256) return {op_literal, 0, uint16_t(sym)};
        if (sym == 256) return {op_end, 0, 0};
        if (sym < 286) return {uint8_t(op_base | length_extra[sym - 257]), 0, length_base[sym - 257]};
        return invalid_entry;
    case Alphabet::dist:
        if (sym < 30) return {uint8_t(op_base | dist_extra[sym]), 0, dist_base[sym]};
        return invalid_entry;
    case Alphabet::codelen:
        return {op_literal, 0, uint16_t(sym)};
    }
    return invalid_entry;
}

// Fills `table` (room as given by table_room) for the code lengths of `n`
// symbols. Answers false when the lengths over-subscribe the code space;
// an incomplete code is accepted and its unused codes stay invalid.
bool build_table(const uint8_t* lengths, unsigned n, Alphabet alphabet, unsigned root, Entry* table) {
    unsigned count[max_code_bits + 1] = {};
    for (unsigned s = 0; s < n; s++) count[lengths[s]]++;
    int left = 1;
    for (unsigned len = 1; len <= max_code_bits; len++) {
        left = (left << 1) - int(count[len]);
        if (left < 0) return false;
    }

    // Symbols sorted by code length, then by symbol: the order of their codes.
    unsigned offset[max_code_bits + 2] = {};
    for (unsigned len = 1; len <= max_code_bits; len++) offset[len + 1] = offset[len] + count[len];
    uint16_t sorted[litlen_symbols];
    for (unsigned s = 0; s < n; s++)
        if (lengths[s]) sorted[offset[lengths[s]]++] = uint16_t(s);

    const unsigned sub_bits = max_code_bits - root;
    const size_t root_size = size_t(1) << root;
    const size_t sub_size = size_t(1) << sub_bits;
    std::fill(table, table + root_size, invalid_entry);
    size_t next_sub = root_size;

    uint32_t code = 0;  // canonical code, most significant bit first
    unsigned k = 0;
    for (unsigned len = 1; len <= max_code_bits; len++, code <<= 1) {
        for (unsigned i = 0; i < count[len]; i++, code++) {
            Entry e = meaning(alphabet, sorted[k++]);
            uint32_t rev = 0;
            for (unsigned b = 0; b < len; b++) rev |= ((code >> b) & 1) << (len - 1 - b);
            if (len <= root) {
                e.bits = uint8_t(len);
                for (size_t j = rev; j < root_size; j += size_t(1) << len) table[j] = e;
                continue;
            }
            Entry& link = table[rev & (root_size - 1)];
            if (link.op != op_link) {
                link = {op_link, uint8_t(root), uint16_t(next_sub)};
                std::fill(table + next_sub, table + next_sub + sub_size, invalid_entry);
                next_sub += sub_size;
            }
            unsigned sub_len = len - root;
            e.bits = uint8_t(sub_len);
            for (size_t j = rev >> root; j < sub_size; j += size_t(1) << sub_len) table[link.val + j] = e;
        }
    }
    return true;
}

// The tables of one block.
struct BlockTables {
    Entry litlen[table_room(litlen_root, litlen_symbols)];
    Entry dist[table_room(dist_root, dist_symbols)];
};

// The fixed codes' tables, built once.
const BlockTables& fixed_tables() {
    static const std::unique_ptr<BlockTables> fixed = [] {
        auto t = std::make_unique<BlockTables>();
        uint8_t lengths[litlen_symbols];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        build_table(lengths, litlen_symbols, Alphabet::litlen, litlen_root, t->litlen);
        std::fill(lengths, lengths + dist_symbols, 5);
        build_table(lengths, dist_symbols, Alphabet::dist, dist_root, t->dist);
        return t;
    }();
    return *fixed;
}

// ---- Bit reader --------------------------------------------------------------

// Bits least significant first from a 64-bit buffer. Past the end of the
// input it loads zero bytes, so a table lookup may look ahead freely; a
// stream that consumes those bits is cut short, which `overran` tells.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> in) : in_(in.data()), n_(in.size()) {}

    // Holds at least 56 bits afterwards. Answers false once the bits consumed
    // lie certainly past the input (a valid stream never gets there), which
    // bounds the work on a stream that runs off its end.
    bool refill() {
        if (pos_ + 8 <= n_) {
            // Whole word: the bytes above the count are the next input bytes
            // again, so loading them twice is harmless.
            uint64_t word;
            std::memcpy(&word, in_ + pos_, 8);
            buf_ |= word << count_;
            pos_ += (63 - count_) >> 3;
            count_ |= 56;
            return true;
        }
        while (count_ < 56) {
            buf_ |= uint64_t(pos_ < n_ ? in_[pos_] : 0) << count_;
            pos_++;
            count_ += 8;
        }
        return pos_ <= n_ + 8;
    }
    uint32_t peek(unsigned n) const { return uint32_t(buf_ & ((uint64_t(1) << n) - 1)); }
    void drop(unsigned n) {
        buf_ >>= n;
        count_ -= n;
    }
    uint32_t take(unsigned n) {
        uint32_t v = peek(n);
        drop(n);
        return v;
    }
    // Drops the bits up to the next byte boundary.
    void align() { drop(count_ & 7); }
    // The position of the next unread byte (after align).
    size_t byte_position() const { return pos_ - count_ / 8; }
    // Restarts reading at byte `p`, forgetting the bits held.
    void seek(size_t p) {
        pos_ = p;
        buf_ = 0;
        count_ = 0;
    }
    bool overran() const { return pos_ * 8 - count_ > n_ * 8; }
    // The bytes touched by the bits consumed so far.
    size_t bytes_consumed() const { return (pos_ * 8 - count_ + 7) / 8; }
    const uint8_t* input() const { return in_; }
    size_t input_size() const { return n_; }

private:
    const uint8_t* in_;
    size_t n_;
    size_t pos_ = 0;  // bytes loaded, counting the zero bytes past the end
    uint64_t buf_ = 0;
    unsigned count_ = 0;
};

// ---- Output ------------------------------------------------------------------

// The output grows as bytes are produced, in a buffer from the C allocator:
// growing it with realloc needs no copy of large blocks, and pages that are
// never written are never touched. The buffer keeps `slack` bytes beyond any
// byte about to be written, so a match copy may move 8-byte words; it never
// grows past limit + slack.
class Output {
public:
    static constexpr size_t slack = 258 + 8;

    Output(size_t expected, size_t limit) : limit_(limit) { grow_to(std::min(expected, limit) + slack); }

    size_t size() const { return pos_; }
    // Room for n more bytes plus the slack; false when that would pass the limit.
    bool reserve(size_t n) {
        if (cap_ - pos_ >= n + slack) return true;
        if (pos_ > limit_ || n > limit_ - pos_) return false;
        grow_to(std::max(pos_ + n, std::min(2 * cap_, limit_)) + slack);
        return true;
    }
    // Bytes written past the limit are allowed into the slack and caught here.
    bool within_limit() const { return pos_ <= limit_; }
    void put(uint8_t b) { buf_.get()[pos_++] = b; }
    void append(const uint8_t* p, size_t n) {
        if (n) std::memcpy(buf_.get() + pos_, p, n);
        pos_ += n;
    }
    // Copies `len` bytes from `dist` back (dist <= size()); an overlapping
    // copy repeats the bytes as they are produced.
    void copy(size_t dist, size_t len) {
        uint8_t* d = buf_.get() + pos_;
        const uint8_t* s = d - dist;
        pos_ += len;
        if (dist >= 8) {
            uint8_t* end = d + len;
            do {
                std::memcpy(d, s, 8);
                d += 8;
                s += 8;
            } while (d < end);
        } else if (dist == 1) {
            std::memset(d, *s, len);
        } else {
            for (size_t i = 0; i < len; i++) d[i] = s[i];
        }
    }
    std::vector<uint8_t> take() const { return std::vector<uint8_t>(buf_.get(), buf_.get() + pos_); }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    void grow_to(size_t n) {
        auto* p = static_cast<uint8_t*>(std::realloc(buf_.get(), n));
        if (!p) throw std::bad_alloc();
        (void)buf_.release();
        buf_.reset(p);
        cap_ = n;
        if (n >= huge_buffer) advise_huge_pages(p, n);
    }
    // A large output is written once from start to end: huge pages spare a
    // page fault per 4 KB, which costs more than the decoding on some hosts.
    static void advise_huge_pages(uint8_t* p, size_t n) {
        uintptr_t first = (uintptr_t(p) + huge_page - 1) & ~(huge_page - 1);
        uintptr_t last = (uintptr_t(p) + n) & ~(huge_page - 1);
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    static constexpr uintptr_t huge_page = uintptr_t(2) << 20;
    static constexpr size_t huge_buffer = 4 * huge_page;

    std::unique_ptr<uint8_t, Free> buf_;
    size_t cap_ = 0;
    size_t pos_ = 0;
    size_t limit_;
};

// ---- Blocks --------------------------------------------------------------------

constexpr unsigned btype_stored = 0;
constexpr unsigned btype_fixed = 1;
constexpr unsigned btype_dynamic = 2;

// The order in which a dynamic header gives the code-length code lengths.
constexpr uint8_t codelen_order[codelen_symbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

class Inflater {
public:
    Inflater(std::span<const uint8_t> in, size_t expected, size_t limit) : bits_(in), out_(expected, limit) {}

    Decoded run() {
        Status s = blocks();
        if (s == Status::ok && !out_.within_limit()) s = Status::output_too_small;
        if (s != Status::ok) return {s, {}};
        return {Status::ok, out_.take()};
    }

private:
    // Reads blocks up to the final one; the input must end with it.
    Status blocks() {
        bool final = false;
        while (!final) {
            if (!bits_.refill()) return Status::bad_data;
            final = bits_.take(1);
            Status s = Status::bad_data;
            switch (bits_.take(2)) {
            case btype_stored: s = stored_block(); break;
            case btype_fixed: s = codes(fixed_tables()); break;
            case btype_dynamic: s = dynamic_block(); break;
            }
            if (s != Status::ok) return s;
        }
        if (bits_.overran() || bits_.bytes_consumed() != bits_.input_size()) return Status::bad_data;
        return Status::ok;
    }

    // LEN, its complement NLEN, then LEN bytes taken as they are.
    Status stored_block() {
        bits_.align();
        uint32_t len = bits_.take(16);
        uint32_t nlen = bits_.take(16);
        size_t p = bits_.byte_position();
        if (p > bits_.input_size() || nlen != (~len & 0xFFFFu)) return Status::bad_data;
        if (bits_.input_size() - p < len) return Status::stored_cut_short;
        if (!out_.reserve(len)) return Status::output_too_small;
        out_.append(bits_.input() + p, len);
        bits_.seek(p + len);
        return Status::ok;
    }

    // The header of a dynamic block: the code-length code, then the code
    // lengths of both alphabets, run-length coded.
    Status dynamic_block() {
        unsigned hlit = bits_.take(5) + 257;
        unsigned hdist = bits_.take(5) + 1;
        unsigned hclen = bits_.take(4) + 4;
        uint8_t cl_lengths[codelen_symbols] = {};
        for (unsigned i = 0; i < hclen; i++) {
            if (!bits_.refill()) return Status::bad_data;
            cl_lengths[codelen_order[i]] = uint8_t(bits_.take(3));
        }
        Entry cl_table[size_t(1) << codelen_root];
        if (!build_table(cl_lengths, codelen_symbols, Alphabet::codelen, codelen_root, cl_table))
            return Status::bad_data;

        uint8_t lengths[litlen_symbols + dist_symbols] = {};
        for (unsigned i = 0; i < hlit + hdist;) {
            if (!bits_.refill()) return Status::bad_data;
            Entry e = cl_table[bits_.peek(codelen_root)];
            if (e.op == op_invalid) return Status::bad_data;
            bits_.drop(e.bits);
            unsigned sym = e.val, repeat = 1;
            uint8_t value = uint8_t(sym);
            if (sym == 16) {
                if (i == 0) return Status::bad_data;
                value = lengths[i - 1];
                repeat = 3 + bits_.take(2);
            } else if (sym == 17) {
                value = 0;
                repeat = 3 + bits_.take(3);
            } else if (sym == 18) {
                value = 0;
                repeat = 11 + bits_.take(7);
            }
            if (repeat > hlit + hdist - i) return Status::bad_data;
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }

        if (!tables_) tables_ = std::make_unique_for_overwrite<BlockTables>();
        if (!build_table(lengths, hlit, Alphabet::litlen, litlen_root, tables_->litlen) ||
            !build_table(lengths + hlit, hdist, Alphabet::dist, dist_root, tables_->dist))
            return Status::bad_data;
        return codes(*tables_);
    }

    // Decodes literal/length and distance codes up to the end-of-block code.
    // A refill before each symbol holds 56 bits: enough for the longest
    // length code, its extra bits, the longest distance code and its extra bits.
    Status codes(const BlockTables& t) {
        constexpr unsigned litlen_sub = max_code_bits - litlen_root;
        constexpr unsigned dist_sub = max_code_bits - dist_root;
        for (;;) {
            if (!bits_.refill()) return Status::bad_data;
            if (!out_.reserve(0)) return Status::output_too_small;
            Entry e = t.litlen[bits_.peek(litlen_root)];
            if (e.op == op_link) {
                bits_.drop(e.bits);
                e = t.litlen[e.val + bits_.peek(litlen_sub)];
            }
            bits_.drop(e.bits);
            if (e.op == op_literal) {
                out_.put(uint8_t(e.val));
                continue;
            }
            if (!(e.op & op_base)) return e.op == op_end ? Status::ok : Status::bad_data;
            size_t len = e.val + bits_.take(e.op & op_extra_mask);

            Entry d = t.dist[bits_.peek(dist_root)];
            if (d.op == op_link) {
                bits_.drop(d.bits);
                d = t.dist[d.val + bits_.peek(dist_sub)];
            }
            bits_.drop(d.bits);
            if (!(d.op & op_base)) return Status::bad_data;
            size_t dist = d.val + bits_.take(d.op & op_extra_mask);
            if (dist > out_.size()) return Status::bad_data;
            out_.copy(dist, len);
        }
    }

    BitReader bits_;
    Output out_;
    std::unique_ptr<BlockTables> tables_;  // made at the first dynamic block
};

Decoded inflate_raw(std::span<const uint8_t> in, size_t limit, size_t expected) {
    return Inflater(in, expected, limit).run();
}

// A first guess at the output size of a stream of n bytes; the output grows
// from there as needed.
size_t first_guess(size_t n) { return n * 4; }

// The first buffer for a gzip member: ISIZE when it is plausible for the
// stream's size, so that a wrong ISIZE costs no more than a guess would.
size_t gzip_guess(uint32_t isize, size_t n) { return std::min<size_t>(isize, 2 * first_guess(n) + 4096); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }

// ---- zlib header ---------------------------------------------------------------

constexpr size_t zlib_header_size = 2;
constexpr size_t zlib_trailer_size = 4;
constexpr uint8_t zlib_cm_mask = 0x0F;
constexpr uint8_t zlib_cm_deflate = 8;
constexpr uint8_t zlib_cinfo_too_large = 0x80;  // a window above 32 KB
constexpr uint8_t zlib_fdict = 0x20;
constexpr unsigned zlib_check_divisor = 31;

bool zlib_header_ok(uint8_t cmf, uint8_t flg) {
    return (cmf * 256u + flg) % zlib_check_divisor == 0 && (cmf & zlib_cm_mask) == zlib_cm_deflate &&
           !(cmf & zlib_cinfo_too_large) && !(flg & zlib_fdict);
}

// ---- gzip header ---------------------------------------------------------------

constexpr size_t gzip_header_size = 10;
constexpr size_t gzip_trailer_size = 8;
constexpr size_t gzip_min_size = 18;
constexpr uint8_t gzip_id1 = 0x1F, gzip_id2 = 0x8B, gzip_cm_deflate = 8;
constexpr uint8_t gzip_fhcrc = 0x02;
constexpr uint8_t gzip_fextra = 0x04;
constexpr uint8_t gzip_fname = 0x08;
constexpr uint8_t gzip_fcomment = 0x10;
constexpr uint8_t gzip_reserved_flags = 0xE0;

// Skips the optional header fields; answers the offset of the compressed
// data, or 0 when a field is malformed or runs into the trailer.
size_t gzip_data_offset(std::span<const uint8_t> in) {
    const uint8_t* p = in.data();
    const size_t end = in.size() - gzip_trailer_size;
    uint8_t flags = p[3];
    if (p[0] != gzip_id1 || p[1] != gzip_id2 || p[2] != gzip_cm_deflate || (flags & gzip_reserved_flags)) return 0;
    size_t at = gzip_header_size;
    if (flags & gzip_fextra) {
        if (end - at < 2) return 0;
        size_t xlen = le16(p + at);
        at += 2;
        if (end - at < xlen) return 0;
        at += xlen;
    }
    for (uint8_t text_flag : {gzip_fname, gzip_fcomment}) {
        if (!(flags & text_flag)) continue;
        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(p + at, 0, end - at));
        if (!nul) return 0;
        at = size_t(nul - p) + 1;
    }
    if (flags & gzip_fhcrc) {
        if (end - at < 2) return 0;
        if ((checksum::crc32(in.first(at)) & 0xFFFF) != le16(p + at)) return 0;
        at += 2;
    }
    return at;
}

}  // namespace

// ---- Vector form -------------------------------------------------------------

Decoded inflate(std::span<const uint8_t> in, size_t limit) { return inflate_raw(in, limit, first_guess(in.size())); }

Decoded zlib_decompress(std::span<const uint8_t> in, size_t limit) {
    if (in.size() < zlib_header_size + zlib_trailer_size || !zlib_header_ok(in[0], in[1]))
        return {Status::bad_data, {}};
    auto body = in.subspan(zlib_header_size, in.size() - zlib_header_size - zlib_trailer_size);
    Decoded r = inflate_raw(body, limit, first_guess(body.size()));
    if (r.status == Status::ok && checksum::adler32(r.bytes) != be32(in.data() + in.size() - zlib_trailer_size))
        return {Status::bad_data, {}};
    return r;
}

// ISIZE only sizes the first buffer, and that within a small multiple of the
// compressed size; the output must match it (mod 2^32) and the CRC-32.
Decoded gzip_decompress(std::span<const uint8_t> in, size_t limit) {
    if (in.size() < gzip_min_size) return {Status::bad_data, {}};
    size_t start = gzip_data_offset(in);
    if (start == 0) return {Status::bad_data, {}};
    const uint8_t* trailer = in.data() + in.size() - gzip_trailer_size;
    uint32_t crc = le32(trailer), isize = le32(trailer + 4);
    auto body = in.subspan(start, in.size() - gzip_trailer_size - start);
    Decoded r = inflate_raw(body, limit, gzip_guess(isize, body.size()));
    if (r.status != Status::ok) return r;
    if (uint32_t(r.bytes.size()) != isize || checksum::crc32(r.bytes) != crc) return {Status::bad_data, {}};
    return r;
}

// ---- Buffer form -------------------------------------------------------------

Status inflate(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    Decoded r = inflate(in);
    return detail::copy_out(r.status, r.bytes, out, size);
}

Status zlib_decompress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    Decoded r = zlib_decompress(in);
    return detail::copy_out(r.status, r.bytes, out, size);
}

Status gzip_decompress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in) {
    Decoded r = gzip_decompress(in);
    return detail::copy_out(r.status, r.bytes, out, size);
}

}  // namespace vyr::deflate
