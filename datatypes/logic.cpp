#include "datatypes/logic.h"

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"

namespace vyr::logic_t {

using namespace registry;

Cell* load_in(const Cell& block, bool v) { return make_at(series::append_cell(block), v); }

bool true_q(const Cell& value, bool check, const Cell* word) {
    if (check && type_of(value) == type_unset) {
        Cell arg = word ? *word : Cell{type_none, 0, 0, 0};
        raise_error(err_cat::script, err_id::script::no_value, &arg);
    }
    return !falsy(value);
}

bool arg_true_q() {
    const Cell& v = *stack::arg_base();
    if (type_of(v) == type_unset) raise_error(err_cat::script, err_id::script::no_return);
    return !falsy(v);
}

bool arg_false_q() { return falsy(*stack::arg_base()); }

bool top_false_q() { return falsy(*stack::top_cell()); }

// ---- Actions -------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, uint32_t type);

// make logic!: numbers are false when zero (a NaN is not zero); anything
// else as `to`.
Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (type_of(*spec)) {
        case type_integer: return make_at(proto, spec->w2 != 0);
        case type_float:
        case type_percent: return make_at(proto, !(cell_float(*spec) == 0.0));
        default: return to(proto, spec, type);
    }
}

// A draw above 2^30 - 1 is true, so each answer has an even chance. With
// /seed the payload seeds the generator and the result is unset!.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(int32_t(get(*value)));
        return unset_t::make_at(value);
    }
    int32_t draw = secure ? random::random_secure() : random::random_next();
    return make_at(value, draw > 1073741823);
}

// to logic!: only none! and false are false.
Cell* to(Cell* proto, Cell* spec, uint32_t) {
    if (type_of(*spec) == type_logic) return copy_cell(spec, proto);
    return make_at(proto, type_of(*spec) != type_none);
}

// "true" or "false".
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    bool v = get(*value) == 1;
    string_t::append_text(*buffer, v ? "true" : "false");
    return budget - (v ? 4 : 5);
}

// As form; with /all in construction syntax: "#(true)".
int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* part, int32_t budget, int32_t) {
    if (all) string_t::append_text(*buffer, "#(");
    budget = form(value, buffer, part, budget);
    if (all) string_t::append_text(*buffer, ")");
    return budget - (all ? 3 : 0);
}

// Sorting puts false before true; ordering comparisons are refused.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_logic) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_same: case op_find:
        case op_sort: case op_case_sort:
            return int32_t(get(*a)) - int32_t(get(*b));
        default:
            return not_comparable;
    }
}

// The fast-path operator codes of the three logic operations.
enum BitOp : int { bit_or = 5, bit_and = 6, bit_xor = 7 };

// and~, or~, xor~: both operands at the argument base; the second must be
// logic! too. The result replaces the first operand's payload.
Cell* bit_operation(int op) {
    Cell* a = stack::arg_base();
    Cell* b = a + 1;
    if (type_of(*b) != type_logic) checks::raise_expect_arg(1, *b);
    switch (op) {
        case bit_and: a->w1 &= b->w1; break;
        case bit_or: a->w1 |= b->w1; break;
        case bit_xor: a->w1 ^= b->w1; break;
        default: runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
    return a;
}
Cell* and_t() { return bit_operation(bit_and); }
Cell* or_t() { return bit_operation(bit_or); }
Cell* xor_t() { return bit_operation(bit_xor); }

Cell* complement(Cell* value) { return make_at(value, get(*value) != 1); }

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_random, random);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_and_t, and_t);
    row.set(slot_complement, complement);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.register_as(type_logic, 0, "logic!");
}

}  // namespace vyr::logic_t
