// Unicode conversions shared by the runtime: UTF-8 encoding and decoding of
// single code points. Text buffers hold 1, 2 or 4 bytes per code point.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vyr::unicode {

inline constexpr uint32_t replacement_char = 0xFFFD;

// Writes the UTF-8 form of `cp` to `out` (room for 4 bytes) and answers the
// number of bytes written. Surrogate code points and values beyond U+10FFFF
// cannot be encoded and are written as U+FFFD.
inline size_t utf8_encode(uint32_t cp, unsigned char* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement_char;
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace vyr::unicode
