// series!: the generic series actions, addressed through the buffer's unit
// width so that one implementation serves cells, text, bytes and vectors.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/series_internal.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "datatypes/fixed_words.h"
#include "runtime/hash.h"
#include "datatypes/owners.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"

namespace vyr::series_t {

using memory::buffer_of;
using memory::SeriesBuffer;

// ---- Errors and small values -------------------------------------------------

Cell refinement_word(Refinement r) {
    switch (r) {
        case Refinement::part: return fixed::ref_part;
        case Refinement::skip: return fixed::ref_skip;
        case Refinement::compare: return fixed::ref_compare;
    }
    return cells::none();
}

void raise_not_done() { raise_error(err_cat::internal, err_id::internal::not_done); }
void raise_out_of_range(const Cell& value) { raise_error(err_cat::script, err_id::script::out_of_range, &value); }
void raise_invalid_arg(const Cell& value) { raise_error(err_cat::script, err_id::script::invalid_arg, &value); }
void raise_invalid_refine_arg(Refinement r, const Cell& value) {
    Cell word = refinement_word(r);
    raise_error(err_cat::script, err_id::script::invalid_refine_arg, &word, &value);
}
void raise_bad_refines() { raise_error(err_cat::script, err_id::script::bad_refines); }

// ---- Going through the action table -------------------------------------------

// The engine's comparison core, for cells that may differ in type: logic!
// and the callables only compare with their own type.
int32_t compare_cells(Cell a, Cell b, int32_t op) {
    uint32_t t = type_of(a);
    switch (t) {
        case type_logic: case type_native: case type_action: case type_op: case type_function: case type_routine:
            if (t != type_of(b)) return registry::not_comparable;
            break;
        default: break;
    }
    return actions::compare_cells(&a, &b, op);
}

int32_t mold_value(Cell value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent) {
    auto mold = registry::action<registry::action_sig::mold>(type_of(value), registry::slot_mold);
    if (!mold) raise_not_done();
    return mold(&value, buffer, only, all, flat, part, budget, indent);
}

int32_t form_value(Cell value, Cell* buffer, Cell* part, int32_t budget) {
    auto form = registry::action<registry::action_sig::form>(type_of(value), registry::slot_form);
    if (!form) raise_not_done();
    return form(&value, buffer, part, budget);
}

void copy_in_place(Cell& cell, bool deep, Cell* types) {
    auto copy = registry::action<registry::action_sig::copy>(type_of(cell), registry::slot_copy);
    if (copy) copy(&cell, &cell, nullptr, deep, types);
}

// ---- The mold buffer --------------------------------------------------------------

int32_t emit(Cell* buffer, const char* text, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - int32_t(std::strlen(text));
}

int32_t emit_indent(Cell* buffer, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; ++i) emit(buffer, "    ", 0);
    return budget - 4 * level;
}

int32_t last_char(const Cell& buffer) {
    uint32_t n = string_t::buffer_length(buffer);
    return n ? int32_t(string_t::char_at(buffer, n - 1)) : -1;
}

// ---- hash! tables -------------------------------------------------------------------

namespace {
NodeId table_of(const Cell& s) { return type_of(s) == type_hash ? NodeId(s.w3) : no_node; }
}  // namespace

void hash_rebuild(const Cell& series) {
    if (NodeId t = table_of(series)) hash::hash_table_rebuild(t, uint32_t(buffer_length(series)));
}

void hash_inserted(const Cell& series, uint32_t at, uint32_t n, uint32_t old_len) {
    NodeId t = table_of(series);
    if (!t) return;
    if (hash::hash_table_shift_range(t, int32_t(n), at, old_len - at, true) == hash::shift_declined) {
        hash_rebuild(series);
        return;
    }
    for (uint32_t i = at; i < at + n; ++i) {
        int32_t out;
        hash::hash_table_put(t, buffer_of(node_of(series))->cells() + i, out);
        if (out == hash::put_rebuilt) return;  // the rebuild indexed every cell
    }
}

void hash_removed(const Cell& series, uint32_t at, uint32_t n, uint32_t old_len) {
    NodeId t = table_of(series);
    if (!t || n == 0) return;
    if (hash::hash_table_shift_range(t, -int32_t(n), at + n, old_len - at - n, true) == hash::shift_declined)
        hash_rebuild(series);
}

