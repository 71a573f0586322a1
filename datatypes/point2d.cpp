// point2D!: helpers, actions in slot order, registration (see point2d.h).
#include "datatypes/point2d.h"

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "runtime/registry.h"
#include "datatypes/scalar_support.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "runtime/hash.h"
#include "runtime/series.h"

namespace vyr::point2d_t {

using namespace number_support;

namespace {
constexpr uint32_t float32_magnitude_mask = 0x7FFFFFFF;
constexpr int32_t field_x = 1, field_y = 2;
}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, float x, float y) {
    Cell c = cell_of(x, y);
    cell->header = (cell->header & ~header::type_mask) | type_point2d;
    cell->w1 = c.w1;
    cell->w2 = c.w2;
    cell->w3 = 0;
    return cell;
}

Cell* make_in(const Cell& block, float x, float y) {
    Cell* c = series::append_cell(block);
    *c = cell_of(x, y);
    return c;
}

Cell* push(float x, float y) { return stack::push_copy(cell_of(x, y)); }

float component(const Cell& c) {
    if (type_of(c) == type_float) return narrow(float_t::get(c));
    return float(integer_t::get(c));
}

int32_t field_index(const Cell& word, const Cell& value, const Cell* path) {
    return scalar_support::field_of_word(word, value, type_point2d, path, {fixed::sym_x, fixed::sym_y});
}

namespace {

bool float_operand_q(uint32_t t) { return t == type_float || t == type_percent; }

// The components of a whole-number or point operand.
void operand_components(const Cell& b, float& bx, float& by) {
    switch (type_of(b)) {
        case type_point2d: bx = x_of(b), by = y_of(b); return;
        case type_pair: bx = float(int32_t(b.w2)), by = float(int32_t(b.w3)); return;
        case type_integer: bx = by = float(integer_t::get(b)); return;
        case type_float:
        case type_percent: bx = by = narrow(float_t::get(b)); return;
        default: raise_invalid_type(b);
    }
}

}  // namespace

Cell* do_math(int32_t op) {
    Cell* a = stack::arg_base();
    const Cell& b = a[1];
    float p[2] = {x_of(*a), y_of(*a)}, q[2];
    operand_components(b, q[0], q[1]);
    scalar_support::float_components(p, q, 2, op, float_operand_q(type_of(b)));
    return make_at(a, p[0], p[1]);
}

// ---- Actions -------------------------------------------------------------------

namespace {

// [x y ...]: the first two values, each integer! or float!.
Cell from_block(const Cell& block) {
    const Cell* v = scalar_support::number_values(block, 2, type_point2d);
    return cell_of(component(v[0]), component(v[1]));
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell s = *spec;
    Cell result;
    switch (type_of(s)) {
        case type_integer:
        case type_float: {
            float n = component(s);
            result = cell_of(n, n);
            break;
        }
        case type_pair: result = cell_of(float(int32_t(s.w2)), float(int32_t(s.w3))); break;
        case type_point2d: result = cell_of(x_of(s), y_of(s)); break;
        case type_block: result = from_block(s); break;
        case type_string: result = scalar_support::load_as(s, type_point2d); break;
        default: raise_bad_to_arg(type_point2d, s);
    }
    *proto = result;
    return proto;
}

// /seed seeds the generator with the hash of the two components' bytes.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        uint32_t bytes[2] = {value->w1, value->w2};
        random::random_seed(int32_t(hash::hash_bytes(bytes, sizeof bytes)));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    float c[2] = {x_of(*value), y_of(*value)};
    for (float& v : c)
        if (v != 0.0f) v = narrow(float_t::random_int(v, secure));
    return make_at(value, c[0], c[1]);
}

