// string!: append, insert, change, find, select, sort, swap, take, trim and
// the set operations on texts. Every text type inherits these.
//
// Modifications report to the series' owner before and after the change
// (notify_owner), naming the action.
//
// Insert and change build their material at the tail of the series first
// (the text, the formed values, repeated /dup times) and then rotate it into
// place, so no temporary text is made and material taken from the series'
// own buffer is read as it was before the change.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/integer.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/series.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"

namespace vyr::string_t {

using memory::SeriesBuffer;
using unicode::load_unit;
using unicode::store_unit;

namespace {

constexpr int32_t unlimited = -1;

bool block_like_q(uint32_t t) { return t == type_block || t == type_paren || t == type_hash; }
inline uint32_t fold(uint32_t cp) { return case_tables::change_char_case(cp, true); }

Cell none_cell() { return Cell{type_none, 0, 0, 0}; }

uint32_t clamp(Cell& s) {
    length_at(s);
    return uint32_t(s.w1);
}

// ---- Material at the tail ----------------------------------------------------------

// How a /part count limits formed material: for append it counts block
// elements (characters under /only); for insert it is one character budget
// shared by every formed element.
enum class PartRule { append, insert, none };

// Forms the elements of a block (or one value) at the tail of the series.
// A form that writes more characters than its budget has the overshoot cut
// off the tail again; what it wrote is measured, so a form that stops at its
// budget by itself is not cut twice.
void append_formed(Cell& s, const Cell& value, int32_t part, bool only, PartRule rule) {
    auto form_one = [&](Cell element, int32_t& p) {
        bool limited = p > 0 && (rule == PartRule::insert || only);
        uint32_t before = buffer_length(s);
        form_value(element, s, limited ? p : INT32_MAX, limited);
        uint32_t written = buffer_length(s) - before;
        if (limited && written > uint32_t(p)) {
            truncate(node_of(s), before + uint32_t(p));
            written = uint32_t(p);
        }
        if (p > 0) {
            if (limited) p -= int32_t(written);
            else if (rule == PartRule::append) p -= 1;
        }
    };
    int32_t p = rule == PartRule::none ? unlimited : part;
    if (!block_like_q(type_of(value))) {
        form_one(value, p);
        return;
    }
    NodeId block = value.w2;
    for (uint32_t i = value.w1; i < memory::series_length(block); ++i) {
        if (p == 0) break;
        form_one(*memory::cell_at(block, i), p);
    }
}

// Appends the material of `value` at the tail. `append_rule` picks the
// widening of a char! (append: 128 and above widen a 1-byte text; otherwise
// Latin-1 stays in one byte).
void append_material(Cell& s, const Cell& value, int32_t part, bool only, PartRule rule, bool append_rule) {
    uint32_t t = type_of(value);
    NodeId node = node_of(s);
    if (t == type_char) {
        if (append_rule) append_code_point(node, value.w2);
        else poke_char(node, buffer_length(s), value.w2);
    } else if (t == type_tag) {
        int32_t left = rule == PartRule::none ? unlimited : part;
        if (left != 0) {
            append_code_point(node, '<');
            if (left > 0) --left;
        }
        Cell text = value;
        uint32_t n = length_at(text);
        if (left != 0) {
            append_string(s, text, left, false);
            if (left > 0) left = std::max<int32_t>(0, left - int32_t(n));
        }
        if (left != 0) append_code_point(node, '>');
    } else if (string_like_q(t)) {
        append_string(s, value, rule == PartRule::none ? unlimited : part, false);
    } else {
        append_formed(s, value, part, only, rule);
    }
}

// The two commonest appends, written straight at the tail: a text of the
// target's unit width (not a tag!, which gains its angle brackets) and an
// integer!'s digits. The buffer grows by the same rules as the general path
// (concatenate and append_text_part). The caller has ruled out /part, /dup
// and an owner to tell.
enum class Plain { refused, empty, appended };
Plain append_plainly(Cell& s, const Cell& value) {
    NodeId node = node_of(s);
    SeriesBuffer* tb = memory::buffer_of(node);
    unsigned width = tb->unit();
    uint32_t t = type_of(value);
    if (t == type_integer) {
        int32_t n = integer_t::get(value);
        if (width == 1) {  // the digits written in place
            uint32_t length = integer_t::text_length(n);
            uint8_t* dst = series::alloc_tail_bytes(node, length);
            integer_t::write_text(n, reinterpret_cast<char*>(dst + length));
            return Plain::appended;
        }
        if (!unicode::valid_unit_width(width)) return Plain::refused;
        integer_t::Text text = integer_t::to_text(n);
        std::string_view digits = text.view();
        auto count = uint32_t(digits.size());
        uint8_t* dst = series::alloc_tail_bytes(node, count * width);
        for (uint32_t j = 0; j < count; ++j) store_unit(dst, j, width, uint8_t(digits[j]));
        return Plain::appended;
    }
    if (!string_like_q(t) || t == type_tag) return Plain::refused;
    SeriesBuffer* sb = buffer_of(value);
    if (sb->unit() != width) return Plain::refused;
    uint32_t length = width == 1 ? sb->used() : sb->length();  // no division for bytes
    uint32_t from = index_of(value) < 0 ? 0 : std::min(uint32_t(index_of(value)), length);
    uint64_t bytes = uint64_t(length - from) * width;
    if (bytes == 0) return Plain::empty;
    uint64_t need = uint64_t(tb->used()) + bytes;
    if (need > memory::max_series_bytes) text_errors::raise_no_memory();
    if (uint64_t(tb->head) + need > tb->capacity) {
        tb = memory::expand_series(node, uint32_t(std::min<uint64_t>(2 * need, memory::max_series_bytes)));
        sb = buffer_of(value);  // the text may be the target's own buffer
    }
    // The two runs never overlap: a text in the target's own buffer ends at
    // or before its tail. A short run is copied without a library call.
    const uint8_t* src = sb->head_ptr() + size_t(from) * width;
    uint8_t* dst = tb->tail_ptr();
    if (bytes <= 16) {
        for (uint32_t j = 0; j < uint32_t(bytes); ++j) dst[j] = src[j];
    } else {
        std::memcpy(dst, src, size_t(bytes));
    }
    tb->tail += uint32_t(bytes);
    return Plain::appended;
}

// Repeats the units from unit `from` to the tail until they stand `dup`
// times, by doubling copies.
void repeat_tail(Cell& s, uint32_t from, int32_t dup) {
    SeriesBuffer* b = buffer_of(s);
    unsigned unit = b->unit();
    uint64_t once = uint64_t(b->length() - from) * unit;
    if (dup < 2 || once == 0) return;
    uint64_t total = uint64_t(from) * unit + once * uint64_t(dup);
    if (total > memory::max_series_bytes) text_errors::raise_no_memory();
    b = reserve(node_of(s), total);
    uint8_t* start = b->head_ptr() + size_t(from) * unit;
    uint64_t done = once, want = once * uint64_t(dup);
    while (want - done >= done) {
        std::memcpy(start + done, start, size_t(done));
        done *= 2;
    }
    std::memcpy(start + done, start, size_t(want - done));
    b->tail = b->head + uint32_t(total);
}

// Moves the units [from, tail) to unit `at`, shifting [at, from) up.
void rotate_tail_to(Cell& s, uint32_t at, uint32_t from) {
    SeriesBuffer* b = buffer_of(s);
    unsigned unit = b->unit();
    uint32_t len = b->length();
    if (at >= from || from >= len) return;
    uint8_t* a = b->head_ptr() + size_t(at) * unit;
    uint8_t* tail_part = b->head_ptr() + size_t(from) * unit;
    rotate_text_regions(a, (from - at) * unit, tail_part, (len - from) * unit, 0);
}

// A /part argument given as a position in the same series: its index
// minus the series' index. Anything else raises `invalid-refine-arg`.
int32_t part_from_series(const Cell& s, const Cell& part, const char* refinement) {
    if (type_of(part) != type_of(s) || node_of(part) != node_of(s)) raise_invalid_refine_arg(refinement, part);
    return index_of(part) - index_of(s);
}

}  // namespace

// ---- append, insert, change ---------------------------------------------------------

// The owner's handler (run by a notification) may run Vyr code: the series
// and the material are read from their argument cells after it, never from
// copies made before.

namespace {
// append past its plain cases.
[[gnu::noinline]] Cell* append_generally(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                                         bool append_flag) {
    Cell& s = *series;
    bool notified = append_flag && notify_owner(s, "append", buffer_length(s), 0, value);
    uint32_t before = buffer_length(s);
    append_material(s, *value, part, only, PartRule::append, true);
    if (buffer_length(s) == before) return series;
    if (dup > 1) repeat_tail(s, before, dup);
    if (notified) notify_owner(s, "appended", before, buffer_length(s) - before, value);
    s.w1 = 0;
    return series;
}
}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    Cell& s = *series;
    if (part < 0 && dup < 2 && string_like_q(type_of(s)) && !(buffer_of(s)->flags & memory::flag::owned)) {
        Plain done = append_plainly(s, *value);
        if (done == Plain::appended) s.w1 = 0;
        if (done != Plain::refused) return series;
    }
    return append_generally(series, value, part, only, dup, append_flag);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    Cell& s = *series;
    bool notified = notify_owner(s, "insert", clamp(s), 0, value);
    uint32_t at = clamp(s), before = buffer_length(s);
    if (at == before) {
        append(series, value, part, only, dup, false);
        s.w1 = buffer_length(s);
    } else {
        append_material(s, *value, part, only, PartRule::insert, false);
        repeat_tail(s, before, dup);
        rotate_tail_to(s, at, before);
        s.w1 = at + (buffer_length(s) - before);
    }
    if (notified) notify_owner(s, "inserted", at, buffer_length(s) - before, value);
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    Cell& s = *series;
    bool notified = notify_owner(s, "change", clamp(s), 0, value);
    uint32_t at = clamp(s), before = buffer_length(s);
    uint32_t added;
    if (at == before) {
        append(series, value, unlimited, only, dup, false);
        added = buffer_length(s) - before;
    } else {
        append_material(s, *value, unlimited, only, PartRule::none, false);
        repeat_tail(s, before, dup);
        added = buffer_length(s) - before;
        uint32_t replaced = std::min(part < 0 ? added : uint32_t(part), before - at);
        rotate_tail_to(s, at, before);
        remove_chars(s, at + added, replaced);
    }
    s.w1 = std::min(at + added, buffer_length(s));
    if (notified) notify_owner(s, "changed", at, added, value);
    return series;
}

