// string!: conversion, form, mold, comparison, path access and registration.
// The searching and modifying actions are in string_search.cpp.
#include "datatypes/string.h"

#include <climits>
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "runtime/registry.h"
#include "datatypes/text_errors.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "datatypes/fixed_words.h"
#include "runtime/numeric.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::string_t {

using memory::SeriesBuffer;
using namespace registry;

namespace {

constexpr uint32_t caret = '^';
constexpr uint32_t double_quote = '"';
constexpr uint32_t record_separator = 30;  // always written in the hex form
constexpr uint32_t del = 127;
constexpr uint32_t c1_first = 128, c1_last = 159;
// Texts this long (from the index) or longer are molded in braces.
constexpr uint32_t brace_length = 50;
constexpr uint32_t brace_line_feeds = 3;
constexpr uint32_t default_capacity = 16;

// The letter written after "^" for code points 0-94 ("" for none).
constexpr char caret_letters_0_31[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
char caret_letter(uint32_t cp) {
    if (cp < 32) return caret_letters_0_31[cp];
    if (cp == double_quote) return '"';
    if (cp == caret) return '^';
    return 0;
}

// A new empty text of `units` 1-byte units, typed `type`.
Cell new_text(uint32_t units, uint32_t type = type_string) {
    Cell c;
    make_at(c, units);
    set_type(c, type);
    return c;
}

// The 32-bit integer of an integer! or float! cell; a float outside the
// 32-bit range (or NaN) raises `out-of-range` with the cell.
int32_t cell_to_int(const Cell& c) {
    if (type_of(c) != type_float) return int32_t(c.w2);
    double d = cell_float(c);
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) text_errors::raise_out_of_range(c);
    return numeric::truncate_to_int32(d);
}

bool block_like_q(uint32_t t) { return t == type_block || t == type_paren || t == type_hash; }

}  // namespace

// ---- Mold helpers ------------------------------------------------------------------

void mold_char_escaped(NodeId buffer, uint32_t cp, bool all) {
    if (cp == record_separator || (cp >= c1_first && cp <= c1_last) || (all && cp > del)) {
        append_text(buffer, "^(");
        append_text(buffer, integer_to_hex(int32_t(cp), true).text);
        append_code_point(buffer, ')');
        return;
    }
    char letter = cp < 95 ? caret_letter(cp) : 0;
    if (letter) {
        append_code_point(buffer, caret);
        append_code_point(buffer, uint8_t(letter));
    } else if (cp == del) {
        append_text(buffer, "^~");
    } else {
        append_code_point(buffer, cp);
    }
}

int32_t form_value(Cell& value, Cell& buffer, int32_t budget, bool limited) {
    auto fn = action<action_sig::form>(type_of(value), slot_form);
    if (!fn) text_errors::raise_not_done();  // image! and event! values are molded by their own modules
    Cell part = text_errors::integer_cell(budget);
    return fn(&value, &buffer, limited ? &part : nullptr, budget);
}

int32_t mold_value(Cell& value, Cell& buffer, int32_t budget, bool limited) {
    auto fn = action<action_sig::mold>(type_of(value), slot_mold);
    if (!fn) text_errors::raise_not_done();
    Cell part = text_errors::integer_cell(budget);
    return fn(&value, &buffer, false, false, false, limited ? &part : nullptr, budget, 0);
}

void raise_invalid_refine_arg(const char* refinement, const Cell& argument) {
    const Cell& name = std::strcmp(refinement, "skip") == 0      ? fixed::ref_skip
                       : std::strcmp(refinement, "compare") == 0 ? fixed::ref_compare
                                                                 : fixed::ref_part;
    raise_error(err_cat::script, err_id::script::invalid_refine_arg, &name, &argument);
}

// ---- Case change -----------------------------------------------------------------