void hash_unindex(const Cell& series, uint32_t at) {
    if (NodeId t = table_of(series)) hash::hash_table_remove(t, buffer_of(node_of(series))->cells() + at);
}

bool hash_index(const Cell& series, uint32_t at) {
    NodeId t = table_of(series);
    if (!t) return false;
    int32_t out = 0;
    hash::hash_table_put(t, buffer_of(node_of(series))->cells() + at, out);
    return out == hash::put_rebuilt;
}

// ---- Reading a series value ------------------------------------------------


// An image's elements are its pixels, not the bytes of its record.
int32_t image_length(const Cell& v) { return int32_t(image_t::pixel_count(v)); }

bool advance(Cell& v, int32_t n) {
    int64_t wanted = int64_t(index_of(v)) + n;
    int32_t len = buffer_length(v);
    if (wanted <= len && wanted >= 0) set_index(v, int32_t(wanted));
    return wanted >= len;
}

int32_t length_at(Cell& v, bool from_head) {
    int32_t len = buffer_length(v);
    if (from_head) return len;
    int32_t i = index_of(v);
    if (i > len) {
        set_index(v, len);
        return 0;
    }
    return len - std::max(i, 0);
}

int32_t offset_index(const Cell& v, int32_t offset, int32_t base) {
    int64_t i = int64_t(index_of(v)) + offset - (base && offset >= 1 ? 1 : 0);
    int64_t len = buffer_length(v);
    return int32_t(std::clamp<int64_t>(i, 0, len));
}

// ---- Kinds of series ---------------------------------------------------------

bool series_type_q(uint32_t type) {
    return block_family_q(type) || text_family_q(type) || type == type_binary || type == type_vector ||
           type == type_image;
}

// ---- Elements ----------------------------------------------------------------

void element_at(const Cell& series, uint32_t i, Cell& out) {
    uint32_t type = type_of(series);
    SeriesBuffer* b = buffer_of(node_of(series));
    if (block_family_q(type) || type == type_map) {
        out = b->cells()[i];
    } else if (text_family_q(type)) {
        out = cells::character(unicode::load_unit(b->head_ptr(), i, b->unit()));
    } else if (type == type_binary) {
        out = cells::integer(b->head_ptr()[i]);
    } else if (type == type_vector) {
        out = vector_t::element_at(series, i);
    } else {
        out = image_t::pixel_at(series, i);
    }
}

namespace {

uint8_t* unit_ptr(const Cell& series, uint32_t i) {
    SeriesBuffer* b = buffer_of(node_of(series));
    return b->head_ptr() + size_t(i) * b->unit();
}

// Removes `count` units at unit `at`, closing the gap (the caller has cut
// the range to the buffer); a hash!'s table follows.
void remove_units(const Cell& series, uint32_t at, uint32_t count) {
    SeriesBuffer* b = buffer_of(node_of(series));
    uint32_t unit = b->unit(), old_len = b->length();
    uint8_t* p = b->head_ptr() + size_t(at) * unit;
    std::memmove(p, p + size_t(count) * unit, b->tail_ptr() - (p + size_t(count) * unit));
    b->tail -= count * unit;
    hash_removed(series, at, count, old_len);
}

Cell& arg(int i) { return stack::arg_base()[i]; }

// The words that name the changes, before and after.
const Cell& change_word_cell(Change c, bool after) {
    static const Cell* const words[][2] = {
        {&fixed::word_append, &fixed::word_appended}, {&fixed::word_insert, &fixed::word_inserted},
        {&fixed::word_change, &fixed::word_changed},  {&fixed::word_clear, &fixed::word_cleared},
        {&fixed::word_move, &fixed::word_moved},      {&fixed::word_poke, &fixed::word_poked},
        {&fixed::word_put, &fixed::word_put_ed},      {&fixed::word_remove, &fixed::word_removed},
        {&fixed::word_random, &fixed::word_randomized}, {&fixed::word_reverse, &fixed::word_reversed},
        {&fixed::word_sort, &fixed::word_sorted},     {&fixed::word_swap, &fixed::word_swaped},
        {&fixed::word_take, &fixed::word_taken},      {&fixed::word_trim, &fixed::word_trimmed},
    };
    return *words[uint32_t(c)][after ? 1 : 0];
}

}  // namespace

