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
    Row row;
    row.inherit(slot_make, slot_write);
    row.drop({slot_path_assign}).drop(slot_absolute, slot_xor_t).drop(slot_trim, slot_delete).drop(slot_open, slot_write);
    row.set(slot_mold, mold);
    row.register_as(type_paren, type_block, "paren!");
}

}  // namespace vyr::paren_t
