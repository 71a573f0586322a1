// pair!: helpers, actions in slot order, registration (see pair.h).
#include "datatypes/pair.h"

#include <climits>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/point2d.h"
#include "runtime/registry.h"
#include "datatypes/scalar_support.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "runtime/numeric.h"
#include "runtime/series.h"

namespace vyr::pair_t {

using namespace number_support;

namespace {
constexpr int32_t field_x = 1, field_y = 2;
}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t x, int32_t y) {
    cell->header = (cell->header & ~header::type_mask) | type_pair;
    cell->w1 = 0;
    cell->w2 = uint32_t(x);
    cell->w3 = uint32_t(y);
    return cell;
}

Cell* load(const Cell& block, int32_t x, int32_t y) {
    Cell* c = series::append_cell(block);
    *c = cell_of(x, y);
    return c;
}

Cell* push(int32_t x, int32_t y) { return stack::push_copy(cell_of(x, y)); }

int32_t field_index(const Cell& word, const Cell& value, const Cell* path) {
    return scalar_support::field_of_word(word, value, type_pair, path, {fixed::sym_x, fixed::sym_y});
}

void to_point(uint32_t offset) {
    Cell* c = stack::arg_base() + offset;
    point2d_t::make_at(c, float(x_of(*c)), float(y_of(*c)));
}

int32_t number_at(const Cell& c) {
    if (type_of(c) == type_float) return numeric::truncate_to_int32(float_t::get(c));
    return integer_t::get(c);
}

namespace {

// The operation in point2D! arithmetic instead: the pair becomes a point,
// the operand (a number or a pair) is converted by point2D! itself.
Cell* as_points(int32_t op) {
    to_point(0);
    return point2d_t::do_math(op);
}

bool divides_q(int32_t op) { return op == integer_t::op_divide || op == integer_t::op_remainder; }

// -2147483648 divided by -1 has no 32-bit answer.
bool division_overflows_q(int32_t a, int32_t b) { return a == INT_MIN && b == -1; }

}  // namespace

Cell* do_math(int32_t op) {
    Cell* a = stack::arg_base();
    Cell* b = a + 1;
    int32_t bx, by;
    switch (type_of(*b)) {
        case type_integer: bx = by = integer_t::get(*b); break;
        case type_pair: bx = x_of(*b), by = y_of(*b); break;
        case type_point2d: return as_points(op);
        case type_float:
        case type_percent: {
            double f = float_t::get(*b);
            if (op == integer_t::op_multiply || op == integer_t::op_divide) {
                bool refused = op == integer_t::op_multiply ? float_t::float_nan_or_inf_q(f) : float_t::float_nan_q(f);
                if (refused) raise_script(script::invalid_arg, *b);
                return as_points(op);
            }
            if (float_t::float_nan_or_inf_q(f)) raise_script(script::invalid_arg, *b);
            bx = by = numeric::truncate_to_int32(f);
            *b = Cell{type_integer, 0, uint32_t(bx), 0};  // what an overflow hands on to point2D!
            break;
        }
        default: raise_invalid_type(*b);
    }
    int32_t x = x_of(*a), y = y_of(*a);
    if (divides_q(op)) {
        if (bx == 0 || by == 0) raise_math(math::zero_divide);
        if (division_overflows_q(x, bx) || division_overflows_q(y, by)) return as_points(op);
    }
    int32_t rx, ry;
    if (!scalar_support::integer_component(x, bx, op, rx) || !scalar_support::integer_component(y, by, op, ry))
        return as_points(op);
    return make_at(a, rx, ry);
}

// ---- Actions -------------------------------------------------------------------

