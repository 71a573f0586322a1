#include "datatypes/vector.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/actions.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/error_catalog.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"

namespace vyr::vector_t {

using memory::SeriesBuffer;

namespace {

namespace script = err_id::script;

[[noreturn]] void raise_bad_make(const Cell& spec) {
    Cell dt = datatype_t::value_of(type_vector);
    raise_error(err_cat::script, script::bad_make_arg, &dt, &spec);
}
[[noreturn]] void raise_bad_field(const Cell& spec) { raise_error(err_cat::script, script::invalid_spec_field, &spec); }
[[noreturn]] void raise_invalid_arg(const Cell& value) { raise_error(err_cat::script, script::invalid_arg, &value); }
[[noreturn]] void raise_invalid_type(uint32_t type) {
    Cell dt = datatype_t::value_of(type);
    raise_error(err_cat::script, script::invalid_type, &dt);
}
[[noreturn]] void raise_no_memory() { raise_error(err_cat::internal, err_id::internal::no_memory); }

bool element_type_q(uint32_t t) { return t == type_char || t == type_integer || t == type_float || t == type_percent; }
bool whole_q(uint32_t t) { return t == type_char || t == type_integer; }

inline SeriesBuffer* buffer_of(const Cell& v) { return memory::buffer_of(v.w2); }
inline uint32_t unit_of(const Cell& v) { return buffer_of(v)->unit(); }
inline uint32_t count_of(const Cell& v) { return buffer_of(v)->length(); }
inline uint8_t* element_ptr(const Cell& v, uint32_t i) { return buffer_of(v)->head_ptr() + size_t(i) * unit_of(v); }
uint32_t index_clamped(const Cell& v) {
    auto i = int32_t(v.w1);
    return uint32_t(std::clamp<int64_t>(i, 0, count_of(v)));
}

void check_element(const Cell& vector, const Cell& value) {
    if (type_of(value) != element_type(vector)) raise_invalid_arg(value);
}

// A new vector of `count` zero elements.
Cell new_vector(uint32_t type, uint32_t unit, uint64_t count) {
    if (count * unit > memory::max_series_bytes) raise_no_memory();
    NodeId node = memory::alloc_series(uint32_t(std::max<uint64_t>(count, 1)), unit);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memset(b->head_ptr(), 0, size_t(count) * unit);
    b->tail = b->head + uint32_t(count) * unit;
    return Cell{type_vector, 0, node, type};
}

// Makes room for `elements` elements in all; a full buffer grows to twice
// what is needed. Beyond the largest series raises `no-memory`.
void reserve(const Cell& v, uint64_t elements) {
    SeriesBuffer* b = buffer_of(v);
    uint64_t need = elements * b->unit();
    if (need > memory::max_series_bytes) raise_no_memory();
    if (b->head + need <= b->capacity) return;
    uint64_t size = std::min<uint64_t>(std::max<uint64_t>(need * 2, 16), memory::max_series_bytes);
    memory::expand_series(v.w2, uint32_t(size));
}

// A double as a 32-bit float, out-of-range values becoming infinities.
float narrow(double d) {
    if (d > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (d < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return float(d);
}

// The values a value offers to append, insert or change: the cells of a
// block (from its index), the elements of a vector (change only), else the
// value itself.
std::vector<Cell> offered(const Cell& value, int32_t part, bool from_vectors) {
    std::vector<Cell> out;
    uint32_t t = type_of(value);
    bool cells = t == type_block || t == type_paren || t == type_hash ||
                 (from_vectors && (t == type_path || t == type_lit_path || t == type_set_path || t == type_get_path));
    if (cells) {
        Cell b = value;
        int32_t n = block_t::length_at(b);
        if (part >= 1) n = std::min(n, part);
        for (int32_t i = 0; i < n; ++i) out.push_back(*block_t::cell_at(b, b.w1 + uint32_t(i)));
    } else if (from_vectors && t == type_vector) {
        for (uint32_t i = index_clamped(value); i < count_of(value); ++i) out.push_back(element_at(value, i));
    } else {
        out.push_back(value);
    }
    return out;
}

// Writes the values `dup` times from element `at`.
void write_values(const Cell& v, uint32_t at, const std::vector<Cell>& values, uint32_t dup) {
    uint32_t unit = unit_of(v);
    for (uint32_t d = 0; d < dup; ++d)
        for (size_t k = 0; k < values.size(); ++k) set_value(element_ptr(v, at++), values[k], unit);
}

const char* type_name(uint32_t type) {
    switch (type) {
        case type_char: return "char!";
        case type_integer: return "integer!";
        case type_float: return "float!";
        default: return "percent!";
    }
}

}  // namespace

// ---- Elements ------------------------------------------------------------------------

uint32_t default_size(uint32_t type) { return whole_q(type) ? 4 : 8; }

Cell element_value(const uint8_t* p, uint32_t unit, uint32_t type) {
    if (whole_q(type)) {
        uint32_t x = 0;
        if (unit == 1) x = type == type_char ? uint32_t(p[0]) : uint32_t(int32_t(int8_t(p[0])));
        if (unit == 2) {
            uint16_t h;
            std::memcpy(&h, p, 2);
            x = type == type_char ? uint32_t(h) : uint32_t(int32_t(int16_t(h)));
        }
        if (unit == 4) std::memcpy(&x, p, 4);
        return Cell{type, 0, x, 0};
    }
    double d;
    if (unit == 4) {
        float f;
        std::memcpy(&f, p, 4);
        d = f;
    } else {
        std::memcpy(&d, p, 8);
    }
    Cell c{type, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}

Cell* get_value(const uint8_t* p, uint32_t unit, uint32_t type) {
    return stack::push_copy(element_value(p, unit, type));
}

void set_value(uint8_t* p, const Cell& value, uint32_t unit) {
    switch (type_of(value)) {
        case type_char:
        case type_integer: {
            uint32_t x = value.w2;
            std::memcpy(p, &x, std::min<uint32_t>(unit, 4));  // the low bytes, little-endian
            break;
        }
        case type_float:
        case type_percent: {
            double d = cell_float(value);
            if (unit == 8) {
                std::memcpy(p, &d, 8);
            } else {
                float f = narrow(d);
                std::memcpy(p, &f, 4);
            }
            break;
        }
        default: raise_invalid_type(type_of(value));
    }
}

Cell element_at(const Cell& vector, uint32_t i) {
    return element_value(element_ptr(vector, i), unit_of(vector), element_type(vector));
}

void poke_at(const Cell& vector, uint32_t i, const Cell& value) {
    check_element(vector, value);
    uint32_t n = count_of(vector);
    if (i > n) return;
    if (i == n) {
        reserve(vector, uint64_t(n) + 1);
        buffer_of(vector)->tail += unit_of(vector);
    }
    set_value(element_ptr(vector, i), value, unit_of(vector));
}

void insert_at(const Cell& vector, uint32_t i, const Cell& value) {
    check_element(vector, value);
    uint32_t n = count_of(vector);
    i = std::min(i, n);
    reserve(vector, uint64_t(n) + 1);
    uint32_t unit = unit_of(vector);
    uint8_t* at = element_ptr(vector, i);
    std::memmove(at + unit, at, size_t(n - i) * unit);
    buffer_of(vector)->tail += unit;
    set_value(at, value, unit);
}

int32_t length_at(const Cell& vector) { return int32_t(count_of(vector) - index_clamped(vector)); }

Cell* to_block(const Cell& vector, Cell* out) {
    Cell v = vector;
    uint32_t from = index_clamped(v), n = count_of(v);
    Cell b{};
    block_t::make_at(b, int32_t(n - from));
    for (uint32_t i = from; i < n; ++i) block_t::append_value(b, element_at(v, i));
    *out = b;
    return out;
}

Cell* push(const Cell& vector) { return stack::push_copy(vector); }

// ---- Arithmetic --------------------------------------------------------------------------

namespace {

bool identity_q(int32_t op, double operand) {
    bool additive = op == integer_t::op_add || op == integer_t::op_subtract;
    bool multiplicative = op == integer_t::op_multiply || op == integer_t::op_divide;
    return (additive && operand == 0.0) || (multiplicative && operand == 1.0);
}

// One element result: float elements through the float core, whole ones
// through the integer core with add, subtract and multiply wrapping.
Cell element_op(const Cell& x, const Cell& y, int32_t op) {
    Cell r = x;
    if (whole_q(type_of(x))) {
        r.w2 = uint32_t(integer_t::do_math_op(int32_t(x.w2), int32_t(y.w2), op, nullptr));
    } else {
        set_cell_float(r, float_t::do_math_op(cell_float(x), cell_float(y), op));
    }
    return r;
}

}  // namespace

Cell* do_math_scalar(int32_t op, Cell* vector, const Cell& operand) {
    uint32_t t = type_of(operand);
    if (t != type_integer && t != type_char && t != type_float && t != type_percent)
        raise_error(err_cat::internal, err_id::internal::not_done);
    uint32_t et = element_type(*vector);
    Cell y{et, 0, 0, 0};
    double as_double;
    if (whole_q(et)) {
        int32_t n = whole_q(t) ? int32_t(operand.w2) : numeric::truncate_to_int32(cell_float(operand));
        y.w2 = uint32_t(n);
        as_double = n;
    } else {
        as_double = whole_q(t) ? double(int32_t(operand.w2)) : cell_float(operand);
        set_cell_float(y, as_double);
    }
    if (identity_q(op, as_double)) return vector;
    Cell v = *vector;
    uint32_t unit = unit_of(v);
    for (uint32_t i = index_clamped(v); i < count_of(v); ++i) {
        Cell r = element_op(element_at(v, i), y, op);
        set_value(element_ptr(v, i), r, unit);
    }
    return vector;
}

Cell* do_math(int32_t op) {
    Cell* a = stack::arg_base();
    Cell b = a[1];
    if (type_of(b) != type_vector) return do_math_scalar(op, a, b);
    Cell v = *a;
    if (element_type(v) != element_type(b)) raise_error(err_cat::script, script::not_same_type);
    uint32_t ia = index_clamped(v), ib = index_clamped(b);
    uint32_t n = std::min(count_of(v) - ia, count_of(b) - ib);
    uint32_t unit = std::max(unit_of(v), unit_of(b));
    Cell out = new_vector(element_type(v), unit, n);
    for (uint32_t i = 0; i < n; ++i) {
        Cell r = element_op(element_at(v, ia + i), element_at(b, ib + i), op);
        set_value(element_ptr(out, i), r, unit);
    }
    *a = out;
    return a;
}

Cell* add() { return vector_t::do_math(integer_t::op_add); }
Cell* divide() { return vector_t::do_math(integer_t::op_divide); }
Cell* multiply() { return vector_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return vector_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return vector_t::do_math(integer_t::op_subtract); }
Cell* and_t() { return vector_t::do_math(integer_t::op_and); }
Cell* or_t() { return vector_t::do_math(integer_t::op_or); }
Cell* xor_t() { return vector_t::do_math(integer_t::op_xor); }

// ---- make ----------------------------------------------------------------------------------

namespace {

// A new vector of `count` elements (at least 1 when no values are given;
// as many as the values when they are more), the values stored first.
Cell build(uint32_t type, uint32_t unit, int64_t count, const Cell* values) {
    std::vector<Cell> items;
    if (values != nullptr) items = offered(*values, -1, false);
    for (const Cell& c : items)
        if (type_of(c) != type) raise_invalid_arg(c);
    if (values == nullptr) count = std::max<int64_t>(count, 1);
    count = std::max<int64_t>(count, int64_t(items.size()));
    Cell v = new_vector(type, unit, uint64_t(count));
    write_values(v, 0, items, 1);
    return v;
}

uint32_t type_of_word(const Cell& word) {
    int32_t id = symbol_t::resolve_alias(int32_t(word.w2));
    if (id == symbol_t::resolve_alias(fixed::sym_integer_t)) return type_integer;
    if (id == symbol_t::resolve_alias(fixed::sym_char_t)) return type_char;
    if (id == symbol_t::resolve_alias(fixed::sym_float_t)) return type_float;
    if (id == symbol_t::resolve_alias(fixed::sym_percent_t)) return type_percent;
    return 0;
}

// The element size of the bits a spec gives for the type, or 0.
uint32_t size_of_bits(uint32_t type, int32_t bits) {
    if (type == type_percent) return 8;
    if (whole_q(type) && (bits == 8 || bits == 16 || bits == 32)) return uint32_t(bits / 8);
    if (type == type_float && (bits == 32 || bits == 64)) return uint32_t(bits / 8);
    return 0;
}

// [type bits count values], [type bits count], [type bits [values]]; the
// bits may be left out for percent!.
Cell from_typed_spec(const Cell& spec, const Cell* c, uint32_t n) {
    if (n < 2) raise_bad_make(spec);
    uint32_t type = type_of_word(c[0]);
    if (type == 0) raise_bad_make(spec);
    uint32_t k = 1, unit;
    if (type_of(c[1]) == type_integer) {
        unit = size_of_bits(type, int32_t(c[1].w2));
        if (unit == 0) raise_bad_make(spec);
        k = 2;
    } else if (type == type_percent) {
        unit = 8;
    } else {
        raise_bad_field(spec);
    }
    bool counted = k < n && type_of(c[k]) == type_integer;
    int64_t count = counted ? int32_t(c[k++].w2) : 0;
    const Cell* values = k < n && type_of(c[k]) == type_block ? &c[k] : nullptr;
    if (!counted && values == nullptr) raise_bad_field(spec);
    return build(type, unit, count, values);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    uint32_t t = type_of(*spec);
    if (t == type_integer || t == type_float) {
        *proto = build(type_integer, 4, checks::cell_to_int(*spec), nullptr);
        return proto;
    }
    if (t != type_block) raise_error(err_cat::internal, err_id::internal::not_done);
    Cell s = *spec;
    int32_t n = block_t::length_at(s);
    const Cell* c = n > 0 ? block_t::cell_at(s, s.w1) : nullptr;
    Cell out;
    if (n > 0 && type_of(c[0]) == type_word) {
        std::vector<Cell> cells(c, c + n);  // the make block's cells stay put while the vector is made
        out = from_typed_spec(s, cells.data(), uint32_t(n));
    } else {
        uint32_t type = n == 0 ? type_integer : type_of(c[0]);
        if (!element_type_q(type)) raise_invalid_type(type);
        out = build(type, default_size(type), 0, &s);
    }
    *proto = out;
    return proto;
}

// ---- form and mold ----------------------------------------------------------------------------

namespace {

int32_t emit(Cell* buffer, std::string_view text, int32_t budget) {
    string_t::append_text_part(*buffer, text.data(), uint32_t(text.size()));
    return budget - int32_t(text.size());
}

// One element's text: char! molded (#"a") or formed (the character),
// integer! in decimal, float! and percent! by their float kinds.
int32_t write_element(const Cell& e, uint32_t unit, Cell* buffer, bool molding, int32_t budget) {
    switch (type_of(e)) {
        case type_char: {
            if (molding) {
                Cell c = e;
                return actions::mold(&c, buffer, false, false, false, nullptr, budget, 0);
            }
            string_t::append_code_point(*buffer, e.w2);
            return budget - 1;
        }
        case type_integer: return emit(buffer, integer_t::to_text(int32_t(e.w2)).view(), budget);
        case type_float: {
            auto kind = unit == 8 ? float_text::FloatKind::float64 : float_text::FloatKind::float32;
            return emit(buffer, float_t::format_float(cell_float(e), kind).view(), budget);
        }
        default: {
            double x = unit == 8 ? cell_float(e) * 100.0 : double(narrow(cell_float(e)) * 100.0f);
            auto kind = unit == 8 ? float_text::FloatKind::percent : float_text::FloatKind::percent32;
            return emit(buffer, float_t::format_float(x, kind).view(), budget);
        }
    }
}

int32_t write_elements(const Cell& v, Cell* buffer, bool molding, Cell* part, int32_t budget) {
    uint32_t unit = unit_of(v);
    uint32_t from = index_clamped(v);
    for (uint32_t i = from; i < count_of(v); ++i) {
        if (part && budget < 1) break;
        if (i > from) budget = emit(buffer, " ", budget);
        budget = write_element(element_at(v, i), unit, buffer, molding, budget);
    }
    return budget;
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return write_elements(*value, buffer, false, part, budget);
}

// The default element size molds as the bare elements; any other size, or
// an empty vector, names the type and the bits.
int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* part, int32_t budget, int32_t) {
    Cell v = *value;
    if (!only) budget = emit(buffer, "make vector! [", budget);
    uint32_t type = element_type(v);
    if (length_at(v) > 0 && unit_of(v) == default_size(type)) {
        budget = write_elements(v, buffer, true, part, budget);
        if (!only) budget = emit(buffer, "]", budget);
        return budget;
    }
    std::string head = std::string(type_name(type)) + " " + std::to_string(unit_of(v) * 8) + " [";
    budget = emit(buffer, head, budget);
    budget = write_elements(v, buffer, true, part, budget);
    if (!only) budget = emit(buffer, "]]", budget);
    return budget;
}

// ---- compare ---------------------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_vector) return registry::not_comparable;
    if (element_type(*a) != element_type(*b)) raise_error(err_cat::script, script::not_same_type);
    bool equality = op == registry::op_equal || op == registry::op_not_equal || op == registry::op_strict_equal ||
                    op == registry::op_find;
    bool same_place = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == registry::op_same) return same_place ? 0 : 1;
    if (same_place && equality) return 0;
    int32_t la = length_at(*a), lb = length_at(*b);
    if (la != lb && equality) return 1;
    uint32_t ia = index_clamped(*a), ib = index_clamped(*b);
    bool whole = whole_q(element_type(*a));
    for (int32_t i = 0; i < std::min(la, lb); ++i) {
        Cell x = element_at(*a, ia + uint32_t(i)), y = element_at(*b, ib + uint32_t(i));
        if (whole) {
            auto p = int32_t(x.w2), q = int32_t(y.w2);
            if (p != q) return p < q ? -1 : 1;
        } else {
            double p = cell_float(x), q = cell_float(y);
            if (p == q) continue;
            return p < q ? -1 : 1;  // an unordered pair counts as greater
        }
    }
    return (la > lb) - (la < lb);
}

// ---- append, insert, change --------------------------------------------------------------------

Cell* insert(Cell* series, Cell* value, int32_t part, bool, int32_t dup, bool append) {
    if (type_of(*value) == type_none) return series;
    std::vector<Cell> values = offered(*value, part, false);
    for (const Cell& c : values) check_element(*series, c);
    uint32_t copies = uint32_t(std::max(dup, 1));
    uint64_t added = uint64_t(values.size()) * copies;
    Cell v = *series;
    uint32_t at = append ? count_of(v) : index_clamped(v);
    bool owned = series_t::notify_before(v, append ? series_t::Change::append : series_t::Change::insert, value,
                                         int32_t(at), int32_t(added));
    uint32_t n = count_of(v);
    at = std::min(at, n);
    reserve(v, uint64_t(n) + added);
    uint32_t unit = unit_of(v);
    uint8_t* p = element_ptr(v, at);
    std::memmove(p + added * unit, p, size_t(n - at) * unit);
    buffer_of(v)->tail += uint32_t(added * unit);
    write_values(v, at, values, copies);
    if (owned) series_t::notify_after(v, append ? series_t::Change::append : series_t::Change::insert, value,
                                      int32_t(at), int32_t(added));
    if (!append) series->w1 = at + uint32_t(added);
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    std::vector<Cell> values = offered(*value, -1, true);
    for (const Cell& c : values) check_element(*series, c);
    uint32_t copies = uint32_t(std::max(dup, 1));
    uint64_t written = uint64_t(values.size()) * copies;
    Cell v = *series;
    uint32_t at = index_clamped(v);
    bool owned = series_t::notify_before(v, series_t::Change::change, value, int32_t(at), int32_t(written));
    uint32_t n = count_of(v);
    at = std::min(at, n);
    uint64_t remaining = n - at;
    uint64_t replaced = part >= 0 ? std::min<uint64_t>(uint64_t(part), remaining) : std::min(written, remaining);
    uint64_t total = uint64_t(n) - replaced + written;
    reserve(v, std::max<uint64_t>(total, n));
    uint32_t unit = unit_of(v);
    uint8_t* p = element_ptr(v, at);
    std::memmove(p + written * unit, p + replaced * unit, size_t(remaining - replaced) * unit);
    SeriesBuffer* b = buffer_of(v);
    b->tail = b->head + uint32_t(total * unit);
    write_values(v, at, values, copies);
    if (owned) series_t::notify_after(v, series_t::Change::change, value, int32_t(at), int32_t(written));
    series->w1 = at + uint32_t(written);
    return series;
}

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_random, slot_reflect, slot_path_access, slot_at, slot_back, slot_clear, slot_copy, slot_find,
                 slot_head, slot_head_q, slot_index_q, slot_length_q, slot_move, slot_next, slot_pick, slot_poke,
                 slot_remove, slot_reverse, slot_select, slot_sort, slot_skip, slot_tail, slot_tail_q, slot_take,
                 slot_modify});
    row.set(slot_make, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_add, add);
    row.set(slot_divide, divide);
    row.set(slot_multiply, multiply);
    row.set(slot_remainder, remainder);
    row.set(slot_subtract, subtract);
    row.set(slot_and_t, and_t);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_append, insert);
    row.set(slot_insert, insert);
    row.set(slot_change, change);
    row.register_as(type_vector, type_string, "vector!");
}

}  // namespace vyr::vector_t
