#include "engine/base_codecs.h"

#include <array>

#include "runtime/unicode.h"

namespace vyr::base_codecs {

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base58_digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decode-table entries besides the digit values.
constexpr uint8_t skip = 64;
constexpr uint8_t invalid = 128;
constexpr uint8_t hex_invalid = 255;

constexpr uint32_t comment_start = ';';
constexpr uint32_t line_feed = '\n';
constexpr uint32_t last_blank = 32;  // codes up to the space are blanks for bases 2 and 16

// Codes skipped by the base-58 and base-64 decoders: backspace, tab, line
// feed, form feed, carriage return, space and the apostrophe.
constexpr bool skipped_code(uint32_t c) {
    return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == '\'';
}

constexpr std::array<uint8_t, 128> make_hex_table() {
    std::array<uint8_t, 128> t{};
    for (auto& e : t) e = hex_invalid;
    for (int i = 0; i < 10; ++i) t['0' + i] = uint8_t(i);
    for (int i = 0; i < 6; ++i) t['A' + i] = t['a' + i] = uint8_t(10 + i);
    return t;
}

constexpr std::array<uint8_t, 128> make_table(const char* digits, int count, bool padding_zero) {
    std::array<uint8_t, 128> t{};
    for (uint32_t c = 0; c < 128; ++c) t[c] = skipped_code(c) ? skip : invalid;
    for (int i = 0; i < count; ++i) t[uint8_t(digits[i])] = uint8_t(i);
    if (padding_zero) t['='] = 0;
    return t;
}

constexpr auto hex_table = make_hex_table();
constexpr auto base58_table = make_table(base58_digits, 58, false);
constexpr auto base64_table = make_table(base64_digits, 64, true);

// Walks the code points of a text, skipping ";" comments up to (not
// including) their line feed.
class Reader {
public:
    Reader(const uint8_t* units, size_t count, unsigned width) : units_(units), count_(count), width_(width) {}
    // The next code point outside comments; false at the end.
    bool next(uint32_t& c) {
        while (i_ < count_) {
            c = unicode::load_unit(units_, i_++, width_);
            if (c != comment_start) return true;
            while (i_ < count_ && unicode::load_unit(units_, i_, width_) != line_feed) ++i_;
        }
        return false;
    }

private:
    const uint8_t* units_;
    size_t count_;
    unsigned width_;
    size_t i_ = 0;
};

}  // namespace

size_t encoded_size(int32_t base, size_t n) {
    switch (base) {
        case 2: return 8 * n;
        case 16: return 2 * n;
        case 58: return 2 * n;
        default: return 4 * ((n + 2) / 3);
    }
}

// ---- Encoders ----------------------------------------------------------------

size_t encode_base2(uint8_t* out, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) *out++ = uint8_t('0' + ((src[i] >> bit) & 1));
    return 8 * n;
}

size_t encode_base16(uint8_t* out, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        *out++ = uint8_t(hex_digits[src[i] >> 4]);
        *out++ = uint8_t(hex_digits[src[i] & 15]);
    }
    return 2 * n;
}

// The bytes after the leading zeros are a big-endian number, converted to
// base 58 most significant digit first; each leading zero byte becomes one
// "1" in front.
size_t encode_base58(uint8_t* out, const uint8_t* src, size_t n) {
    size_t zeros = 0;
    while (zeros < n && src[zeros] == 0) ++zeros;
    // log(256) / log(58) < 1.37: room for every digit of the number.
    size_t room = (n - zeros) * 137 / 100 + 1;
    std::vector<uint8_t> digits(room, 0);
    size_t used = 0;  // digits in use, at the end of `digits`
    for (size_t i = zeros; i < n; ++i) {
        uint32_t carry = src[i];
        size_t j = 0;
        for (; j < used || carry; ++j) {
            uint8_t& d = digits[room - 1 - j];
            carry += 256u * d;
            d = uint8_t(carry % 58);
            carry /= 58;
        }
        used = j;
    }
    size_t w = 0;
    for (size_t i = 0; i < zeros; ++i) out[w++] = '1';
    for (size_t j = room - used; j < room; ++j) out[w++] = uint8_t(base58_digits[digits[j]]);
    return w;
}