namespace {

// [x y ...]: the first two values, each integer! or float! (truncated).
Cell from_block(const Cell& block) {
    const Cell* v = scalar_support::number_values(block, 2, type_pair);
    return cell_of(number_at(v[0]), number_at(v[1]));
}

Cell from_point(const Cell& point) {
    double x = point2d_t::x_of(point), y = point2d_t::y_of(point);
    if (float_t::float_nan_or_inf_q(x) || float_t::float_nan_or_inf_q(y)) raise_script(script::invalid_arg, point);
    return cell_of(numeric::truncate_to_int32(x), numeric::truncate_to_int32(y));
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell s = *spec;
    Cell result;
    switch (type_of(s)) {
        case type_integer:
        case type_float: result = cell_of(number_at(s), number_at(s)); break;
        case type_block: result = from_block(s); break;
        case type_point2d: result = from_point(s); break;
        case type_string: result = scalar_support::load_as(s, type_pair); break;
        case type_pair: result = cell_of(x_of(s), y_of(s)); break;
        default: raise_bad_to_arg(type_pair, s);
    }
    *proto = result;
    return proto;
}

// Each non-zero component c becomes a random integer in 1..c (c..-1 for a
// negative one); /seed seeds the generator with x XOR y.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(x_of(*value) ^ y_of(*value));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    int32_t x = x_of(*value), y = y_of(*value);
    if (x != 0) x = random::random_int(secure, x);
    if (y != 0) y = random::random_int(secure, y);
    return make_at(value, x, y);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    budget = append_ascii(*buffer, integer_t::to_text(x_of(*value)).view(), budget);
    budget = append_ascii(*buffer, "x", budget);
    return append_ascii(*buffer, integer_t::to_text(y_of(*value)).view(), budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

namespace {

int32_t component(const Cell& pair, int32_t field) { return field == field_x ? x_of(pair) : y_of(pair); }

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    int32_t field = scalar_support::path_field(*element, path, {fixed::sym_x, fixed::sym_y});
    if (!value) return scalar_support::path_answer(Cell{type_integer, 0, uint32_t(component(*parent, field)), 0});
    if (type_of(*value) != type_integer) raise_invalid_type(*value);
    int32_t n = integer_t::get(*value);
    make_at(parent, field == field_x ? n : x_of(*parent), field == field_y ? n : y_of(*parent));
    return value;
}

// Against a point2D! the pair compares as a point; against another pair x
// decides, then y.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) == type_point2d) {
        Cell point = point2d_t::cell_of(float(x_of(*a)), float(y_of(*a)));
        return point2d_t::compare(&point, b, op);
    }
    if (type_of(*b) != type_pair) return registry::not_comparable;
    int32_t ax = x_of(*a), bx = x_of(*b);
    if (ax != bx) return ax < bx ? -1 : 1;
    int32_t ay = y_of(*a), by = y_of(*b);
    return (ay > by) - (ay < by);
}

Cell* absolute() {
    Cell* c = stack::arg_base();
    return make_at(c, integer_t::abs_checked(x_of(*c)), integer_t::abs_checked(y_of(*c)));
}

Cell* add() { return pair_t::do_math(integer_t::op_add); }
Cell* divide() { return pair_t::do_math(integer_t::op_divide); }
Cell* multiply() { return pair_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return pair_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return pair_t::do_math(integer_t::op_subtract); }
Cell* and_t() { return pair_t::do_math(integer_t::op_and); }
Cell* or_t() { return pair_t::do_math(integer_t::op_or); }
Cell* xor_t() { return pair_t::do_math(integer_t::op_xor); }

// Two's complement of each component (-2147483648 stays itself).
Cell* negate(Cell* value) {
    value->w2 = 0u - value->w2;
    value->w3 = 0u - value->w3;
    return value;
}

namespace {

// integer! round of one component; a float result (a float scale) is
// truncated back to an integer.
int32_t round_component(int32_t c, Cell* scale, float_t::RoundFlags f) {
    Cell n{type_integer, 0, uint32_t(c), 0};
    integer_t::round(&n, scale, f.even, f.down, f.half_down, f.floor, f.ceiling, f.half_ceiling);
    return number_at(n);
}

}  // namespace

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && type_of(*scale) == type_money) raise_not_related(calling_word(), type_money);
    float_t::RoundFlags flags{even, down, half_down, floor, ceiling, half_ceiling};
    bool per_component = scale && type_of(*scale) == type_pair;
    Cell sx = per_component ? Cell{type_integer, 0, scale->w2, 0} : Cell{};
    Cell sy = per_component ? Cell{type_integer, 0, scale->w3, 0} : Cell{};
    int32_t x = round_component(x_of(*value), per_component ? &sx : scale, flags);
    int32_t y = round_component(y_of(*value), per_component ? &sy : scale, flags);
    return make_at(value, x, y);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t field = scalar_support::pick_field(*value, index, index_cell, {fixed::sym_x, fixed::sym_y});
    *value = Cell{type_integer, 0, uint32_t(component(*value, field)), 0};
    return value;
}

Cell* reverse(Cell* value, Cell*, Cell*) { return make_at(value, y_of(*value), x_of(*value)); }

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make);
    row.set(slot_random, random);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_absolute, absolute);
    row.set(slot_add, add);
    row.set(slot_divide, divide);
    row.set(slot_multiply, multiply);
    row.set(slot_negate, negate);
    row.set(slot_remainder, remainder);
    row.set(slot_round, round);
    row.set(slot_subtract, subtract);
    row.set(slot_and_t, and_t);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_pick, pick);
    row.set(slot_reverse, reverse);
    row.register_as(type_pair, 0, "pair!");
}

}  // namespace vyr::pair_t
