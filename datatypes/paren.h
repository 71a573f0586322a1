// paren!: a block written in parentheses. It keeps block!'s cell buffer and
// inherits block!'s actions; what is its own is the mold rule.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::paren_t {

// Sets the cell's type to paren! and pushes a copy on the argument stack.
Cell* push(Cell& cell);

// "(" items ")" by the block item rules; /only leaves the parentheses out.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

void init();

}  // namespace vyr::paren_t
