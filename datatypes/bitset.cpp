// bitset!: helpers, actions and registration (see bitset.h).
#include "datatypes/bitset.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_errors.h"
#include "runtime/stack.h"
#include "datatypes/fixed_words.h"
#include "runtime/numeric.h"
#include "datatypes/owners.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::bitset_t {

using memory::SeriesBuffer;
using namespace registry;

namespace {

constexpr uint32_t bits_per_byte = 8;
constexpr uint8_t all_bits = 0xFF;

SeriesBuffer* buffer(const Cell& b) { return memory::buffer_of(node_of(b)); }
Cell bitset_cell(NodeId node) { return Cell{type_bitset, 0, node, 0}; }
Cell logic_cell(bool v) { return Cell{type_logic, v ? 1u : 0u, 0, 0}; }
Cell none_cell() { return Cell{type_none, 0, 0, 0}; }

// A new bitset buffer of n bytes, every byte `fill`.
NodeId new_bytes(uint32_t n, uint8_t fill) {
    NodeId node = memory::alloc_bytes(n ? n : 1);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memset(b->head_ptr(), fill, n);
    b->tail = b->head + n;
    return node;
}

// Whether the value is a word! of the symbol (in any letter case).
bool word_is(const Cell& value, int32_t symbol) {
    return type_of(value) == type_word &&
           symbol_t::resolve_alias(int32_t(value.w2)) == symbol_t::resolve_alias(symbol);
}

// The number a char!, integer! or float! stands for.
int64_t number_of(const Cell& v) {
    if (type_of(v) == type_float) return numeric::truncate_to_int32(cell_float(v));
    return int32_t(v.w2);
}

bool number_q(const Cell& v) {
    uint32_t t = type_of(v);
    return t == type_char || t == type_integer || t == type_float;
}

// The error for a value the walker cannot use.
[[noreturn]] void refuse(const Cell& value, int kind) {
    if (kind == 0) text_errors::raise_bad_make_arg(type_bitset, value);
    if (kind == 1) text_errors::raise_bad_to_arg(type_bitset, value);
    text_errors::raise_invalid_arg(value);
}

}  // namespace

// ---- Helpers ---------------------------------------------------------------------

uint8_t* bits(const Cell& b) { return buffer(b)->head_ptr(); }

uint32_t byte_length(const Cell& b) { return buffer(b)->used(); }

bool member_q(const Cell& b, uint32_t n) {
    SeriesBuffer* buf = buffer(b);
    if (byte_of(n) >= buf->used()) return buf->flags & complemented;
    return buf->head_ptr()[byte_of(n)] & mask_of(n);
}

uint8_t* grow_to_bit(const Cell& b, uint32_t n) {
    SeriesBuffer* buf = buffer(b);
    uint32_t need = byte_of(n) + 1;
    uint32_t have = buf->used();
    if (have >= need) return buf->head_ptr();
    uint8_t fill = buf->flags & complemented ? all_bits : 0;
    buf = string_t::reserve(node_of(b), need);
    std::memset(buf->head_ptr() + have, fill, need - have);
    buf->tail = buf->head + need;
    return buf->head_ptr();
}

bool bit_beyond_q(const Cell& b, int64_t n) { return n < 0 || uint64_t(n >> 3) >= byte_length(b); }

void invert_bytes(NodeId node) {
    SeriesBuffer* b = memory::buffer_of(node);
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); ++p) *p = uint8_t(~*p);
}

bool process_range(const Cell& b, uint32_t low, uint32_t high, Mode mode) {
    bool comp = complemented_q(b);
    if (mode == Mode::test) {
        for (uint64_t n = low; n <= high; ++n) {
            if (bit_beyond_q(b, int64_t(n))) return comp;  // every number from here on answers the flag
            if (!member_q(b, uint32_t(n))) return false;
        }
        return true;
    }
    bool set = mode == Mode::set;
    // Beyond the array a complemented set already holds every number, and a
    // normal one none: only the other case needs the array to grow.
    uint32_t top = high;
    if (set == comp) {
        uint64_t end_bits = uint64_t(byte_length(b)) * bits_per_byte;
        if (low >= end_bits) return true;
        top = uint32_t(std::min<uint64_t>(high, end_bits - 1));
    } else {
        grow_to_bit(b, high);
    }
    uint8_t* p = bits(b);
    for (uint64_t n = low; n <= top; ++n) {
        if (set) p[byte_of(uint32_t(n))] |= mask_of(uint32_t(n));
        else p[byte_of(uint32_t(n))] &= uint8_t(~mask_of(uint32_t(n)));
    }
    return true;
}

