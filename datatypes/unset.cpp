#include "datatypes/unset.h"

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "runtime/series.h"

namespace vyr::unset_t {

using namespace registry;

Cell* load_in(const Cell& block) { return make_at(series::append_cell(block)); }

// ---- Actions -------------------------------------------------------------------

// make and to: whatever spec value is given, a new unset! value.
Cell* make(Cell* proto, Cell*, uint32_t) { return make_at(proto); }

// Forms as nothing.
int32_t form(Cell*, Cell*, Cell*, int32_t budget) { return budget; }

// "unset"; with /all in construction syntax: "#(unset)".
int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    const char* text = all ? "#(unset)" : "unset";
    string_t::append_text(*buffer, text);
    return budget - (all ? 8 : 5);
}

// Every unset! equals every other; ordering them makes no sense.
int32_t compare(Cell*, Cell* b, int32_t op) {
    if (type_of(*b) != type_unset) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_same: case op_find:
        case op_sort: case op_case_sort:
            return 0;
        default:
            return not_comparable;
    }
}

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.register_as(type_unset, 0, "unset!");
}

}  // namespace vyr::unset_t
