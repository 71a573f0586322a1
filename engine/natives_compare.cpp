// The comparison and logic natives: equal? ... greater-or-equal?, same?,
// not, max and min.
//
// The seven comparisons are one call into the comparison core
// (actions::compare_op) with their operator code; ordering two values that
// cannot be ordered raises `invalid-compare` there. same? asks for identity
// (the same series, the same bits), not for equality. max and min pick one of
// their two arguments; composite values (pair!, tuple!, the point types)
// combine component by component with their own modules.
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/actions.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "runtime/stack.h"
#include "runtime/errors.h"

namespace vyr::natives {

namespace {

// The comparison natives: the logic! answer of `value1 op value2`.
Status compare_native(int32_t op) {
    actions::compare_op(op);
    stack::stack_keep();
    return Status::ok;
}

// ---- same? ----------------------------------------------------------------------

// Identity of two values of one type, by the payload words that make a value
// of that type what it is. Series are the same only on the same buffer at the
// same index; floats compare bitwise, so 0.0 and -0.0 differ and a NaN is
// the same as a NaN with the same bits.
bool same_core(const Cell& a, const Cell& b) {
    uint32_t type = type_of(a);
    if (type != type_of(b)) return false;
    if (series_t::series_type_q(type)) return a.w1 == b.w1 && a.w2 == b.w2;
    switch (type) {
        case type_datatype: case type_logic: case type_object: return a.w1 == b.w1;
        case type_char: case type_integer: case type_bitset: return a.w2 == b.w2;
        case type_float: case type_percent: case type_pair: case type_time: return a.w2 == b.w2 && a.w3 == b.w3;
        case type_none: case type_unset: return true;
        case type_native: case type_action: case type_point2d: return a.w1 == b.w1 && a.w2 == b.w2;
        case type_op: return a.w2 == b.w2 && a.w3 == b.w3;
        case type_tuple: case type_money: raise_not_done();  // their modules say how their bytes compare
        default: return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    }
}

// ---- max and min ------------------------------------------------------------------

bool plain_number_q(uint32_t type) { return type == type_integer || type == type_float || type == type_percent; }
bool nan_number_q(const Cell& c) {
    uint32_t type = type_of(c);
    return (type == type_float || type == type_percent) && std::isnan(float_t::get(c));
}
bool composite_q(uint32_t type) {
    return type == type_pair || type == type_point2d || type == type_point3d || type == type_tuple;
}
// A pairing that max and min settle component by component: a composite
// value with a number or with another composite.
bool component_wise_q(uint32_t a, uint32_t b) {
    auto partner = [](uint32_t t) { return t == type_integer || t == type_float || composite_q(t); };
    return (composite_q(a) && partner(b)) || (composite_q(b) && partner(a));
}

// max (greater) or min of the two argument cells, into the result cell. A NaN
// float beside a number wins both ways, so that it is never hidden. Ties
// give value1 for max and value2 for min.
Status max_min(bool greater) {
    Cell* a = stack::arg_base();
    Cell* b = a + 1;
    Cell result;
    if (nan_number_q(*a) && plain_number_q(type_of(*b))) {
        result = *a;
    } else if (nan_number_q(*b) && plain_number_q(type_of(*a))) {
        result = *b;
    } else if (component_wise_q(type_of(*a), type_of(*b))) {
        raise_not_done();
    } else {
        bool lesser = actions::compare(a, b, registry::op_lesser);
        result = greater ? (lesser ? *b : *a) : (lesser ? *a : *b);
    }
    stack::reset_with_result(result);
    return Status::ok;
}

}  // namespace

Status equal_q(bool, const int32_t*) { return compare_native(registry::op_equal); }
Status not_equal_q(bool, const int32_t*) { return compare_native(registry::op_not_equal); }
Status strict_equal_q(bool, const int32_t*) { return compare_native(registry::op_strict_equal); }
Status lesser_q(bool, const int32_t*) { return compare_native(registry::op_lesser); }
Status greater_q(bool, const int32_t*) { return compare_native(registry::op_greater); }
Status lesser_or_equal_q(bool, const int32_t*) { return compare_native(registry::op_lesser_or_equal); }
Status greater_or_equal_q(bool, const int32_t*) { return compare_native(registry::op_greater_or_equal); }

Status same_q(bool, const int32_t*) {
    Cell* a = stack::arg_base();
    bool same = same_core(a[0], a[1]);
    stack::reset_with_result(logic_t::value_of(same));
    return Status::ok;
}

// not: true for none! and false, false for everything else (unset! too).
Status not_(bool, const int32_t*) {
    bool falsy = logic_t::arg_false_q();
    stack::reset_with_result(logic_t::value_of(falsy));
    return Status::ok;
}

Status max(bool, const int32_t*) { return max_min(true); }
Status min(bool, const int32_t*) { return max_min(false); }

}  // namespace vyr::natives
