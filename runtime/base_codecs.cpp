// The base-2, base-16, base-58 and base-64 codecs of binary data.
#include "runtime/base_codecs.h"

#include <cstring>
#include <vector>

#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace vyr::binary_t {

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base58_digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char base64_pad = '=';

// Entries of the decode tables beside the digit values.
constexpr uint8_t hex_invalid = 255;
constexpr uint8_t skip = 64;
constexpr uint8_t invalid = 128;
constexpr uint32_t ascii_limit = 128;

constexpr uint32_t comment_start = ';';
constexpr uint32_t line_feed = '\n';
constexpr uint32_t blank_limit = 32;  // base 2 and 16 skip every code up to this one

// The characters bases 58 and 64 skip: backspace, tab, line feed, form
// feed, carriage return, space and the apostrophe.
constexpr bool skipped_q(uint32_t c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == '\''; }

struct Table {
    uint8_t entry[ascii_limit];
};

constexpr Table make_hex_table() {
    Table t{};
    for (uint32_t c = 0; c < ascii_limit; ++c) t.entry[c] = hex_invalid;
    for (uint32_t d = 0; d < 16; ++d) {
        t.entry[uint8_t(hex_digits[d])] = uint8_t(d);
        if (d >= 10) t.entry[uint8_t(hex_digits[d] + 32)] = uint8_t(d);  // lower case
    }
    return t;
}

constexpr Table make_table(const char* digits, uint32_t count) {
    Table t{};
    for (uint32_t c = 0; c < ascii_limit; ++c) t.entry[c] = skipped_q(c) ? skip : invalid;
    for (uint32_t d = 0; d < count; ++d) t.entry[uint8_t(digits[d])] = uint8_t(d);
    return t;
}

constexpr Table make_base64_table() {
    Table t = make_table(base64_digits, 64);
    t.entry[uint8_t(base64_pad)] = 0;
    return t;
}

constexpr Table hex_table = make_hex_table();
constexpr Table base58_table = make_table(base58_digits, 58);
constexpr Table base64_table = make_base64_table();

// Reads the code points of a text one by one, passing over ";" comments
// (up to, not including, the next line feed).
class Reader {
public:
    Reader(const uint8_t* src, uint32_t n, unsigned width) : src_(src), n_(n), width_(width) {}
    // The next code outside a comment; false at the end.
    bool next(uint32_t& c) {
        while (i_ < n_) {
            c = unicode::load_unit(src_, i_++, width_);
            if (c != comment_start) return true;
            while (i_ < n_ && unicode::load_unit(src_, i_, width_) != line_feed) ++i_;
        }
        return false;
    }

private:
    const uint8_t* src_;
    uint32_t n_;
    unsigned width_;
    uint32_t i_ = 0;
};

// A new byte series holding the bytes, tail set after them.
NodeId bytes_series(const uint8_t* bytes, uint32_t n, uint32_t capacity) {
    NodeId node = memory::alloc_bytes(capacity > n ? capacity : n);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    return node;
}

// Converts the digits of a big number from one base to another by repeated
// division (the digits are consumed). Answers the new digits, most
// significant first, without leading zeros.
std::vector<uint8_t> convert_base(std::vector<uint8_t>& digits, uint32_t from, uint32_t to) {
    std::vector<uint8_t> out(digits.size() * 2 + 1);
    size_t write = out.size();
    size_t start = 0;
    while (start < digits.size() && digits[start] == 0) ++start;
    while (start < digits.size()) {
        uint32_t remainder = 0;
        for (size_t k = start; k < digits.size(); ++k) {
            uint32_t acc = remainder * from + digits[k];
            digits[k] = uint8_t(acc / to);
            remainder = acc % to;
        }
        out[--write] = uint8_t(remainder);
        while (start < digits.size() && digits[start] == 0) ++start;
    }
    while (write < out.size() && out[write] == 0) ++write;
    return std::vector<uint8_t>(out.begin() + ptrdiff_t(write), out.end());
}

}  // namespace

// ---- Encoders ----------------------------------------------------------------

uint64_t encoded_room(int32_t base, uint32_t n) {
    switch (base) {
        case 2: return uint64_t(n) * 8;
        case 64: return (uint64_t(n) + 2) / 3 * 4;
        default: return uint64_t(n) * 2;
    }
}

char* encode_base2(char* out, const uint8_t* src, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) *out++ = char('0' + ((src[i] >> bit) & 1));
    return out;
}

char* encode_base16(char* out, const uint8_t* src, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        *out++ = hex_digits[src[i] >> 4];
        *out++ = hex_digits[src[i] & 15];
    }
    return out;
}

