// What the datatypes need from the evaluator, which sits above them: calling
// a function value from C++ (change handlers, sort comparators), evaluating
// a make object! body block, the position of the expression being evaluated
// (an error's near) and the call stack of error reports. One record, filled by
// the evaluator at start-up (eval::interp_init); until then the calls raise
// internal `not-done` and errors have no near position.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::eval_hooks {

struct Hooks {
    // Runs a function!, routine!, native! or action! value with `count`
    // argument cells in a frame named by `name`; `object` is the object
    // context the call belongs to (0: none). The answer goes to `answer`.
    Status (*call)(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name,
                   Cell& answer) = nullptr;
    // Evaluates a block (a make object! spec); its value goes to `result`.
    Status (*eval_block)(const Cell& block, Cell& result) = nullptr;
    // The block being evaluated, its index at the expression being evaluated
    // (unset outside any evaluation): every new error copies it as its near.
    // Inside library code it is the user's code that called into it.
    const Cell* (*position)() = nullptr;
    // Shows a new error (its error! value) to the evaluator's trace before
    // the unwinding starts; a status other than ok (the tracer halted or
    // threw) replaces the error.
    Status (*trace_error)(const Cell& error) = nullptr;
    // The call stack's entries for error reports, from the evaluator's
    // frames: the called words up to a recorded level appended to `block`
    // (collect_stack), and the same formed into a mold buffer (form_stack,
    // answering the budget left). Without them an error's integer `stack`
    // field stays as it is and its report has no stack line.
    void (*collect_stack)(int32_t depth, const Cell& block, int32_t level) = nullptr;
    int32_t (*form_stack)(int32_t depth, const Cell& stack, Cell* buffer, int32_t budget) = nullptr;
    // Whether a trace delivers events now, and switching delivery off and
    // back on (CallbackScope).
    bool (*tracing_on)() = nullptr;
    void (*set_tracing)(bool on) = nullptr;
};

// The installed record (all null before start-up installs it).
const Hooks& hooks();
// Replaces the record; tests install stand-ins and put the former back.
void install(const Hooks& h);

// hooks().call, or internal `not-done` when no evaluator is installed.
Status call(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name, Cell& answer);

// The kinds of callback that system/state/callbacks names: each kind's bit
// in its `bits` field.
enum CallbackKind : uint32_t {
    lexer_callback = 1,
    parse_callback = 2,
    sort_callback = 4,
    change_handler = 8,
    deep_change_handler = 16,
    port_actor = 32,
};

// Held while one callback runs. A trace follows the code into a callback
// only when system/state/callbacks/bits holds the callback's kind: otherwise
// delivery is off for the callback and comes back after it, however it ends.
class CallbackScope {
public:
    explicit CallbackScope(CallbackKind kind);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

private:
    bool suspended_ = false;
};

}  // namespace vyr::eval_hooks
