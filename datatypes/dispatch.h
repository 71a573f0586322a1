// Calls into the action table by a value's own type, for the modules of the
// callables, objects and errors, which mold, form, copy and compare values
// of any type. A type without the action raises internal `not-done` (the
// type's module is not built).
#pragma once

#include <cstdint>

#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace vyr::dispatch {

template <typename Sig>
inline Sig implementation(uint32_t type, uint32_t slot) {
    Sig fn = registry::action<Sig>(type, slot);
    if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
    return fn;
}

// The value is copied first: an implementation may write its answer over
// its first argument.
inline int32_t mold(const Cell& value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    Cell v = value;
    return implementation<registry::action_sig::mold>(type_of(v), registry::slot_mold)(&v, buffer, only, all, flat,
                                                                                      part, budget, indent);
}
inline int32_t form(const Cell& value, Cell* buffer, Cell* part, int32_t budget) {
    Cell v = value;
    return implementation<registry::action_sig::form>(type_of(v), registry::slot_form)(&v, buffer, part, budget);
}
// The raw -1/0/1 answer of the first value's compare slot; -2 when the type
// has none or cannot compare the two.
inline int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell x = a, y = b;
    auto fn = registry::action<registry::action_sig::compare>(type_of(x), registry::slot_compare);
    return fn ? fn(&x, &y, op) : registry::not_comparable;
}
// copy of a series value (deep when asked) into `out`.
inline void copy(const Cell& value, Cell& out, bool deep, Cell* types = nullptr) {
    Cell v = value;
    Cell* r = implementation<registry::action_sig::copy>(type_of(v), registry::slot_copy)(&v, &v, nullptr, deep,
                                                                                         types);
    out = *r;
}

}  // namespace vyr::dispatch
