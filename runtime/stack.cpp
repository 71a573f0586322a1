#include "runtime/stack.h"

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::stack {

namespace detail {
Cell* args_bottom = nullptr;
Cell* args_end = nullptr;
Cell* args_top = nullptr;
Cell* arg_base = nullptr;

void overflow() {
    // Leave room for the error machinery to work with.
    args_top = args_top - args_bottom > 5 ? args_top - 5 : args_bottom;
    if (arg_base > args_top) arg_base = args_top;
    series::cycle_reset();
    raise_error(err_cat::internal, err_id::internal::stack_overflow);
}
}  // namespace detail

namespace {
NodeId stack_node = no_node;

// Marks the live cells; the backing buffer itself is a root of its own.
void mark_live_cells() { collector::mark_cells(detail::args_bottom, detail::args_top); }
}  // namespace

void make_stack_block() {
    stack_node = memory::alloc_fixed_series(arg_stack_cells, memory::cell_width, 0);
    collector::add_root(&stack_node, collector::RootKind::node_only);
    collector::add_mark_callback(mark_live_cells);
}

void stack_init() {
    memory::SeriesBuffer* b = memory::buffer_of(stack_node);
    detail::args_bottom = b->cells();
    detail::args_end = detail::args_bottom + arg_stack_cells;
    detail::args_top = detail::arg_base = detail::args_bottom;
}

}  // namespace vyr::stack
