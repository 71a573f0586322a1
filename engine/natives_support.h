// What every native does with its arguments, its answer and its errors
// (the calling convention is in engine/natives.h).
//
// Arguments are cells from the argument base up; `arg` reads them where they
// lie now, so take it again after anything that may move the stack's block
// (an evaluation, a collection). An answer replaces the result cell (the
// argument base) and drops every cell above it.
#pragma once

#include <cstdint>

#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/catch_codes.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace vyr::natives {

// ---- Arguments -------------------------------------------------------------------

// The argument cell at a position from the argument base.
inline Cell& arg(int32_t position) { return stack::arg_base()[position]; }
// Whether refinement i was used (its position is not -1).
inline bool used(const int32_t* refs, int i) { return refs[i] >= 0; }

// ---- Answers ---------------------------------------------------------------------

// The value becomes the result and the only cell left on the stack. The
// value may lie on the stack itself: it is copied first.
inline Status answer(const Cell& value) {
    stack::reset_with_result(value);
    return Status::ok;
}
inline Status answer_logic(bool v) { return answer(logic_t::value_of(v)); }
inline Status answer_integer(int32_t v) { return answer(Cell{type_integer, 0, uint32_t(v), 0}); }
inline Status answer_float(double v) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, v);
    return answer(c);
}
inline Status answer_none() { return answer(none_t::value); }

// ---- Raising ---------------------------------------------------------------------

// Script error `invalid-arg` naming the value.
[[noreturn]] inline void raise_invalid_arg(const Cell& value) {
    raise_error(err_cat::script, err_id::script::invalid_arg, &value);
}
// Internal error `not-done`: what the native needs is not built yet.
[[noreturn]] inline void raise_not_done() { raise_error(err_cat::internal, err_id::internal::not_done); }

}  // namespace vyr::natives
