#include "datatypes/datatype.h"

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "runtime/series.h"

namespace vyr::datatype_t {

using namespace registry;

Cell* load_in(const Cell& block, uint32_t type) { return make_at(series::append_cell(block), type); }

// ---- Actions -------------------------------------------------------------------

// The type's name without its "!": "integer".
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    const registry::TypeName& n = registry::type_name(get(*value));
    if (!n.name) return budget;
    string_t::append_text_part(*buffer, n.name, n.length);
    return budget - int32_t(n.length);
}

// The name with its "!"; with /all in construction syntax: "#(integer!)".
int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    const registry::TypeName& n = registry::type_name(get(*value));
    if (!n.name) return budget;
    if (all) string_t::append_text(*buffer, "#(");
    string_t::append_text(*buffer, n.name);
    if (all) string_t::append_text(*buffer, ")");
    return budget - int32_t(n.length + 1) - (all ? 3 : 0);
}

// Two datatypes are equal when they name the same type; they have no order.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    bool equality = op == op_equal || op == op_not_equal || op == op_strict_equal || op == op_same || op == op_find;
    if (type_of(*b) != type_datatype) return equality ? 1 : not_comparable;
    if (!equality) return not_comparable;
    return get(*a) == get(*b) ? 0 : 1;
}

void init() {
    Row row;
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.register_as(type_datatype, 0, "datatype!");
}

}  // namespace vyr::datatype_t
