// money!: exact decimal arithmetic and rounding.
//
// Each core takes two amounts and answers a cell that is one of them with
// the result's digits and sign (so a zero operand hands back the other
// operand, sign bit and all). The magnitudes are read as Units (a count of
// hundred-thousandths, below 10^22), which hold every sum, difference and
// remainder exactly; products and scaled dividends are bounded by the digit
// count checks first, so they stay below 10^28 and 10^27 and fit as well.
// Nothing here allocates.
#include <algorithm>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/number_support.h"
#include "runtime/stack.h"

namespace vyr::money_t {

using namespace number_support;

namespace {

// 10^22: the first magnitude beyond the 22 digits.
constexpr Units digits_limit = Units(10000000000ull) * Units(10000000000ull) * 100u;
// A product of two magnitudes counts 10^-10: 17 integral digits at most.
constexpr Units product_limit = digits_limit * units_per_one;
// Operand digit counts beyond which a product or quotient cannot fit.
constexpr int32_t product_digits_max = int32_t(digit_count_max + fraction_digits) + 1;  // 28

[[noreturn]] void raise_overflow() { raise_script(script::type_limit, datatype_t::value_of(type_money)); }

// The cell with a new magnitude and sign.
Cell with(const Cell& c, Units magnitude, bool negative) {
    Cell r = c;
    set_units(r, magnitude);
    set_sign(&r, negative);
    return r;
}

Cell positive(const Cell& c) {
    Cell r = c;
    return *make_positive(&r);
}

int32_t digits_of(const Cell& c) { return int32_t(digit_count(digits(c))); }

}  // namespace

// ---- Comparison ----------------------------------------------------------------------

int32_t compare_values(const Cell& a, const Cell& b) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (s != t || s == 0) return (s > t) - (s < t);
    int32_t m = compare_digits(digits(a), digits(b));
    return s > 0 ? m : -m;
}

// ---- The cores -------------------------------------------------------------------------

Cell add_values(const Cell& a, const Cell& b) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (t == 0) return a;
    if (s == 0) return b;
    if (s > 0 && t < 0) return subtract_values(a, positive(b));
    if (s < 0 && t > 0) return subtract_values(b, positive(a));
    Units sum = units_of(a) + units_of(b);
    if (sum >= digits_limit) raise_overflow();
    return with(a, sum, s < 0);
}

Cell subtract_values(const Cell& a, const Cell& b) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (s == 0) {
        Cell r = b;
        return *flip_sign(&r);
    }
    if (t == 0) return a;
    if (s < 0 && t > 0) {
        Cell r = add_values(positive(a), positive(b));
        return *flip_sign(&r);
    }
    if (s > 0 && t < 0) return add_values(a, positive(b));
    // Same signs: the larger magnitude less the smaller, negative exactly
    // when a < b.
    bool less = compare_values(a, b) < 0;
    Units x = units_of(a), y = units_of(b);
    bool exchange = s < 0 ? !less : less;
    const Cell& minuend = exchange ? b : a;
    return with(minuend, x > y ? x - y : y - x, less);
}

Cell multiply_values(const Cell& a, const Cell& b) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (s == 0) return a;
    if (t == 0) return b;
    if (digits_of(a) + digits_of(b) > product_digits_max) raise_overflow();
    Units product = units_of(a) * units_of(b);  // in 10^-10
    if (product >= product_limit) raise_overflow();
    Units truncated = product / units_per_one;  // the 6th to 10th decimals fall away
    if (truncated == 0) raise_overflow();       // a product below 0.00001
    return with(a, truncated, s != t);
}

Cell divide_values(const Cell& a, const Cell& b, bool remainder, bool integer) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (t == 0) raise_math(math::zero_divide);
    if (s == 0) return a;
    bool negative = remainder ? s < 0 : s != t;
    if (digits_of(a) + 6 - digits_of(b) > int32_t(digit_count_max)) raise_overflow();
    Units x = units_of(a), y = units_of(b);
    if (remainder) return with(a, x % y, negative);
    Units q = integer ? x / y * units_per_one : x * units_per_one / y;
    if (q == 0 || q >= digits_limit) raise_overflow();
    return with(a, q, negative);
}