char* encode_base58(char* out, const uint8_t* src, uint32_t n) {
    uint32_t zeros = 0;
    while (zeros < n && src[zeros] == 0) ++zeros;
    std::vector<uint8_t> number(src + zeros, src + n);
    std::vector<uint8_t> digits = convert_base(number, 256, 58);
    for (uint32_t i = 0; i < zeros; ++i) *out++ = base58_digits[0];
    for (uint8_t d : digits) *out++ = base58_digits[d];
    return out;
}

char* encode_base64(char* out, const uint8_t* src, uint32_t n) {
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t group = uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = base64_digits[(group >> shift) & 63];
    }
    if (uint32_t left = n - i) {
        uint32_t group = uint32_t(src[i]) << 16 | (left == 2 ? uint32_t(src[i + 1]) << 8 : 0);
        *out++ = base64_digits[group >> 18];
        *out++ = base64_digits[(group >> 12) & 63];
        *out++ = left == 2 ? base64_digits[(group >> 6) & 63] : base64_pad;
        *out++ = base64_pad;
    }
    return out;
}

char* encode_base(int32_t base, char* out, const uint8_t* src, uint32_t n) {
    switch (base) {
        case 2: return encode_base2(out, src, n);
        case 16: return encode_base16(out, src, n);
        case 58: return encode_base58(out, src, n);
        default: return encode_base64(out, src, n);
    }
}

// ---- Decoders ----------------------------------------------------------------

NodeId decode_base2(const uint8_t* src, uint32_t n, unsigned width) {
    std::vector<uint8_t> bytes;
    bytes.reserve(n / 8);
    Reader in(src, n, width);
    uint32_t c, bits = 0, count = 0;
    while (in.next(c)) {
        if (c <= blank_limit) continue;
        if (c != '0' && c != '1') return no_node;
        bits = bits << 1 | (c - '0');
        if (++count == 8) {
            bytes.push_back(uint8_t(bits));
            bits = count = 0;
        }
    }
    if (count != 0) return no_node;
    return bytes_series(bytes.data(), uint32_t(bytes.size()), n / 8);
}

NodeId decode_base16(const uint8_t* src, uint32_t n, unsigned width) {
    std::vector<uint8_t> bytes;
    bytes.reserve(n / 2);
    Reader in(src, n, width);
    uint32_t c;
    int32_t high = -1;
    while (in.next(c)) {
        if (c >= ascii_limit) return no_node;  // not folded onto an ASCII digit or blank
        if (c <= blank_limit) continue;
        uint8_t v = hex_table.entry[c];
        if (v > 15) return no_node;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return bytes_series(bytes.data(), uint32_t(bytes.size()), n ? n / 2 : 1);
}

NodeId decode_base58(const uint8_t* src, uint32_t n, unsigned width) {
    std::vector<uint8_t> digits;
    digits.reserve(n);
    Reader in(src, n, width);
    uint32_t c;
    while (in.next(c)) {
        if (c >= ascii_limit) return no_node;  // never a digit, nor the end of the text
        uint8_t v = base58_table.entry[c];
        if (v == skip) continue;
        if (v == invalid) return no_node;
        digits.push_back(v);
    }
    uint32_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    std::vector<uint8_t> bytes(zeros, 0);
    std::vector<uint8_t> converted = convert_base(digits, 58, 256);
    bytes.insert(bytes.end(), converted.begin(), converted.end());
    return bytes_series(bytes.data(), uint32_t(bytes.size()), uint32_t(digits.size()));
}

NodeId decode_base64(const uint8_t* src, uint32_t n, unsigned width) {
    std::vector<uint8_t> bytes;
    bytes.reserve(size_t(n) * 3 / 4 + 3);
    Reader in(src, n, width);
    uint32_t c, acc = 0, digits = 0;
    while (in.next(c)) {
        if (c >= ascii_limit) return no_node;
        uint8_t v = base64_table.entry[c];
        if (v == skip) continue;
        if (v == invalid) return no_node;
        if (c == uint8_t(base64_pad)) {
            // The padding ends the text: what follows it is not read.
            if (digits < 2) return no_node;
            acc <<= 6 * (4 - digits);
            bytes.push_back(uint8_t(acc >> 16));
            if (digits == 3) bytes.push_back(uint8_t(acc >> 8));
            digits = 0;
            break;
        }
        acc = acc << 6 | v;
        if (++digits == 4) {
            bytes.push_back(uint8_t(acc >> 16));
            bytes.push_back(uint8_t(acc >> 8));
            bytes.push_back(uint8_t(acc));
            acc = digits = 0;
        }
    }
    return bytes_series(bytes.data(), uint32_t(bytes.size()), uint32_t((uint64_t(n) + 3) * 3 / 4));
}

NodeId decode_base(int32_t base, const uint8_t* src, uint32_t n, unsigned width) {
    switch (base) {
        case 2: return decode_base2(src, n, width);
        case 16: return decode_base16(src, n, width);
        case 58: return decode_base58(src, n, width);
        default: return decode_base64(src, n, width);
    }
}

}  // namespace vyr::binary_t
