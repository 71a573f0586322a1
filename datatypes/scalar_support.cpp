// Field words, path answers and the set-path write-back of the cell scalars
// (see scalar_support.h).
#include "datatypes/scalar_support.h"

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/point2d.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace vyr::scalar_support {

using namespace number_support;

bool any_word_q(uint32_t type) {
    return type == type_word || type == type_lit_word || type == type_get_word || type == type_set_word ||
           type == type_refinement || type == type_issue;
}

int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields) {
    if (!any_word_q(type_of(element))) return 0;
    int32_t id = symbol_t::resolve_alias(int32_t(element.w2));
    int32_t n = 1;
    for (int32_t field : fields) {
        if (symbol_t::resolve_alias(field) == id) return n;
        ++n;
    }
    return 0;
}

int32_t field_of_word(const Cell& word, const Cell& value, uint32_t type, const Cell* path,
                      std::initializer_list<int32_t> fields) {
    if (int32_t field = word_field(word, fields)) return field;
    if (type_of(value) == type) raise_script(script::cannot_use, word, datatype_of(value));
    raise_error(err_cat::script, script::invalid_path, path, &word);
}

int32_t path_field(const Cell& element, const Cell* path, std::initializer_list<int32_t> fields) {
    if (type_of(element) == type_integer) {
        int32_t n = integer_t::get(element);
        if (n >= 1 && n <= int32_t(fields.size())) return n;
    } else if (any_word_q(type_of(element))) {
        if (int32_t field = word_field(element, fields)) return field;
    }
    raise_error(err_cat::script, script::invalid_path, path, &element);
}

int32_t pick_field(const Cell& value, int32_t index, const Cell* index_cell, std::initializer_list<int32_t> fields) {
    uint32_t t = index_cell ? type_of(*index_cell) : type_integer;
    if (any_word_q(t)) return field_of_word(*index_cell, value, type_of(value), nullptr, fields);
    if (t == type_integer && index >= 1 && index <= int32_t(fields.size())) return index;
    raise_script(script::out_of_range, index_cell ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0});
}

Cell load_as(const Cell& text, uint32_t type) {
    Cell loaded{};
    collector::CellRoot root(&loaded);
    Cell v = checks::scan_single_value(text, &loaded);
    if (type_of(v) != type) raise_bad_to_arg(type, text);
    return v;
}

const Cell* number_values(const Cell& block, uint32_t count, uint32_t type) {
    CellView v = cells_from_index(block);
    bool numbers = v.length >= count;
    for (uint32_t i = 0; numbers && i < count; ++i)
        numbers = type_of(v.cells[i]) == type_integer || type_of(v.cells[i]) == type_float;
    if (!numbers) {
        Cell t = datatype_t::value_of(type);
        raise_error(err_cat::syntax, err_id::syntax::malconstruct, &t, &block);
    }
    return v.cells;
}

bool integer_component(int32_t a, int32_t b, int32_t op, int32_t& out, double* wide) {
    bool checked = op == integer_t::op_add || op == integer_t::op_subtract || op == integer_t::op_multiply;
    if (!checked) {
        out = integer_t::do_math_op(a, b, op, nullptr);
        return true;
    }
    Cell result{type_integer, 0, 0, 0};
    int32_t r = integer_t::do_math_op(a, b, op, &result);
    if (type_of(result) != type_integer) {
        if (wide) *wide = float_t::get(result);
        return false;
    }
    out = r;
    return true;
}

void float_components(float* p, const float* q, uint32_t n, int32_t op, bool float_operand) {
    if (float_operand && (op == integer_t::op_multiply || op == integer_t::op_divide)) {
        for (uint32_t i = 0; i < n; ++i) p[i] = op == integer_t::op_multiply ? p[i] * q[i] : p[i] / q[i];
        return;
    }
    if (op == integer_t::op_divide || op == integer_t::op_remainder)
        for (uint32_t i = 0; i < n; ++i)
            if (q[i] == 0.0f) raise_math(math::zero_divide);
    for (uint32_t i = 0; i < n; ++i) p[i] = point2d_t::narrow(float_t::do_math_op(p[i], q[i], op));
}

float round_float_component(float c, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                            bool half_ceiling) {
    Cell n{type_float, 0, 0, 0};
    set_cell_float(n, c);
    float_t::round(&n, scale, even, down, half_down, floor, ceiling, half_ceiling);
    return type_of(n) == type_integer ? float(integer_t::get(n)) : point2d_t::narrow(float_t::get(n));
}

namespace {
Cell answer;
}  // namespace

Cell* path_answer(const Cell& value) {
    answer = value;
    return &answer;
}

bool held_in_cell_q(uint32_t type) {
    switch (type) {
        case type_pair: case type_tuple: case type_point2d: case type_point3d: case type_time: case type_date:
            return true;
        default: return false;
    }
}

void store_back(Cell* holder, const Cell& key, const Cell& value) {
    stack::Mark mark;
    Cell* v = stack::push_copy(value);
    Cell* k = stack::push_copy(key);
    if (!holder) {
        word_t::set(*k, *v);
    } else if (series_t::block_family_q(type_of(*holder)) && type_of(*k) == type_integer) {
        series_t::store_changed(*holder, integer_t::get(*k), *v);
    } else {
        actions::path_access(holder, k, v, nullptr, nullptr, nullptr, -1, false, false, true, false);
    }
    mark.restore();
}

}  // namespace vyr::scalar_support
