// The text-buffer layer: reading, writing, widening, concatenation,
// construction from external text and comparison (see string_buffer.h).
#include "datatypes/string_buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/bitset.h"
#include "runtime/registry.h"
#include "datatypes/text_codec.h"
#include "datatypes/text_errors.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/float_text.h"
#include "datatypes/owners.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::string_t {

using memory::SeriesBuffer;
using unicode::load_unit;
using unicode::store_unit;

namespace {

constexpr uint32_t latin1_last = 0xFF;
constexpr uint32_t ascii_last = 0x7F;
constexpr uint32_t bmp_last = 0xFFFF;

inline uint32_t fold(uint32_t cp) { return case_tables::change_char_case(cp, true); }

// Clamps a value's index into 0..length and answers it.
uint32_t clamp_index(Cell& v) {
    uint32_t len = buffer_of(v)->length();
    int32_t i = index_of(v);
    if (i < 0) v.w1 = 0;
    else if (uint32_t(i) > len) v.w1 = len;
    return v.w1;
}

// The index as a unit count, without changing the cell.
uint32_t index_in(const Cell& v) {
    int32_t i = index_of(v);
    uint32_t len = buffer_of(v)->length();
    return i < 0 ? 0 : std::min(uint32_t(i), len);
}

}  // namespace

SeriesBuffer* reserve(NodeId node, uint64_t bytes) {
    SeriesBuffer* b = memory::buffer_of(node);
    if (uint64_t(b->head) + bytes <= b->capacity) return b;
    uint64_t size = std::max<uint64_t>(bytes, 2ull * b->capacity);
    if (bytes > memory::max_series_bytes) text_errors::raise_no_memory();
    size = std::min<uint64_t>(size, memory::max_series_bytes);
    return memory::expand_series(node, uint32_t(size));
}

namespace {

// Widens the buffer so that `cp` fits under the store rule (Latin-1 in a
// 1-byte buffer) and answers the unit width afterwards.
unsigned widen_for_store(NodeId node, uint32_t cp) {
    unsigned width = unit_of(node);
    unsigned need = cp <= latin1_last ? 1 : cp <= bmp_last ? 2 : 4;
    if (need > width) {
        widen_buffer_to(node, width, need);
        return need;
    }
    if (!unicode::valid_unit_width(width)) unicode::bad_unit_width();
    return width;
}

// The text of a symbol! cell: its cached spelling, from unit 0.
Cell symbol_text(const Cell& symbol) {
    if (symbol.w2 == no_node) text_errors::raise_not_done();
    return make_cell(symbol.w2, 0);
}

}  // namespace

// ---- Reading and positions -----------------------------------------------------

uint32_t get_code_point(const uint8_t* p, unsigned width) { return load_unit(p, 0, width); }

uint32_t char_at(const Cell& v, uint32_t n) {
    SeriesBuffer* b = buffer_of(v);
    return load_unit(b->head_ptr(), n, b->unit());
}

uint8_t* position(Cell& v) {
    uint32_t i = clamp_index(v);
    SeriesBuffer* b = buffer_of(v);
    return b->head_ptr() + size_t(i) * b->unit();
}

uint8_t* tail_address(const Cell& v) { return buffer_of(v)->tail_ptr(); }

bool at_tail_q(const Cell& v) { return index_of(v) >= 0 && uint32_t(index_of(v)) >= buffer_length(v); }

uint32_t length_at(Cell& v) {
    uint32_t i = clamp_index(v);
    return buffer_length(v) - i;
}


int32_t find_char(const Cell& v, uint32_t cp) {
    SeriesBuffer* b = buffer_of(v);
    unsigned w = b->unit();
    uint32_t start = index_in(v), len = b->length();
    for (uint32_t i = start; i < len; ++i)
        if (load_unit(b->head_ptr(), i, w) == cp) return int32_t(i - start);
    return -1;
}