Cell* change_case(Cell* value, Cell* part, bool upper) {
    if (type_of(*value) == type_char) {
        value->w2 = case_tables::change_char_case(value->w2, upper);
        return value;
    }
    if (!string_like_q(type_of(*value))) text_errors::raise_invalid_arg(*value);
    Cell& v = *value;
    uint32_t remaining = length_at(v);  // also sets an index past the tail to the tail
    int64_t count = remaining;
    if (part) {
        if (type_of(*part) == type_integer) count = int32_t(part->w2);
        else if (type_of(*part) == type_of(v) && node_of(*part) == node_of(v)) count = index_of(*part) - index_of(v);
        else raise_invalid_refine_arg("part", *part);
        count = std::clamp<int64_t>(count, 0, remaining);
    }
    for (uint32_t i = v.w1; i < v.w1 + count; ++i)
        set_code_point(node_of(v), i, case_tables::change_char_case(char_at(v, i), upper));
    notify_owner(v, upper ? "uppercase" : "lowercase", v.w1, uint32_t(count));  // once, after the change
    return value;
}

// ---- make and to -----------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec_cell, uint32_t type) {
    Cell spec = *spec_cell;
    uint32_t st = type_of(spec);
    if (st == type_integer || st == type_float) {
        int32_t n = cell_to_int(spec);
        if (n < 0) text_errors::raise_out_of_range(spec);
        *proto = new_text(n ? uint32_t(n) : default_capacity, type);
        return proto;
    }
    if (type == type_binary) {
        if (st == type_money) text_errors::raise_bad_make_arg(type_binary, spec);
        return action<action_sig::make>(type_binary, slot_to)(proto, &spec, type);
    }
    return to(proto, &spec, type);
}

Cell* to(Cell* proto, Cell* spec_cell, uint32_t type) {
    Cell spec = *spec_cell;
    uint32_t st = type_of(spec);
    Cell result;
    if (st == type_none) {
        text_errors::raise_bad_to_arg(type_string, spec);
    } else if (block_like_q(st)) {
        result = new_text(default_capacity);
        append(&result, &spec, -1, false, 1, false);
        result.w1 = 0;
    } else if (string_like_q(st)) {
        uint32_t len = length_at(spec);
        result = make_cell(series::copy_series_part(node_of(spec), uint32_t(index_of(spec)), len));
    } else if (st == type_refinement) {
        result = new_text(default_capacity);
        if (type == type_string) form_value(spec, result, INT32_MAX, false);
        else mold_value(spec, result, INT32_MAX, false);
    } else if (st == type_binary) {
        stack::Mark mark;
        Cell bytes = spec;
        uint32_t n = length_at(bytes);
        SeriesBuffer* b = buffer_of(bytes);
        std::vector<uint8_t> copy(b->head_ptr() + bytes.w1, b->head_ptr() + bytes.w1 + n);
        result = *push_from_utf8(copy.data(), n);
        mark.restore();
    } else {
        result = new_text(default_capacity);
        form_value(spec, result, INT32_MAX, false);
    }
    set_type(result, type);
    result.header &= ~header::new_line;
    *proto = result;
    return proto;
}

// ---- form and mold ---------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    uint32_t len = length_at(*value);
    append_string(*buffer, *value, part ? int32_t(part->w2) : -1, true);
    return budget - int32_t(len);
}

