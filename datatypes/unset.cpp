#include "datatypes/unset.h"

#include "datatypes/registry.h"
#include "runtime/series.h"

namespace vyr::unset_t {

using namespace registry;

Cell* load_in(const Cell& block) { return make_at(series::append_cell(block)); }

// ---- Actions -------------------------------------------------------------------

// make and to: whatever the spec, a new unset! value.
Cell* make(Cell* proto, Cell*, uint32_t) { return make_at(proto); }

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
    ActionFn row[action_count] = {};
    row[slot_make - 1] = act(make);
    row[slot_to - 1] = act(make);
    row[slot_compare - 1] = act(compare);
    register_datatype(type_unset, 0, "unset!", row, action_count);
}

}  // namespace vyr::unset_t