bool contains_char_q(const Cell& v, uint32_t cp, uint32_t step, bool exact) {
    SeriesBuffer* b = buffer_of(v);
    unsigned w = b->unit();
    uint32_t len = b->length();
    if (step == 0) step = 1;
    uint32_t want = exact ? cp : fold(cp);
    for (uint32_t i = index_in(v); i < len; i += step) {
        uint32_t c = load_unit(b->head_ptr(), i, w);
        if ((exact ? c : fold(c)) == want) return true;
    }
    return false;
}

bool starts_with_text_q(const Cell& v, const char* text) {
    SeriesBuffer* b = buffer_of(v);
    unsigned w = b->unit();
    uint32_t i = index_in(v), len = b->length();
    size_t n = std::strlen(text);
    if (len - i < n) return false;
    for (size_t k = 0; k < n; ++k) {
        uint32_t c = load_unit(b->head_ptr(), i + k, w);
        if (c > latin1_last || c != uint8_t(text[k])) return false;
    }
    return true;
}

bool char_in_bitset_q(const Cell& v, const Cell& bitset) {
    return bitset_t::member_q(bitset, char_at(v, index_in(v)));
}

bool tag_enclosed_q(const Cell& v, const Cell& tag) {
    uint32_t i = index_in(v), len = buffer_length(v);
    Cell t = tag;
    uint32_t tag_len = length_at(t);
    if (i >= len || char_at(v, i) != '<') return false;
    uint64_t close = uint64_t(i) + tag_len + 1;
    return close < len && char_at(v, uint32_t(close)) == '>';
}

// ---- Writing -------------------------------------------------------------------

void widen_buffer_to(NodeId buffer, unsigned from, unsigned to) {
    if (from == to) return;
    if (!(to > from && unicode::valid_unit_width(from) && unicode::valid_unit_width(to))) unicode::bad_unit_width();
    uint32_t count = memory::buffer_of(buffer)->used() / from;
    SeriesBuffer* b = reserve(buffer, uint64_t(count) * to + to);
    unicode::widen_in_place(b->head_ptr(), count, from, to);
    b->tail = b->head + count * to;
    memory::set_unit_width(buffer, to);
}

void append_code_point(NodeId buffer, uint32_t cp) {
    unsigned width = unit_of(buffer);
    unsigned need = cp <= ascii_last ? 1 : cp <= bmp_last ? 2 : 4;
    if (width == 1 && need > 1) {
        widen_buffer_to(buffer, 1, need);
        width = need;
    } else if (width == 2 && need == 4) {
        widen_buffer_to(buffer, 2, 4);
        width = 4;
    } else if (!unicode::valid_unit_width(width)) {
        unicode::bad_unit_width();
    }
    store_unit(series::alloc_tail_bytes(buffer, width), 0, width, cp);
}

void set_code_point(NodeId buffer, uint32_t unit, uint32_t cp) {
    unsigned width = widen_for_store(buffer, cp);
    store_unit(memory::buffer_of(buffer)->head_ptr(), unit, width, cp);
}

void poke_char(NodeId buffer, uint32_t i, uint32_t cp) {
    unsigned width = widen_for_store(buffer, cp);
    SeriesBuffer* b = reserve(buffer, (uint64_t(i) + 1) * width);
    uint32_t len = b->length();
    if (i > len) std::memset(b->head_ptr() + size_t(len) * width, 0, size_t(i - len) * width);
    store_unit(b->head_ptr(), i, width, cp);
    if (i >= len) b->tail = b->head + (i + 1) * width;
}

void insert_char(NodeId buffer, uint32_t i, uint32_t cp) {
    unsigned width = widen_for_store(buffer, cp);
    SeriesBuffer* b = memory::buffer_of(buffer);
    uint32_t len = b->length();
    if (i > len) i = len;
    b = reserve(buffer, (uint64_t(len) + 1) * width);
    uint8_t* at = b->head_ptr() + size_t(i) * width;
    std::memmove(at + width, at, size_t(len - i) * width);
    store_unit(at, 0, width, cp);
    b->tail += width;
}

