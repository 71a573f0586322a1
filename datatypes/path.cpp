// path!, lit-path!, set-path! and get-path!: construction, form, mold and
// registration.
#include "datatypes/path.h"

#include <algorithm>

#include "datatypes/block.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/series_internal.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/memory.h"

namespace vyr::path_t {

namespace cells = series_t::cells;

Cell* push(Cell& cell) {
    set_type(cell, type_path);
    return stack::push_copy(cell);
}

Cell* make_at(Cell& cell, int32_t n) {
    block_t::make_at(cell, n);
    set_type(cell, type_path);
    return &cell;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (series_t::block_family_q(t)) {
        block_t::to(proto, spec, type);
    } else if (t == type_integer || t == type_float || t == type_percent) {
        block_t::make_at(*proto, checks::cell_to_int(*spec));
    } else {
        Cell dt = cells::datatype(type);
        raise_error(err_cat::script, err_id::script::bad_make_arg, &dt, spec);
    }
    proto->header = type;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (t == type_object || t == type_typeset || t == type_map) {
        Cell value = *spec;
        block_t::make_at(*proto, 1);
        block_t::append_value(*proto, value);
    } else {
        block_t::to(proto, spec, type);
    }
    proto->header = type;
    return proto;
}

namespace {
// The items of a path one after another with "/" between them, molded or
// formed; stops between items once a /part budget is spent.
int32_t write_items(Cell* value, Cell* buffer, bool molding, bool only, bool all, bool flat, Cell* part,
                    int32_t budget) {
    if (series::mold_cycle(*value, buffer->w2, budget, molding)) return budget;
    series::CycleGuard guard;
    series::cycle_push(series_t::node_of(*value));
    int32_t start = std::max(series_t::index_of(*value), 0);
    for (int32_t i = start; i < series_t::buffer_length(*value); ++i) {
        if (part && budget < 1) break;
        if (i > start) budget = series_t::emit(buffer, "/", budget);
        Cell item = *block_t::cell_at(*value, uint32_t(i));
        budget = molding ? series_t::mold_value(item, buffer, only, all, flat, part, budget, 0)
                         : series_t::form_value(item, buffer, part, budget);
    }
    return budget;
}
}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return write_items(value, buffer, false, false, false, false, part, budget);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t) {
    return write_items(value, buffer, true, only, all, flat, part, budget);
}

namespace {
// The row of a path type: everything inherited but the arithmetic, random,
// sort and the port actions.
registry::Row path_row() {
    using namespace registry;
    Row row;
    row.inherit(slot_make, slot_write);
    row.drop({slot_random, slot_path_assign, slot_sort}).drop(slot_absolute, slot_xor_t);
    row.drop(slot_trim, slot_delete).drop(slot_open, slot_write);
    return row;
}
}  // namespace

void init() {
    using namespace registry;
    Row row = path_row();
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_copy, block_t::copy);
    row.register_as(type_path, type_block, "path!");
}

// Registers a child of path! with its own mold.
void register_child(uint32_t type, const char* name, registry::ActionFn mold) {
    registry::Row row = path_row();
    row.set(registry::slot_mold, mold);
    row.register_as(type, type_path, name);
}

}  // namespace vyr::path_t

namespace vyr::lit_path_t {
Cell* push(Cell& cell) {
    set_type(cell, type_lit_path);
    return stack::push_copy(cell);
}
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    budget = series_t::emit(buffer, "'", budget);
    return path_t::mold(value, buffer, only, all, flat, part, budget, indent);
}
void init() { path_t::register_child(type_lit_path, "lit-path!", registry::act(mold)); }
}  // namespace vyr::lit_path_t

namespace vyr::set_path_t {
Cell* push(Cell& cell) {
    set_type(cell, type_set_path);
    return stack::push_copy(cell);
}
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    budget = path_t::mold(value, buffer, only, all, flat, part, budget, indent);
    return series_t::emit(buffer, ":", budget);
}
void init() { path_t::register_child(type_set_path, "set-path!", registry::act(mold)); }
}  // namespace vyr::set_path_t

namespace vyr::get_path_t {
Cell* push(Cell& cell) {
    set_type(cell, type_get_path);
    return stack::push_copy(cell);
}
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    budget = series_t::emit(buffer, ":", budget);
    return path_t::mold(value, buffer, only, all, flat, part, budget, indent);
}
void init() { path_t::register_child(type_get_path, "get-path!", registry::act(mold)); }
}  // namespace vyr::get_path_t
