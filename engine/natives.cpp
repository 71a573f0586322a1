#include "engine/natives.h"

#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::natives {

namespace {
NativeFn table[table_slots];
uint32_t fill_index = 1;     // the native index the next append fills
Cell* print_cell = nullptr;  // in the root block, which never moves

const NativeFn by_index[native_count] = {
#define VYR_NATIVE_ENTRY(index, name, word) name,
    VYR_NATIVES(VYR_NATIVE_ENTRY)
#undef VYR_NATIVE_ENTRY
};
}  // namespace

void natives_init() {
    for (NativeFn& slot : table) slot = nullptr;
    fill_index = 1;
    print_cell = series::alloc_tail_cell(series::root_block);
    *print_cell = Cell{type_block, 0, memory::alloc_cells(print_block_cells), 0};
    natives_append(native_count, by_index);
}

// Entries beyond the table's slots are dropped rather than written past it.
void natives_append(uint32_t count, const NativeFn* entries) {
    for (uint32_t i = 0; i < count && fill_index <= table_slots; ++i) table[fill_index++ - 1] = entries[i];
}

NativeFn entry(uint32_t index) { return index >= 1 && index <= table_slots ? table[index - 1] : nullptr; }

Cell* print_block() { return print_cell; }

Cell* refinement_arg(int32_t position) { return position < 0 ? nullptr : stack::arg_base() + position; }

}  // namespace vyr::natives
