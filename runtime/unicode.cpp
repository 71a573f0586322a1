#include "runtime/unicode.h"

#include <initializer_list>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime_error.h"

namespace vyr::unicode {

namespace {
// UTF-16 surrogate ranges, tested on a unit's high byte.
constexpr uint32_t surrogate_first = 0xD800;
constexpr uint32_t low_surrogate_first = 0xDC00;
constexpr uint32_t surrogate_last = 0xDFFF;
constexpr uint32_t surrogate_payload = 0x3FF;
constexpr uint32_t supplementary_first = 0x10000;

bool is_high_surrogate(uint32_t u) { return (u >> 8) >= 0xD8 && (u >> 8) <= 0xDB; }
bool is_low_surrogate(uint32_t u) { return (u >> 8) >= 0xDC && (u >> 8) <= 0xDF; }
bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }
}  // namespace

void bad_unit_width() { runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION()); }

// ---- Errors -----------------------------------------------------------------

// The error's argument is a binary! of the (up to) four bytes that start the
// sequence.
void raise_invalid_utf8(const uint8_t* p, size_t available) {
    constexpr size_t shown = 4;
    uint32_t n = uint32_t(available < shown ? available : shown);
    NodeId node = memory::alloc_bytes(n);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), p, n);
    b->tail = b->head + n;
    Cell arg{type_binary, 0, node, 0};
    raise_error(err_cat::access, err_id::access::invalid_utf8, &arg);
}

void raise_invalid_char(uint32_t cp) {
    Cell arg{type_integer, 0, cp, 0};
    raise_error(err_cat::script, err_id::script::invalid_char, &arg);
}

// ---- Widening -----------------------------------------------------------

namespace {
template <typename From, typename To>
void widen_units(uint8_t* data, size_t count) {
    for (size_t i = count; i-- > 0;) {
        From f;
        std::memcpy(&f, data + i * sizeof(From), sizeof f);
        To t = f;
        std::memcpy(data + i * sizeof(To), &t, sizeof t);
    }
}
}  // namespace

void widen_in_place(void* data, size_t count, unsigned from, unsigned to) {
    auto* p = static_cast<uint8_t*>(data);
    if (from == to && valid_unit_width(from)) return;
    if (from == 1 && to == 2) return widen_units<uint8_t, uint16_t>(p, count);
    if (from == 1 && to == 4) return widen_units<uint8_t, uint32_t>(p, count);
    if (from == 2 && to == 4) return widen_units<uint16_t, uint32_t>(p, count);
    bad_unit_width();
}

// ---- UTF-8: single characters ---------------------------------------------

unsigned utf8_char_length(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= max_code_point) return 4;
    raise_invalid_char(cp);
}

