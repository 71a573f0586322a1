// triple!: a plain record of three signed 32-bit integers in payload words
// 1, 2 and 3, made by the runtime's own code. It can be carried, stored and
// printed ("make triple! [1 -2 3]"), not computed with: form and mold are its
// only actions.
#include <cstdint>

#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "runtime/registry.h"
#include "runtime/cell.h"

namespace vyr::triple_t {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    using number_support::append_ascii;
    budget = append_ascii(*buffer, "make triple! [", budget);
    budget = append_ascii(*buffer, integer_t::to_text(int32_t(value->w1)).view(), budget);
    budget = append_ascii(*buffer, " ", budget);
    budget = append_ascii(*buffer, integer_t::to_text(int32_t(value->w2)).view(), budget);
    budget = append_ascii(*buffer, " ", budget);
    budget = append_ascii(*buffer, integer_t::to_text(int32_t(value->w3)).view(), budget);
    return append_ascii(*buffer, "]", budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.register_as(type_triple, 0, "triple!");
}

}  // namespace vyr::triple_t