// "(x, y)", each component with seven significant digits.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    budget = append_ascii(*buffer, "(", budget);
    budget = append_ascii(*buffer, float_t::format_float(x_of(*value), float_text::FloatKind::point).view(), budget);
    budget = append_ascii(*buffer, ", ", budget);
    budget = append_ascii(*buffer, float_t::format_float(y_of(*value), float_text::FloatKind::point).view(), budget);
    return append_ascii(*buffer, ")", budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

namespace {

Cell component_cell(const Cell& point, int32_t field) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, field == field_x ? x_of(point) : y_of(point));
    return c;
}

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    int32_t field = scalar_support::path_field(*element, path, {fixed::sym_x, fixed::sym_y});
    if (!value) return scalar_support::path_answer(component_cell(*parent, field));
    if (type_of(*value) != type_integer && type_of(*value) != type_float) raise_invalid_type(*value);
    float n = component(*value);
    make_at(parent, field == field_x ? n : x_of(*parent), field == field_y ? n : y_of(*parent));
    return value;
}

// A pair! is compared as the point it converts to; equality is near-equality
// of both components, ordering is by x, then by y.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    Cell other = *b;
    if (type_of(other) == type_pair) other = cell_of(float(int32_t(other.w2)), float(int32_t(other.w3)));
    if (type_of(other) != type_point2d) return registry::not_comparable;
    float ax = x_of(*a), ay = y_of(*a), bx = x_of(other), by = y_of(other);
    switch (op) {
        case registry::op_equal:
        case registry::op_not_equal:
            return float_t::float32_almost_equal_q(ax, bx) && float_t::float32_almost_equal_q(ay, by) ? 0 : 1;
        case registry::op_strict_equal: return ax == bx && ay == by ? 0 : 1;
        case registry::op_same: return a->w1 == other.w1 && a->w2 == other.w2 ? 0 : 1;
        default: break;
    }
    float d = ax - bx;
    if (float_t::float32_almost_equal_q(d, 0.0f)) d = ay - by;
    return d < 0.0f ? -1 : d > 0.0f ? 1 : 0;
}

Cell* absolute() {
    Cell* c = stack::arg_base();
    c->w1 &= float32_magnitude_mask;
    c->w2 &= float32_magnitude_mask;
    return c;
}

Cell* add() { return point2d_t::do_math(integer_t::op_add); }
Cell* divide() { return point2d_t::do_math(integer_t::op_divide); }
Cell* multiply() { return point2d_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return point2d_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return point2d_t::do_math(integer_t::op_subtract); }

// 0.0 minus each component, so that 0.0 stays 0.0.
Cell* negate(Cell* value) { return make_at(value, 0.0f - x_of(*value), 0.0f - y_of(*value)); }

namespace {

// The scale for one component: a point or pair scale gives its own
// component (an integer! of a pair, a float! of a point); any other scale is
// used as it is.
void scale_component(Cell* scale, const Cell& original, int32_t field) {
    switch (type_of(original)) {
        case type_pair: *scale = Cell{type_integer, 0, field == field_x ? original.w2 : original.w3, 0}; break;
        case type_point2d:
        case type_point3d: {
            uint32_t bits = field == field_x ? original.w1 : original.w2;
            *scale = Cell{type_float, 0, 0, 0};
            set_cell_float(*scale, std::bit_cast<float>(bits));
            break;
        }
        default: break;
    }
}

}  // namespace

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && type_of(*scale) == type_money) raise_not_related(calling_word(), type_money);
    const Cell original = scale ? *scale : Cell{};
    float c[2] = {x_of(*value), y_of(*value)};
    for (int32_t field : {field_x, field_y}) {
        if (scale) scale_component(scale, original, field);
        c[field - 1] = scalar_support::round_float_component(c[field - 1], scale, even, down, half_down, floor, ceiling,
                                                             half_ceiling);
    }
    return make_at(value, c[0], c[1]);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t field = scalar_support::pick_field(*value, index, index_cell, {fixed::sym_x, fixed::sym_y});
    *value = component_cell(*value, field);
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
    row.set(slot_pick, pick);
    row.set(slot_reverse, reverse);
    row.register_as(type_point2d, 0, "point2D!");
}

}  // namespace vyr::point2d_t