unsigned utf8_encode_char(uint32_t cp, uint8_t* dst) {
    unsigned n = utf8_char_length(cp);
    static constexpr uint8_t lead_bits[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (unsigned k = n - 1; k > 0; --k) {
        dst[k] = uint8_t(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    dst[0] = uint8_t(lead_bits[n] | cp);
    return n;
}

unsigned utf8_encode_char_budget(uint32_t cp, uint8_t* dst, ptrdiff_t budget) {
    uint8_t bytes[4];
    unsigned n = utf8_encode_char(cp, bytes);
    if (budget <= 0) return 0;
    if (ptrdiff_t(n) > budget) n = unsigned(budget);
    std::memcpy(dst, bytes, n);
    return n;
}

// ---- UTF-8: strict stepping ----------------------------------------------

namespace {
// Byte classes by range, then the transitions of each state by class.
constexpr std::array<uint8_t, utf8_dfa_size> make_dfa_table() {
    std::array<uint8_t, utf8_dfa_size> t{};
    auto klass = [&t](int first, int last, uint8_t c) {
        for (int b = first; b <= last; ++b) t[size_t(b)] = c;
    };
    klass(0x00, 0x7F, 0);
    klass(0x80, 0x8F, 1);
    klass(0x90, 0x9F, 9);
    klass(0xA0, 0xBF, 7);
    klass(0xC0, 0xC1, 8);
    klass(0xF5, 0xFF, 8);
    klass(0xC2, 0xDF, 2);
    klass(0xE0, 0xE0, 10);
    klass(0xE1, 0xEC, 3);
    klass(0xEE, 0xEF, 3);
    klass(0xED, 0xED, 4);
    klass(0xF0, 0xF0, 11);
    klass(0xF1, 0xF3, 6);
    klass(0xF4, 0xF4, 5);

    uint8_t* tr = t.data() + utf8_dfa_classes;
    for (int i = 0; i < 108; ++i) tr[i] = utf8_reject;
    const uint8_t from_start[12] = {0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72};
    for (int c = 0; c < 12; ++c) tr[c] = from_start[c];
    auto go = [tr](int state, std::initializer_list<int> classes, uint8_t next) {
        for (int c : classes) tr[state + c] = next;
    };
    go(24, {1, 7, 9}, 0);   // one continuation byte expected
    go(36, {1, 7, 9}, 24);  // two expected
    go(48, {7}, 24);        // after E0: A0-BF
    go(60, {1, 9}, 24);     // after ED: 80-9F
    go(72, {7, 9}, 36);     // after F0: 90-BF
    go(84, {1, 7, 9}, 36);  // after F1-F3: three expected
    go(96, {1}, 36);        // after F4: 80-8F
    return t;
}
}  // namespace

constinit const std::array<uint8_t, utf8_dfa_size> utf8_dfa_table = make_dfa_table();

// The first byte contributes the bits its class leaves free; each further
// byte six more. The walk stops at `end` as well, so a sequence cut off by
// the end of the buffer never reads past it.
const uint8_t* utf8_decode_step(const uint8_t* p, const uint8_t* end, int32_t& cp) {
    const uint8_t* transitions = utf8_dfa_table.data() + utf8_dfa_classes;
    uint8_t byte = *p++;
    uint8_t klass = utf8_dfa_table[byte];
    uint32_t code = (0xFFu >> klass) & byte;
    uint8_t state = transitions[klass];
    while (state != utf8_accept && state != utf8_reject) {
        if (p == end) {
            cp = -1;
            return p;
        }
        byte = *p++;
        code = (code << 6) | (byte & 0x3Fu);
        state = transitions[state + utf8_dfa_table[byte]];
    }
    cp = state == utf8_accept ? int32_t(code) : -1;
    return p;
}

size_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
    size_t n = 0;
    int32_t cp;
    for (const uint8_t* p = start; p < end; ++n) p = utf8_decode_step(p, end, cp);
    return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, size_t n) {
    int32_t cp;
    for (; n > 0 && p < end; --n) p = utf8_decode_step(p, end, cp);
    return p;
}

// ---- UTF-8: lenient decoding -----------------------------------------------

namespace {
constexpr Utf8Char incomplete_char{-1, 0, Utf8Status::incomplete};
constexpr Utf8Char invalid_char{-1, 0, Utf8Status::invalid};

// Folds `n - 1` continuation bytes after the lead's payload bits; false when
// one of them is not a continuation byte.
bool gather(const uint8_t* p, unsigned n, uint32_t lead_bits, uint32_t& cp) {
    cp = lead_bits;
    for (unsigned k = 1; k < n; ++k) {
        if (!is_continuation(p[k])) return false;
        cp = (cp << 6) | (p[k] & 0x3Fu);
    }
    return true;
}
}  // namespace

Utf8Char utf8_decode_lenient(const uint8_t* p, size_t available) {
    if (available == 0) return incomplete_char;
    uint8_t lead = p[0];
    if (lead < 0x80) return {lead, 1, Utf8Status::ok};
    unsigned n;
    uint32_t lead_bits;
    if (lead < 0xC0) return invalid_char;  // a continuation byte cannot start a sequence
    if (lead < 0xE0) {
        n = 2, lead_bits = lead & 0x1Fu;
    } else if (lead < 0xF0) {
        n = 3, lead_bits = lead & 0x0Fu;
    } else if (lead < 0xF8) {
        n = 4, lead_bits = lead & 0x07u;
    } else {
        return invalid_char;
    }
    if (available < n) return incomplete_char;
    uint32_t cp;
    if (!gather(p, n, lead_bits, cp)) return invalid_char;
    if (n == 3 && cp >= low_surrogate_first && cp <= 0xDCFF) return invalid_char;
    if (cp > max_code_point) return invalid_char;
    return {int32_t(cp), n, Utf8Status::ok};
}

int32_t utf8_decode_char(const uint8_t* p, size_t& length) {
    Utf8Char c = utf8_decode_lenient(p, length);
    if (c.status == Utf8Status::invalid) raise_invalid_utf8(p, length);
    length = c.length;
    return c.cp;
}

namespace {
constexpr uint8_t byte_order_mark[3] = {0xEF, 0xBB, 0xBF};

// Walks `n` bytes of UTF-8 as utf8_measure describes and hands each resulting
// code point to `emit`; answers the bytes consumed. Measuring and decoding
// share this walk, so they always agree on where the text ends.
template <typename Emit>
size_t scan_utf8(const uint8_t* src, size_t n, bool fold_cr, Emit&& emit) {
    size_t i = 0;
    if (n >= 3 && std::memcmp(src, byte_order_mark, 3) == 0) i = 3;
    while (i < n) {
        Utf8Char c = utf8_decode_lenient(src + i, n - i);
        if (c.status == Utf8Status::incomplete) break;
        if (c.status == Utf8Status::invalid) raise_invalid_utf8(src + i, n - i);
        i += c.length;
        uint32_t cp = uint32_t(c.cp);
        if (fold_cr && cp == cr) {
            if (i < n && src[i] == lf) continue;  // CR LF: the LF stands for both
            cp = lf;
        }
        emit(cp);
    }
    return i;
}
}  // namespace

Utf8Extent utf8_measure(const uint8_t* src, size_t n, unsigned min_width, bool fold_cr) {
    Utf8Extent e{0, 0, min_width};
    uint32_t widest = 0;
    e.consumed = scan_utf8(src, n, fold_cr, [&](uint32_t cp) {
        widest |= cp;
        ++e.units;
    });
    unsigned need = unit_width_of(widest);  // the OR has the same top bit as the largest value
    if (need > e.width) e.width = need;
    return e;
}

size_t utf8_decode_units(const uint8_t* src, size_t n, void* dst, unsigned width, bool fold_cr) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t units = 0;
    scan_utf8(src, n, fold_cr, [&](uint32_t cp) { store_unit(dst, units++, width, cp); });
    return units;
}

// ---- Units to UTF-8 ---------------------------------------------------

size_t utf8_range_length(const void* src, size_t count, unsigned width) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) bytes += utf8_char_length(load_unit(src, i, width));
    return bytes;
}

