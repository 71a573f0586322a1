#include "datatypes/datatype.h"

#include "datatypes/registry.h"
#include "runtime/series.h"

namespace vyr::datatype_t {

using namespace registry;

Cell* load_in(const Cell& block, uint32_t type) { return make_at(series::append_cell(block), type); }

// ---- Actions -------------------------------------------------------------------

// Two datatypes are equal when they name the same type; they have no order.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    bool equality = op == op_equal || op == op_not_equal || op == op_strict_equal || op == op_same || op == op_find;
    if (type_of(*b) != type_datatype) return equality ? 1 : not_comparable;
    if (!equality) return not_comparable;
    return get(*a) == get(*b) ? 0 : 1;
}

void init() {
    ActionFn row[action_count] = {};
    row[slot_compare - 1] = act(compare);
    register_datatype(type_datatype, 0, "datatype!", row, action_count);
}

}  // namespace vyr::datatype_t
