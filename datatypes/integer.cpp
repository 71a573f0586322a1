#include "datatypes/integer.h"

#include <array>
#include <climits>
#include <utility>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/number_support.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "runtime/registry.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
#include "runtime/random.h"
#include "datatypes/word.h"
#include "datatypes/text_readers.h"
#include "runtime/stack.h"
#include "runtime/numeric.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"

namespace vyr::integer_t {

using namespace number_support;

// ---- Helpers -----------------------------------------------------------------

int32_t arg_value() { return get(*stack::arg_base()); }

int32_t arg_value_or_0() {
    const Cell* c = stack::arg_base();
    return type_of(*c) == type_integer ? get(*c) : 0;
}

Cell* make_at(Cell* cell, int32_t value) {
    set_type(*cell, type_integer);
    cell->w2 = uint32_t(value);
    return cell;
}

Cell* box(int32_t value) {
    Cell* c = stack::arg_base();
    *c = Cell{type_integer, 0, uint32_t(value), 0};
    return c;
}

Cell* load_in(const Cell& block, int32_t value) {
    Cell* c = series::append_cell(block);
    *c = Cell{type_integer, 0, uint32_t(value), 0};
    return c;
}

Cell* push(int32_t value) { return stack::push_copy(Cell{type_integer, 0, uint32_t(value), 0}); }

int32_t sign(int32_t value) { return (value > 0) - (value < 0); }

int32_t abs_checked(int32_t value) {
    if (value == INT32_MIN) raise_math(math::overflow);
    return value < 0 ? -value : value;
}

namespace {
// "00" "01" ... "99": two digits per division.
constexpr auto digit_pairs = [] {
    std::array<char, 200> p{};
    for (int i = 0; i < 100; ++i) {
        p[size_t(2 * i)] = char('0' + i / 10);
        p[size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return p;
}();
}  // namespace

// The digit count from the bit length: bits x log10(2) (1233 / 4096) is the
// count less one, or one too many when the magnitude is below that power of
// ten. An odd magnitude has the digits of the even one below it, and 0 counts
// as 1.
uint32_t text_length(int32_t value) {
    static constexpr uint32_t powers_of_10[10] = {1,      10,      100,      1000,      10000,
                                                  100000, 1000000, 10000000, 100000000, 1000000000};
    uint32_t magnitude = (value < 0 ? 0u - uint32_t(value) : uint32_t(value)) | 1;
    uint32_t guess = uint32_t(32 - __builtin_clz(magnitude)) * 1233 >> 12;
    uint32_t n = guess + 1 - (magnitude < powers_of_10[guess] ? 1 : 0);
    return n + (value < 0 ? 1 : 0);
}

void write_text(int32_t value, char* end) {
    char* p = end;
    // Work on the magnitude as unsigned so that -2147483648 needs no special case.
    uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    while (magnitude >= 100) {
        uint32_t pair = magnitude % 100;
        magnitude /= 100;
        *--p = digit_pairs[2 * pair + 1];
        *--p = digit_pairs[2 * pair];
    }
    if (magnitude >= 10) {
        *--p = digit_pairs[2 * magnitude + 1];
        *--p = digit_pairs[2 * magnitude];
    } else {
        *--p = char('0' + magnitude);
    }
    if (value < 0) *--p = '-';
}

Text to_text(int32_t value) {
    Text t;
    t.start = uint8_t(sizeof t.chars - text_length(value));
    write_text(value, t.chars + sizeof t.chars);
    return t;
}

namespace {

// The floating-point value of `left op right` for the operations that can
// overflow on 32 bits.
double float_result(int32_t left, int32_t right, int32_t op) {
    double l = left, r = right;
    switch (op) {
        case op_add: return l + r;
        case op_subtract: return l - r;
        default: return l * r;
    }
}

// An add, subtract or multiply whose 32-bit result `wrapped` overflowed.
int32_t overflowed(int32_t left, int32_t right, int32_t op, Cell* result, int32_t wrapped) {
    if (result == nullptr) return wrapped;
    float_t::make_at(result, float_result(left, right, op));
    return 0;
}

void check_divisor(int32_t left, int32_t right) {
    if (right == 0) raise_math(math::zero_divide);
    if (left == INT32_MIN && right == -1) raise_math(math::overflow);
}

}  // namespace

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t r = 0;
    switch (op) {
        case op_add:
            if (__builtin_add_overflow(left, right, &r)) return overflowed(left, right, op, result, r);
            break;
        case op_subtract:
            if (__builtin_sub_overflow(left, right, &r)) return overflowed(left, right, op, result, r);
            break;
        case op_multiply:
            if (__builtin_mul_overflow(left, right, &r)) return overflowed(left, right, op, result, r);
            break;
        case op_divide:
            check_divisor(left, right);
            if (result != nullptr && left % right != 0) {
                float_t::make_at(result, double(left) / double(right));
                return 0;
            }
            r = left / right;
            break;
        case op_remainder:
            check_divisor(left, right);
            r = left % right;
            break;
        case op_or: r = left | right; break;
        case op_and: r = left & right; break;
        case op_xor: r = left ^ right; break;
        default: runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
    if (result != nullptr) result->w2 = uint32_t(r);
    return r;
}

namespace {

const char* op_word_spelling(int32_t op) {
    switch (op) {
        case op_add: return "add";
        case op_subtract: return "subtract";
        case op_multiply: return "multiply";
        case op_divide: return "divide";
        case op_remainder: return "remainder";
        case op_or: return "or~";
        case op_and: return "and~";
        default: return "xor~";
    }
}

// The integer with a pair! or point second operand: the pair/point arithmetic
// runs with the operands swapped (integer - point becomes -point + integer),
// and an integer cannot be divided by one.
Cell* math_with_point(int32_t op) {
    if (op == op_divide) raise_not_related(word_arg("divide"), type_integer);
    Cell* left = stack::arg_base();
    std::swap(left[0], left[1]);
    uint32_t t = type_of(*left);
    if (op == op_subtract) {
        if (t == type_pair) pair_t::negate(left);
        else if (t == type_point2d) point2d_t::negate(left);
        else point3d_t::negate(left);
        op = op_add;
    }
    if (t == type_pair) return pair_t::do_math(op);
    if (t == type_point2d) return point2d_t::do_math(op);
    return point3d_t::do_math(op);
}

}  // namespace

Cell* do_math(int32_t op) {
    Cell* left = stack::arg_base();
    Cell* right = left + 1;
    switch (type_of(*right)) {
        case type_char:
        case type_integer: do_math_op(get(*left), get(*right), op, left); return left;
        case type_float:
        case type_percent:
        case type_time: return float_t::do_math(op);
        case type_pair:
        case type_point2d:
        case type_point3d: return math_with_point(op);
        case type_tuple:
            if (op == op_subtract || op == op_divide) raise_not_related(word_arg(op_word_spelling(op)), type_integer);
            return tuple_t::do_math(op);  // with the operands swapped
        case type_date:
            if (op != op_add) raise_not_related(word_arg(op_word_spelling(op)), type_integer);
            std::swap(*left, *right);  // days + date is date + days
            return date_t::do_math(left, *right, op_add);
        case type_vector: {  // the vector changes in place and is the answer
            Cell vector = *right;
            *left = *vector_t::do_math_scalar(op, &vector, *left);
            return left;
        }
        case type_money: return money_t::do_math(op);
        default: raise_invalid_type(*right);
    }
}

int32_t from_binary(const Cell& binary) {
    ByteView v = bytes_from_index(binary);
    uint32_t n = v.length < 4 ? v.length : 4;
    uint32_t value = 0;
    for (uint32_t i = 0; i < n; ++i) value = (value << 8) | v.bytes[i];
    return int32_t(value);
}

// ---- Actions -------------------------------------------------------------------

namespace {

// A float! or percent! in range for `to integer!`, truncated toward zero.
int32_t from_float(double x) {
    if (x != x || x > 2147483647.0 || x < -2147483648.0) raise_script(script::type_limit, datatype_t::value_of(type_integer));
    return numeric::truncate_to_int32(x);
}

// An issue's spelling read as hexadecimal: at most 8 digits.
int32_t from_issue(const Cell& issue) {
    Cell spelling{type_string, 0, word_t::symbol_cell(issue)->w2, 0};
    uint32_t n = string_t::buffer_length(spelling);
    if (n > 8) raise_script(script::invalid_data, issue);
    uint32_t value = 0;
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t c = string_t::char_at(spelling, k) & 0x7F;
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else raise_script(script::invalid_data, issue);
        value = value * 16 + digit;
    }
    return int32_t(value);
}

// Decimal text with an optional sign; apostrophes are skipped.
int32_t from_text(const Cell& text) {
    TextView v = text_from_index(text);
    int32_t error = 0;
    int32_t n = text_readers::readers.string_to_integer(v.units, v.count, v.unit, error);
    if (error != 0) raise_bad_to_arg(type_integer, text);
    return n;
}

int32_t to_value(Cell* spec) {
    switch (type_of(*spec)) {
        case type_integer:
        case type_char: return get(*spec);
        case type_float:
        case type_percent: return from_float(float_t::get(*spec));
        // Whole seconds, rounded half up; a time beyond the 32-bit range is
        // refused like a float rather than answered as -2147483648.
        case type_time: return from_float(float_t::get(*spec) + 0.5);
        case type_binary: return from_binary(*spec);
        case type_string:
        case type_file:
        case type_url:
        case type_tag:
        case type_email:
        case type_ref: return from_text(*spec);
        case type_issue: return from_issue(*spec);
        case type_date: return date_t::to_epoch(*spec);
        case type_money: return money_t::to_integer(*spec);
        default: raise_bad_to_arg(type_integer, *spec);
    }
}

}  // namespace

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    int32_t value = to_value(spec);
    *proto = Cell{type_integer, 0, uint32_t(value), 0};
    return proto;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (type_of(*spec) == type_logic) {
        *proto = Cell{type_integer, 0, spec->w1 == 1 ? 1u : 0u, 0};
        return proto;
    }
    return to(proto, spec, type);
}

// random keeps the value's type, so char! (which inherits it) answers a char!.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(get(*value));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    value->w2 = uint32_t(random::random_int(secure, get(*value)));
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = type_of(*other);
    if ((op == registry::op_strict_equal || op == registry::op_find) && t != type_integer) return 1;
    switch (t) {
        case type_char:
        case type_integer: {
            int32_t a = get(*value), b = get(*other);
            return (a > b) - (a < b);
        }
        case type_float:
        case type_percent:
        case type_time: return float_t::compare_number(double(get(*value)), type_float, other, op);
        case type_money: return money_t::compare_number(*value, *other, op);
        default: return registry::not_comparable;
    }
}

