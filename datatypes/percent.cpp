// percent!: helpers, form and mold, registration (see percent.h).
#include "datatypes/percent.h"

#include "datatypes/float.h"
#include "datatypes/number_support.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace vyr::percent_t {

using namespace number_support;

namespace {
Cell percent_cell(double fraction) {
    Cell c{type_percent, 0, 0, 0};
    set_cell_float(c, fraction);
    return c;
}
}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, double fraction) {
    set_type(*cell, type_percent);
    set_cell_float(*cell, fraction);
    return cell;
}

Cell* make_at_halves(Cell* cell, uint32_t high, uint32_t low) {
    set_type(*cell, type_percent);
    cell->w2 = low;
    cell->w3 = high;
    return cell;
}

Cell* load(const Cell& block, uint32_t high, uint32_t low) {
    Cell* c = series::append_cell(block);
    *c = Cell{type_percent, 0, low, high};
    return c;
}

Cell* push(double fraction) { return stack::push_copy(percent_cell(fraction)); }
Cell* push_halves(uint32_t high, uint32_t low) { return stack::push_copy(Cell{type_percent, 0, low, high}); }

Cell* set_result(double fraction) {
    Cell* c = stack::arg_base();
    *c = percent_cell(fraction);
    return c;
}

// ---- Actions -------------------------------------------------------------------

// The fraction times 100 with its "%" sign (0.125 is "12.5%").
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    return append_ascii(*buffer, float_t::format_float(cell_float(*value) * 100.0, float_text::FloatKind::percent).view(),
                        budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_make, slot_random, slot_to, slot_compare, slot_absolute, slot_add, slot_divide, slot_multiply,
                   slot_negate, slot_power, slot_remainder, slot_round, slot_subtract, slot_even_q, slot_odd_q});
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.register_as(type_percent, type_float, "percent!");
}

}  // namespace vyr::percent_t
