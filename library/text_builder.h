// Text assembled in C++ memory and handed to the language as one string!.
//
// The text codecs (JSON, CSV) write their output a character at a time and
// form or mold values in between. Building it outside the heap keeps a raw
// pointer into a moving series out of the loop; the units widen as the
// string buffers do (1 byte up to 127, 2 up to 65535, 4 above), so the
// finished string has the width a language-built one would have.
//
// Units: a view of one text's characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace vyr::library {

class TextBuilder {
public:
    explicit TextBuilder(size_t reserve = 0) { bytes_.reserve(reserve); }

    void append(uint32_t cp) {
        if (cp >= limit_) widen_for(cp);
        if (bytes_.capacity() - bytes_.size() < 4) grow();
        switch (width_) {
            case 1: bytes_.push_back(uint8_t(cp)); break;
            case 2: put<uint16_t>(uint16_t(cp)); break;
            default: put<uint32_t>(cp); break;
        }
    }
    // Units below 128 (of any width).
    template <typename Unit>
    void append_units(const Unit* units, size_t n) {
        if (width_ != 1) {
            for (size_t i = 0; i < n; ++i) append(units[i]);
            return;
        }
        if (bytes_.capacity() - bytes_.size() < n) grow(n);
        size_t at = bytes_.size();
        bytes_.resize(at + n);
        for (size_t i = 0; i < n; ++i) bytes_[at + i] = uint8_t(units[i]);
    }
    // The characters of UTF-8 text (checked: ill-formed text raises).
    void append_utf8(std::string_view utf8);
    // ASCII bytes.
    void append_ascii(const char* text, size_t n) { append_units(reinterpret_cast<const uint8_t*>(text), n); }
    void append_ascii(const char* text);
    // The characters of a text value from its index to its tail.
    void append_text(const Cell& text);
    // The form (or mold) of any value, made by its datatype's action.
    void append_formed(const Cell& value, bool mold);

    size_t length() const { return (spilled_ + bytes_.size()) / width_; }
    unsigned width() const { return width_; }
    // The units, made contiguous first.
    const uint8_t* data() {
        flatten();
        return bytes_.data();
    }
    uint32_t at(size_t i);
    // The text as a new string! cell (not rooted: root it before the next
    // safe point).
    Cell make_string() const;

private:
    template <typename T>
    void put(T unit) {
        size_t at = bytes_.size();
        bytes_.resize(at + sizeof(T));
        __builtin_memcpy(bytes_.data() + at, &unit, sizeof(T));
    }
    // Room for `more` bytes: a small text doubles; a large one goes on in a
    // new chunk, so long output is copied once, when it becomes a string.
    void grow(size_t more = 4);
    void flatten();
    void widen_for(uint32_t cp);

    std::vector<std::vector<uint8_t>> chunks_;  // filled chunks, oldest first
    size_t spilled_ = 0;                        // bytes in chunks_
    std::vector<uint8_t> bytes_;                // the chunk being written
    unsigned width_ = 1;
    uint32_t limit_ = 0x80;  // the first code point that needs a wider unit
};

// The characters of a text value from its index to its tail: a view of its
// buffer, valid until a safe point runs (readers that allocate while they
// walk it hold collection off) or the text itself changes.
struct Units {
    const uint8_t* bytes = nullptr;
    unsigned width = 1;
    size_t count = 0;

    static Units of(const Cell& text);
    uint32_t operator[](size_t i) const {
        switch (width) {
            case 1: return bytes[i];
            case 2: { uint16_t u; __builtin_memcpy(&u, bytes + 2 * i, 2); return u; }
            default: { uint32_t u; __builtin_memcpy(&u, bytes + 4 * i, 4); return u; }
        }
    }
};

// A new string! holding the units [from, to) of `units`, at the narrowest
// width that holds them.
Cell make_string_of(const Units& units, size_t from, size_t to);

}  // namespace vyr::library