// ---- find and select --------------------------------------------------------------

namespace {

// What find looks for: one code point, a bitset's members, a run of units,
// or one number among a vector's elements.
struct Pattern {
    enum class Kind { single, bitset, units, number } kind = Kind::units;
    uint32_t cp = 0;
    double number = 0.0;
    Cell bitset{};
    std::u32string units;
    uint32_t length() const { return kind == Kind::units ? uint32_t(units.size()) : 1; }
};

std::u32string units_from(const Cell& text) {
    Cell t = text;
    std::u32string out;
    uint32_t len = buffer_length(t);
    for (uint32_t i = uint32_t(index_of(t) < 0 ? 0 : index_of(t)); i < len; ++i) out += char32_t(char_at(t, i));
    return out;
}

Pattern pattern_of(const Cell& series, const Cell& value) {
    Pattern p;
    uint32_t vt = type_of(value), st = type_of(series);
    if (vt == type_char) {
        p.kind = Pattern::Kind::single;
        p.cp = value.w2;
    } else if (vt == type_bitset) {
        p.kind = Pattern::Kind::bitset;
        p.bitset = value;
    } else if (string_like_q(vt) && vt != type_tag) {
        p.units = units_from(value);
    } else if (vt == type_binary) {
        if (st != type_binary) text_errors::raise_invalid_arg(value);
        p.units = units_from(value);
    } else if ((vt == type_integer || vt == type_float) && st == type_binary) {
        p.kind = Pattern::Kind::single;
        p.cp = vt == type_integer ? value.w2 : uint32_t(int32_t(cell_float(value)));
    } else if ((vt == type_integer || vt == type_float || vt == type_percent) && st == type_vector) {
        p.kind = Pattern::Kind::number;
        p.number = vt == type_integer ? double(int32_t(value.w2)) : cell_float(value);
    } else {
        Cell formed;
        make_at(formed, 16);
        Cell v = value;
        form_value(v, formed, INT32_MAX, false);
        p.units = units_from(formed);
    }
    return p;
}

// Element `pos` of a vector's buffer as a number; `code` is its value as a
// code point, false for a float element (which equals no code point).
double vector_number(const SeriesBuffer* b, uint32_t pos, uint32_t type, uint32_t& code, bool& whole) {
    unsigned w = b->unit();
    Cell e = vector_t::element_value(b->data() + b->head + size_t(pos) * w, w, type);
    whole = type_of(e) == type_integer || type_of(e) == type_char;
    if (!whole) return cell_float(e);
    code = e.w2;
    return type_of(e) == type_char ? double(e.w2) : double(int32_t(e.w2));
}

// Whether the pattern matches at unit `pos` of the buffer. A vector's
// elements are read as numbers (`element_type` not 0): an element matches a
// number when equal to it, a code point when it is a whole number equal to
// it.
bool matches_at(const SeriesBuffer* b, uint32_t pos, const Pattern& p, bool fold_case, uint32_t element_type) {
    const uint8_t* units = b->data() + b->head;
    unsigned w = b->unit();
    auto same = [&](uint32_t a, uint32_t c) { return a == c || (fold_case && fold(a) == fold(c)); };
    auto unit = [&](uint32_t at, uint32_t& code) {
        if (!element_type) {
            code = load_unit(units, at, w);
            return true;
        }
        bool whole = false;
        vector_number(b, at, element_type, code, whole);
        return whole;
    };
    uint32_t code = 0;
    switch (p.kind) {
        case Pattern::Kind::single: return unit(pos, code) && same(code, p.cp);
        case Pattern::Kind::bitset: return unit(pos, code) && bitset_t::member_q(p.bitset, code);
        case Pattern::Kind::number: {
            bool whole = false;
            return vector_number(b, pos, element_type, code, whole) == p.number;
        }
        case Pattern::Kind::units:
            for (uint32_t k = 0; k < p.units.size(); ++k)
                if (!unit(pos + k, code) || !same(code, p.units[k])) return false;
            return true;
    }
    return false;
}

// The search shared by find and select: the matched position and the
// pattern length, or -1.
struct Found {
    int64_t pos = -1;
    uint32_t length = 0;  // units matched
    int32_t step = 1;     // the /skip step
    bool single = false;  // one code point (a char! or a bitset member)
};

Found search(Cell& s, const Cell& value, const Cell* part, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse, bool match) {
    Found none;
    SeriesBuffer* b = buffer_of(s);
    uint32_t len = b->length();
    if (len == 0) return none;
    uint32_t idx = clamp(s);
    if (idx >= len && !reverse) return none;
    if (any || with) text_errors::raise_not_done();
    int32_t step = 1;
    if (skip) {
        step = int32_t(skip->w2);
        if (step < 1) text_errors::raise_out_of_range(*skip);
    }
    uint32_t limit = len;
    if (part) {
        int64_t n = type_of(*part) == type_integer ? int32_t(part->w2) : part_from_series(s, *part, "part");
        if (n < 1) return none;
        limit = uint32_t(std::min<int64_t>(int64_t(idx) + n, len));
    }
    bool fold_case = string_like_q(type_of(s)) && !case_ && !same;
    uint32_t element_type = type_of(s) == type_vector ? vector_t::element_type(s) : 0;
    Pattern p = pattern_of(s, value);
    uint32_t plen = p.length();
    if (plen == 0) return none;
    b = buffer_of(s);
    Found f;
    f.length = plen;
    f.step = step;
    f.single = p.kind != Pattern::Kind::units;
    if (reverse) {
        if (match) return none;
        int64_t start = p.kind == Pattern::Kind::units ? int64_t(idx) - plen : int64_t(idx) - 1;
        for (int64_t pos = start; pos >= 0; pos -= step)
            if (matches_at(b, uint32_t(pos), p, fold_case, element_type)) return f.pos = pos, f;
        return none;
    }
    if (last) {
        int64_t start = int64_t(limit) - plen;
        for (int64_t pos = start; pos >= idx; pos -= step) {
            if (matches_at(b, uint32_t(pos), p, fold_case, element_type)) return f.pos = pos, f;
            if (match) break;
        }
        return none;
    }
    for (uint64_t pos = idx; pos + plen <= limit; pos += uint32_t(step)) {
        if (matches_at(b, uint32_t(pos), p, fold_case, element_type)) return f.pos = int64_t(pos), f;
        if (match) break;
    }
    return none;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Cell s = *series;
    Found f = search(s, *value, part, case_, same, any, with, skip, last, reverse, match);
    if (f.pos < 0) {
        *series = none_cell();
        return series;
    }
    uint64_t at = uint64_t(f.pos);
    // With /tail, past the matched text; past a single code point, one step
    // further: the /skip step of a forward search.
    if (tail) at += !f.single ? f.length : (last || reverse) ? 1 : uint32_t(f.step);
    series->w1 = uint32_t(std::min<uint64_t>(at, buffer_length(s)));
    return series;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    Cell s = *series;
    Found f = search(s, *value, part, case_, same, any, with, skip, last, reverse, false);
    uint64_t after = f.pos < 0 ? UINT64_MAX : uint64_t(f.pos) + f.length;
    if (f.pos < 0 || after >= buffer_length(s)) {
        *series = none_cell();
        return series;
    }
    if (type_of(s) == type_vector) {
        *series = vector_t::element_at(s, uint32_t(after));
        return series;
    }
    uint32_t unit = char_at(s, uint32_t(after));
    if (type_of(s) == type_binary) *series = text_errors::integer_cell(int32_t(unit));
    else *series = Cell{type_char, 0, unit, 0};
    return series;
}

// ---- sort ------------------------------------------------------------------------

namespace {

// Flags word handed to the comparators.
constexpr uint32_t sort_reverse = 1;
constexpr uint32_t sort_whole_record = 2;
constexpr uint32_t sort_field_shift = 2;

template <unsigned Width, bool LettersOnly>
int32_t compare_records(const void* a, const void* b, uintptr_t case_flag, uintptr_t flags) {
    uint32_t field = uint32_t(flags >> sort_field_shift);
    uint32_t first = flags & sort_whole_record ? 0 : field;
    uint32_t count = flags & sort_whole_record ? field : 1;
    int32_t diff = 0;
    for (uint32_t k = first; k < first + count && diff == 0; ++k) {
        uint32_t ca = load_unit(a, k, Width), cb = load_unit(b, k, Width);
        if (!case_flag) {
            if (LettersOnly) {
                if (ca >= 'A' && ca <= 'Z') ca += 32;
                if (cb >= 'A' && cb <= 'Z') cb += 32;
            } else {
                ca = fold(ca);
                cb = fold(cb);
            }
        }
        diff = int32_t(ca) - int32_t(cb);
    }
    return flags & sort_reverse ? -diff : diff;
}

// A vector's numbers by value: integers sign-extended from their width,
// floats with unordered pairs (NaN) answering 0.
template <typename T>
int32_t compare_numbers(const void* a, const void* b, uintptr_t, uintptr_t flags) {
    uint32_t field = uint32_t(flags >> sort_field_shift);
    uint32_t first = flags & sort_whole_record ? 0 : field;
    uint32_t count = flags & sort_whole_record ? field : 1;
    int32_t diff = 0;
    for (uint32_t k = first; k < first + count && diff == 0; ++k) {
        T x, y;
        std::memcpy(&x, static_cast<const uint8_t*>(a) + k * sizeof(T), sizeof(T));
        std::memcpy(&y, static_cast<const uint8_t*>(b) + k * sizeof(T), sizeof(T));
        diff = x < y ? -1 : x > y ? 1 : 0;
    }
    return flags & sort_reverse ? -diff : diff;
}

// The comparator for a series' units: text by code point; a vector's
// integers and floats by their value (char! elements are code points).
sort::CompareFn comparator_for(unsigned unit, uint32_t element_type) {
    if (element_type == type_float || element_type == type_percent)
        return unit == 4 ? compare_numbers<float> : compare_numbers<double>;
    if (element_type == type_integer)
        return unit == 1 ? compare_numbers<int8_t> : unit == 2 ? compare_numbers<int16_t> : compare_numbers<int32_t>;
    if (!unicode::valid_unit_width(unit)) unicode::bad_unit_width();
    return unit == 1 ? sort_compare_1 : unit == 2 ? sort_compare_2 : sort_compare_4;
}

// One sort by a user function: the function, and two scratch series of the
// sorted series' type that show it whole records (with /all and /skip).
struct FunctionSort {
    Cell function;
    Cell* records;          // two series on the argument stack, or null
    uint32_t unit;          // bytes per unit
    uint32_t record_bytes;  // bytes per record
    uint32_t series_type;
    uint32_t element_type;  // a vector's, else 0
};

// The value the function gets for a record's first unit: a char! for text,
// an integer! for a binary!, the element for a vector!.
Cell unit_value(const FunctionSort& st, const uint8_t* p) {
    if (st.element_type) return vector_t::element_value(p, st.unit, st.element_type);
    uint32_t u = load_unit(p, 0, st.unit);
    if (st.series_type == type_binary) return text_errors::integer_cell(int32_t(u));
    return Cell{type_char, 0, u, 0};
}

// Shows a record in a scratch series (the function may have changed it).
void show_record(const Cell& scratch, const uint8_t* record, uint32_t bytes) {
    NodeId node = node_of(scratch);
    SeriesBuffer* b = memory::buffer_of(node);
    if (b->head + bytes > b->capacity) b = memory::expand_series(node, bytes);
    std::memcpy(b->head_ptr(), record, bytes);
    b->tail = b->head + bytes;
}

// The function gets the second record first (the first first under
// /reverse); sort::read_compare_answer reads its answer accordingly.
int32_t compare_by_function(const void* a, const void* b, uintptr_t state, uintptr_t flags) {
    auto* st = reinterpret_cast<const FunctionSort*>(state);
    const uint8_t* order[2] = {static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(a)};
    if (flags & sort_reverse) std::swap(order[0], order[1]);
    Cell* args = stack::top();
    for (int i = 0; i < 2; ++i) {
        if (st->records) {
            show_record(st->records[i], order[i], st->record_bytes);
            stack::push_copy(st->records[i]);
        } else {
            stack::push_copy(unit_value(*st, order[i]));
        }
    }
    return block_t::call_compare_function(st->function, args, 2);
}

// Sorts `records` records from unit `start` by a user function. The
// function may change the series itself: a private copy is sorted and
// written back only over the very units it was taken from. A function that
// changed them (or the text's width) would have its characters lost or
// others doubled by the write: that is an error, as for blocks. Units added
// after them are kept.
void sort_by_function(Cell& s, uint32_t start, uint32_t records, uint32_t record, bool whole, const Cell& function,
                      uint32_t flags, bool stable) {
    SeriesBuffer* b = buffer_of(s);
    uint32_t unit = b->unit();
    size_t bytes = size_t(records) * record * unit;
    std::vector<uint8_t> copy(b->head_ptr() + size_t(start) * unit, b->head_ptr() + size_t(start) * unit + bytes);
    std::vector<uint8_t> before(copy);
    Cell* saved_top = stack::top();
    uint32_t element_type = type_of(s) == type_vector ? vector_t::element_type(s) : 0;
    FunctionSort st{function, nullptr, unit, record * unit, type_of(s), element_type};
    if (whole) {
        st.records = stack::top();
        for (int i = 0; i < 2; ++i) series_t::copy_units(s, start, record, *stack::push_cell());
    }
    auto state = reinterpret_cast<uintptr_t>(&st);
    if (stable) sort::merge_sort(copy.data(), records, record * unit, state, flags, compare_by_function);
    else sort::quick_sort(copy.data(), records, record * unit, state, flags, compare_by_function);
    stack::set_top(saved_top);
    b = buffer_of(s);
    bool changed = b->unit() != unit || size_t(b->length()) * unit < size_t(start) * unit + bytes ||
                   std::memcmp(b->head_ptr() + size_t(start) * unit, before.data(), bytes) != 0;
    if (changed) text_errors::raise_invalid_arg(function);
    std::memcpy(b->head_ptr() + size_t(start) * unit, copy.data(), bytes);
}

}  // namespace

int32_t sort_compare_1(const void* a, const void* b, uintptr_t c, uintptr_t f) {
    return compare_records<1, true>(a, b, c, f);
}
int32_t sort_compare_2(const void* a, const void* b, uintptr_t c, uintptr_t f) {
    return compare_records<2, false>(a, b, c, f);
}
int32_t sort_compare_4(const void* a, const void* b, uintptr_t c, uintptr_t f) {
    return compare_records<4, false>(a, b, c, f);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    Cell& s = *series;
    uint32_t start = clamp(s);
    int64_t count = buffer_length(s) - start;
    if (part) {
        int64_t p = type_of(*part) == type_integer ? int32_t(part->w2) : part_from_series(s, *part, "part");
        if (p < 0) {
            // Sorts the units just before the index (from the head at most).
            int64_t from = std::max<int64_t>(0, int64_t(start) + p);
            count = start - from;
            start = uint32_t(from);
        } else if (p < count) {
            count = p;
        }
    }
    uint32_t record = 1;
    if (skip) {
        int32_t n = int32_t(skip->w2);
        if (type_of(*skip) != type_integer || n < 1 || n > count || count % n != 0)
            raise_invalid_refine_arg("skip", *skip);
        record = uint32_t(n);
    } else if (all) {
        text_errors::raise_bad_refines();
    }
    uint32_t flags = reverse ? sort_reverse : 0;
    bool by_function = false;
    if (comparator) {
        if (type_of(*comparator) == type_integer) {
            int32_t n = int32_t(comparator->w2);
            if (!skip || all) text_errors::raise_bad_refines();
            if (n < 1 || uint32_t(n) > record) text_errors::raise_out_of_range(*comparator);
            flags |= uint32_t(n - 1) << sort_field_shift;
        } else if (type_of(*comparator) == type_function) {
            by_function = true;
        } else {
            raise_invalid_refine_arg("compare", *comparator);
        }
    } else if (all && skip) {
        flags |= sort_whole_record | (record << sort_field_shift);
    }
    bool notified = notify_owner(s, "sort", start, uint32_t(count));
    SeriesBuffer* b = buffer_of(s);
    count = std::min<int64_t>(count, int64_t(b->length()) - std::min(start, b->length()));
    unsigned unit = b->unit();
    bool vector = type_of(s) == type_vector;
    sort::CompareFn compare = comparator_for(unit, vector ? vector_t::element_type(s) : 0);
    uint32_t records = uint32_t(count) / record;
    if (records > 1) {
        collector::CollectionHold hold;
        if (by_function) {
            sort_by_function(s, start, records, record, all && skip, *comparator, flags, stable);
        } else {
            uint8_t* base = b->head_ptr() + size_t(start) * unit;
            // Every stable sort is a merge sort, /case or not; a vector's
            // elements never fold.
            bool exact = case_ || vector;
            if (stable) sort::merge_sort(base, records, record * unit, exact, flags, compare);
            else sort::quick_sort(base, records, record * unit, exact, flags, compare);
        }
    }
    if (notified) notify_owner(s, "sorted", start, uint32_t(count));
    return series;
}

// ---- swap and take -------------------------------------------------------------------

Cell* swap(Cell* a, Cell* b) {
    if (!string_like_q(type_of(*b)) && type_of(*b) != type_binary) text_errors::raise_invalid_arg(*b);
    if (at_tail_q(*a) || at_tail_q(*b)) return a;
    uint32_t ia = clamp(*a), ib = clamp(*b);
    bool na = notify_owner(*a, "swap", ia, 1, b);
    bool nb = notify_owner(*b, "swap", ib, 1, a);
    if (at_tail_q(*a) || at_tail_q(*b)) return a;  // a handler emptied one of them
    ia = clamp(*a), ib = clamp(*b);
    uint32_t ca = char_at(*a, ia), cb = char_at(*b, ib);
    set_code_point(node_of(*a), ia, cb);
    set_code_point(node_of(*b), ib, ca);
    if (na) notify_owner(*a, "swaped", ia, 1);
    if (nb) notify_owner(*b, "swaped", ib, 1);
    return a;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell s = *series;
    uint32_t idx = clamp(s), len = buffer_length(s);
    if (idx >= len) {
        *series = none_cell();
        return series;
    }
    int64_t count = 1;
    if (part) {
        if (type_of(*part) == type_integer) {
            count = int32_t(part->w2);
        } else {
            int32_t diff = part_from_series(s, *part, "part");
            count = diff < 0 ? 0 : last ? int64_t(len) - index_of(*part) : diff;
        }
    }
    uint32_t from, n;
    if (count < 0) {
        // Units before the index; with /last nothing is taken.
        n = last ? 0 : uint32_t(std::min<int64_t>(-count, idx));
        from = idx - n;
    } else {
        n = uint32_t(std::min<int64_t>(std::max<int64_t>(count, 1), len - idx));
        from = last ? len - n : idx;
    }
    bool notified = notify_owner(s, "take", from, n);
    if (notified) {
        // The handler may have changed the series: take what is still there.
        s = *series;
        len = buffer_length(s);
        from = std::min(from, len);
        n = std::min(n, len - from);
        if (!part && n == 0) {
            *series = none_cell();
            return series;
        }
    }
    if (part) {
        Cell taken = make_cell(series::copy_series_part(node_of(s), from, n), 0, type_of(s));
        if (type_of(s) == type_vector) taken.w3 = s.w3;  // the element type
        remove_chars(s, from, n);
        *series = taken;
    } else if (type_of(s) == type_vector) {
        Cell element = vector_t::element_at(s, from);
        remove_chars(s, from, 1);
        *series = element;
    } else {
        uint32_t cp = char_at(s, from);
        remove_chars(s, from, 1);
        *series = type_of(s) == type_binary ? text_errors::integer_cell(int32_t(cp)) : Cell{type_char, 0, cp, 0};
    }
    if (notified) notify_owner(s, "taken", from, n);
    return series;
}

// ---- trim ---------------------------------------------------------------------------

namespace {

// White space W (ends and line walking) and blanks B (inside lines).
bool wide_space_q(uint32_t c) {
    return c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) || c == 8232 || c == 8233 ||
           c == 8239 || c == 8287 || c == 12288;
}
bool white_q(uint32_t c) { return (c >= 1 && c <= 32) || wide_space_q(c); }
bool blank_q(uint32_t c) { return c == 9 || c == 32 || wide_space_q(c); }

// Rewrites the units from the index with `out` (same width) and sets the tail.
void replace_from_index(Cell& s, const std::u32string& out) {
    SeriesBuffer* b = buffer_of(s);
    unsigned w = b->unit();
    uint32_t idx = uint32_t(s.w1);
    for (uint32_t k = 0; k < out.size(); ++k) store_unit(b->head_ptr(), idx + k, w, out[k]);
    b->tail = b->head + uint32_t(idx + out.size()) * w;
}

}  // namespace