size_t utf8_conversion_size(size_t count, unsigned width) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t per_char = width == 1 ? 2 : width == 2 ? 3 : 4;
    return (count + 1) * per_char;
}

size_t utf8_encode_units(const void* src, size_t count, unsigned width, uint8_t* dst, bool crlf, bool nul) {
    if (!valid_unit_width(width)) bad_unit_width();
    uint8_t* out = dst;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = load_unit(src, i, width);
        if (crlf && cp == lf) *out++ = uint8_t(cr);
        out += utf8_encode_char(cp, out);
    }
    if (nul) *out = 0;
    return size_t(out - dst);
}

size_t utf8_encode_units_budget(const void* src, size_t count, unsigned width, uint8_t* dst, ptrdiff_t budget,
                                bool nul) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t written = 0;
    for (size_t i = 0; i < count && budget > 0; ++i) {
        unsigned n = utf8_encode_char_budget(load_unit(src, i, width), dst + written, budget);
        written += n;
        budget -= n;
    }
    if (nul && budget > 0) dst[written] = 0;
    return written;
}

// ---- UTF-16LE ---------------------------------------------------------

namespace {
uint32_t load_utf16(const uint8_t* src, size_t i) { return uint32_t(src[2 * i]) | uint32_t(src[2 * i + 1]) << 8; }

void store_utf16(uint8_t* dst, uint32_t u) {
    dst[0] = uint8_t(u);
    dst[1] = uint8_t(u >> 8);
}
}  // namespace

unsigned utf16_unit_width(const uint8_t* src, size_t units) {
    unsigned width = 1;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = load_utf16(src, i);
        if (u >= surrogate_first && u <= surrogate_last) return 4;
        if (u > 0xFF) width = 2;
    }
    return width;
}

// A high surrogate needs its low half right after it; without one the pair
// is broken and the character becomes U+FFFD rather than stopping the read.
size_t utf16_decode_units(const uint8_t* src, size_t units, void* dst, unsigned width, bool drop_cr) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t out = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = load_utf16(src, i);
        if (drop_cr && u == cr) continue;
        if (width == 4 && is_high_surrogate(u)) {
            if (i + 1 < units && is_low_surrogate(load_utf16(src, i + 1))) {
                uint32_t low = load_utf16(src, ++i);
                u = (((u & surrogate_payload) << 10) | (low & surrogate_payload)) + supplementary_first;
            } else {
                u = replacement_char;
            }
        }
        store_unit(dst, out++, width, u);
    }
    return out;
}

unsigned utf16_encode_char(uint32_t cp, uint8_t* dst) {
    if (cp < supplementary_first) {
        store_utf16(dst, cp);
        return 1;
    }
    if (cp > max_code_point) return 0;
    cp -= supplementary_first;
    store_utf16(dst, surrogate_first | (cp >> 10));
    store_utf16(dst + 2, low_surrogate_first | (cp & surrogate_payload));
    return 2;
}

size_t utf16_extra_bytes(const void* src, size_t count, unsigned width) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t extra = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = load_unit(src, i, width);
        if (cp == lf || cp >= supplementary_first) extra += 2;
    }
    return extra;
}

ptrdiff_t utf16_encode_units(const void* src, size_t count, unsigned width, uint8_t* dst, bool crlf) {
    if (!valid_unit_width(width)) bad_unit_width();
    size_t out = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = load_unit(src, i, width);
        if (crlf && cp == lf) store_utf16(dst + 2 * out++, cr);
        unsigned n = utf16_encode_char(cp, dst + 2 * out);
        if (n == 0) return -1;
        out += n;
    }
    store_utf16(dst + 2 * out, 0);
    return ptrdiff_t(out);
}

}  // namespace vyr::unicode
