// Process start-up. The entry prepares the platform, runs `runtime_init` to
// build the runtime in its fixed order, then runs the start-up script and the
// console's `launch`; the process ends with status 0 when `launch` returns.
#pragma once

#include <cstdint>

namespace vyr {

// One per process.
struct RuntimeRecord {
    int32_t arg_count = 0;
    char** arg_vector = nullptr;
    uint32_t thrown = 0;                 // catch code of the throw in progress, 0 when none
    const uint8_t* boot_data = nullptr;  // the embedded boot image
    uint32_t boot_size = 0;
};
extern RuntimeRecord runtime;

// The runtime start-up sequence; called once, by the entry.
void runtime_init();

// The whole life of the process after `main` has moved onto the interpreter
// thread. Never returns.
[[noreturn]] void entry(int argc, char** argv);

// The handler of the entry frame: halt ends quietly with status 0, an error
// prints its report and ends with status -2, any other code is runtime
// error 95.
[[noreturn]] void top_level_catch(uint32_t code);

// Runs `body` on a thread with a 256 MiB stack, with the fault handlers
// installed there; answers when the body returns.
void run_on_interpreter_thread(void (*body)(void*), void* arg);

}  // namespace vyr
