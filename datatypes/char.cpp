// char!: helpers, actions and registration (see char.h).
#include "datatypes/char.h"

#include "datatypes/integer.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_codec.h"
#include "datatypes/text_errors.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "runtime/numeric.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::char_t {

using namespace registry;

namespace {

using integer_t::op_divide;

// The code point of a number, checked against the code point range.
uint32_t checked(int64_t n, const Cell& spec) {
    if (n < 0 || n > int64_t(max_code_point)) text_errors::raise_out_of_range(spec);
    return uint32_t(n);
}

// The code point of the UTF-8 sequence at a binary's index.
uint32_t from_binary(const Cell& bin) {
    Cell b = bin;
    uint32_t n = string_t::length_at(b);
    if (n == 0) text_errors::raise_bad_to_arg(type_char, bin);
    const uint8_t* p = string_t::buffer_of(b)->head_ptr() + b.w1;
    size_t length = unicode::utf8_seq_length(p[0]);
    if (length == 0) length = 1;
    if (length > n) text_codec::raise_invalid_utf8_tail(p, n);  // the sequence is cut off
    int32_t cp = unicode::utf8_decode_char(p, length);
    return uint32_t(cp);
}

}  // namespace

Cell* push(uint32_t cp) { return stack::push_copy(make_cell(cp)); }

Cell* load_in(const Cell& block, uint32_t cp) {
    Cell* c = series::append_cell(block);
    *c = make_cell(cp);
    return c;
}

Cell* do_math(int32_t op) {
    Cell* base = stack::arg_base();
    Cell& second = base[1];
    int32_t right;
    switch (type_of(second)) {
        case type_char:
        case type_integer: right = int32_t(second.w2); break;
        case type_float: right = numeric::truncate_to_int32(cell_float(second)); break;
        case type_vector: {  // the vector changes in place and is the answer
            Cell vector = second;
            *base = *vector_t::do_math_scalar(op, &vector, *base);
            return base;
        }
        default: text_errors::raise_invalid_type(second);
    }
    // Every operation but divide gets a scratch cell, so that an overflow
    // shows as a float! result; a divide is truncated.
    Cell scratch{type_integer, 0, 0, 0};
    int32_t r = integer_t::do_math_op(int32_t(base->w2), right, op, op == op_divide ? nullptr : &scratch);
    if (type_of(scratch) == type_float || r < 0 || uint32_t(r) > max_code_point)
        raise_error(err_cat::math, err_id::math::overflow);
    base->w2 = uint32_t(r);
    return base;
}

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec_cell, uint32_t type) {
    Cell spec = *spec_cell;
    uint32_t t = type_of(spec), cp;
    if (string_t::string_like_q(t)) {
        Cell s = spec;
        if (string_t::length_at(s) == 0) text_errors::raise_bad_to_arg(type_char, spec);
        cp = string_t::char_at(s, s.w1);
    } else if (t == type_char || t == type_integer) {
        cp = checked(int32_t(spec.w2), spec);
    } else if (t == type_float || t == type_percent) {
        cp = checked(numeric::truncate_to_int32(cell_float(spec)), spec);  // out of 32 bits: negative
    } else if (t == type_binary) {
        cp = from_binary(spec);
    } else {
        text_errors::raise_bad_to_arg(type_char, spec);
    }
    *proto = make_cell(cp);
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    string_t::append_code_point(*buffer, get(*value));
    return budget - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    NodeId out = string_t::node_of(*buffer);
    string_t::append_text(out, "#\"");
    string_t::mold_char_escaped(out, get(*value), all);
    string_t::append_code_point(out, '"');
    return budget - 4;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    uint32_t t = type_of(*b);
    if ((op == op_strict_equal || op == op_find) && t != type_char) return 1;
    if (t != type_char && t != type_integer) return not_comparable;
    int64_t x = get(*a), y = int32_t(b->w2);
    return x < y ? -1 : x > y ? 1 : 0;
}

Cell* add() { return do_math(0); }
Cell* subtract() { return do_math(1); }
Cell* multiply() { return do_math(2); }
Cell* divide() { return do_math(3); }
Cell* remainder() { return do_math(4); }
Cell* or_t() { return do_math(5); }
Cell* and_t() { return do_math(6); }
Cell* xor_t() { return do_math(7); }

// ---- Registration ------------------------------------------------------------------

void init() {
    Row row;
    row.inherit({slot_random, slot_absolute, slot_even_q, slot_odd_q});
    row.set(slot_make, make);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_add, add);
    row.set(slot_subtract, subtract);
    row.set(slot_multiply, multiply);
    row.set(slot_divide, divide);
    row.set(slot_remainder, remainder);
    row.set(slot_and_t, and_t);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.register_as(type_char, type_integer, "char!");
}

}  // namespace vyr::char_t