// ---- Owner notification ------------------------------------------------------

bool notify_owned(const Cell& series, Change c, const Cell* value, int32_t position, int32_t part) {
    return owners::notify_owner(series, change_word_cell(c, false), value, position, part);
}

void notify_after(const Cell& series, Change c, const Cell* value, int32_t position, int32_t part) {
    owners::notify_owner(series, change_word_cell(c, true), value, position, part);
}

void store_changed(const Cell& series, int32_t n, const Cell& value) {
    int64_t pos = int64_t(index_of(series)) + n - (n > 0 ? 1 : 0);
    if (n == 0 || pos < 0 || pos >= buffer_length(series)) return;
    Cell changed = value;
    hash_unindex(series, uint32_t(pos));
    buffer_of(node_of(series))->cells()[pos] = changed;
    hash_index(series, uint32_t(pos));
    if (buffer_of(node_of(series))->flags & memory::flag::owned)
        owners::notify_owner(series, fixed::word_set_path, &changed, int32_t(pos), 1);
}

// ---- Shared pieces -----------------------------------------------------------

int32_t part_count(const Cell& series, const Cell& part) {
    uint32_t t = type_of(part);
    if (t == type_integer || t == type_float) return checks::cell_to_int(part);
    if (t != type_of(series) || node_of(part) != node_of(series)) raise_invalid_refine_arg(Refinement::part, part);
    return int32_t(int64_t(index_of(part)) - index_of(series));
}

void copy_units(const Cell& like, uint32_t from, uint32_t count, Cell& out) {
    NodeId copy = series::copy_series_part(node_of(like), from, count);
    uint32_t type = type_of(like);
    uint32_t w3 = type == type_vector ? like.w3 : 0;
    out = Cell{type, 0, copy, w3};
}

// ---- Navigation ------------------------------------------------------------

Cell* head() {
    set_index(arg(0), 0);
    return &arg(0);
}

Cell* tail() {
    set_index(arg(0), buffer_length(arg(0)));
    return &arg(0);
}

Cell* next() {
    advance(arg(0), 1);
    return &arg(0);
}

Cell* back() {
    if (index_of(arg(0)) > 0) set_index(arg(0), index_of(arg(0)) - 1);
    return &arg(0);
}

namespace {
Cell* move_to_offset(int32_t base) {
    Cell& offset = arg(1);
    if (type_of(offset) != type_integer) raise_invalid_arg(offset);
    set_index(arg(0), offset_index(arg(0), cells::integer_of(offset), base));
    return &arg(0);
}
}  // namespace

Cell* at() { return move_to_offset(1); }
Cell* skip() { return move_to_offset(0); }

Cell* head_q() {
    arg(0) = cells::logic(index_of(arg(0)) == 0);
    return &arg(0);
}

Cell* tail_q() {
    arg(0) = cells::logic(at_tail_q(arg(0)));
    return &arg(0);
}

Cell* index_q() {
    arg(0) = cells::integer(index_of(arg(0)) + 1);
    return &arg(0);
}

int32_t length_q(Cell* value) { return length_at(*value); }

// ---- pick and poke -----------------------------------------------------------

namespace {
// The unit that pick and poke address for n, or -1 when there is none:
// index + n - 1 for n above 0, index + n below 0; nothing for 0.
int64_t element_position(const Cell& series, int32_t n) {
    if (n == 0) return -1;
    int64_t pos = int64_t(index_of(series)) + n - (n > 0 ? 1 : 0);
    if (pos < 0 || pos >= buffer_length(series)) return -1;
    return pos;
}
}  // namespace