void trim_spaces(Cell& s, const Cell* with) {
    clamp(s);
    std::u32string set = U"\t\n\r ";
    if (with) {
        uint32_t wt = type_of(*with);
        if (string_like_q(wt) || wt == type_binary) set = units_from(*with);
        else if (wt == type_char || wt == type_integer) set = std::u32string(1, char32_t(with->w2));
        else text_errors::raise_invalid_arg(*with);
    }
    std::u32string out;
    for (char32_t c : units_from(s))
        if (set.find(c) == std::u32string::npos) out += c;
    replace_from_index(s, out);
}

void trim_lines(Cell& s) {
    clamp(s);
    enum { start, in_word, after_space } state = start;
    std::u32string out;
    for (char32_t c : units_from(s)) {
        if (!white_q(c)) {
            out += c;
            state = in_word;
        } else if (state == in_word) {
            out += U' ';
            state = after_space;
        }
    }
    if (!out.empty() && out.back() == U' ' && state == after_space) out.pop_back();
    replace_from_index(s, out);
}

void trim_ends(Cell& s, bool head, bool tail) {
    clamp(s);
    std::u32string text = units_from(s);
    size_t first = 0, end = text.size();
    if (!(tail && !head))
        while (first < end && white_q(text[first])) ++first;
    bool dropped_line_feed = false;
    if (!(head && !tail))
        while (end > first && white_q(text[end - 1])) dropped_line_feed |= text[--end] == U'\n';
    std::u32string out;
    if (head || tail) {
        out = text.substr(first, end - first);
    } else {
        // Line by line: blanks at the start of each line and just before
        // each line feed go.
        size_t i = first;
        while (i < end) {
            while (i < end && blank_q(text[i])) ++i;
            size_t line_end = text.find(U'\n', i);
            if (line_end == std::u32string::npos || line_end > end) line_end = end;
            size_t keep = line_end;
            while (keep > i && blank_q(text[keep - 1])) --keep;
            out.append(text, i, keep - i);
            if (line_end < end) out += U'\n';
            i = line_end + 1;
        }
    }
    if (!tail && dropped_line_feed) out += U'\n';
    replace_from_index(s, out);
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell& s = *series;
    uint32_t at = clamp(s);
    bool notified = notify_owner(s, "trim", at, 0);
    if (all || with) trim_spaces(s, with);
    else if (auto_) text_errors::raise_not_done();
    else if (lines) trim_lines(s);
    else trim_ends(s, head, tail);
    if (notified) notify_owner(s, "trimmed", at, 0);
    return series;
}

