// datatype!: a value that names a type. Payload word 1 holds the type id; the
// name comes from the registry's type-name table.
#pragma once

#include <cstdint>

#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyr::datatype_t {

inline Cell value_of(uint32_t type) { return Cell{type_datatype, type, 0, 0}; }
inline uint32_t get(const Cell& cell) { return cell.w1; }

inline Cell* make_at(Cell* cell, uint32_t type) {
    *cell = value_of(type);
    return cell;
}
// Pushes the datatype! naming `type` (results that answer a type, error
// arguments that name one).
inline Cell* push(uint32_t type) { return stack::push_copy(value_of(type)); }
// Appends the datatype! naming `type` at the tail of a block value.
Cell* load_in(const Cell& block, uint32_t type);

void init();

}  // namespace vyr::datatype_t