// Answers the element cell inside a cell buffer (the caller copies it), or
// the series cell turned into the element or into none.
Cell* pick(Cell* series, int32_t index, Cell*) {
    int64_t pos = element_position(*series, index);
    if (pos < 0) {
        *series = cells::none();
        return series;
    }
    uint32_t type = type_of(*series);
    if (block_family_q(type)) return buffer_of(node_of(*series))->cells() + pos;
    if (text_family_q(type)) {  // a loop over a text's characters picks each in turn
        SeriesBuffer* b = buffer_of(node_of(*series));
        *series = cells::character(unicode::load_unit(b->head_ptr(), uint32_t(pos), b->unit()));
        return series;
    }
    element_at(*series, uint32_t(pos), *series);
    return series;
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell*) {
    int64_t pos = element_position(*series, index);
    if (pos < 0) raise_out_of_range(cells::integer(index));
    uint32_t type = type_of(*series);
    bool text = text_family_q(type);
    bool bytes = type == type_binary;
    if (text && type_of(*value) != type_char) raise_invalid_arg(*value);
    bool vector = type == type_vector;
    if (vector && type_of(*value) != vector_t::element_type(*series)) raise_invalid_arg(*value);
    uint8_t byte = bytes ? binary_t::byte_from_value(*value) : 0;
    if (!block_family_q(type) && !text && !bytes && !vector) raise_not_done();
    bool owned = notify_before(*series, Change::poke, value, int32_t(pos), 1);
    pos = element_position(*series, index);  // the owner's handler may have changed the series
    if (pos >= 0) {
        if (text) {
            string_t::set_code_point(node_of(*series), uint32_t(pos), value->w2);
        } else if (bytes) {
            buffer_of(node_of(*series))->head_ptr()[pos] = byte;
        } else if (vector) {
            vector_t::set_value(unit_ptr(*series, uint32_t(pos)), *value, unit_of(*series));
        } else {
            hash_unindex(*series, uint32_t(pos));
            buffer_of(node_of(*series))->cells()[pos] = *value;
            hash_index(*series, uint32_t(pos));
        }
    }
    if (owned) notify_after(*series, Change::poke, value, int32_t(pos), 1);
    return value;
}

// ---- clear, remove -----------------------------------------------------------

Cell* clear(Cell* series) {
    int32_t index = std::max(index_of(*series), 0);
    int32_t count = buffer_length(*series) - index;
    if (count < 1) return series;
    bool owned = notify_before(*series, Change::clear, nullptr, index, count);
    SeriesBuffer* b = buffer_of(node_of(*series));
    if (uint32_t(index) < b->length()) {
        if (NodeId t = type_of(*series) == type_hash ? NodeId(series->w3) : no_node)
            hash::hash_table_remove_range(t, uint32_t(index), b->length() - uint32_t(index));
        b = buffer_of(node_of(*series));
        b->tail = b->head + uint32_t(index) * b->unit();
    }
    if (owned) notify_after(*series, Change::clear, nullptr, index, count);
    return series;
}

namespace {
// The registry's find with /case, from the series' index: the position of
// the key, or -1.
int32_t find_key(const Cell& series, Cell* key) {
    auto find = registry::action<registry::action_sig::find>(type_of(series), registry::slot_find);
    if (!find) raise_not_done();
    Cell* top = stack::top();
    Cell* found = stack::push_copy(series);
    stack::push_copy(*key);
    Cell* answer = find(found, top + 1, nullptr, false, true, false, false, nullptr, nullptr, false, false, false,
                        false);
    int32_t pos = type_of(*answer) == type_none ? -1 : index_of(*answer);
    stack::set_top(top);
    return pos;
}
}  // namespace

Cell* remove(Cell* series, Cell* part, Cell* key) {
    int32_t position = std::max(index_of(*series), 0);
    int32_t count = 1;
    if (key) {
        position = find_key(*series, key);
        if (position < 0) {
            *series = cells::none();
            return series;
        }
        count = 2;
    } else if (part) {
        count = part_count(*series, *part);
    }
    int32_t len = buffer_length(*series);
    if (count < 1 || position >= len) return series;
    bool owned = notify_before(*series, Change::remove, nullptr, position, count);
    len = buffer_length(*series);
    if (position < len)
        remove_units(*series, uint32_t(position), uint32_t(std::min<int64_t>(count, len - position)));
    if (owned) notify_after(*series, Change::remove, nullptr, position, count);
    return series;
}

// ---- take ----------------------------------------------------------------------