// Every code point is handled, also after one that lies beyond the array: a
// test answers false at the first non-member, a clear goes on to the end.
bool process_string(const Cell& text, const Cell* b, Mode mode, uint32_t& largest) {
    Cell t = text;
    string_t::length_at(t);  // clamps the index
    uint32_t from = uint32_t(t.w1);
    uint32_t len = string_t::buffer_length(t);
    for (uint32_t i = from; i < len; ++i) {
        uint32_t cp = string_t::char_at(t, i);
        if (mode == Mode::size) {
            largest = std::max(largest, cp);
        } else if (mode == Mode::test) {
            if (!member_q(*b, cp)) return false;
        } else {
            process_range(*b, cp, cp, mode);
        }
    }
    return true;
}

bool process_spec(const Cell& spec, const Cell* b, Mode mode, uint32_t& largest, int kind) {
    uint32_t t = type_of(spec);
    if (number_q(spec)) {
        int64_t n = number_of(spec);
        if (n < 0) {
            if (mode == Mode::test) return false;
            text_errors::raise_out_of_range(spec);
        }
        if (mode == Mode::size) largest = std::max(largest, uint32_t(n));
        else return process_range(*b, uint32_t(n), uint32_t(n), mode);
        return true;
    }
    if (t == type_string) return process_string(spec, b, mode, largest);
    if (t == type_binary) text_errors::raise_not_done();  // a binary! inside a set description
    if (t != type_block) refuse(spec, kind);

    // Nested blocks are walked by recursion: the cycle stack bounds the depth
    // (internal `too-deep`), which also ends a block that holds itself.
    series::CycleGuard guard;
    series::cycle_push(spec.w2);
    NodeId block = spec.w2;
    for (uint32_t i = spec.w1; i < memory::series_length(block); ++i) {
        Cell item = *memory::cell_at(block, i);
        bool all_in = true;
        if ((type_of(item) == type_char || type_of(item) == type_integer) && i + 1 < memory::series_length(block) &&
            word_is(*memory::cell_at(block, i + 1), fixed::sym_dash)) {
            if (i + 2 >= memory::series_length(block)) raise_error(err_cat::script, err_id::script::past_end);
            Cell end = *memory::cell_at(block, i + 2);
            if (type_of(end) != type_of(item)) text_errors::raise_invalid_arg(end);
            int64_t low = number_of(item), high = number_of(end);
            if (high < low) raise_error(err_cat::script, err_id::script::past_end);
            if (low < 0) {
                if (mode != Mode::test) text_errors::raise_out_of_range(item);
                all_in = false;
            } else if (mode == Mode::size) {
                largest = std::max(largest, uint32_t(high));
            } else {
                all_in = process_range(*b, uint32_t(low), uint32_t(high), mode);
            }
            i += 2;
        } else {
            all_in = process_spec(item, b, mode, largest, kind);
        }
        if (mode == Mode::test && !all_in) return false;
    }
    return true;
}

void make_from(Cell& result, const Cell& spec_in, int kind) {
    Cell spec = spec_in;
    bool negated = false;
    if (type_of(spec) == type_block && memory::series_length(spec.w2) > spec.w1 &&
        word_is(*memory::cell_at(spec.w2, spec.w1), fixed::sym_not)) {
        negated = true;
        spec.w1 += 1;
        if (memory::series_length(spec.w2) > spec.w1 && type_of(*memory::cell_at(spec.w2, spec.w1)) == type_binary)
            spec = *memory::cell_at(spec.w2, spec.w1);
    }
    uint32_t t = type_of(spec);
    if ((t == type_integer || t == type_float) && !negated) {
        if (kind == 1) text_errors::raise_bad_to_arg(type_bitset, spec);
        if (t == type_float && !(cell_float(spec) >= -2147483648.0 && cell_float(spec) <= 2147483647.0))
            text_errors::raise_out_of_range(spec);
        int64_t size = number_of(spec);
        if (size < 0) text_errors::raise_out_of_range(spec);
        result = bitset_cell(new_bytes(uint32_t((size + 7) / bits_per_byte), 0));
        return;
    }
    if (t == type_bitset) {
        result = bitset_cell(memory::copy_series_buffer(node_of(spec)));
        return;
    }
    if (t == type_binary) {
        Cell bin = spec;
        uint32_t n = string_t::length_at(bin);
        NodeId node = new_bytes(n, 0);
        std::memcpy(memory::buffer_of(node)->head_ptr(), string_t::buffer_of(bin)->head_ptr() + bin.w1, n);
        if (negated) {
            invert_bytes(node);
            memory::set_series_flags(node, complemented);
        }
        result = bitset_cell(node);
        return;
    }
    uint32_t largest = 0;
    process_spec(spec, nullptr, Mode::size, largest, kind);
    NodeId node = new_bytes((largest + bits_per_byte) / bits_per_byte, negated ? all_bits : 0);
    if (negated) memory::set_series_flags(node, complemented);
    Cell made = bitset_cell(node);
    process_spec(spec, &made, negated ? Mode::clear : Mode::set, largest, kind);
    result = made;
}

