// Fuzz target for the VYRBIN decoder in codec mode: the input is decoded as a
// compact image and as a standard one (the header put in front of it, the
// first byte choosing the symbol-table and compressed flags), and as it is.
// An error is a normal outcome; a crash or a sanitizer report is a finding.
// Whatever decodes is molded and must encode and decode again in both
// encodings.
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "io/vyrbin.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

using namespace vyr;

namespace {

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    runtime_init();
    library::intern_names();
    collector::set_enabled(true);
    root_keep = false;
    boot::run_boot_script();
}

// Decodes the image into a new block; answers whether it decoded.
bool decode(const std::vector<uint8_t>& image, Cell& out) {
    Cell* target = stack::push_copy(Cell{type_block, 0, memory::alloc_cells(1), 0});
    try {
        vyrbin::decode(image, *target, vyrbin::Mode::codec);
    } catch (const Unwind&) {
        return false;
    }
    out = *target;
    return true;
}

// `mold/all` of the value through the evaluator.
void mold(const Cell& value) {
    collector::Held held(1);
    held[0] = Cell{type_block, 0, memory::alloc_cells(2), 0};
    Cell path{type_path, 0, memory::alloc_cells(2), 0};
    *series::alloc_tail_cell(held[0].w2) = path;
    *series::alloc_tail_cell(path.w2) = word_t::make_global("mold");
    *series::alloc_tail_cell(path.w2) = word_t::make_global("all");
    *series::alloc_tail_cell(held[0].w2) = value;
    try {
        eval::do_block(held[0]);
    } catch (const Unwind&) {
    }
}

void run_one(const uint8_t* data, size_t size) {
    if (size == 0) return;
    stack::Mark mark;
    uint8_t flags = data[0] & (vyrbin::flag_compact | vyrbin::flag_compressed | vyrbin::flag_symbols);
    std::vector<uint8_t> framed = {'V', 'Y', 'R', 'B', 'I', 'N', 2, flags};
    framed.insert(framed.end(), data + 1, data + size);
    for (const std::vector<uint8_t>& image : {framed, std::vector<uint8_t>(data, data + size)}) {
        Cell decoded;
        if (!decode(image, decoded)) continue;
        mold(decoded);
        for (bool compact : {true, false}) {
            std::vector<uint8_t> again;
            try {
                again = vyrbin::encode(decoded, compact);
            } catch (const Unwind&) {
                std::abort();  // what decodes can be written
            }
            Cell back;
            if (!decode(again, back)) std::abort();
        }
    }
    mark.restore();
}

// One interpreter thread serves every input, on the interpreter's own stack.
struct Worker {
    std::mutex lock;
    std::condition_variable changed;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool pending = false;
};
Worker& worker = *new Worker;  // never destroyed: the serving thread outlives exit

void serve(void*) {
    start_once();
    for (;;) {
        std::unique_lock<std::mutex> hold(worker.lock);
        worker.changed.wait(hold, [] { return worker.pending; });
        run_one(worker.data, worker.size);
        worker.pending = false;
        worker.changed.notify_all();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::once_flag started;
    std::call_once(started, [] { std::thread([] { run_on_interpreter_thread(serve, nullptr); }).detach(); });
    std::unique_lock<std::mutex> hold(worker.lock);
    worker.data = data;
    worker.size = size;
    worker.pending = true;
    worker.changed.notify_all();
    worker.changed.wait(hold, [] { return !worker.pending; });
    return 0;
}
