// Shared by the fuzz targets that need the whole system: one interpreter
// thread, started once with the boot script run, serves every input on the
// interpreter's own large stack, where the recursion limits hold.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "boot/boot.h"
#include "boot/startup.h"
#include "library/routines.h"
#include "runtime/collector.h"

namespace vyr::fuzz {

using RunOne = void (*)(const uint8_t* data, size_t size);

struct Worker {
    std::mutex lock;
    std::condition_variable changed;
    RunOne run = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool pending = false;
};

inline Worker& worker() {
    static Worker& w = *new Worker;  // never destroyed: the serving thread outlives exit
    return w;
}

// Boots the runtime and the library as the program's entry does, without the
// console, then runs each input handed over.
inline void serve(void*) {
    runtime_init();
    library::intern_names();
    collector::set_enabled(true);
    root_keep = false;
    boot::run_boot_script();
    Worker& w = worker();
    for (;;) {
        std::unique_lock<std::mutex> hold(w.lock);
        w.changed.wait(hold, [&w] { return w.pending; });
        w.run(w.data, w.size);
        w.pending = false;
        w.changed.notify_all();
    }
}

// Hands one input to the interpreter thread and waits until `run` is done with it.
inline int run_on_worker(RunOne run, const uint8_t* data, size_t size) {
    static std::once_flag started;
    std::call_once(started, [] { std::thread([] { run_on_interpreter_thread(serve, nullptr); }).detach(); });
    Worker& w = worker();
    std::unique_lock<std::mutex> hold(w.lock);
    w.run = run;
    w.data = data;
    w.size = size;
    w.pending = true;
    w.changed.notify_all();
    w.changed.wait(hold, [&w] { return !w.pending; });
    return 0;
}

}  // namespace vyr::fuzz