// Membership beyond the shorter operand follows that operand's complement
// flag, so every operation gives the true membership of every number: the
// result's flag is the operation applied to the two flags.
void do_bitwise(Cell& result, const Cell& a, const Cell& b, int code) {
    if (code == string_t::set_unique) {
        result = a;
        return;
    }
    if (type_of(b) != type_bitset) text_errors::raise_invalid_type(b);
    auto op = [code](uint32_t x, uint32_t y) -> uint32_t {
        switch (code) {
            case 5: case 9: return x | y;     // or~, union
            case 6: case 10: return x & y;    // and~, intersect
            case 7: case 12: return x ^ y;    // xor~, difference
            case 11: return x & ~y;           // exclude
        }
        runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    };
    bool ca = complemented_q(a), cb = complemented_q(b);
    bool comp = op(ca, cb) & 1;
    uint32_t la = byte_length(a), lb = byte_length(b);
    uint32_t length = std::max(la, lb);
    // and~ ends at the shorter operand when the rest of the result would be
    // empty anyway (the shorter operand holds nothing beyond its end).
    if (code == 6 && !((la < lb ? ca : cb) && la != lb)) length = std::min(la, lb);
    NodeId node = new_bytes(length, 0);
    uint8_t* out = memory::buffer_of(node)->head_ptr();
    const uint8_t* pa = bits(a);
    const uint8_t* pb = bits(b);
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t x = i < la ? pa[i] : (ca ? all_bits : 0);
        uint32_t y = i < lb ? pb[i] : (cb ? all_bits : 0);
        out[i] = uint8_t(op(x, y));
    }
    if (comp) memory::set_series_flags(node, complemented);
    result = bitset_cell(node);
}

Cell* push(const Cell& b) { return stack::push_copy(b); }

// ---- Mold ------------------------------------------------------------------------

namespace {

// Two hex digits per byte (of 255 - byte for a complemented set: the
// numbers that are not members). With /part it stops after the byte that
// takes the budget below 0. Answers the budget left.
int32_t write_hex(const Cell& b, NodeId out, bool part, int32_t budget, bool comp) {
    uint32_t n = byte_length(b);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t byte = bits(b)[i];
        string_t::append_text(out, string_t::byte_to_hex(comp ? uint8_t(all_bits - byte) : byte).text);
        budget -= 2;
        if (part && budget < 0) break;
    }
    return budget;
}

int32_t write_text(NodeId out, const char* text, int32_t budget) {
    string_t::append_text(out, text);
    return budget - int32_t(std::strlen(text));
}

}  // namespace

int32_t mold(Cell* value, Cell* buf, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    NodeId out = string_t::node_of(*buf);
    bool comp = complemented_q(*value);
    budget = write_text(out, "make bitset! ", budget);
    if (comp) budget = write_text(out, "[not ", budget);
    budget = write_text(out, "#{", budget);
    budget = write_hex(*value, out, part != nullptr, budget, comp);
    if (part && budget <= 0) return budget;
    budget = write_text(out, "}", budget);
    if (comp) budget = write_text(out, "]", budget);
    return budget;
}

int32_t form(Cell* value, Cell* buf, Cell* part, int32_t budget) {
    return mold(value, buf, false, false, false, part, budget, 0);
}

// ---- Actions ---------------------------------------------------------------------

namespace {

bool notify(const Cell& b, const char* word, const Cell* value = nullptr) {
    return string_t::notify_owner(b, word, 0, 0, value);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    make_from(*proto, *spec, 0);
    return proto;
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    make_from(*proto, *spec, 1);
    return proto;
}

Cell* reflect(Cell* value, Cell* field) {
    if (!word_is(*field, fixed::sym_owned)) text_errors::raise_not_done();
    Cell* owner = owners::find_owner(node_of(*value));
    *value = owner ? *owner : none_cell();
    return value;
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_bitset) return not_comparable;
    if (op == op_same) return node_of(*a) == node_of(*b) ? 0 : 1;
    uint32_t la = byte_length(*a), lb = byte_length(*b);
    if (la != lb) return la > lb ? 1 : -1;
    if (la == 0) return 0;
    bool ca = complemented_q(*a), cb = complemented_q(*b);
    if (ca != cb) return ca ? 1 : -1;
    for (uint32_t i = la; i-- > 0;) {
        uint8_t x = bits(*a)[i], y = bits(*b)[i];
        if (x != y) return x > y ? 1 : -1;
    }
    return 0;
}

