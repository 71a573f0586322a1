#include "datatypes/float.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/number_support.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "runtime/registry.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
#include "runtime/random.h"
#include "datatypes/text_readers.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/numeric.h"
#include "runtime/series.h"

namespace vyr::float_t {

using namespace number_support;

bool pretty_print = true;
bool full_support = false;

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, double value) {
    set_type(*cell, type_float);
    set_cell_float(*cell, value);
    return cell;
}

namespace {
Cell float_cell(double value) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, value);
    return c;
}
}  // namespace

Cell* box(double value) {
    Cell* c = stack::arg_base();
    *c = float_cell(value);
    return c;
}

Cell* load_in(const Cell& block, double value) {
    Cell* c = series::append_cell(block);
    *c = float_cell(value);
    return c;
}

Cell* push(double value) { return stack::push_copy(float_cell(value)); }

Cell* push_words(uint32_t low, uint32_t high) { return stack::push_copy(Cell{type_float, 0, low, high}); }

double float_abs(double x) { return numeric::float_from_bits(numeric::float_bits(x) & ~numeric::float_sign_bit); }

bool float_nan_q(double x) {
    uint64_t bits = numeric::float_bits(x);
    return (bits & numeric::float_exponent_mask) == numeric::float_exponent_mask &&
           (bits & numeric::float_fraction_mask) != 0;
}

bool float32_nan_q(float x) { return x != x; }

bool float_nan_or_inf_q(double x) { return numeric::float_exponent_field(x) == numeric::float_exponent_max; }

namespace {

constexpr double near_zero = 2.220446049250313e-16;
constexpr uint64_t max_ulps = 10;

// Maps a double's bits to an unsigned integer that grows with the value
// (both zeros map to the same point), so that the distance in units in the
// last place is a subtraction.
uint64_t ordered_bits(double x) {
    uint64_t bits = numeric::float_bits(x);
    return (bits & numeric::float_sign_bit) ? 0 - bits : bits | numeric::float_sign_bit;
}

constexpr uint32_t float32_sign_bit = 0x80000000u;
constexpr uint32_t float32_largest_finite = 0x7F7FFFFFu;  // magnitude bits of FLT_MAX
constexpr uint32_t float32_far_ulps = 0x100000u;

uint32_t float32_bits(float x) { return std::bit_cast<uint32_t>(x); }

uint32_t ordered_bits32(float x) {
    uint32_t bits = float32_bits(x);
    return (bits & float32_sign_bit) ? 0 - bits : bits | float32_sign_bit;
}

}  // namespace

bool almost_equal_q(double a, double b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < near_zero) return true;
    uint64_t ma = ordered_bits(a), mb = ordered_bits(b);
    return (ma > mb ? ma - mb : mb - ma) <= max_ulps;
}

bool float32_almost_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t magnitude_a = float32_bits(a) & ~float32_sign_bit;
    uint32_t magnitude_b = float32_bits(b) & ~float32_sign_bit;
    if (magnitude_a < float32_largest_finite && magnitude_b < float32_largest_finite) {
        uint32_t ma = ordered_bits32(a), mb = ordered_bits32(b);
        return (ma > mb ? ma - mb : mb - ma) <= max_ulps;
    }
    bool same_sign = (float32_bits(a) ^ float32_bits(b)) < float32_sign_bit;
    uint32_t distance = magnitude_a > magnitude_b ? magnitude_a - magnitude_b : magnitude_b - magnitude_a;
    return same_sign && distance < float32_far_ulps;
}

double random_int(double v, bool secure) { return random::random_float(v, secure); }

float_text::FloatText format_float(double x, float_text::FloatKind kind) {
    return float_text::format_float(x, kind, pretty_print);
}

