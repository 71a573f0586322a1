// The comparison and logic natives: equal? ... greater-or-equal?, same?,
// not, max and min.
//
// The seven comparisons are one call into the comparison core
// (actions::compare_op) with their operator code; ordering two values that
// cannot be ordered raises `invalid-compare` there. same? asks for identity
// (the same series, the same bits), not for equality. max and min pick one of
// their two arguments; composite values (pair!, tuple!, the point types)
// combine component by component with their own modules.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "runtime/registry.h"
#include "datatypes/tuple.h"
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
        case type_tuple:
            return tuple_t::count_of(a) == tuple_t::count_of(b) &&
                   std::memcmp(tuple_t::bytes_of(a), tuple_t::bytes_of(b), tuple_t::count_of(a)) == 0;
        case type_money: {
            Cell x = a, y = b;
            return money_t::compare(&x, &y, registry::op_equal) == 0;
        }
        default: return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    }
}

// ---- max and min ------------------------------------------------------------------

bool plain_number_q(uint32_t type) { return type == type_integer || type == type_float || type == type_percent; }
bool nan_number_q(const Cell& c) {
    uint32_t type = type_of(c);
    return (type == type_float || type == type_percent) && std::isnan(float_t::get(c));
}
bool int_or_float_q(uint32_t type) { return type == type_integer || type == type_float; }

// A number for a pair's or a tuple's component: a float! must be finite and
// within the integer range (script `type-limit` otherwise) and is truncated.
int32_t value_to_integer(const Cell& n) {
    if (type_of(n) == type_integer) return integer_t::get(n);
    double d = float_t::get(n);
    if (!(d >= -2147483648.0 && d < 2147483648.0)) {
        Cell type = datatype_t::value_of(type_integer);
        raise_error(err_cat::script, err_id::script::type_limit, &type);
    }
    return int32_t(d);
}

// The components of a point, or of a number or pair met beside one.
void float_parts(const Cell& c, float* out, uint32_t n) {
    switch (type_of(c)) {
        case type_point2d: out[0] = point2d_t::x_of(c), out[1] = point2d_t::y_of(c); break;
        case type_point3d: out[0] = point3d_t::x_of(c), out[1] = point3d_t::y_of(c), out[2] = point3d_t::z_of(c); break;
        case type_pair: out[0] = float(pair_t::x_of(c)), out[1] = float(pair_t::y_of(c)); break;
        default:
            for (uint32_t i = 0; i < n; ++i) out[i] = point2d_t::component(c);
    }
}

// Component by component, in 32-bit float: a NaN in the second operand is
// taken, so that it is never hidden.
void pick_floats(float* a, const float* b, uint32_t n, bool greater) {
    for (uint32_t i = 0; i < n; ++i)
        if (std::isnan(b[i]) || (greater ? b[i] > a[i] : b[i] < a[i])) a[i] = b[i];
}

int32_t pick_int(int32_t a, int32_t b, bool greater) { return greater ? std::max(a, b) : std::min(a, b); }

// max or min of a composite `a` (pair!, tuple! or a point) with a number or
// a value of its kind, into `out`; false for a pairing settled by compare.
bool composite_max_min(Cell a, const Cell& b, bool greater, Cell& out) {
    uint32_t ta = type_of(a), tb = type_of(b);
    if (ta == type_pair && tb == type_float) {
        double d = float_t::get(b);
        // A fraction (or a value no integer holds) makes the pair a point.
        if (!(d == std::trunc(d) && d >= -2147483648.0 && d < 2147483648.0)) {
            a = point2d_t::cell_of(float(pair_t::x_of(a)), float(pair_t::y_of(a)));
            ta = type_point2d;
        }
    }
    if (ta == type_point2d && tb == type_pair) tb = type_point2d;  // the pair is read as a point
    if (ta == type_pair && tb == type_point2d) {  // in either order
        a = point2d_t::cell_of(float(pair_t::x_of(a)), float(pair_t::y_of(a)));
        ta = type_point2d;
    }
    switch (ta) {
        case type_pair: {
            if (tb != type_pair && !int_or_float_q(tb)) return false;
            int32_t bx = tb == type_pair ? pair_t::x_of(b) : value_to_integer(b);
            int32_t by = tb == type_pair ? pair_t::y_of(b) : bx;
            out = pair_t::cell_of(pick_int(pair_t::x_of(a), bx, greater), pick_int(pair_t::y_of(a), by, greater));
            return true;
        }
        case type_point2d:
        case type_point3d: {
            if (tb != ta && !int_or_float_q(tb)) return false;
            uint32_t n = ta == type_point2d ? 2 : 3;
            float p[3], q[3];
            float_parts(a, p, n);
            float_parts(b, q, n);
            pick_floats(p, q, n, greater);
            out = n == 2 ? point2d_t::cell_of(p[0], p[1]) : point3d_t::cell_of(p[0], p[1], p[2]);
            return true;
        }
        case type_tuple: {
            uint32_t count = tuple_t::count_of(a);
            uint8_t bytes[tuple_t::max_bytes];
            std::memcpy(bytes, tuple_t::bytes_of(a), count);
            if (tb == type_tuple) {
                if (tuple_t::count_of(b) != count) return false;
                for (uint32_t i = 0; i < count; ++i)
                    bytes[i] = uint8_t(pick_int(bytes[i], tuple_t::bytes_of(b)[i], greater));
            } else if (int_or_float_q(tb)) {
                int32_t n = std::clamp(value_to_integer(b), 0, 255);
                for (uint32_t i = 0; i < count; ++i) bytes[i] = uint8_t(pick_int(bytes[i], n, greater));
            } else {
                return false;
            }
            out = tuple_t::cell_of(bytes, count);
            return true;
        }
        default: return false;
    }
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
    } else {
        // A composite beside a number comes first.
        uint32_t ta = type_of(*a), tb = type_of(*b);
        bool swap = int_or_float_q(ta) &&
                    (tb == type_pair || tb == type_point2d || tb == type_point3d || tb == type_tuple);
        if (!composite_max_min(swap ? *b : *a, swap ? *a : *b, greater, result)) {
            bool lesser = actions::compare(a, b, registry::op_lesser);
            result = greater ? (lesser ? *b : *a) : (lesser ? *a : *b);
        }
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
