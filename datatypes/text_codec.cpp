// Unicode conversions of text values (see text_codec.h).
#include "datatypes/text_codec.h"

#include <algorithm>
#include <cstring>

#include "datatypes/string_buffer.h"
#include "datatypes/text_errors.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace vyr::text_codec {

using memory::SeriesBuffer;

namespace {

// The value's conversion buffer with room for `size` bytes; answers its
// first data byte.
uint8_t* conversion_buffer(Cell& value, size_t size) {
    if (size > memory::max_series_bytes) text_errors::raise_no_memory();
    if (value.w3 == no_node) {
        value.w3 = memory::alloc_bytes(uint32_t(size));
    } else if (memory::buffer_of(value.w3)->capacity < size) {
        memory::expand_series(value.w3, uint32_t(size));
    }
    return memory::buffer_of(value.w3)->data();
}

// Characters to convert: from the index to the tail, cut to `limit` when it
// is 0 or more.
uint32_t limited_count(Cell& value, int32_t limit) {
    uint32_t count = string_t::length_at(value);
    if (limit >= 0 && uint32_t(limit) < count) count = uint32_t(limit);
    return count;
}

// Address of the unit at the value's index (an index past the tail reads
// as the tail).
const uint8_t* units_at_index(const Cell& value) {
    Cell v = value;
    return string_t::position(v);
}

// Room in `node` for `bytes` bytes from its head.
SeriesBuffer* room_from_head(NodeId node, uint64_t bytes) {
    SeriesBuffer* b = memory::buffer_of(node);
    if (uint64_t(b->head) + bytes <= b->capacity) return b;
    if (bytes > memory::max_series_bytes) text_errors::raise_no_memory();
    return memory::expand_series(node, uint32_t(std::max<uint64_t>(bytes, 16)));
}

}  // namespace

// ---- Text value to UTF-8 -------------------------------------------------------

const uint8_t* to_utf8(Cell& value, int32_t& length) { return to_utf8_crlf(value, length, false); }

const uint8_t* to_utf8_crlf(Cell& value, int32_t& length, bool crlf) {
    uint32_t count = limited_count(value, length);
    unsigned width = string_t::buffer_of(value)->unit();
    uint8_t* dst = conversion_buffer(value, unicode::utf8_conversion_size(count, width));
    length = int32_t(unicode::utf8_encode_units(units_at_index(value), count, width, dst, crlf, true));
    return dst;
}

size_t utf8_encode_string(const Cell& value, uint8_t* dst, int32_t limit, bool nul) {
    Cell v = value;
    uint32_t count = limited_count(v, limit);
    return unicode::utf8_encode_units(units_at_index(v), count, string_t::buffer_of(v)->unit(), dst, false, nul);
}

size_t utf8_encode_string_budget(const Cell& value, uint8_t* dst, ptrdiff_t budget, int32_t limit, bool nul) {
    Cell v = value;
    uint32_t count = limited_count(v, limit > 0 ? limit : -1);
    return unicode::utf8_encode_units_budget(units_at_index(v), count, string_t::buffer_of(v)->unit(), dst, budget,
                                             nul);
}

// ---- External text to a string buffer -----------------------------------------

NodeId utf8_to_string(const uint8_t* src, size_t n, NodeId target, size_t* remaining, bool fold_cr) {
    if (remaining) *remaining = 0;
    unsigned min_width = target ? string_t::unit_of(target) : 1;
    if (!unicode::valid_unit_width(min_width)) unicode::bad_unit_width();
    if (n == 0) return target ? target : memory::alloc_series(1, 1, 0);
    unicode::Utf8Extent e = unicode::utf8_measure(src, n, min_width, fold_cr);
    if (!target) target = memory::alloc_series(uint32_t(std::max<size_t>(e.units, 1)), e.width, 0);
    SeriesBuffer* b = room_from_head(target, uint64_t(e.units) * e.width);
    memory::set_unit_width(target, e.width);
    size_t units = unicode::utf8_decode_units(src, e.consumed, b->head_ptr(), e.width, fold_cr);
    b->tail = b->head + uint32_t(units * e.width);
    if (remaining) *remaining = n - e.consumed;
    return target;
}

void append_utf8_lenient(NodeId text, const uint8_t* bytes, size_t size, bool fold_crlf) {
    constexpr uint32_t replacement = 0xFFFD;
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + size;
    while (p < end) {
        if (fold_crlf && *p == '\r' && p + 1 < end && p[1] == '\n') {
            ++p;
            continue;
        }
        int32_t cp;
        const uint8_t* next = unicode::utf8_decode_step(p, end, cp);
        if (cp < 0 || next <= p) {
            string_t::append_code_point(text, replacement);
            ++p;
        } else {
            string_t::append_code_point(text, uint32_t(cp));
            p = next;
        }
    }
}


NodeId utf8_to_string_into(const uint8_t* src, size_t n, const Cell& value, size_t* remaining) {
    return utf8_to_string(src, n, string_t::node_of(value), remaining, false);
}

NodeId utf8_to_new_string(const uint8_t* src, size_t n) { return utf8_to_string(src, n, no_node, nullptr, false); }

NodeId utf16_to_string(const uint8_t* src, size_t units, Cell* value, bool drop_cr) {
    // Without a source the text is in the value's conversion buffer, which
    // stays where it is while the value's own buffer grows.
    if (!src) src = memory::buffer_of(value->w3)->data();
    unsigned width = unicode::utf16_unit_width(src, units);
    NodeId node;
    if (!value) {
        node = units ? memory::alloc_series(uint32_t(units), width, 0) : memory::alloc_series(1, 2, 0);
    } else {
        node = string_t::node_of(*value);
        room_from_head(node, uint64_t(units) * width);
        memory::set_unit_width(node, width);
    }
    SeriesBuffer* b = memory::buffer_of(node);
    size_t written = unicode::utf16_decode_units(src, units, b->head_ptr(), width, drop_cr);
    b->tail = b->head + uint32_t(written * width);
    return node;
}

void raise_invalid_utf8_tail(const uint8_t* p, size_t n) {
    NodeId node = memory::alloc_bytes(uint32_t(n));
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), p, n);
    b->tail = b->head + uint32_t(n);
    Cell arg{type_binary, 0, node, 0};
    raise_error(err_cat::access, err_id::access::invalid_utf8, &arg);
}

// ---- Text value to UTF-16LE ----------------------------------------------------

const uint8_t* to_utf16(Cell& value) {
    int32_t length = -1;
    return to_utf16_part(value, length, true);
}

const uint8_t* to_utf16_part(Cell& value, int32_t& length, bool crlf) {
    uint32_t count = limited_count(value, length);
    SeriesBuffer* b = string_t::buffer_of(value);
    unsigned width = b->unit();
    size_t size = size_t(count) * 2 + 2 + unicode::utf16_extra_bytes(units_at_index(value), count, width);
    uint8_t* dst = conversion_buffer(value, size);
    ptrdiff_t out = unicode::utf16_encode_units(units_at_index(value), count, width, dst, crlf);
    if (out < 0) return nullptr;
    length = int32_t(out);
    return dst;
}

// ---- Widening a buffer ---------------------------------------------------------

void widen_1_to_2(NodeId buffer) { string_t::widen_buffer_to(buffer, 1, 2); }
void widen_1_to_4(NodeId buffer) { string_t::widen_buffer_to(buffer, 1, 4); }
void widen_2_to_4(NodeId buffer) { string_t::widen_buffer_to(buffer, 2, 4); }

}  // namespace vyr::text_codec