size_t encode_base64(uint8_t* out, const uint8_t* src, size_t n) {
    size_t w = 0, i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t g = uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2];
        out[w++] = uint8_t(base64_digits[g >> 18]);
        out[w++] = uint8_t(base64_digits[(g >> 12) & 63]);
        out[w++] = uint8_t(base64_digits[(g >> 6) & 63]);
        out[w++] = uint8_t(base64_digits[g & 63]);
    }
    if (size_t rest = n - i) {
        uint32_t g = uint32_t(src[i]) << 16 | (rest == 2 ? uint32_t(src[i + 1]) << 8 : 0);
        out[w++] = uint8_t(base64_digits[g >> 18]);
        out[w++] = uint8_t(base64_digits[(g >> 12) & 63]);
        out[w++] = rest == 2 ? uint8_t(base64_digits[(g >> 6) & 63]) : '=';
        out[w++] = '=';
    }
    return w;
}

// ---- Decoders ----------------------------------------------------------------

bool decode_base2(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(count / 8);
    Reader r(units, count, width);
    uint32_t c, byte = 0, bits = 0;
    while (r.next(c)) {
        if (c <= last_blank) continue;
        if (c != '0' && c != '1') return false;
        byte = byte << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(uint8_t(byte));
            byte = bits = 0;
        }
    }
    return bits == 0;
}

bool decode_base16(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(count / 2);
    Reader r(units, count, width);
    uint32_t c, high = 0;
    bool pending = false;
    while (r.next(c)) {
        if (c >= 128) return false;  // not folded onto an ASCII digit or blank
        if (c <= last_blank) continue;
        uint8_t v = hex_table[c];
        if (v > 15) return false;
        if (pending)
            out.push_back(uint8_t(high << 4 | v));
        else
            high = v;
        pending = !pending;
    }
    return true;  // a lone last digit is dropped
}

bool decode_base58(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> digits;
    digits.reserve(count);
    Reader r(units, count, width);
    uint32_t c;
    while (r.next(c)) {
        if (c >= 128) return false;  // never a digit: the text is not cut short there
        uint8_t v = base58_table[c];
        if (v == skip) continue;
        if (v == invalid) return false;
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    // Base 58 to base 256: never more bytes than digits.
    size_t room = digits.size() - zeros + 1;
    std::vector<uint8_t> bytes(room, 0);
    size_t used = 0;
    for (size_t i = zeros; i < digits.size(); ++i) {
        uint32_t carry = digits[i];
        size_t j = 0;
        for (; j < used || carry; ++j) {
            uint8_t& b = bytes[room - 1 - j];
            carry += 58u * b;
            b = uint8_t(carry & 0xFF);
            carry >>= 8;
        }
        used = j;
    }
    out.assign(zeros, 0);
    out.insert(out.end(), bytes.end() - ptrdiff_t(used), bytes.end());
    return true;
}

bool decode_base64(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve((count + 3) / 4 * 3);
    Reader r(units, count, width);
    uint32_t c, group = 0, digits = 0;
    while (r.next(c)) {
        if (c >= 128) return false;
        if (c == '=') {
            if (digits < 2) return false;
            out.push_back(uint8_t(group >> (digits == 3 ? 10 : 4)));
            if (digits == 3) out.push_back(uint8_t(group >> 2));
            return true;  // anything after the first "=" is ignored
        }
        uint8_t v = base64_table[c];
        if (v == skip) continue;
        if (v == invalid) return false;
        group = group << 6 | v;
        if (++digits == 4) {
            out.push_back(uint8_t(group >> 16));
            out.push_back(uint8_t(group >> 8));
            out.push_back(uint8_t(group));
            group = digits = 0;
        }
    }
    return true;  // digits left over without "=" are dropped
}

}  // namespace vyr::base_codecs
