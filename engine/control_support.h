// Small pieces shared by the control-flow natives (natives_control.cpp,
// natives_loops.cpp, natives_exits.cpp).
//
// Every helper here keeps what it evaluates rooted: a block value handed to
// the evaluator is a rooted copy, so the collector may move or renumber its
// buffer at any safe point of the evaluation.
#pragma once

#include <cstdint>

#include "engine/eval.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::control {

// Evaluates the block (block!, paren!) in a `<body>` frame; its value lands
// in the current result slot (the argument base). The evaluation holds its
// own copy of the block before anything can move.
inline Status run_block(const Cell& block) { return eval::do_block(block); }

// Closes the frame the native opened, its first cell becoming the native's
// result, and leaves the native's stack at its result slot.
inline Status finish_frame() {
    frames::frame_return();
    stack::stack_keep();
    return Status::ok;
}

// Evaluates a value that stands outside any block as an expression of that
// one cell (nothing follows it): a word is looked up (and its function
// called), a paren evaluated, a scalar answers itself. With `push` the value
// is pushed, else it becomes the current frame's result.
Status eval_single(const Cell& value, bool push);

// Sends a trace event from a native. The event's delivery keeps the cell
// just above the top out of the callback's way, so that cell must hold a
// valid value: here it is a dead one, which becomes unset.
inline Status fire_event(uint32_t event, const Cell* value) {
    if (!eval::trace::on()) return Status::ok;
    *stack::top() = Cell{type_unset, 0, 0, 0};
    return eval::trace::fire(event, nullptr, 0, value, nullptr);
}

// The loop body's status as a loop acts on it: ok and continue go on with
// the next iteration, break ends the loop, any other code is not the loop's.
enum class Step { next, leave, pass };
inline Step loop_step(Status s) {
    if (s == Status::ok || s == Status::continue_) return Step::next;
    if (s == Status::break_) return Step::leave;
    return Step::pass;
}

}  // namespace vyr::control
