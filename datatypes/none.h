// none!: the value of no value. A plain cell of type 3 with no payload; it is
// false in conditions and behaves as an empty series for clear, find,
// length?, remove, select and take.
#pragma once

#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyr::none_t {

// The shared none! constant; callers copy it.
inline constexpr Cell value{type_none, 0, 0, 0};

inline Cell* make_at(Cell* cell) {
    *cell = value;
    return cell;
}
// Pushes none! on the argument stack.
inline Cell* push() { return stack::push_copy(value); }
// The result cell (argument base) becomes none!.
inline Cell* box() { return make_at(stack::arg_base()); }
// Appends none! at the tail of a block value.
Cell* load_in(const Cell& block);

void init();

}  // namespace vyr::none_t
