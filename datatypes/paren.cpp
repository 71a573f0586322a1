// paren!: construction helper, mold and registration.
#include "datatypes/paren.h"

#include "datatypes/block.h"
#include "runtime/registry.h"
#include "datatypes/series_internal.h"
#include "runtime/stack.h"

namespace vyr::paren_t {

Cell* push(Cell& cell) {
    set_type(cell, type_paren);
    return stack::push_copy(cell);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (series::mold_cycle(*value, buffer->w2, budget, true)) return budget;
    if (!only) budget = series_t::emit(buffer, "(", budget);
    budget = block_t::mold_items(value, buffer, only, all, flat, part, budget, indent);
    if (!only) budget = series_t::emit(buffer, ")", budget);
    return budget;
}

// Everything but mold comes from block!; no arithmetic, port actions or trim.
void init() {
    using namespace registry;
    ActionFn row[action_count];
    for (auto& s : row) s = inherit;
    for (uint32_t s = slot_path_assign; s <= action_count; ++s) {
        bool empty = s == slot_path_assign || (s >= slot_absolute && s <= slot_xor_t) ||
                     (s >= slot_trim && s <= slot_delete) || s >= slot_open;
        if (empty) row[s - 1] = unsupported;
    }
    row[slot_mold - 1] = act(mold);
    register_datatype(type_paren, type_block, "paren!", row, action_count);
}

}  // namespace vyr::paren_t