namespace {

// Whether the "{" at unit `at` has a matching "}" before `end`.
bool brace_matched(const uint8_t* units, unsigned width, uint32_t at, uint32_t end) {
    int32_t depth = 0;
    for (uint32_t i = at; i < end; ++i) {
        uint32_t c = unicode::load_unit(units, i, width);
        if (c == '{') ++depth;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

// Writes units [from, end) of the value in brace form. The buffer is another
// node than the value's, or the units are copied first by the caller.
void mold_braced(NodeId out, const Cell& value, uint32_t from, uint32_t end, bool all) {
    bool balanced = true;
    uint32_t nesting = 0;
    for (uint32_t i = from; i < end; ++i) {
        SeriesBuffer* b = buffer_of(value);
        uint32_t c = unicode::load_unit(b->head_ptr(), i, b->unit());
        if (c == '{') {
            if (balanced && !brace_matched(b->head_ptr(), b->unit(), i, end)) balanced = false;
            if (balanced) {
                ++nesting;
                append_code_point(out, '{');
            } else {
                append_text(out, "^{");
            }
        } else if (c == '}') {
            if (nesting > 0) {
                --nesting;
                append_code_point(out, '}');
            } else {
                append_text(out, "^}");
            }
        } else if (c == double_quote) {
            append_code_point(out, c);
        } else if (c == caret) {
            append_text(out, "^^");
        } else {
            mold_char_escaped(out, c, all);
        }
    }
}

}  // namespace

int32_t mold(Cell* value_cell, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    Cell value = *value_cell;
    uint32_t whole = length_at(value);  // also clamps the index
    uint32_t from = uint32_t(value.w1);
    uint32_t end = from + whole;
    if (part) end = budget < 0 ? from : from + std::min<uint32_t>(whole, uint32_t(budget));
    // Mold of a text into its own buffer works on a copy of the range.
    if (node_of(value) == node_of(*buffer)) {
        value = make_cell(series::copy_series_part(node_of(value), from, end - from));
        end -= from;
        from = 0;
    }
    uint32_t quotes = 0, line_feeds = 0;
    for (uint32_t i = from; i < end; ++i) {
        uint32_t c = char_at(value, i);
        quotes += c == double_quote;
        line_feeds += c == '\n';
    }
    bool braces = line_feeds >= brace_line_feeds || quotes > 0 || whole >= brace_length;
    NodeId out = node_of(*buffer);
    if (braces) {
        append_code_point(out, '{');
        mold_braced(out, value, from, end, all);
        append_code_point(out, '}');
    } else {
        append_code_point(out, double_quote);
        for (uint32_t i = from; i < end; ++i) mold_char_escaped(out, char_at(value, i), all);
        append_code_point(out, double_quote);
    }
    return budget - int32_t(end - from) - 2;
}

// ---- compare -----------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*a) != type_of(*b) && !(string_like_q(type_of(*b)) && (op == op_equal || op == op_not_equal)))
        return not_comparable;
    return compare_strings(*a, *b, op, false);
}

// ---- path access -------------------------------------------------------------------

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    uint32_t et = type_of(*element);
    if (et == type_integer) {
        if (!value) return actions::pick(parent, int32_t(element->w2), element);
        return actions::poke(parent, int32_t(element->w2), value, element);
    }
    if (et == type_word) raise_error(err_cat::script, err_id::script::invalid_path, path, element);
    if (!value) return select(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false);
    // poke may run an owner's handler: the series goes in a rooted cell.
    stack::Mark mark;
    Cell* series = stack::push_copy(*parent);
    Cell* found = find(series, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                       false);
    if (type_of(*found) == type_none) raise_error(err_cat::script, err_id::script::bad_path_set, path, element);
    Cell two = text_errors::integer_cell(2);
    Cell* answer = actions::poke(found, 2, value, &two);
    mark.restore();
    return answer;
}

// ---- Registration ------------------------------------------------------------------

void init() {
    Row row;
    row.inherit({slot_random, slot_reflect, slot_at, slot_back, slot_clear, slot_copy, slot_head, slot_head_q,
                   slot_index_q, slot_length_q, slot_move, slot_next, slot_pick, slot_poke, slot_remove,
                   slot_reverse, slot_skip, slot_tail, slot_tail_q, slot_modify});
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_append, append);
    row.set(slot_change, change);
    row.set(slot_find, find);
    row.set(slot_insert, insert);
    row.set(slot_select, select);
    row.set(slot_sort, sort);
    row.set(slot_swap, swap);
    row.set(slot_take, take);
    row.set(slot_trim, trim);
    row.register_as(type_string, type_series, "string!");
}

}  // namespace vyr::string_t