// absolute keeps the value's type (char! inherits it).
Cell* absolute() {
    Cell* c = stack::arg_base();
    c->w2 = uint32_t(abs_checked(get(*c)));
    return c;
}

Cell* add() { return do_math(op_add); }
Cell* divide() { return do_math(op_divide); }
Cell* multiply() { return do_math(op_multiply); }
Cell* remainder() { return do_math(op_remainder); }
Cell* subtract() { return do_math(op_subtract); }
Cell* and_t() { return do_math(op_and); }
Cell* or_t() { return do_math(op_or); }
Cell* xor_t() { return do_math(op_xor); }

Cell* negate(Cell* value) {
    int32_t v = get(*value);
    if (v == INT32_MIN) raise_math(math::overflow);
    value->w2 = uint32_t(-v);
    return value;
}

Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

bool even_q(Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(Cell* value) { return (value->w2 & 1) != 0; }

namespace {

// base ^ exponent on 32 bits by squaring, for exponent >= 0. Answers false
// when a product that matters overflows: the result's, or the squaring of
// the base while exponent bits remain (squaring after the last bit is
// never used, so 46341 ^ 1 stays an integer).
bool power_on_32_bits(int32_t base, int32_t exponent, int32_t& result) {
    int32_t r = 1;
    while (exponent != 0) {
        if ((exponent & 1) && __builtin_mul_overflow(r, base, &r)) return false;
        exponent >>= 1;
        if (exponent != 0 && __builtin_mul_overflow(base, base, &base)) return false;
    }
    result = r;
    return true;
}

}  // namespace

Cell* power() {
    Cell* base = stack::arg_base();
    Cell* exponent = base + 1;
    uint32_t t = type_of(*exponent);
    if (t != type_integer && t != type_float)
        raise_expect_arg(1, *exponent);
    int32_t result;
    if (t == type_integer && get(*exponent) >= 0 && power_on_32_bits(get(*base), get(*exponent), result)) {
        base->w2 = uint32_t(result);
        return base;
    }
    // A float or negative exponent, or a 32-bit overflow: float!'s power.
    float_t::make_at(base, double(get(*base)));
    return float_t::power();
}

namespace {

// v + d, refusing a sum past 2147483647.
int32_t away_checked(int32_t v, int32_t d) {
    int32_t sum;
    if (__builtin_add_overflow(v, d, &sum)) raise_math(math::overflow);
    return sum;
}

// |n| rounded to a multiple of scale (> 0) by the refinements. r is
// |n| mod scale (not 0), d = scale - r; "toward" drops r, "away" adds d.
int32_t round_magnitude(int32_t n, int32_t scale, float_t::RoundFlags f) {
    int32_t v = n < 0 ? -n : n;
    int32_t r = v % scale;
    int32_t d = scale - r;
    int32_t toward = v - r;
    if (f.down) return toward;
    if (f.floor || f.ceiling) {
        int32_t away = away_checked(v, d);  // checked whichever way the value rounds
        bool go_away = f.floor ? n < 0 : n > 0;
        return go_away ? away : toward;
    }
    if (r < d) return toward;
    if (r > d) return away_checked(v, d);
    if (f.even) return (v / scale) & 1 ? away_checked(v, d) : toward;
    if (f.half_down) return toward;
    if (f.half_ceiling) {
        int32_t away = away_checked(v, d);
        return n > 0 ? away : toward;
    }
    return away_checked(v, d);
}

}  // namespace

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale != nullptr && type_of(*scale) == type_money) raise_not_related(calling_word(), type_money);
    int32_t n = get(*value);
    if (n == INT32_MIN) return value;
    float_t::RoundFlags flags{even, down, half_down, floor, ceiling, half_ceiling};
    if (scale != nullptr && type_of(*scale) != type_integer) {
        float_t::make_at(value, double(n));
        return float_t::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    int32_t s = scale != nullptr ? abs_checked(get(*scale)) : 1;
    if (s == 0 || n % s == 0) return value;
    value->w2 = uint32_t(sign(n) * round_magnitude(n, s, flags));
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    return append_ascii(*buffer, to_text(get(*value)).view(), budget);
}

// mold is form: an integer has one text.
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make).set(slot_random, random).set(slot_to, to);
    row.set(slot_form, form).set(slot_mold, mold).set(slot_compare, compare);
    row.set(slot_absolute, absolute).set(slot_add, add).set(slot_divide, divide).set(slot_multiply, multiply);
    row.set(slot_negate, negate).set(slot_power, power).set(slot_remainder, remainder).set(slot_round, round);
    row.set(slot_subtract, subtract).set(slot_even_q, even_q).set(slot_odd_q, odd_q);
    row.set(slot_and_t, and_t).set(slot_complement, complement).set(slot_or_t, or_t).set(slot_xor_t, xor_t);
    row.register_as(type_integer, 0, "integer!");
}

}  // namespace vyr::integer_t