double do_math_op(double x, double y, int32_t op) {
    switch (op) {
        case integer_t::op_add: return x + y;
        case integer_t::op_subtract: return x - y;
        case integer_t::op_multiply: return x * y;
        case integer_t::op_divide: return x / y;
        case integer_t::op_remainder:
            if (y * 0.0 == 0.0) return std::fmod(x, y);  // y finite; fmod by 0 is NaN
            if (y != y || float_nan_or_inf_q(x)) return std::numeric_limits<double>::quiet_NaN();
            return x;  // a finite x by an infinite divisor
        default: raise_script(script::cannot_use, calling_word(), datatype_t::value_of(type_float));
    }
}

namespace {

// A pair! or point second operand: the pair/point arithmetic runs with the
// operands swapped, the number keeping its type.
Cell* math_with_point(uint32_t point_type, int32_t op) {
    if (op == integer_t::op_subtract) raise_not_related(word_arg("subtract"), point_type);
    if (op == integer_t::op_divide) raise_not_related(word_arg("divide"), point_type);
    std::swap(stack::arg_base()[0], stack::arg_base()[1]);
    if (point_type == type_pair) return pair_t::do_math(op);
    if (point_type == type_point2d) return point2d_t::do_math(op);
    return point3d_t::do_math(op);
}

bool float_operand_q(uint32_t type) {
    return type == type_integer || type == type_char || type == type_float || type == type_percent ||
           type == type_time;
}

double number_of(const Cell& c) {
    uint32_t t = type_of(c);
    return t == type_integer || t == type_char ? double(integer_t::get(c)) : get(c);
}

}  // namespace

Cell* do_math(int32_t op) {
    Cell* left = stack::arg_base();
    Cell* right = left + 1;
    uint32_t lt = type_of(*left), rt = type_of(*right);
    switch (rt) {
        case type_tuple: return tuple_t::do_math(op);  // it takes the tuple first
        case type_money: return money_t::do_math(op);
        case type_vector: {  // the vector changes in place and is the answer
            Cell vector = *right;
            *left = *vector_t::do_math_scalar(op, &vector, *left);
            return left;
        }
        case type_pair:
        case type_point2d:
        case type_point3d:
            if (lt != type_time) return math_with_point(rt, op);
            break;
        default: break;
    }
    if (!float_operand_q(rt) || (rt == type_char && (lt == type_time || lt == type_percent)))
        raise_invalid_type(*right);
    double result = do_math_op(number_of(*left), number_of(*right), op);
    uint32_t type = (lt == type_time || rt == type_time) ? type_time : lt == type_percent ? type_percent : type_float;
    set_type(*left, type);
    set_cell_float(*left, result);
    return left;
}

int32_t compare_number(double x, uint32_t type, const Cell* other, int32_t op) {
    using namespace registry;
    uint32_t ot = type_of(*other);
    if ((op == op_strict_equal || op == op_same || op == op_find) && ot != type) return 1;
    double y;
    switch (ot) {
        case type_integer: y = double(integer_t::get(*other)); break;
        case type_float:
        case type_percent:
        case type_time: y = get(*other); break;
        case type_money: {
            Cell number{type, 0, 0, 0};
            set_cell_float(number, x);
            return money_t::compare_number(number, *other, op);
        }
        default: return not_comparable;
    }
    switch (op) {
        case op_equal:
        case op_not_equal: return almost_equal_q(x, y) ? 0 : 1;
        case op_strict_equal: return x == y ? 0 : 1;
        case op_same: return numeric::float_bits(x) == numeric::float_bits(y) ? 0 : 1;
        default: break;
    }
    if (x != x || y != y) {
        // Every ordering test involving NaN is false.
        if (op == op_lesser || op == op_lesser_or_equal) return 1;
        if (op == op_greater || op == op_greater_or_equal) return -1;
        return 0;
    }
    return (x > y) - (x < y);
}