void remove_char(const Cell& v, uint32_t i) { remove_chars(v, i, 1); }

void remove_chars(const Cell& v, uint32_t i, uint32_t n) {
    SeriesBuffer* b = buffer_of(v);
    unsigned width = b->unit();
    uint32_t len = b->length();
    if (i >= len || n == 0) return;
    n = std::min(n, len - i);
    uint8_t* at = b->head_ptr() + size_t(i) * width;
    std::memmove(at, at + size_t(n) * width, size_t(len - i - n) * width);
    b->tail -= n * width;
}

void truncate(NodeId buffer, uint32_t n) {
    SeriesBuffer* b = memory::buffer_of(buffer);
    if (b->length() > n) b->tail = b->head + n * b->unit();
}

void reset(Cell& v) {
    SeriesBuffer* b = buffer_of(v);
    b->tail = b->head;
    memory::set_unit_width(node_of(v), 1);
    v.w1 = 0;
}

void append_text(NodeId buffer, const char* text) { append_text_part(buffer, text, uint32_t(std::strlen(text))); }

void append_text_part(NodeId buffer, const char* text, uint32_t n) {
    // Plain ASCII into a buffer of any width is one reservation; a byte of
    // 128 or more takes the code-point path, which widens.
    unsigned width = unit_of(buffer);
    uint32_t k = 0;
    while (k < n && uint8_t(text[k]) <= ascii_last) ++k;
    if (k > 0) {
        if (!unicode::valid_unit_width(width)) unicode::bad_unit_width();
        uint8_t* dst = series::alloc_tail_bytes(buffer, k * width);
        if (width == 1) std::memcpy(dst, text, k);
        else for (uint32_t j = 0; j < k; ++j) store_unit(dst, j, width, uint8_t(text[j]));
    }
    for (; k < n; ++k) append_code_point(buffer, uint8_t(text[k]));
}

void append_utf8(NodeId buffer, const uint8_t* bytes, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (bytes[i] <= ascii_last) {
            size_t run = i;
            while (run < n && bytes[run] <= ascii_last) ++run;
            append_text_part(buffer, reinterpret_cast<const char*>(bytes + i), uint32_t(run - i));
            i = run;
            continue;
        }
        unicode::Utf8Char c = unicode::utf8_decode_lenient(bytes + i, n - i);
        if (c.status == unicode::Utf8Status::incomplete) return;
        if (c.status == unicode::Utf8Status::invalid) unicode::raise_invalid_utf8(bytes + i, n - i);
        append_code_point(buffer, uint32_t(c.cp));
        i += c.length;
    }
}

