// typeset!: members, construction, text, comparison and the set operations.
#include "datatypes/typeset.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"

namespace vyr::typeset_t {

using namespace registry;

namespace {

constexpr uint32_t map_bytes = map_bits / 8;

// The payload as bytes in cell order (w1 first, little-endian).
void read_map(const Cell& c, uint8_t (&bytes)[map_bytes]) { std::memcpy(bytes, &c.w1, map_bytes); }
void write_map(Cell& c, const uint8_t (&bytes)[map_bytes]) { std::memcpy(&c.w1, bytes, map_bytes); }

constexpr uint8_t bit_of(uint32_t type) { return uint8_t(0x80u >> (type & 7)); }

// The value a word stands for; an unset one raises `no-value`.
Cell value_of_word(const Cell& word) {
    Cell v = *word_t::get(word);
    if (type_of(v) == type_unset) raise_error(err_cat::script, err_id::script::no_value, &word);
    return v;
}

bool word_type(uint32_t t) {
    return t == type_word || t == type_set_word || t == type_get_word || t == type_lit_word;
}

Cell* append_to(const Cell& block, const Cell& value) {
    Cell v = value;
    Cell* slot = series::append_cell(block);
    *slot = v;
    return slot;
}

}  // namespace

// ---- Members ---------------------------------------------------------------------

void set(Cell& typeset, uint32_t type) {
    if (type >= map_bits) return;
    uint8_t bytes[map_bytes];
    read_map(typeset, bytes);
    bytes[type >> 3] |= bit_of(type);
    write_map(typeset, bytes);
}

void clear(Cell& typeset) { typeset.w1 = typeset.w2 = typeset.w3 = 0; }

int32_t count(const Cell& typeset) {
    int32_t n = 0;
    for (uint32_t t = 1; t <= highest_type(); ++t) n += has(typeset, t);
    return n;
}

void add(Cell& typeset, const Cell& value) {
    Cell v = word_type(type_of(value)) ? value_of_word(value) : value;
    switch (type_of(v)) {
        case type_datatype: set(typeset, datatype_t::get(v)); return;
        case type_typeset:
            typeset.w1 |= v.w1;
            typeset.w2 |= v.w2;
            typeset.w3 |= v.w3;
            return;
        default: raise_error(err_cat::script, err_id::script::invalid_arg, &value);
    }
}

// ---- Making ----------------------------------------------------------------------

Cell* push(const Cell& typeset) { return stack::push_copy(typeset); }

Cell* load_in(const Cell& block, uint32_t w1, uint32_t w2, uint32_t w3) {
    return append_to(block, make_cell(w1, w2, w3));
}

Cell* load_all_in(const Cell& block) {
    Cell all = make_cell(~0u, ~0u, ~0u);
    uint8_t bytes[map_bytes];
    read_map(all, bytes);
    bytes[type_unset >> 3] &= uint8_t(~bit_of(type_unset));
    write_map(all, bytes);
    return append_to(block, all);
}

Cell* load_from_block(const Cell& block, const Cell& spec) {
    Cell ts = make_cell();
    NodeId node = spec.w2;
    for (uint32_t i = spec.w1; i < memory::series_length(node); ++i) {
        Cell v = *memory::cell_at(node, i);
        if (type_of(v) == type_word) v = value_of_word(v);
        switch (type_of(v)) {
            case type_datatype: set(ts, datatype_t::get(v)); break;
            case type_typeset: add(ts, v); break;
            case type_word: set(ts, type_object); break;
            case type_block: break;
            default: raise_error(err_cat::script, err_id::script::invalid_type_spec, &v);
        }
    }
    return append_to(block, ts);
}

Cell* to_block(const Cell& typeset, Cell& out) {
    Cell ts = typeset;
    NodeId node = memory::alloc_cells(uint32_t(count(ts)) + 1);
    for (uint32_t t = 1; t <= highest_type(); ++t)
        if (has(ts, t)) *series::alloc_tail_cell(node) = type_name(t).word;
    out = Cell{type_block, 0, node, 0};
    return &out;
}

// The members' names each followed by one space; the trailing space becomes
// "]" (or is dropped under /only). The budget is lowered by the characters
// that stay in the buffer.
int32_t mold_types(const Cell& typeset, Cell* buffer, bool only, bool part, int32_t budget) {
    Cell ts = typeset;
    NodeId out = buffer->w2;
    if (!only) {
        string_t::append_text(out, "make typeset! [");
        budget -= 15;
    }
    bool any = false;
    for (uint32_t t = 1; t <= highest_type(); ++t) {
        if (part && budget < 0) break;
        if (!has(ts, t)) continue;
        const TypeName& name = type_name(t);
        if (!name.name) continue;
        string_t::append_text(out, name.name);
        string_t::append_code_point(out, ' ');
        budget -= int32_t(name.length) + 2;
        any = true;
    }
    if (any) {
        string_t::truncate(out, memory::series_length(out) - 1);
        budget += 1;
    }
    if (!only) {
        string_t::append_code_point(out, ']');
        budget -= 1;
    }
    return budget;
}

Cell* do_bitwise(int32_t code) {
    Cell* first = stack::arg_base();
    if (code == 8) return first;
    Cell second = first[1];
    if (type_of(second) == type_datatype) {
        uint32_t t = datatype_t::get(second);
        second = make_cell();
        set(second, t);
    } else if (type_of(second) != type_typeset) {
        raise_error(err_cat::script, err_id::script::invalid_arg, &second);
    }
    Cell r = make_cell();
    const uint32_t a[3] = {first->w1, first->w2, first->w3};
    const uint32_t b[3] = {second.w1, second.w2, second.w3};
    uint32_t out[3];
    for (int i = 0; i < 3; ++i) {
        switch (code) {
            case 5: case 9: out[i] = a[i] | b[i]; break;
            case 6: case 10: out[i] = a[i] & b[i]; break;
            case 7: case 12: out[i] = a[i] ^ b[i]; break;
            case 11: out[i] = a[i] & ~b[i]; break;
            default: runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
        }
    }
    r.w1 = out[0];
    r.w2 = out[1];
    r.w3 = out[2];
    *first = r;
    return first;
}

// ---- Actions ---------------------------------------------------------------------

// make and to: a typeset answers itself; a block adds each of its values.
Cell* make(Cell* proto, Cell* spec, uint32_t) {
    switch (type_of(*spec)) {
        case type_typeset: *proto = *spec; return proto;
        case type_block: {
            Cell ts = make_cell();
            Cell block = *spec;
            for (uint32_t i = block.w1; i < memory::series_length(block.w2); ++i)
                add(ts, *memory::cell_at(block.w2, i));
            *proto = ts;
            return proto;
        }
        default: {
            Cell type = datatype_t::value_of(type_typeset);
            raise_error(err_cat::script, err_id::script::bad_to_arg, &type, spec);
        }
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return mold_types(*value, buffer, false, part != nullptr, budget);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* part, int32_t budget, int32_t) {
    return mold_types(*value, buffer, only, part != nullptr, budget);
}

// Typesets have no order: equality by the whole map, sorting by size.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_typeset) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_same: case op_find:
            return (a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3) ? 0 : 1;
        case op_sort: case op_case_sort: {
            int32_t ca = count(*a), cb = count(*b);
            return ca < cb ? -1 : ca > cb ? 1 : 0;
        }
        default: return not_comparable;
    }
}

Cell* and_t() { return do_bitwise(6); }
Cell* or_t() { return do_bitwise(5); }
Cell* xor_t() { return do_bitwise(7); }

Cell* complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (type_of(*value) != type_datatype) raise_error(err_cat::script, err_id::script::invalid_arg, value);
    return logic_t::make_at(series, has(*series, datatype_t::get(*value)));
}

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_and_t, and_t);
    row.set(slot_complement, complement);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_find, find);
    row.register_as(type_typeset, 0, "typeset!");
}

}  // namespace vyr::typeset_t