// Every take answers a buffer of its own, also the one-element take without
// /part: an answer kept by the caller is never touched by a later take.
Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell s = *series;
    int32_t length = length_at(s);
    if (length == 0) {
        *series = cells::none();
        return series;
    }
    int32_t index = std::max(index_of(s), 0);
    int64_t count = 1;
    if (part) {
        if (type_of(*part) == type_integer || type_of(*part) == type_float) {
            count = checks::cell_to_int(*part);
        } else {
            if (type_of(*part) != type_of(s) || node_of(*part) != node_of(s))
                raise_invalid_refine_arg(Refinement::part, *part);
            int32_t p = index_of(*part);
            if (p < index) count = 0;
            else if (last) count = std::max(buffer_length(s) - p, 0);
            else count = int64_t(p) - index;
        }
    }
    bool negative = count < 0;
    if (negative) {
        length = index;  // the units before the index
        count = last ? 1 : -count;
    }
    count = std::min<int64_t>(count, length);
    if (count == 0) count = 1;
    if (negative && (last || index == 0)) {
        // Nothing is taken: /last with a negative count, or nothing before the index.
        copy_units(s, 0, 0, *series);
        return series;
    }
    int32_t from = negative ? index - int32_t(count) : last ? buffer_length(s) - int32_t(count) : index;
    bool owned = notify_before(s, Change::take, nullptr, from, int32_t(count));
    s = *series;  // re-read: the handler may have changed the series
    int32_t len = buffer_length(s);
    from = std::min(from, len);
    count = std::min<int64_t>(count, len - from);
    Cell answer;
    copy_units(s, uint32_t(from), uint32_t(count), answer);
    if (type_of(answer) == type_hash)  // a hash! answer gets a table of its own
        answer.w3 = hash::make_hash_table(int32_t(count), &answer, hash::kind_block, 0);
    remove_units(s, uint32_t(from), uint32_t(count));
    *series = answer;  // rooted in the result cell while the handler runs
    if (owned) notify_after(s, Change::take, nullptr, from, int32_t(count));
    return series;
}

// ---- copy ----------------------------------------------------------------------

namespace {
// The start and count that copy takes from `v` under its /part argument.
void copy_range(const Cell& v, const Cell* part, int32_t& start, int32_t& count) {
    int32_t len = buffer_length(v);
    start = std::clamp(index_of(v), 0, len);
    int64_t c = len - start;
    if (part) {
        if (type_of(*part) == type_pair) {
            int32_t x = int32_t(part->w2), y = int32_t(part->w3);
            int64_t s = int64_t(index_of(v)) + x - (x < 0 ? 0 : 1);
            start = int32_t(std::clamp<int64_t>(s, 0, len));
            c = y < x ? 0 : int64_t(y) - x;
        } else {
            c = part_count(v, *part);
        }
        if (c < 0) {
            int32_t back = int32_t(std::max<int64_t>(start + c, 0));
            c = start - back;
            start = back;
        }
    }
    count = int32_t(std::min<int64_t>(c, len - start));
}
}  // namespace

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    int32_t start, count;
    copy_range(*value, part, start, count);
    uint32_t new_line = value->header & header::new_line;
    copy_units(*value, uint32_t(start), uint32_t(count), *result);
    result->header |= new_line;
    return result;
}

// ---- reverse -------------------------------------------------------------------

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (at_tail_q(*series)) return series;
    int32_t index = std::max(index_of(*series), 0);
    int32_t available = length_at(*series);
    int32_t count = part ? part_count(*series, *part) : available;
    if (count < 1) return series;
    count = std::min(count, available);  // never past the tail, whatever /part says
    int32_t width = 1;
    if (skip) {
        if (type_of(*skip) != type_integer) raise_invalid_refine_arg(Refinement::skip, *skip);
        width = cells::integer_of(*skip);
        if (width == count) return series;
        if (width < 1) raise_out_of_range(*skip);
        if (width > count || count % width) raise_invalid_refine_arg(Refinement::skip, *skip);
    }
    bool owned = notify_before(*series, Change::reverse, nullptr, index, count);
    count = std::min(count, length_at(*series));
    count -= count % width;
    // A hash! takes the moved cells out of its table and indexes them again.
    for (int32_t i = 0; i < count; ++i) hash_unindex(*series, uint32_t(index + i));
    uint32_t record = uint32_t(width) * unit_of(*series);
    if (count > 0) {
        uint8_t* lo = unit_ptr(*series, uint32_t(index));
        uint8_t* hi = lo + size_t(count / width - 1) * record;
        for (; lo < hi; lo += record, hi -= record) sort::swap_records(lo, hi, record, record % 4 != 0);
    }
    for (int32_t i = 0; i < count; ++i)
        if (hash_index(*series, uint32_t(index + i))) break;  // a rebuild indexed them all
    if (owned) notify_after(*series, Change::reverse, nullptr, index, count);
    return series;
}