void concatenate(Cell& target_in, const Cell& source_in, int32_t part, int32_t offset, bool per_char,
                 Concat mode) {
    Cell target = type_of(target_in) == type_symbol ? symbol_text(target_in) : target_in;
    Cell source = type_of(source_in) == type_symbol ? symbol_text(source_in) : source_in;
    NodeId tnode = node_of(target), snode = node_of(source);
    unsigned tw = unit_of(tnode), sw = unit_of(snode);
    if (tw < sw) {
        widen_buffer_to(tnode, tw, sw);
        tw = sw;
    } else if (sw < tw && !per_char) {
        widen_buffer_to(snode, sw, tw);
        sw = tw;
    }
    uint32_t m = length_at(source);
    if (part >= 0 && uint32_t(part) < m) m = uint32_t(part);
    uint64_t bytes = uint64_t(m) * tw;
    if (bytes == 0) return;

    uint32_t at_unit = mode == Concat::append ? 0
                       : uint32_t(std::min<uint64_t>(uint64_t(clamp_index(target)) + std::max(offset, 0),
                                                     buffer_length(target)));
    SeriesBuffer* tb = memory::buffer_of(tnode);
    uint64_t need = uint64_t(tb->used()) + bytes;
    if (need > memory::max_series_bytes) text_errors::raise_no_memory();
    if (uint64_t(tb->head) + need > tb->capacity)
        tb = memory::expand_series(tnode, uint32_t(std::min<uint64_t>(2 * need, memory::max_series_bytes)));

    // The source bytes, read after any growth (the source may share the
    // target's buffer). An insert of a buffer into itself works on a copy,
    // since opening the gap moves the source's own units.
    SeriesBuffer* sb = memory::buffer_of(snode);
    const uint8_t* src = sb->head_ptr() + size_t(index_in(source)) * sw;
    std::vector<uint8_t> self_copy;
    if (snode == tnode && mode == Concat::insert) {
        self_copy.assign(src, src + size_t(m) * sw);
        src = self_copy.data();
    }

    uint32_t old_tail = tb->tail;
    uint8_t* dst = mode == Concat::append ? tb->tail_ptr() : tb->head_ptr() + size_t(at_unit) * tw;
    if (mode == Concat::insert) std::memmove(dst + bytes, dst, size_t(tb->tail_ptr() - dst));
    if (sw == tw) {
        std::memmove(dst, src, size_t(bytes));
    } else {
        for (uint32_t k = 0; k < m; ++k) store_unit(dst, k, tw, load_unit(src, k, sw));
    }
    if (mode == Concat::overwrite) {
        uint32_t end = uint32_t(dst + bytes - tb->data());
        tb->tail = std::max(old_tail, end);
    } else {
        tb->tail = old_tail + uint32_t(bytes);
    }
}

namespace {
void reverse_bytes(uint8_t* p, size_t n) { std::reverse(p, p + n); }
}  // namespace

void rotate_text_regions(uint8_t* a, uint32_t la, uint8_t* b, uint32_t lb, uint32_t gap) {
    // Reversing the whole span and then each of its three pieces exchanges
    // the outer two and keeps the middle one in order.
    (void)b;
    size_t total = size_t(la) + gap + lb;
    reverse_bytes(a, total);
    reverse_bytes(a, lb);
    reverse_bytes(a + lb, gap);
    reverse_bytes(a + lb + gap, la);
}

void move_chars(const Cell& source, const Cell& target, uint32_t bytes) {
    NodeId snode = node_of(source), tnode = node_of(target);
    unsigned sw = unit_of(snode);
    uint32_t count = bytes / sw;
    uint32_t from = index_in(source);
    uint32_t to = index_in(target);
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t cp = load_unit(memory::buffer_of(snode)->head_ptr(), from + k, unit_of(snode));
        insert_char(tnode, to + k, cp);
    }
    remove_chars(source, from, count);
}

// ---- Construction --------------------------------------------------------------

void make_at(Cell& cell, uint32_t capacity) {
    cell = make_cell(memory::alloc_series(capacity ? capacity : 1, 1, 0));
}

void make_from_units_at(Cell& cell, const void* units, uint32_t count, unsigned width) {
    if (!unicode::valid_unit_width(width)) unicode::bad_unit_width();
    NodeId node = memory::alloc_series(count ? count : 1, width, 0);
    SeriesBuffer* b = memory::buffer_of(node);
    if (count) std::memcpy(b->head_ptr(), units, size_t(count) * width);
    b->tail = b->head + count * width;
    cell = make_cell(node);
}

NodeId copy_buffer(NodeId buffer) {
    SeriesBuffer* src = memory::buffer_of(buffer);
    unsigned width = src->unit();
    uint32_t count = src->length();
    NodeId node = memory::alloc_series(count ? count : 1, width, 0);
    SeriesBuffer* b = memory::buffer_of(node);
    src = memory::buffer_of(buffer);
    std::memcpy(b->head_ptr(), src->head_ptr(), src->used());
    b->tail = b->head + src->used();
    return node;
}

