// binary!: byte helpers, conversion to bytes, hexadecimal form and mold,
// comparison, the bitwise actions, append/insert, change, trim and
// registration. The base codecs are in runtime/base_codecs.cpp.
//
// append, insert and change convert their material to bytes before they
// touch the series, so a value that raises (an integer out of range) leaves
// the binary as it was, and material taken from the binary itself is read
// as it was before the change.
#include "datatypes/binary.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/base_codecs.h"
#include "datatypes/bitset.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::binary_t {

using memory::SeriesBuffer;
using namespace registry;

namespace {

constexpr uint32_t default_capacity = 16;
// Molded binaries longer than this break into lines of bytes_per_line bytes.
constexpr uint32_t one_line_limit = 30;
constexpr uint32_t bytes_per_line = 32;
constexpr char hex[] = "0123456789ABCDEF";

SeriesBuffer* buffer_of(const Cell& v) { return memory::buffer_of(v.w2); }
uint32_t used_of(const Cell& v) { return buffer_of(v)->length(); }

// Sets an index past the tail to the tail (a negative one to 0); answers it.
uint32_t clamp(Cell& v) {
    string_t::length_at(v);
    return v.w1;
}


// The bytes of a binary! value from its index.
struct Bytes {
    const uint8_t* p;
    uint32_t n;
};
Bytes bytes_of(const Cell& value) {
    Cell v = value;
    uint32_t n = byte_length(v);
    return {buffer_of(v)->head_ptr() + v.w1, n};
}

// The bytes of a tuple! (its count in the header, the bytes from byte 4 of
// the cell on).
Bytes tuple_bytes(const Cell& tuple) {
    uint32_t n = (tuple.header & header::tuple_size_mask) >> header::tuple_size_shift;
    return {reinterpret_cast<const uint8_t*>(&tuple) + 4, std::min<uint32_t>(n, 12)};
}

void append_cut(std::vector<uint8_t>& out, const uint8_t* p, size_t n, int32_t limit) {
    if (limit > 0 && n > size_t(limit)) n = size_t(limit);
    out.insert(out.end(), p, p + n);
}

// The UTF-8 of a text value from its index, cut to `limit` bytes.
void append_utf8_of(std::vector<uint8_t>& out, const Cell& text, int32_t limit) {
    Cell t = text;
    uint32_t count = string_t::length_at(t);
    SeriesBuffer* b = string_t::buffer_of(t);
    const uint8_t* src = b->head_ptr() + size_t(t.w1) * b->unit();
    std::vector<uint8_t> utf8(unicode::utf8_range_length(src, count, b->unit()));
    unicode::utf8_encode_units(src, count, b->unit(), utf8.data(), false, false);
    append_cut(out, utf8.data(), utf8.size(), limit);
}

// Makes room for n bytes at byte `at` (from the head) of the binary's
// buffer, moving the bytes from there to the tail up. A buffer that must
// grow gets 2 x capacity + n bytes. Answers the address of the room.
uint8_t* open_gap(const Cell& bin, uint32_t at, uint32_t n) {
    SeriesBuffer* b = buffer_of(bin);
    uint64_t need = uint64_t(b->used()) + n;
    if (need > memory::max_series_bytes) text_errors::raise_no_memory();
    if (b->head + need > b->capacity) {
        uint64_t size = std::max<uint64_t>(uint64_t(b->capacity) * 2 + n, need);
        b = memory::expand_series(bin.w2, uint32_t(std::min<uint64_t>(size, memory::max_series_bytes)));
    }
    uint8_t* p = b->head_ptr() + at;
    std::memmove(p + n, p, size_t(b->tail_ptr() - p));
    b->tail += n;
    return p;
}

// Writes `count` copies of the n bytes at `dst` (room for n x count), by
// doubling copies.
void fill_repeat(uint8_t* dst, const uint8_t* src, size_t n, size_t count) {
    if (n == 0 || count == 0) return;
    std::memcpy(dst, src, n);
    size_t done = n, want = n * count;
    while (done * 2 <= want) {
        std::memcpy(dst + done, dst, done);
        done *= 2;
    }
    std::memcpy(dst + done, dst, want - done);
}

// A size beyond the largest series raises internal `no-memory`.
uint64_t checked_size(uint64_t bytes) {
    if (bytes > memory::max_series_bytes) text_errors::raise_no_memory();
    return bytes;
}
// n x dup bytes.
uint32_t repeated_size(size_t n, int32_t dup) { return uint32_t(checked_size(uint64_t(n) * uint64_t(std::max(dup, 1)))); }

bool equality_q(int32_t op) { return op == op_equal || op == op_not_equal || op == op_strict_equal || op == op_find; }

}  // namespace

