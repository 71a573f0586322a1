// The routine table: the C++ entry points behind routine! values.
//
// The routines of the low-level dialect (type predicates, quiet setters, the
// back end's helpers) are C++ functions. Each is added to this table once at
// start-up and known by its 1-based index, which is what a routine! value's
// record stores as its entry point (0 means "no entry"). No native pointer
// ever reaches a cell.
//
// Calling convention: the arguments are `count` cells from `args` on the
// argument stack, in spec order; the first argument cell doubles as the
// result slot. A routine answers the status of any evaluation it ran.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::routines {

using Entry = Status (*)(Cell* args, uint32_t count);

// Adds an entry point; answers its index (1-based). The same entry added
// twice keeps its first index.
int32_t add(const char* name, Entry fn);
// The entry at an index, or null when there is none.
Entry entry(int32_t index);
// The name given when the entry was added ("" when there is none).
const char* name(int32_t index);
uint32_t count();

// Runs the routine at `index` on the argument cells; an index without an
// entry raises internal `not-done`.
Status call(int32_t index, Cell* args, uint32_t count);

}  // namespace vyr::routines