Cell* make_string_from_text(const void* text, uint32_t length, Cell* target, int32_t encoding) {
    NodeId node;
    const auto* bytes = static_cast<const uint8_t*>(text);
    if (encoding == encoding_utf8) {
        node = text_codec::utf8_to_new_string(bytes, length);
    } else if (encoding == encoding_utf16le) {
        node = text_codec::utf16_to_string(bytes, length, nullptr, false);
    } else {
        platform::runtime_print_line({"*** Loading Error: input encoding unsupported"});
        platform::release_all_allocations();
        std::exit(0);
    }
    if (!target) target = stack::push_cell();
    *target = make_cell(node);
    return target;
}

Cell* push_text(const void* text, uint32_t length, int32_t encoding) {
    return make_string_from_text(text, length, nullptr, encoding);
}

Cell* load_text_in(const Cell& block, const void* text, uint32_t length, int32_t encoding) {
    Cell s;
    make_string_from_text(text, length, &s, encoding);
    Cell* c = series::append_cell(block);
    *c = s;
    return c;
}

Cell* push_from_utf8(const uint8_t* bytes, uint32_t length) {
    Cell s = make_cell(memory::alloc_series(length ? length : 1, 1, 0));
    size_t remaining = 0;
    text_codec::utf8_to_string_into(bytes, length, s, &remaining);
    if (remaining > 0) {
        // A sequence cut off at the end: the bytes from it on are the argument.
        text_codec::raise_invalid_utf8_tail(bytes + (length - remaining), remaining);
    }
    return stack::push_copy(s);
}

Cell* push(const Cell& v) { return stack::push_copy(v); }

Cell* push_copy_of(NodeId buffer) { return stack::push_copy(make_cell(copy_buffer(buffer))); }

NodeId copy_units_widening(NodeId source, NodeId target, unsigned new_width, uint32_t src_start,
                           uint32_t target_start, int32_t src_end, bool keep) {
    SeriesBuffer* sb = memory::buffer_of(source);
    unsigned sw = sb->unit();
    if (!(new_width >= sw && unicode::valid_unit_width(sw) && unicode::valid_unit_width(new_width)))
        unicode::bad_unit_width();
    uint32_t end = src_end <= 0 ? sb->length() : std::min<uint32_t>(uint32_t(src_end), sb->length());
    uint32_t count = end > src_start ? end - src_start : 0;
    uint64_t need = (uint64_t(target_start) + count) * new_width;
    if (need > memory::max_series_bytes) text_errors::raise_no_memory();

    if (target == no_node) {
        // The source moves into a new buffer of the new width; its units are
        // widened out of the old one, which stays readable until compaction.
        std::vector<uint8_t> old(sb->head_ptr(), sb->tail_ptr());
        SeriesBuffer* nb = memory::move_series_buffer(source, uint32_t(std::max<uint64_t>(need, 16)));
        for (uint32_t k = 0; k < count; ++k)
            store_unit(nb->head_ptr(), target_start + k, new_width, load_unit(old.data(), src_start + k, sw));
        if (!keep) {
            nb->tail = nb->head + uint32_t(need);
            memory::set_unit_width(source, new_width);
        }
        return source;
    }
    SeriesBuffer* tb = reserve(target, need);
    sb = memory::buffer_of(source);
    for (uint32_t k = 0; k < count; ++k)
        store_unit(tb->head_ptr(), target_start + k, new_width, load_unit(sb->head_ptr(), src_start + k, sw));
    if (!keep) {
        tb->tail = tb->head + uint32_t(need);
        memory::set_unit_width(target, new_width);
    }
    return target;
}

// ---- Numbers and hex ---------------------------------------------------------

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
}  // namespace