// ---- Making --------------------------------------------------------------------

Cell* make_at(Cell& cell, uint32_t capacity) {
    cell = make_cell(memory::alloc_bytes(capacity));
    return &cell;
}

Cell* make_in_block(const Cell& block, uint32_t capacity) {
    NodeId node = memory::alloc_bytes(capacity);
    Cell* c = series::append_cell(block);
    *c = make_cell(node);
    return c;
}

Cell* load(const uint8_t* src, uint32_t n, const Cell* block) {
    NodeId node = memory::alloc_bytes(n);
    SeriesBuffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->head_ptr(), src, n);
    b->tail = b->head + n;
    Cell* c = block ? series::append_cell(*block) : stack::push_cell();
    *c = make_cell(node);
    return c;
}

Cell* push_bytes(const uint8_t* src, uint32_t n) { return load(src, n, nullptr); }

Cell* push_copy(const Cell& value) { return stack::push_copy(value); }

// ---- Writing bytes ---------------------------------------------------------------

namespace {
// Whether `src` lies in the binary's buffer (a growth would move it).
bool inside_q(const Cell& bin, const uint8_t* src) {
    SeriesBuffer* b = buffer_of(bin);
    return src >= b->data() && src < b->end_ptr();
}
}  // namespace

void append_bytes(const Cell& bin, const uint8_t* src, uint32_t n) {
    Cell v = bin;
    uint32_t index = clamp(v);
    insert_bytes(v, used_of(v) - index, src, n);
}

uint8_t* insert_bytes(const Cell& bin, uint32_t offset, const uint8_t* src, uint32_t n) {
    Cell v = bin;
    uint32_t at = uint32_t(std::min<uint64_t>(uint64_t(clamp(v)) + offset, used_of(v)));
    std::vector<uint8_t> copy;
    if (inside_q(v, src)) {
        copy.assign(src, src + n);
        src = copy.data();
    }
    uint8_t* p = open_gap(v, at, n);
    if (n) std::memcpy(p, src, n);
    return p;
}

void write_bytes_at(const Cell& bin, uint32_t offset, const uint8_t* src, uint32_t n) {
    Cell v = bin;
    uint64_t at = uint64_t(clamp(v)) + offset;
    uint64_t end = at + n;
    if (end > memory::max_series_bytes) text_errors::raise_no_memory();
    std::vector<uint8_t> copy(src, src + n);  // the source may lie in the buffer
    SeriesBuffer* b = buffer_of(v);
    if (b->head + end > b->capacity) {
        uint64_t over = b->head + end - b->capacity;
        uint64_t size = std::min<uint64_t>(uint64_t(b->capacity) * 2 + over, memory::max_series_bytes);
        b = memory::expand_series(v.w2, uint32_t(std::max<uint64_t>(size, end)));
    }
    if (at > b->used()) std::memset(b->tail_ptr(), 0, size_t(at - b->used()));
    if (n) std::memcpy(b->head_ptr() + at, copy.data(), n);
    if (b->head + end > b->tail) b->tail = b->head + uint32_t(end);
}

