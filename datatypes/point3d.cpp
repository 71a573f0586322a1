// point3D!: helpers, actions in slot order, registration (see point3d.h).
#include "datatypes/point3d.h"

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
#include "runtime/hash.h"
#include "runtime/series.h"

namespace vyr::point3d_t {

using namespace number_support;
using point2d_t::narrow;

namespace {
constexpr uint32_t float32_magnitude_mask = 0x7FFFFFFF;
constexpr int32_t field_x = 1, field_z = 3;

// The components of a cell as an array, and back.
struct Components {
    float v[3];
};
Components components_of(const Cell& c) { return {{x_of(c), y_of(c), z_of(c)}}; }
Cell* store(Cell* cell, const Components& c) { return make_at(cell, c.v[0], c.v[1], c.v[2]); }
}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, float x, float y, float z) {
    Cell c = cell_of(x, y, z);
    cell->header = (cell->header & ~header::type_mask) | type_point3d;
    cell->w1 = c.w1;
    cell->w2 = c.w2;
    cell->w3 = c.w3;
    return cell;
}

Cell* make_in(const Cell& block, float x, float y, float z) {
    Cell* c = series::append_cell(block);
    *c = cell_of(x, y, z);
    return c;
}

Cell* push(float x, float y, float z) { return stack::push_copy(cell_of(x, y, z)); }

float component(const Cell& c) { return point2d_t::component(c); }

int32_t field_index(const Cell& word, const Cell& value, const Cell* path) {
    return scalar_support::field_of_word(word, value, type_point3d, path, {fixed::sym_x, fixed::sym_y, fixed::sym_z});
}

Cell* do_math(int32_t op) {
    Cell* a = stack::arg_base();
    const Cell& b = a[1];
    Components p = components_of(*a), q;
    bool float_operand = false;
    switch (type_of(b)) {
        case type_point3d: q = components_of(b); break;
        case type_integer: q.v[0] = q.v[1] = q.v[2] = float(integer_t::get(b)); break;
        case type_float:
        case type_percent:
            q.v[0] = q.v[1] = q.v[2] = narrow(float_t::get(b));
            float_operand = true;
            break;
        default: raise_invalid_type(b);
    }
    scalar_support::float_components(p.v, q.v, 3, op, float_operand);
    return store(a, p);
}

// ---- Actions -------------------------------------------------------------------

namespace {

// [x y z ...]: the first three values, each integer! or float!.
Cell from_block(const Cell& block) {
    const Cell* v = scalar_support::number_values(block, 3, type_point3d);
    return cell_of(component(v[0]), component(v[1]), component(v[2]));
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell s = *spec;
    Cell result;
    switch (type_of(s)) {
        case type_integer:
        case type_float: {
            float n = component(s);
            result = cell_of(n, n, n);
            break;
        }
        case type_pair: result = cell_of(float(int32_t(s.w2)), float(int32_t(s.w3)), 0.0f); break;
        case type_point2d: result = cell_of(point2d_t::x_of(s), point2d_t::y_of(s), 0.0f); break;
        case type_point3d: result = cell_of(x_of(s), y_of(s), z_of(s)); break;
        case type_block: result = from_block(s); break;
        case type_string: result = scalar_support::load_as(s, type_point3d); break;
        default: raise_bad_to_arg(type_point3d, s);
    }
    *proto = result;
    return proto;
}

// /seed seeds the generator with the hash of the three components' bytes.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        uint32_t bytes[3] = {value->w1, value->w2, value->w3};
        random::random_seed(int32_t(hash::hash_bytes(bytes, sizeof bytes)));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    Components p = components_of(*value);
    for (float& v : p.v)
        if (v != 0.0f) v = narrow(float_t::random_int(v, secure));
    return store(value, p);
}

