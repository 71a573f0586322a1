// User interrupts (Ctrl-C while Vyr code runs). A signal handler only sets a
// flag; the evaluator asks for it each time it enters a block and, when it is
// set, runs the hook that the console installs, which answers the status of
// a halt (a throw the console's loop catches). Without a hook the request is
// dropped.
#pragma once

#include <csignal>

#include "runtime/catch_codes.h"

namespace vyr::interrupt {

namespace detail {
extern volatile std::sig_atomic_t flag;
}

using Hook = Status (*)();
void set_hook(Hook hook);

// Async-signal-safe.
inline void request() { detail::flag = 1; }
inline void clear() { detail::flag = 0; }
inline bool requested() { return detail::flag != 0; }

// Clears the request and answers the hook's status (ok without a hook).
Status take();

}  // namespace vyr::interrupt
