// What the evaluator's modules (eval.cpp, eval_call.cpp, eval_trace.cpp)
// share and nothing else uses.
#pragma once

#include <cstdint>

#include "engine/eval.h"

namespace vyr::eval::detail {

// Evaluates one expression at the cursor and pushes its value (the core of
// eval_expression, which moves a value that is not pushed into the result).
Status eval_value(Cursor& at, bool no_infix, bool callables_as_values);

// Where the arguments of a call come from: the code at a cursor, or cells
// laid out by C++ code (call_value), taken as they are.
struct ArgSource {
    Cursor* at = nullptr;
    const Cell* cells = nullptr;  // on the argument stack, below the frame
    uint32_t count = 0;
};

// Calls a callable (its op! already retyped). With `infix` the left operand
// is the top cell and becomes the first argument. The result is pushed at
// the top as it was before the call (infix: in place of the left operand).
Status call_callable(const Cell& callable, ArgSource& src, const Cell& name, const Cell* path, uint32_t path_index,
                     uint32_t mode, bool infix);

// Evaluates a path: `kind` is type_path (read, callables called),
// type_get_path (no calls) or type_set_path (stores `*value`). The result is
// pushed.
Status eval_path(const Cell& path, Cursor* at, uint32_t kind, const Cell* value);

// The value cell of a bound word, or null when it has none to read (the
// caller then goes through word_t::get, which raises the right error).
const Cell* word_value_fast(const Cell& word);

// An op! as the callable it wraps (the type kept in its header bits 16-23;
// the op! shares that callable's spec and record).
inline Cell unwrap_op(const Cell& op) {
    Cell c = op;
    set_type(c, (c.header & header::op_type_mask) >> header::op_type_shift);
    c.header &= ~header::op_type_mask;
    return c;
}

// Tracing state, read on the hot path.
extern bool tracing;

}  // namespace vyr::eval::detail