void append_int32(int32_t value, const Cell& bin) {
    uint32_t u = uint32_t(value);
    uint8_t bytes[4] = {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
    append_bytes(bin, bytes, 4);
}

// ---- Reading ---------------------------------------------------------------------

uint32_t byte_length(Cell& value) { return string_t::length_at(value); }

uint8_t* head_ptr(const Cell& value) {
    Cell v = value;
    return buffer_of(v)->head_ptr() + clamp(v);
}

uint8_t* tail_ptr(const Cell& value) { return buffer_of(value)->tail_ptr(); }

bool tail_q(const Cell& value) { return int64_t(int32_t(value.w1)) >= int64_t(used_of(value)); }

void clear_at(const Cell& value) {
    Cell v = value;
    SeriesBuffer* b = buffer_of(v);
    b->tail = b->head + clamp(v);
}

void skip(Cell& value, int32_t n) {
    int64_t wanted = int64_t(int32_t(value.w1)) + n;
    if (wanted >= 0 && wanted <= used_of(value)) value.w1 = uint32_t(wanted);
}

void next(Cell& value) { skip(value, 1); }

uint8_t get_byte(const Cell& value, uint32_t position) { return buffer_of(value)->head_ptr()[position]; }

uint8_t byte_from_value(const Cell& value) {
    uint32_t t = type_of(value);
    if (t != type_integer && t != type_char) text_errors::raise_invalid_arg(value);
    return uint8_t(value.w2);
}

bool byte_in_bitset_q(const Cell& value, const Cell& bitset) {
    if (tail_q(value)) return false;
    return bitset_t::member_q(bitset, get_byte(value, value.w1));
}

bool match_at_q(const Cell& value, const Cell& other, int32_t op) {
    uint32_t t = type_of(other);
    if (t == type_char) return !tail_q(value) && get_byte(value, value.w1) == other.w2;
    if (t == type_binary || string_t::string_like_q(t)) return compare_bytes(value, other, op, true) == 0;
    return false;
}

int32_t compare_bytes(const Cell& a, const Cell& b, int32_t op, bool match) {
    uint32_t bt = type_of(b);
    if (bt != type_binary && !string_t::string_like_q(bt)) return not_comparable;
    if (bt == type_binary && a.w2 == b.w2 && a.w1 == b.w1) {
        if (op == op_same || equality_q(op)) return 0;
    } else if (op == op_same) {
        return -1;
    }
    Bytes x = bytes_of(a);
    std::vector<uint8_t> text;
    Bytes y;
    if (bt == type_binary) {
        y = bytes_of(b);
    } else {
        append_utf8_of(text, b, 0);
        y = {text.data(), uint32_t(text.size())};
    }
    if (match) {
        if (y.n == 0) return op == op_equal || op == op_strict_equal || op == op_find ? 0 : 1;
        if (x.n < y.n) return 1;  // fewer bytes than the pattern: no match
        return std::memcmp(x.p, y.p, y.n) == 0 ? 0 : 1;
    }
    if (x.n != y.n && equality_q(op)) return 1;
    int d = std::memcmp(x.p, y.p, std::min(x.n, y.n));
    if (d != 0) return d < 0 ? -1 : 1;
    return x.n < y.n ? -1 : x.n > y.n ? 1 : 0;
}

// ---- Conversion of values to bytes -------------------------------------------------

uint32_t value_bytes(std::vector<uint8_t>& out, const Cell& value, int32_t limit, bool byte_limit, Others others) {
    size_t before = out.size();
    uint32_t t = type_of(value);
    switch (t) {
        case type_char: {
            uint8_t utf8[4];
            unsigned n = unicode::utf8_encode_char(value.w2, utf8);  // above U+10FFFF: invalid-char
            append_cut(out, utf8, n, limit);
            break;
        }
        case type_integer: {
            int32_t n = int32_t(value.w2);
            if (n > 255 || n < -128) text_errors::raise_invalid_arg(value);
            out.push_back(uint8_t(n));
            break;
        }
        case type_binary: {
            Bytes b = bytes_of(value);
            append_cut(out, b.p, b.n, limit);
            break;
        }
        case type_tuple: {
            Bytes b = tuple_bytes(value);
            append_cut(out, b.p, b.n, limit);
            break;
        }
        case type_block: case type_paren: case type_hash: {
            // A block that holds itself is walked until the cycle stack is
            // full, which raises `too-deep`.
            series::CycleGuard guard;
            series::cycle_push(value.w2);
            int32_t left = limit;
            for (uint32_t i = value.w1; i < memory::series_length(value.w2); ++i) {
                Cell element = *memory::cell_at(value.w2, i);
                uint32_t n = value_bytes(out, element, byte_limit ? left : 0, byte_limit, others);
                if (left > 0) {
                    left -= byte_limit ? int32_t(n) : 1;
                    if (left <= 0) break;
                }
            }
            break;
        }
        default:
            if (string_t::string_like_q(t)) {
                append_utf8_of(out, value, limit);
            } else if (others == Others::form) {
                Cell formed;
                string_t::make_at(formed, default_capacity);
                Cell v = value;
                string_t::form_value(v, formed, INT32_MAX, false);
                append_utf8_of(out, formed, limit);
            } else {
                text_errors::raise_bad_to_arg(type_binary, value);
            }
    }
    return uint32_t(out.size() - before);
}

// ---- to ----------------------------------------------------------------------------

namespace {

// A new binary! holding the bytes.
Cell binary_of(const uint8_t* p, size_t n) {
    Cell c;
    make_at(c, uint32_t(n));
    SeriesBuffer* b = buffer_of(c);
    if (n) std::memcpy(b->head_ptr(), p, n);
    b->tail = b->head + uint32_t(n);
    return c;
}

// The issue's name read as hex digits (white space and comments allowed).
Cell from_issue(const Cell& issue) {
    NodeId spelling = word_t::symbol_cell(issue)->w2;
    SeriesBuffer* b = memory::buffer_of(spelling);
    NodeId node = decode_base16(b->head_ptr(), b->length(), b->unit());
    if (node == no_node) raise_error(err_cat::script, err_id::script::invalid_data, &issue);
    return make_cell(node);
}

}  // namespace

Cell* to(Cell* proto, Cell* spec_cell, uint32_t) {
    Cell spec = *spec_cell;
    uint32_t t = type_of(spec);
    std::vector<uint8_t> bytes;
    Cell result;
    switch (t) {
        case type_block: case type_paren: case type_hash:
        case type_char:
            value_bytes(bytes, spec, 0, false, Others::refuse);
            result = binary_of(bytes.data(), bytes.size());
            break;
        case type_integer: {
            uint32_t u = spec.w2;
            uint8_t be[4] = {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
            result = binary_of(be, 4);
            break;
        }
        case type_float: case type_percent: {
            uint64_t bits = uint64_t(spec.w3) << 32 | spec.w2;
            uint8_t be[8];
            for (int i = 0; i < 8; ++i) be[i] = uint8_t(bits >> (56 - 8 * i));
            result = binary_of(be, 8);
            break;
        }
        case type_issue: result = from_issue(spec); break;
        case type_bitset: {
            SeriesBuffer* b = memory::buffer_of(spec.w2);
            result = binary_of(b->head_ptr(), b->used());
            break;
        }
        case type_tuple: {
            Bytes b = tuple_bytes(spec);
            result = binary_of(b.p, b.n);
            break;
        }
        case type_binary: {
            Bytes b = bytes_of(spec);
            result = binary_of(b.p, b.n);
            break;
        }
        case type_image: result = image_t::get_rgb(spec, image_t::mode_argb); break;
        default:
            if (!string_t::string_like_q(t)) text_errors::raise_bad_to_arg(type_binary, spec);
            append_utf8_of(bytes, spec, 0);
            result = binary_of(bytes.data(), bytes.size());
    }
    *proto = result;
    return proto;
}

// ---- form and mold -----------------------------------------------------------------

namespace {
int32_t emit(Cell* buffer, const char* text, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - int32_t(std::strlen(text));
}
int32_t emit_indent(Cell* buffer, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; ++i) string_t::append_text(*buffer, "    ");
    return budget - 4 * level;
}
}  // namespace

// The lines inside the braces, and the closing brace, stand at the value's
// own indentation level: at the top level a long binary molds as "#{", a
// line feed, its lines of hex digits and "}" on a line of its own.
int32_t form_hex(Cell* value, Cell* buffer, bool only, bool flat, bool part, int32_t budget, int32_t indent) {
    Cell v = *value;
    uint32_t len = byte_length(v);
    bool lines = len > one_line_limit && !flat;
    if (!only) budget = emit(buffer, "#{", budget);
    if (lines) {
        string_t::append_code_point(*buffer, '\n');
        budget = emit_indent(buffer, indent, budget);
    }
    uint32_t count = 0;
    for (uint32_t i = 0; i < len; ++i) {
        uint8_t byte = get_byte(v, v.w1 + i);
        char digits[3] = {hex[byte >> 4], hex[byte & 15], 0};
        string_t::append_text(*buffer, digits);
        ++count;
        if (count % bytes_per_line == 0 && !flat) {
            string_t::append_code_point(*buffer, '\n');
            budget = emit_indent(buffer, indent, budget - 1);
        }
        budget -= 2;
        if (part && budget <= 0) return budget;
    }
    if (lines && count % bytes_per_line != 0) {
        string_t::append_code_point(*buffer, '\n');
        budget = emit_indent(buffer, indent, budget);
    }
    if (!only) budget = emit(buffer, "}", budget);
    return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return form_hex(value, buffer, false, false, part != nullptr, budget, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return form_hex(value, buffer, only, flat, part != nullptr, budget, indent);
}

// ---- compare -----------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_binary) return not_comparable;
    return compare_bytes(*a, *b, op, false);
}

// ---- Bitwise -----------------------------------------------------------------------

namespace {

// and~, or~, xor~ of the two binaries at the argument base: a new binary as
// long as the longer one; and~ fills the rest with zero bytes, the others
// copy it from the longer operand.
Cell* bitwise(int32_t op) {
    Cell* base = stack::arg_base();
    if (type_of(base[1]) != type_binary) text_errors::raise_invalid_arg(base[1]);
    Bytes x = bytes_of(base[0]), y = bytes_of(base[1]);
    const Bytes& longer = x.n >= y.n ? x : y;
    uint32_t shorter = std::min(x.n, y.n);
    std::vector<uint8_t> out(longer.n, 0);
    for (uint32_t i = 0; i < shorter; ++i) {
        switch (op) {
            case integer_t::op_and: out[i] = x.p[i] & y.p[i]; break;
            case integer_t::op_or: out[i] = x.p[i] | y.p[i]; break;
            default: out[i] = x.p[i] ^ y.p[i]; break;
        }
    }
    // Empty operands have no buffer address to copy from (memcpy wants one).
    if (op != integer_t::op_and && longer.n > shorter)
        std::memcpy(out.data() + shorter, longer.p + shorter, longer.n - shorter);
    *base = binary_of(out.data(), out.size());
    return base;
}

}  // namespace

Cell* and_t() { return bitwise(integer_t::op_and); }
Cell* or_t() { return bitwise(integer_t::op_or); }
Cell* xor_t() { return bitwise(integer_t::op_xor); }

Cell* complement(Cell* value) {
    Cell v = *value;
    uint32_t n = byte_length(v);
    uint8_t* p = buffer_of(v)->head_ptr() + v.w1;
    for (uint32_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
    return value;
}

// ---- append, insert, change -----------------------------------------------------------

// The owner's handler may run Vyr code: positions are read again from the
// series cell after it.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    Cell& s = *series;
    std::vector<uint8_t> bytes;
    value_bytes(bytes, *value, part, only, Others::refuse);
    uint32_t total = repeated_size(bytes.size(), dup);
    uint32_t at = append_flag ? used_of(s) : clamp(s);
    bool owned = string_t::notify_owner(s, "append", at, 0, value);
    at = append_flag ? used_of(s) : clamp(s);
    if (total > 0) {
        checked_size(uint64_t(used_of(s)) + total);
        uint8_t* p = open_gap(s, at, total);
        fill_repeat(p, bytes.data(), bytes.size(), size_t(std::max(dup, 1)));
    }
    if (owned) string_t::notify_owner(s, "appended", at, total, value);
    s.w1 = append_flag ? 0 : at + total;
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    Cell& s = *series;
    std::vector<uint8_t> bytes;
    value_bytes(bytes, *value, 0, false, Others::form);
    uint32_t total = repeated_size(bytes.size(), dup);
    uint32_t at = clamp(s);
    uint32_t left = used_of(s) - at;
    uint32_t replaced = part >= 0 ? std::min(uint32_t(part), left) : std::min(total, left);
    bool owned = string_t::notify_owner(s, "change", at, replaced, value);
    at = clamp(s);
    replaced = std::min(replaced, used_of(s) - at);
    checked_size(uint64_t(used_of(s)) - replaced + total);
    if (total > replaced) {
        open_gap(s, at + replaced, total - replaced);
    } else if (total < replaced) {
        SeriesBuffer* b = buffer_of(s);
        uint8_t* p = b->head_ptr() + at + total;
        std::memmove(p, p + (replaced - total), size_t(b->tail_ptr() - (p + (replaced - total))));
        b->tail -= replaced - total;
    }
    fill_repeat(buffer_of(s)->head_ptr() + at, bytes.data(), bytes.size(), size_t(std::max(dup, 1)));
    if (owned) string_t::notify_owner(s, "changed", at, total, value);
    s.w1 = at + total;
    return series;
}

// ---- trim ----------------------------------------------------------------------------

namespace {
// Removes zero bytes at the ends of the bytes from the index.
void trim_zeros(Cell& s, bool head, bool tail) {
    SeriesBuffer* b = buffer_of(s);
    uint8_t* first = b->head_ptr() + clamp(s);
    uint8_t* end = b->tail_ptr();
    uint8_t* from = first;
    if (!(tail && !head))
        while (from < end && *from == 0) ++from;
    if (!(head && !tail))
        while (end > from && end[-1] == 0) --end;
    std::memmove(first, from, size_t(end - from));
    b->tail = uint32_t(first + (end - from) - b->data());
}
}  // namespace

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell& s = *series;
    uint32_t at = clamp(s);
    if (with) {
        string_t::trim_spaces(s, with);
    } else if (all) {
        Cell zero = text_errors::integer_cell(0);
        string_t::trim_spaces(s, &zero);
    } else if (auto_ || lines) {
        text_errors::raise_not_done();  // reserved: binaries have no lines to trim
    } else {
        trim_zeros(s, head, tail);
    }
    string_t::notify_owner(s, "trim", at, 0);
    return series;
}

// ---- Registration ----------------------------------------------------------------------

void init() {
    Row row;
    row.inherit({slot_make, slot_random, slot_reflect, slot_path_access, slot_at, slot_back, slot_clear, slot_copy,
                   slot_find, slot_head, slot_head_q, slot_index_q, slot_length_q, slot_move, slot_next, slot_pick,
                   slot_poke, slot_remove, slot_reverse, slot_select, slot_sort, slot_skip, slot_swap, slot_tail,
                   slot_tail_q, slot_take, slot_modify});
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_and_t, and_t);
    row.set(slot_complement, complement);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_append, append);
    row.set(slot_change, change);
    row.set(slot_insert, append);
    row.set(slot_trim, trim);
    row.register_as(type_binary, type_string, "binary!");
}

}  // namespace vyr::binary_t