namespace {

// e rounded to a whole number by the refinements.
double round_whole(double e, RoundFlags f) {
    double a = std::fabs(e);
    double toward = std::copysign(std::floor(a), e);
    double away = std::copysign(std::ceil(a), e);
    if (f.down) return toward;
    if (f.floor) return std::floor(e);
    if (f.ceiling) return std::ceil(e);
    double midpoint = std::floor(a) + 0.5;
    if (a < midpoint) return toward;
    if (a > midpoint) return away;
    if (f.even) return std::fmod(a, 2.0) >= 1.0 ? away : toward;
    if (f.half_down) return toward;
    if (f.half_ceiling) return std::ceil(e);
    return away;
}

// Binary exponent (frexp's) below which a scale is subnormal: 1 / s would
// overflow, so the value is rescaled around the scale's mantissa.
constexpr int subnormal_scale_exponent = -1021;

// The position of `scale` among round's spec words (n, /to, scale, ...).
constexpr int32_t round_scale_position = 2;

// The double of a number! /to scale.
double scale_number(const Cell& scale) {
    switch (type_of(scale)) {
        case type_integer: return double(integer_t::get(scale));
        case type_float:
        case type_percent:
        case type_time: return get(scale);
        default: raise_expect_arg(round_scale_position, scale);
    }
}

}  // namespace

double round_to_scale(double x, double s, RoundFlags f) {
    int rescale = 0;
    double e;
    if (s >= 1.0) {
        e = x / s;
    } else {
        int exponent;
        double mantissa = std::frexp(s, &exponent);
        if (exponent < subnormal_scale_exponent) {
            x = std::ldexp(x, -exponent);
            s = mantissa;
            rescale = exponent;
        }
        e = x * (1.0 / s);
    }
    double c = round_whole(e, f);
    double r = s >= 1.0 ? c * s : c / (1.0 / s);
    if (rescale != 0) r = std::ldexp(r, rescale);
    if (!float_nan_or_inf_q(x) && (std::isinf(r) || std::fabs(r) == DBL_MAX)) raise_math(math::overflow);
    return r;
}

Cell* round_value(Cell* n, const Cell* scale, RoundFlags flags, bool integer_scale_gives_integer) {
    if (scale != nullptr && type_of(*scale) == type_money) raise_not_related(calling_word(), type_money);
    bool percent = type_of(*n) == type_percent;
    double s = percent ? 0.01 : 1.0;
    if (scale != nullptr) {
        s = std::fabs(scale_number(*scale));
        if (percent) s /= 100.0;
    }
    double x = get(*n);
    // A scale of 0, or one below the value's precision, leaves the value as it is.
    if (s == 0.0 || std::fabs(x) * 0x1p-53 > s) return n;
    double r = round_to_scale(x, s, flags);
    if (scale == nullptr) {
        set_cell_float(*n, r);
    } else if (type_of(*scale) == type_integer) {
        if (!integer_scale_gives_integer) {
            set_cell_float(*n, r);
        } else {
            if (!(r > -2147483649.0 && r < 2147483648.0)) raise_math(math::overflow);
            integer_t::make_at(n, numeric::truncate_to_int32(r));
        }
    } else {
        set_type(*n, type_of(*scale));
        set_cell_float(*n, r);
    }
    return n;
}

// ---- Actions -------------------------------------------------------------------

namespace {

// The bits of a double from a binary!'s first (at most 8) bytes, big-endian;
// fewer bytes fill the low-order end.
double from_binary(const Cell& binary) {
    ByteView v = bytes_from_index(binary);
    uint32_t n = v.length < 8 ? v.length : 8;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < n; ++i) bits = (bits << 8) | v.bytes[i];
    return numeric::float_from_bits(bits);
}

// [mantissa exponent]: mantissa x 10 ^ exponent (the exponent truncated).
double from_block(const Cell& block, uint32_t target) {
    CellView v = cells_from_index(block);
    if (v.length != 2) raise_bad_to_arg(target, block);
    for (uint32_t i = 0; i < 2; ++i) {
        uint32_t t = type_of(v.cells[i]);
        if (t != type_integer && t != type_float) raise_bad_to_arg(type_float, block);
    }
    double mantissa = number_of(v.cells[0]);
    double exponent = number_of(v.cells[1]);
    return mantissa * std::pow(10.0, double(numeric::truncate_to_int32(exponent)));
}

