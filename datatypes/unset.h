// unset!: the value of nothing (an unset word, a function that returns
// nothing). A plain cell of type 2 with no payload.
#pragma once

#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyr::unset_t {

// The shared unset! constant; callers copy it.
inline constexpr Cell value{type_unset, 0, 0, 0};

inline Cell* make_at(Cell* cell) {
    *cell = value;
    return cell;
}
// Pushes unset! on the argument stack.
inline Cell* push() { return stack::push_copy(value); }
// The result cell (argument base) becomes unset!.
inline Cell* box() { return make_at(stack::arg_base()); }
// Appends unset! at the tail of a block value.
Cell* load_in(const Cell& block);

void init();

}  // namespace vyr::unset_t