// ---- move ----------------------------------------------------------------------

namespace {
[[noreturn]] void raise_move_bad(const Cell& origin, const Cell& target) {
    Cell a = cells::datatype(type_of(origin)), b = cells::datatype(type_of(target));
    raise_error(err_cat::script, err_id::script::move_bad, &a, &b);
}

// Moves n units from o to t within one buffer of length len.
void move_within(const Cell& origin, int32_t o, int32_t n, int32_t t, int32_t len) {
    if (t == o) return;
    if (t > o && t != len && len - t < n) return;
    if (t > o && t < o + n) return;  // the target lies inside the moved run
    uint32_t unit = unit_of(origin);
    std::vector<uint8_t> saved(size_t(n) * unit);
    uint8_t* base = unit_ptr(origin, 0);
    std::memcpy(saved.data(), base + size_t(o) * unit, saved.size());
    int32_t place;
    if (t < o) {
        std::memmove(base + size_t(t + n) * unit, base + size_t(t) * unit, size_t(o - t) * unit);
        place = t;
    } else {
        // Forward: after the element at the target, or at the very end.
        place = t == len ? len - n : t - n + 1;
        std::memmove(base + size_t(o) * unit, base + size_t(o + n) * unit, size_t(place - o) * unit);
    }
    std::memcpy(base + size_t(place) * unit, saved.data(), saved.size());
    if (type_of(origin) == type_hash)  // the table's move counts the destination as the run's last cell when forward
        hash::hash_table_move_range(origin.w3, uint32_t(t < o ? place : place + n - 1), uint32_t(o), uint32_t(n));
}

// Moves n units from the origin's index into the target buffer at its index
// (both buffers of the same unit width).
void move_across(const Cell& origin, int32_t o, int32_t n, const Cell& target) {
    uint32_t unit = unit_of(origin);
    int32_t t = std::clamp(index_of(target), 0, buffer_length(target));
    NodeId tn = node_of(target);
    SeriesBuffer* tb = buffer_of(tn);
    uint64_t need = uint64_t(tb->used()) + uint64_t(n) * unit;
    if (need > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    if (tb->head + need > tb->capacity) tb = memory::expand_series(tn, uint32_t(std::min<uint64_t>(need * 2, memory::max_series_bytes)));
    uint8_t* at = tb->head_ptr() + size_t(t) * unit;
    std::memmove(at + size_t(n) * unit, at, tb->tail_ptr() - at);
    std::memcpy(at, unit_ptr(origin, uint32_t(o)), size_t(n) * unit);
    uint32_t old_len = tb->length();
    tb->tail += uint32_t(n) * unit;
    hash_inserted(target, uint32_t(t), uint32_t(n), old_len);
    remove_units(origin, uint32_t(o), uint32_t(n));
}
}  // namespace

Cell* move(Cell* origin, Cell* target, Cell* part) {
    uint32_t ot = type_of(*origin), tt = type_of(*target);
    if (!series_type_q(tt)) {
        Cell type = cells::datatype(tt), argument = word_t::make_global("target");
        raise_error(err_cat::script, err_id::script::expect_arg, &fixed::word_move, &type, &argument);
    }
    if (at_tail_q(*origin)) return target;
    int32_t n = 1;
    if (part) {
        if (type_of(*part) != type_integer) raise_invalid_refine_arg(Refinement::part, *part);
        n = cells::integer_of(*part);
        if (n < 1) return target;
    }
    int32_t o = std::max(index_of(*origin), 0);
    n = std::min(n, length_at(*origin));
    bool same = node_of(*origin) == node_of(*target);
    if (!same) {
        if (block_family_q(ot) != block_family_q(tt)) raise_move_bad(*origin, *target);
        if (unit_of(*origin) != unit_of(*target) &&
            (ot == type_binary || tt == type_binary || ot == type_vector || tt == type_vector))
            raise_move_bad(*origin, *target);
    }
    bool owned = notify_before(*origin, Change::move, nullptr, o, n);
    bool target_owned = !same && notify_before(*target, Change::move, nullptr, index_of(*target), n);
    n = std::min(n, length_at(*origin));
    if (n > 0) {
        if (same) {
            move_within(*origin, o, n, std::clamp(index_of(*target), 0, buffer_length(*target)),
                        buffer_length(*origin));
        } else if (unit_of(*origin) == unit_of(*target)) {
            move_across(*origin, o, n, *target);
        } else {
            // Text of different widths: the string layer widens the target.
            Cell from = *origin, to = *target;
            set_index(from, o);
            set_index(to, std::clamp(index_of(to), 0, buffer_length(to)));
            string_t::move_chars(from, to, uint32_t(n) * unit_of(from));
        }
    }
    if (owned) notify_after(*origin, Change::move, nullptr, o, n);
    if (target_owned) notify_after(*target, Change::move, nullptr, index_of(*target), n);
    return target;
}

// ---- random --------------------------------------------------------------------

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    int32_t length = length_at(*value);
    int32_t index = std::max(index_of(*value), 0);
    if (seed) {
        random::random_seed(int32_t(hash::hash_bytes(unit_ptr(*value, uint32_t(index)), size_t(length) * unit_of(*value))));
        *value = cells::unset();
        return value;
    }
    if (only) {
        if (length == 0) *value = cells::none();
        else element_at(*value, uint32_t(index + random::random_int(secure, length) - 1), *value);
        return value;
    }
    if (length == 0) return value;
    bool owned = notify_before(*value, Change::random, nullptr, index, length);
    length = length_at(*value);
    uint32_t unit = unit_of(*value);
    for (int32_t i = 0; i < length; ++i) {
        int32_t j = i + random::random_int(secure, length - i) - 1;
        if (j != i)
            sort::swap_records(unit_ptr(*value, uint32_t(index + i)), unit_ptr(*value, uint32_t(index + j)), unit,
                               unit % 4 != 0);
    }
    hash_rebuild(*value);
    if (owned) notify_after(*value, Change::random, nullptr, index, length);
    return value;
}

