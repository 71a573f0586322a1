// Non-local exits of the language: errors, break, continue, return, exit and
// throw. Each lands at a call frame (engine/frames.h) and carries a catch
// code (runtime/catch_codes.h).
//
// Two carriers:
//  - break, continue, return, exit and throw: the thrower unrolls the call
//    frames to the target frame at once, puts the carried value in place on
//    the argument stack, and answers the Status that every evaluating
//    function hands back to its caller unchanged, touching neither stack,
//    until the target's catch site (loop, function call, `catch`) acts on it.
//    Where the status must cross C++ code that is not status-aware (a sort
//    comparator, a change handler), `throw_status` turns it into an Unwind
//    exception and `catch_status` turns it back;
//  - errors: raise_error (runtime/errors.h) records the error, then
//    `error_unwind` adds what the call frames know (the word of the calling
//    function, the frame depth) and throws Unwind{error}. Catch sites save
//    the argument top and base and the frame depth at entry in a `Site`,
//    which puts them back (popping frames and restoring the function contexts
//    of kind-1 frames) when an exception leaves its scope, and read the error
//    from the error record. An error no site catches reaches the entry frame,
//    which prints it and ends the process with status -2.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <type_traits>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::unwind {

// ---- Errors -------------------------------------------------------------------

// The last step of raise_error: sets the recorded error's `where` to the
// calling word (when there are frames), notes the frame depth, and throws
// Unwind{error} to the nearest catch site.
[[noreturn]] void error_unwind();
// The frame depth when the last error was raised: the call level up to which
// its list of called words is collected (frames::collect_error_stack and
// form_error_stack), those frames being held for the report.
uint32_t error_depth();
// After a caught error whose value the catch site pushed: when the top cell
// is an error! it becomes the result (argument base); then top = base + 1.
void settle_after_catch();

// ---- Break, continue, return, exit, throw ---------------------------------------
// Each answers the status to hand back, or raises the matching throw error
// (from the state of the failing call) when no frame takes the exit, or a
// try/all frame stands in the way.

// `break` passes (/return given, false), `continue` (false, true). The value of
// break/return is the innermost frame's first cell; it lands in the loop
// frame's result slot (unset otherwise).
Status throw_break(bool has_value, bool is_continue);
// `return` passes (true, false), `exit` (false, false). The value of return
// lands in the result slot of the nearest return-target frame.
Status throw_return(bool is_return, bool from_here);
// `throw`: the value (the innermost frame's first cell) and its name (the
// cell after it) are pushed at the base of the nearest catch frame. The
// frame the throw happened in is noted for the "*** Where:" of a later
// "no catch for throw" error; a catch site that handles the throw (rather
// than throwing it on) forgets it with frames::clear_error_frame().
Status throw_value(uint32_t code);

// ---- Catch sites ----------------------------------------------------------------

// Saves the argument top and base and the frame depth. When an exception
// leaves the scope, or on restore(), frames above the saved depth are popped
// (kind-1 contexts restored) and the argument top and base are lowered to the
// saved ones; nothing is ever raised, since a break or return may already have
// unrolled below the saved state.
class Site {
public:
    Site();
    ~Site() {
        if (std::uncaught_exceptions() > exceptions_) restore();
    }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;
    void restore() const;
    uint32_t depth() const { return depth_; }

private:
    uint32_t top_;
    uint32_t base_;
    uint32_t depth_;
    int exceptions_;
};

// Whether a code is one the evaluator carries as a Status (halt, throw,
// exit, return, continue, break), as opposed to errors and private codes.
constexpr bool status_code_q(uint32_t code) {
    return code == catch_code::halt || (code >= catch_code::throw_ && code <= catch_code::break_);
}

// Runs `body` (answering a Status, or nothing for ok): a status that C++
// code inside it threw as an Unwind, on its way out of Vyr code it called
// back, comes back as that status. The frames have already been unrolled to
// the status' target by then, as on the evaluator path. Errors and other
// codes pass on.
// A C++ container that cannot grow (a scratch copy, a read buffer) becomes
// the language's no-memory error, which `try` catches like any other.
[[noreturn]] void raise_out_of_memory();

template <typename F>
Status catch_status(F&& body) {
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return Status::ok;
        } else {
            return body();
        }
    } catch (const Unwind& u) {
        if (!status_code_q(u.code)) throw;
        return Status(u.code);
    } catch (const std::bad_alloc&) {
        raise_out_of_memory();
    }
}
// The reverse, for C++ code that calls back into the language: a status
// other than ok is thrown as an Unwind.
inline void throw_status(Status s) {
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace vyr::unwind
