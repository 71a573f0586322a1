// Unicode conversions over raw text buffers.
//
// Text inside the runtime is held in units of 1, 2 or 4 bytes, and every unit
// is a whole code point: width 1 holds U+0000-U+00FF, width 2 holds
// U+0000-U+FFFF as little-endian 16-bit values (never half of a surrogate
// pair), width 4 holds any code point. This module converts between that form
// and UTF-8 / UTF-16LE, measures and steps through UTF-8 for the lexer and the
// text types, and widens units in place when a character arrives that does
// not fit.
//
// Everything here works on spans the caller owns and never allocates. The
// string layer sizes its buffer with the measuring routines first, then
// converts once, so a conversion costs at most one allocation.
//
// Text from outside never ends the process: an ill-formed UTF-8 sequence met
// by the lenient decoder raises access error `invalid-utf8`; a broken UTF-16
// surrogate pair decodes to U+FFFD. A code point above U+10FFFF handed to an
// encoder raises script error `invalid-char`. A unit width other than 1, 2 or
// 4 is a fault of the runtime itself (runtime error 101).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vyr::unicode {

inline constexpr uint32_t replacement_char = 0xFFFD;
inline constexpr uint32_t max_code_point = 0x10FFFF;
inline constexpr uint32_t cr = 0x0D;
inline constexpr uint32_t lf = 0x0A;

// ---- Unit widths ----------------------------------------------------------

// The narrowest unit width (1, 2 or 4) that holds `cp`.
inline unsigned unit_width_of(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

inline bool valid_unit_width(unsigned width) { return width == 1 || width == 2 || width == 4; }

// Ends the process with runtime error 101: a width other than 1, 2 or 4
// reached a text loop, which only a fault of the runtime can cause.
[[noreturn]] void bad_unit_width();

// Unit `i` of a buffer of the given width (unaligned access is fine).
inline uint32_t load_unit(const void* data, size_t i, unsigned width) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (width == 1) return p[i];
    if (width == 2) {
        uint16_t u;
        std::memcpy(&u, p + i * 2, 2);
        return u;
    }
    if (width != 4) bad_unit_width();
    uint32_t u;
    std::memcpy(&u, p + i * 4, 4);
    return u;
}

// Stores `cp` as unit `i`; the caller has checked that it fits the width.
inline void store_unit(void* data, size_t i, unsigned width, uint32_t cp) {
    auto* p = static_cast<uint8_t*>(data);
    if (width == 1) {
        p[i] = uint8_t(cp);
    } else if (width == 2) {
        uint16_t u = uint16_t(cp);
        std::memcpy(p + i * 2, &u, 2);
    } else {
        if (width != 4) bad_unit_width();
        std::memcpy(p + i * 4, &cp, 4);
    }
}

// Widens `count` units at `data` from width `from` to width `to` (1->2, 1->4
// or 2->4; equal widths do nothing). The buffer must already have room for
// count x `to` bytes. Units are copied from the last down to the first, so the
// conversion runs in place; the caller then records the new width and tail.
void widen_in_place(void* data, size_t count, unsigned from, unsigned to);

// ---- Errors raised on text ------------------------------------------------

// Raises access error `invalid-utf8` for the ill-formed sequence at `p`, of
// which `available` bytes can be read.
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, size_t available);
// Raises script error `invalid-char` with the code point as an integer!.
[[noreturn]] void raise_invalid_char(uint32_t cp);

// ---- UTF-8: single characters ---------------------------------------------

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

// Byte count of the UTF-8 form of `cp`: 1 up to U+007F, 2 up to U+07FF, 3 up
// to U+FFFF, 4 up to U+10FFFF; above raises `invalid-char`.
unsigned utf8_char_length(uint32_t cp);

// Writes the 1-4 UTF-8 bytes of `cp` and answers their count. Unlike
// utf8_encode, a surrogate code point is written as its own 3-byte form (text
// decoded leniently keeps such values and must survive a round trip); a value
// above U+10FFFF raises `invalid-char`.
unsigned utf8_encode_char(uint32_t cp, uint8_t* dst);

// As utf8_encode_char, but writes only the first `budget` bytes of the
// sequence; answers the number written (0 for a budget of 0 or less).
unsigned utf8_encode_char_budget(uint32_t cp, uint8_t* dst, ptrdiff_t budget);

// Bytes a sequence announces by its lead byte: 4 when the top four bits are
// set, else 3 for the top three, else 2 for the top two, else 0 (ASCII and
// continuation bytes).
inline unsigned utf8_seq_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

// ---- UTF-8: strict stepping ----------------------------------------------

// The deterministic UTF-8 decoder's table: 256 class bytes, one per byte
// value, then 108 transition bytes indexed by state + class. States are
// multiples of 12; 0 accepts and 12 rejects.
inline constexpr size_t utf8_dfa_classes = 256;
inline constexpr size_t utf8_dfa_size = 364;
inline constexpr uint8_t utf8_accept = 0;
inline constexpr uint8_t utf8_reject = 12;
extern const std::array<uint8_t, utf8_dfa_size> utf8_dfa_table;