// ---- reflect and modify ----------------------------------------------------------

namespace {
bool owned_field_q(const Cell& field) {
    uint32_t t = type_of(field);
    return t >= type_word && t <= type_issue &&
           symbol_t::resolve_alias(int32_t(field.w2)) == symbol_t::resolve_alias(fixed::sym_owned);
}
}  // namespace

// The only field is `owned`: the object that owns the series, or none.
Cell* reflect(Cell* value, Cell* field) {
    if (!owned_field_q(*field)) raise_not_done();
    Cell* owner = owners::find_owner(node_of(*value));
    *value = owner ? *owner : cells::none();
    return value;
}

// The field `owned`: none drops the series' owner; a block holding an
// object and a word makes that object, through that field, its owner.
// Other fields change nothing.
Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!owned_field_q(*field)) return value;
    Cell series = *target;
    if (type_of(*value) == type_none) {
        owners::clear_owned(series);
    } else if (type_of(*value) == type_block && length_at(*value) >= 2) {
        Cell* pair = buffer_of(node_of(*value))->cells() + std::max(index_of(*value), 0);
        Cell owner = pair[0], word = pair[1];
        uint32_t wt = type_of(word);
        if (type_of(owner) == type_object && wt >= type_word && wt <= type_get_word) owners::set_owned(series, owner, word);
    }
    return value;
}

// ---- Registration ----------------------------------------------------------------

void init() {
    using namespace registry;
    Row row;
    row.set(slot_random, random);
    row.set(slot_reflect, reflect);
    row.set(slot_at, at);
    row.set(slot_back, back);
    row.set(slot_clear, clear);
    row.set(slot_copy, copy);
    row.set(slot_head, head);
    row.set(slot_head_q, head_q);
    row.set(slot_index_q, index_q);
    row.set(slot_length_q, length_q);
    row.set(slot_move, move);
    row.set(slot_next, next);
    row.set(slot_pick, pick);
    row.set(slot_poke, poke);
    row.set(slot_remove, remove);
    row.set(slot_reverse, reverse);
    row.set(slot_skip, skip);
    row.set(slot_tail, tail);
    row.set(slot_tail_q, tail_q);
    row.set(slot_take, take);
    row.set(slot_modify, modify);
    row.register_as(type_series, 0, "series!");
}

}  // namespace vyr::series_t
