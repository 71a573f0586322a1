#include "datatypes/none.h"

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "runtime/series.h"

namespace vyr::none_t {

using namespace registry;

Cell* load_in(const Cell& block) { return make_at(series::append_cell(block)); }

// ---- Actions -------------------------------------------------------------------

// make and to: whatever spec value is given, a new none! value.
Cell* make(Cell* proto, Cell*, uint32_t) { return make_at(proto); }

// Forms as "none".
int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string_t::append_text(*buffer, "none");
    return budget - 4;
}

// "none"; with /all in construction syntax: "#(none)".
int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    const char* text = all ? "#(none)" : "none";
    string_t::append_text(*buffer, text);
    return budget - (all ? 7 : 4);
}

// Every none! equals every other; ordering them makes no sense.
int32_t compare(Cell*, Cell* b, int32_t op) {
    if (type_of(*b) != type_none) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_same: case op_find:
        case op_sort: case op_case_sort:
            return 0;
        default:
            return not_comparable;
    }
}

// none! is a harmless empty series: clear, find, remove, select and take
// answer none, length? answers none (-1).
Cell* clear(Cell* series) { return make_at(series); }
Cell* find(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    return make_at(series);
}
int32_t length_q(Cell*) { return -1; }
Cell* remove(Cell* series, Cell*, Cell*) { return make_at(series); }
Cell* select(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    return make_at(series);
}
Cell* take(Cell* series, Cell*, bool, bool) { return make_at(series); }

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.set(slot_clear, clear);
    row.set(slot_find, find);
    row.set(slot_length_q, length_q);
    row.set(slot_remove, remove);
    row.set(slot_select, select);
    row.set(slot_take, take);
    row.register_as(type_none, 0, "none!");
}

}  // namespace vyr::none_t