Cell* complement(Cell* value) {
    NodeId node = memory::copy_series_buffer(node_of(*value));
    invert_bytes(node);
    memory::buffer_of(node)->flags ^= complemented;
    *value = bitset_cell(node);
    return value;
}

namespace {
Cell* bitwise_action(int code) {
    Cell* base = stack::arg_base();
    Cell result;
    do_bitwise(result, base[0], base[1], code);
    *base = result;
    return base;
}
}  // namespace

Cell* and_t() { return bitwise_action(6); }
Cell* or_t() { return bitwise_action(5); }
Cell* xor_t() { return bitwise_action(7); }

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    bool notified = notify(*series, "insert", value);
    uint32_t largest = 0;
    process_spec(*value, series, Mode::set, largest, 2);
    if (notified) notify(*series, "inserted", value);
    return series;
}

Cell* clear(Cell* value) {
    bool notified = notify(*value, "clear");
    SeriesBuffer* b = buffer(*value);
    std::memset(b->head_ptr(), b->flags & complemented ? all_bits : 0, b->used());
    if (notified) notify(*value, "cleared");
    return value;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    *result = bitset_cell(memory::copy_series_buffer(node_of(*value)));
    return result;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match) {
    uint32_t largest = 0;
    bool found = process_spec(*value, series, Mode::test, largest, 2);
    *series = found ? logic_cell(true) : none_cell();
    return series;
}

// The bit count of the largest array (2^28 bytes, numbers up to 2^31 - 1) is
// one past the integer! range: it answers the largest integer!.
int32_t length(Cell* value) {
    return int32_t(std::min<uint64_t>(uint64_t(byte_length(*value)) * bits_per_byte, INT32_MAX));
}

Cell* pick(Cell* series, int32_t index, Cell* index_cell) {
    uint32_t largest = 0;
    bool found = process_spec(*index_cell, series, Mode::test, largest, 2);
    *series = logic_cell(found);
    return series;
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    uint32_t t = type_of(*value);
    bool clearing = t == type_none || (t == type_logic && value->w1 == 0) || (t == type_integer && value->w2 == 0) ||
                    (t == type_float && cell_float(*value) == 0.0);
    bool notified = notify(*series, "poke", value);
    uint32_t largest = 0;
    process_spec(*index_cell, series, clearing ? Mode::clear : Mode::set, largest, 2);
    if (notified) notify(*series, "poked", value);
    return value;
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    if (!part) raise_error(err_cat::script, err_id::script::missing_arg);
    bool notified = notify(*series, "remove");
    uint32_t largest = 0;
    process_spec(*part, series, complemented_q(*series) ? Mode::set : Mode::clear, largest, 2);
    if (notified) notify(*series, "removed");
    return series;
}

// The field `owned`: none drops the set's owner; a block of an object and a
// word makes that object's field its owner.
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    if (!word_is(*field, fixed::sym_owned)) return value;
    if (type_of(*value) == type_none) {
        owners::clear_owned(*target);
    } else if (type_of(*value) == type_block && memory::series_length(value->w2) >= value->w1 + 2) {
        Cell owner = *memory::cell_at(value->w2, value->w1);
        Cell word = *memory::cell_at(value->w2, value->w1 + 1);
        if (type_of(owner) == type_object) owners::set_owned(*target, owner, word);
    }
    return value;
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    uint32_t t = type_of(*element);
    if (t != type_integer && t != type_char) text_errors::raise_invalid_type(*element);
    if (!value) return pick(parent, int32_t(element->w2), element);
    return poke(parent, int32_t(element->w2), value, element);
}

// ---- Registration ------------------------------------------------------------------

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_reflect, reflect);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_negate, complement);
    row.set(slot_and_t, and_t);
    row.set(slot_complement, complement);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_append, insert);
    row.set(slot_clear, clear);
    row.set(slot_copy, copy);
    row.set(slot_find, find);
    row.set(slot_insert, insert);
    row.set(slot_length_q, length);
    row.set(slot_pick, pick);
    row.set(slot_poke, poke);
    row.set(slot_remove, remove);
    row.set(slot_modify, modify);
    row.register_as(type_bitset, 0, "bitset!");
}

}  // namespace vyr::bitset_t
