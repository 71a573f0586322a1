// Value-taking conveniences over the engine's typed dispatchers, for the
// modules of the callables, objects and errors, which mold, form, copy and
// compare values of any type. The value is copied first: an implementation
// may write its answer over its first argument.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace vyr::dispatch {

inline int32_t mold(const Cell& value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    Cell v = value;
    return actions::mold(&v, buffer, only, all, flat, part, budget, indent);
}
inline int32_t form(const Cell& value, Cell* buffer, Cell* part, int32_t budget) {
    Cell v = value;
    return actions::form(&v, buffer, part, budget);
}
// The raw -1/0/1 answer of the first value's compare slot; -2 when the type
// has none or cannot compare the two.
inline int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell x = a, y = b;
    return actions::compare_cells(&x, &y, op);
}
// copy of a series value (deep when asked) into `out`.
inline void copy(const Cell& value, Cell& out, bool deep, Cell* types = nullptr) {
    Cell v = value;
    out = *actions::copy(&v, &v, nullptr, deep, types);
}

}  // namespace vyr::dispatch