// Text: for float! the float syntax ("," read as "."); a percent! text is
// loaded as one value, whose number is taken (50% and 0.5 both give 50%).
double from_text(const Cell& text, uint32_t target) {
    if (target != type_float) {
        Cell loaded{};
        collector::CellRoot root(&loaded);
        const Cell v = checks::scan_single_value(text, &loaded);
        switch (type_of(v)) {
            case type_integer: return double(integer_t::get(v));
            case type_float:
            case type_percent: return get(v);
            default: raise_bad_to_arg(target, text);
        }
    }
    TextView v = text_from_index(text);
    int32_t error = 0;
    double x = text_readers::readers.string_to_float(v.units, v.count, v.unit, error);
    if (v.count == 0 || error != 0) raise_bad_to_arg(target, text);
    return x;
}

double to_value(const Cell& spec, uint32_t target) {
    switch (type_of(spec)) {
        case type_integer:
        case type_char: return double(integer_t::get(spec));
        case type_float:
        case type_percent:
        case type_time: return get(spec);
        case type_binary: return from_binary(spec);
        case type_block:
        case type_paren:
        case type_hash: return from_block(spec, target);
        case type_string:
        case type_file:
        case type_url:
        case type_tag:
        case type_email:
        case type_ref: return from_text(spec, target);
        case type_money: return money_t::to_float(spec);
        default: raise_bad_to_arg(target, spec);
    }
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    double x = to_value(*spec, type);
    *proto = Cell{type, 0, 0, 0};
    set_cell_float(*proto, x);
    return proto;
}

// random keeps the value's type (percent! and time! inherit it).
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(int32_t(value->w2 ^ value->w3));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    set_cell_float(*value, random_int(get(*value), secure));
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) { return compare_number(get(*value), type_of(*value), other, op); }

Cell* absolute() {
    Cell* c = stack::arg_base();
    set_cell_float(*c, float_abs(get(*c)));
    return c;
}

Cell* add() { return float_t::do_math(integer_t::op_add); }
Cell* divide() { return float_t::do_math(integer_t::op_divide); }
Cell* multiply() { return float_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return float_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return float_t::do_math(integer_t::op_subtract); }

// 0.0 - x, so that negate 0.0 stays 0.0.
Cell* negate(Cell* value) {
    set_cell_float(*value, 0.0 - get(*value));
    return value;
}

Cell* power() {
    Cell* base = stack::arg_base();
    Cell* exponent = base + 1;
    uint32_t t = type_of(*exponent);
    if (t != type_integer && t != type_float)
        raise_expect_arg(1, *exponent);
    set_cell_float(*base, std::pow(get(*base), number_of(*exponent)));
    return base;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    return round_value(value, scale, RoundFlags{even, down, half_down, floor, ceiling, half_ceiling}, true);
}

bool even_q(Cell* value) { return (numeric::truncate_to_int32(get(*value)) & 1) == 0; }
bool odd_q(Cell* value) { return (numeric::truncate_to_int32(get(*value)) & 1) != 0; }

// form writes the displayed text (16 significant digits, under the pretty
// option); mold writes the shortest text that loads back as the same double
// (form 0.1 + 0.2 gives 0.3, mold gives 0.30000000000000004).
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    return append_ascii(*buffer, format_float(get(*value), float_text::FloatKind::float64).view(), budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return append_ascii(*buffer, float_text::format_float_digits(get(*value), 0, true).view(), budget);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make).set(slot_random, random).set(slot_to, make);
    row.set(slot_form, form).set(slot_mold, mold).set(slot_compare, compare);
    row.set(slot_absolute, absolute).set(slot_add, add).set(slot_divide, divide).set(slot_multiply, multiply);
    row.set(slot_negate, negate).set(slot_power, power).set(slot_remainder, remainder).set(slot_round, round);
    row.set(slot_subtract, subtract).set(slot_even_q, even_q).set(slot_odd_q, odd_q);
    row.register_as(type_float, 0, "float!");
}

}  // namespace vyr::float_t