Cell apply_op(const Cell& a, const Cell& b, int32_t op) {
    switch (op) {
        case op_add: return add_values(a, b);
        case op_subtract: return subtract_values(a, b);
        case op_multiply: return multiply_values(a, b);
        case op_divide: return divide_values(a, b, false, false);
        case op_remainder: return divide_values(a, b, true, false);
        default: raise_invalid_type(a);
    }
}

// ---- The arithmetic actions --------------------------------------------------------------

namespace {

// An operand as an amount: integer!, float! and percent! (its fraction)
// converted, decimals past the fifth dropped.
Cell operand(const Cell& c) {
    switch (type_of(c)) {
        case type_money: return c;
        case type_integer: return from_integer(int32_t(c.w2));
        case type_float:
        case type_percent: return from_float(cell_float(c), false);
        default: raise_invalid_type(c);
    }
}

}  // namespace

Cell* do_math(int32_t op) {
    Cell* base = stack::arg_base();
    uint32_t ta = type_of(base[0]), tb = type_of(base[1]);
    if (op == op_multiply && ta == type_money && tb == type_money) raise_invalid_type(base[0]);
    if ((op == op_divide || op == op_remainder) && ta != type_money && tb == type_money) raise_invalid_type(base[0]);
    Cell a = operand(base[0]), b = operand(base[1]);
    if (!same_currency_q(a, b, false)) raise_script(script::wrong_denom, a, b);
    uint32_t cur = currency(b) ? currency(b) : currency(a);
    Cell r = apply_op(a, b, op);
    if (op == op_divide && ta == type_money && tb == type_money) {
        float_t::make_at(base, to_float(r));
    } else {
        set_currency(&r, cur);
        *base = r;
    }
    return base;
}

// ---- round -------------------------------------------------------------------------------

namespace {

Cell scale_amount(const Cell* scale) {
    if (!scale) return from_integer(1);
    switch (type_of(*scale)) {
        case type_money: return *scale;
        case type_integer: return from_integer(int32_t(scale->w2));
        case type_float: return from_float(cell_float(*scale), true);
        default: raise_not_related(calling_word(), type_of(*scale));
    }
}

}  // namespace

// The nearest multiple of the scale ($1 without /to) in the direction the
// mode asks for. A remainder of exactly half the scale is a tie: nearest
// goes away from zero, /even to the even units digit, /half-down toward
// zero, /half-ceiling up. Only the chosen move is computed, so a value near
// the top of the range rounds toward zero without overflowing.
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (zero_q(*value)) return value;
    Cell sc = positive(scale_amount(scale));
    if (zero_q(sc)) return value;
    int32_t s = sign_of(*value);
    Cell v = positive(*value);
    Cell r = divide_values(v, sc, true, false);
    Units ru = zero_q(r) ? 0 : units_of(r), su = units_of(sc);
    bool tie = ru * 2 == su;
    bool nearer_toward = ru * 2 < su;  // r < scale - r
    bool toward;
    if (down) toward = true;
    else if (floor) toward = s >= 0;
    else if (ceiling) toward = s < 0;
    else if (even) toward = tie ? get_digit(digits(v), units_digit) % 2 == 0 : nearer_toward;
    else if (half_down) toward = tie || nearer_toward;
    else if (half_ceiling) toward = tie ? s < 0 : nearer_toward;
    else toward = nearer_toward;
    Cell result = toward ? subtract_values(v, r) : add_values(v, subtract_values(sc, r));
    set_sign(&result, s < 0);
    set_currency(&result, currency(*value));
    *value = result;
    return value;
}

}  // namespace vyr::money_t