HexDigits byte_to_hex(uint8_t byte) {
    HexDigits h{};
    h.text[0] = hex_digits[byte >> 4];
    h.text[1] = hex_digits[byte & 0xF];
    h.length = 2;
    return h;
}

HexDigits integer_to_hex(int32_t value, bool short_form) {
    HexDigits h{};
    uint32_t u = uint32_t(value);
    for (int k = 0; k < 8; ++k) h.text[k] = hex_digits[(u >> (28 - 4 * k)) & 0xF];
    h.length = 8;
    if (short_form) {
        int skip = 0;
        while (skip < 6 && h.text[skip] == '0') ++skip;
        std::memmove(h.text, h.text + skip, size_t(8 - skip));
        h.length = uint32_t(8 - skip);
        h.text[h.length] = 0;
    }
    return h;
}

double text_range_to_float(const char* text, uint32_t length) {
    return float_text::text_to_float(text, text + length);
}

// ---- Comparison and matching -------------------------------------------------

int32_t compare_strings(Cell& a_in, Cell& b_in, int32_t op, bool match) {
    using namespace registry;
    if (op == op_same) return (node_of(a_in) == node_of(b_in) && a_in.w1 == b_in.w1) ? 0 : -1;
    if (node_of(a_in) == node_of(b_in) && a_in.w1 == b_in.w1 && type_of(a_in) != type_symbol &&
        type_of(b_in) != type_symbol &&
        (op == op_equal || op == op_not_equal || op == op_strict_equal || op == op_find))
        return 0;
    Cell a = type_of(a_in) == type_symbol ? symbol_text(a_in) : a_in;
    Cell b = type_of(b_in) == type_symbol ? symbol_text(b_in) : b_in;
    uint32_t la = length_at(a), lb = length_at(b);
    bool equality = op == op_equal || op == op_not_equal || op == op_strict_equal || op == op_find;
    uint32_t n;
    if (match) {
        if (lb == 0) return op == op_find ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && (equality || lb == 0)) return 1;
        n = std::min(la, lb);
        if (n == 0) return la == lb ? 0 : (la < lb ? -1 : 1);
    }
    bool exact = op == op_strict_equal || op == op_case_sort;
    SeriesBuffer* ba = buffer_of(a);
    SeriesBuffer* bb = buffer_of(b);
    const uint8_t* pa = ba->head_ptr() + size_t(index_in(a)) * ba->unit();
    const uint8_t* pb = bb->head_ptr() + size_t(index_in(b)) * bb->unit();
    unsigned wa = ba->unit(), wb = bb->unit();
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t ca = load_unit(pa, k, wa), cb = load_unit(pb, k, wb);
        if (!exact) {
            ca = fold(ca);
            cb = fold(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (match || la == lb) return 0;
    return la < lb ? -1 : 1;
}

bool match_at(Cell& input, const Cell& rule, int32_t case_flag) {
    uint32_t rt = type_of(rule);
    if (rt == type_string || rt == type_file || rt == type_url || rt == type_email || rt == type_ref) {
        Cell r = rule;
        return compare_strings(input, r, case_flag, true) == 0;
    }
    if (rt == type_char) {
        if (at_tail_q(input)) return false;
        uint32_t c = char_at(input, index_in(input)), want = rule.w2;
        if (case_flag == registry::op_strict_equal) return c == want;
        return fold(c) == fold(want);
    }
    if (rt == type_tag) {
        if (!tag_enclosed_q(input, rule)) return false;
        Cell after = input;
        after.w1 = index_in(input) + 1;
        Cell r = rule;
        return compare_strings(after, r, case_flag, true) == 0;
    }
    return false;
}

// ---- Owner notification -------------------------------------------------------

bool notify_owned(const Cell& series, const char* word, uint32_t position, uint32_t part, const Cell* value) {
    Cell action = word_t::make_global(word);
    return owners::notify_owner(series, action, value, int32_t(position), int32_t(part));
}

}  // namespace vyr::string_t