// "(x, y, z)", each component with seven significant digits.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    Components p = components_of(*value);
    budget = append_ascii(*buffer, "(", budget);
    for (int i = 0; i < 3; ++i) {
        if (i > 0) budget = append_ascii(*buffer, ", ", budget);
        budget = append_ascii(*buffer, float_t::format_float(p.v[i], float_text::FloatKind::point).view(), budget);
    }
    return append_ascii(*buffer, ")", budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

namespace {

Cell component_cell(const Cell& point, int32_t field) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, components_of(point).v[field - 1]);
    return c;
}

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    int32_t field = scalar_support::path_field(*element, path, {fixed::sym_x, fixed::sym_y, fixed::sym_z});
    if (!value) return scalar_support::path_answer(component_cell(*parent, field));
    if (type_of(*value) != type_integer && type_of(*value) != type_float) raise_invalid_type(*value);
    Components p = components_of(*parent);
    p.v[field - 1] = component(*value);
    store(parent, p);
    return value;
}

// Only another point3D! compares; equality is near-equality of every
// component, ordering is by x, then y, then z.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_point3d) return registry::not_comparable;
    Components p = components_of(*a), q = components_of(*b);
    switch (op) {
        case registry::op_equal:
        case registry::op_not_equal:
            for (int i = 0; i < 3; ++i)
                if (!float_t::float32_almost_equal_q(p.v[i], q.v[i])) return 1;
            return 0;
        case registry::op_strict_equal:
            return p.v[0] == q.v[0] && p.v[1] == q.v[1] && p.v[2] == q.v[2] ? 0 : 1;
        case registry::op_same: return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
        default: break;
    }
    float d = p.v[0] - q.v[0];
    if (float_t::float32_almost_equal_q(d, 0.0f)) d = p.v[1] - q.v[1];
    if (float_t::float32_almost_equal_q(d, 0.0f)) d = p.v[2] - q.v[2];
    return d < 0.0f ? -1 : d > 0.0f ? 1 : 0;
}

Cell* absolute() {
    Cell* c = stack::arg_base();
    c->w1 &= float32_magnitude_mask;
    c->w2 &= float32_magnitude_mask;
    c->w3 &= float32_magnitude_mask;
    return c;
}

Cell* add() { return point3d_t::do_math(integer_t::op_add); }
Cell* divide() { return point3d_t::do_math(integer_t::op_divide); }
Cell* multiply() { return point3d_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return point3d_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return point3d_t::do_math(integer_t::op_subtract); }

// 0.0 minus each component, so that 0.0 stays 0.0.
Cell* negate(Cell* value) {
    Components p = components_of(*value);
    for (float& v : p.v) v = 0.0f - v;
    return store(value, p);
}

namespace {

// The scale for one component: a point3D! scale gives its component, a
// point2D! scale its x and y and 0.0 for z (as float! cells); any other
// scale, pair! included, is used as it is.
void scale_component(Cell* scale, const Cell& original, int32_t field) {
    float s;
    if (type_of(original) == type_point3d) s = components_of(original).v[field - 1];
    else if (type_of(original) == type_point2d) s = field == 1 ? point2d_t::x_of(original) : field == 2 ? point2d_t::y_of(original) : 0.0f;
    else return;
    *scale = Cell{type_float, 0, 0, 0};
    set_cell_float(*scale, s);
}

}  // namespace

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && type_of(*scale) == type_money) raise_not_related(calling_word(), type_money);
    const Cell original = scale ? *scale : Cell{};
    Components p = components_of(*value);
    for (int32_t field = field_x; field <= field_z; ++field) {
        if (scale) scale_component(scale, original, field);
        p.v[field - 1] = scalar_support::round_float_component(p.v[field - 1], scale, even, down, half_down, floor,
                                                               ceiling, half_ceiling);
    }
    return store(value, p);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t field = scalar_support::pick_field(*value, index, index_cell, {fixed::sym_x, fixed::sym_y, fixed::sym_z});
    *value = component_cell(*value, field);
    return value;
}

// Exchanges x and z; y stays.
Cell* reverse(Cell* value, Cell*, Cell*) { return make_at(value, z_of(*value), y_of(*value), x_of(*value)); }

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
    row.register_as(type_point3d, 0, "point3D!");
}

}  // namespace vyr::point3d_t