// ---- Set operations -----------------------------------------------------------------

void set_operation(Cell* first, Cell* second, bool case_, Cell* skip, int32_t code) {
    uint32_t record = 1;
    if (skip) {
        int32_t n = int32_t(skip->w2);
        if (n < 1) raise_invalid_refine_arg("skip", *skip);
        record = uint32_t(n);
    }
    Cell a = *first;
    Cell b = second ? *second : a;
    uint32_t room = length_at(a) + (code == set_union ? length_at(b) : 0);
    Cell result;
    make_at(result, room ? room : 1);
    set_type(result, type_of(a));
    auto pass = [&](const Cell& from, const Cell* other) {
        std::u32string units = units_from(from);
        for (size_t r = 0; r < units.size(); r += record) {
            uint32_t c = units[r];
            bool keep = true;
            if (other) {
                bool present = contains_char_q(*other, c, record, case_);
                keep = code == set_intersect ? present : !present;
            }
            if (!keep || contains_char_q(result, c, record, case_)) continue;
            for (size_t k = r; k < std::min(units.size(), r + record); ++k)
                poke_char(node_of(result), buffer_length(result), units[k]);
        }
    };
    bool tests = code == set_intersect || code == set_exclude || code == set_difference;
    pass(a, tests ? &b : nullptr);
    if (code == set_union) pass(b, nullptr);
    if (code == set_difference) pass(b, &a);
    *first = result;
}

}  // namespace vyr::string_t