// Decodes one sequence at `p` (p < end) and answers the position after it.
// `cp` receives the code point, or -1 for an ill-formed sequence: exactly the
// well-formed forms are accepted (no overlongs, no surrogates, nothing above
// U+10FFFF). An ill-formed lead byte is consumed alone, a bad continuation
// byte with the bytes before it, and a sequence cut off by `end` up to `end`.
// Never raises.
const uint8_t* utf8_decode_step(const uint8_t* p, const uint8_t* end, int32_t& cp);

// Number of sequences utf8_decode_step takes from `start` to `end`.
size_t utf8_count_chars(const uint8_t* start, const uint8_t* end);

// The position `n` sequences after `p`, stopping early at `end`.
const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, size_t n);

// ---- UTF-8: lenient decoding of outside text ------------------------------

enum class Utf8Status : uint8_t { ok, incomplete, invalid };

struct Utf8Char {
    int32_t cp;       // the code point when ok, else -1
    uint32_t length;  // bytes consumed when ok, else 0
    Utf8Status status;
};

// Decodes one sequence leniently from `available` bytes at `p`: overlong
// forms are accepted, and so are surrogate values except U+DC00-U+DCFF.
// `incomplete` when fewer bytes are available than the lead byte announces;
// `invalid` for a stray continuation byte, an F8-FF lead, a missing
// continuation byte, U+DC00-U+DCFF or a value above U+10FFFF. Never raises.
Utf8Char utf8_decode_lenient(const uint8_t* p, size_t available);

// As utf8_decode_lenient, raising `invalid-utf8` for an invalid sequence.
// `length` is in: bytes available, out: bytes consumed. Answers the code
// point, or -1 (length 0) when the input ends inside the sequence.
int32_t utf8_decode_char(const uint8_t* p, size_t& length);

// How a run of UTF-8 bytes turns into units.
struct Utf8Extent {
    size_t consumed;  // bytes used; less than the count when the input ends inside a sequence
    size_t units;     // characters produced
    unsigned width;   // narrowest width holding them, never below the width asked for
};

// Measures `n` bytes of UTF-8 for utf8_decode_units. A leading byte-order
// mark EF BB BF is skipped. With `fold_cr`, CR LF becomes LF and a lone CR
// becomes LF. Decoding stops before a sequence cut off by the end of the
// input (the caller keeps those bytes for the next read). Raises
// `invalid-utf8` on an invalid sequence.
Utf8Extent utf8_measure(const uint8_t* src, size_t n, unsigned min_width, bool fold_cr);

// Decodes the bytes utf8_measure measured into units of `width` at `dst`
// (room for extent.units units at a width of at least extent.width) and
// answers the number of units written.
size_t utf8_decode_units(const uint8_t* src, size_t n, void* dst, unsigned width, bool fold_cr);

// ---- Units to UTF-8 ---------------------------------------------------

// Sum of utf8_char_length over `count` units.
size_t utf8_range_length(const void* src, size_t count, unsigned width);

// Room that utf8_encode_units needs at most, with CRs added and the NUL:
// (count + 1) x 2, 3 or 4 for widths 1, 2 and 4.
size_t utf8_conversion_size(size_t count, unsigned width);

// Encodes `count` units as UTF-8 at `dst`; with `crlf` a CR goes before every
// LF, with `nul` a NUL byte follows. Answers the byte count without the NUL.
// A unit above U+10FFFF raises `invalid-char`.
size_t utf8_encode_units(const void* src, size_t count, unsigned width, uint8_t* dst, bool crlf, bool nul);

// As utf8_encode_units without line-end conversion, writing no more than
// `budget` bytes: the output may stop inside a character. The NUL is written
// only when it fits in the budget too.
size_t utf8_encode_units_budget(const void* src, size_t count, unsigned width, uint8_t* dst, ptrdiff_t budget,
                                bool nul);

// ---- UTF-16LE ---------------------------------------------------------

// Narrowest unit width for `units` UTF-16LE units at `src`: 4 as soon as a
// surrogate (high byte D8-DF) is met, else 2 when any unit has a nonzero high
// byte, else 1.
unsigned utf16_unit_width(const uint8_t* src, size_t units);

// Decodes `units` UTF-16LE units into units of `width` (the answer of
// utf16_unit_width) at `dst` and answers the number written. At width 4 a
// high surrogate followed by a low one gives one code point; a high surrogate
// without its low half gives U+FFFD, and a lone low surrogate is kept as its
// own value. With `drop_cr` every CR unit is left out.
size_t utf16_decode_units(const uint8_t* src, size_t units, void* dst, unsigned width, bool drop_cr);

// Writes `cp` as UTF-16LE: one unit below U+10000 (answers 1), a surrogate
// pair up to U+10FFFF (answers 2), nothing above (answers 0).
unsigned utf16_encode_char(uint32_t cp, uint8_t* dst);

// Extra bytes UTF-16 needs beyond 2 per unit: 2 for every LF (its CR) and 2
// for every code point of U+10000 or more (its second surrogate).
size_t utf16_extra_bytes(const void* src, size_t count, unsigned width);

// Encodes `count` units as UTF-16LE at `dst` (room for count x 2 + 2 +
// utf16_extra_bytes bytes); with `crlf` a CR goes before every LF; a 16-bit
// NUL follows. Answers the UTF-16 units written without the NUL, or -1 when
// a unit holds a value above U+10FFFF.
ptrdiff_t utf16_encode_units(const void* src, size_t count, unsigned width, uint8_t* dst, bool crlf);

}  // namespace vyr::unicode
