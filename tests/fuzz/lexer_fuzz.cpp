// Fuzz target for the lexer. The input after its first byte is scanned as
// source text in one of the three modes, with or without a trace callback;
// the first byte picks the mode and the options. Invalid text may raise a
// syntax error (and a value whose datatype is not built yet `not-done`), but
// nothing may crash, hang, read outside the text or leave a scan open.
#include <cstdint>
#include <cstdlib>

#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "engine/lexer.h"
#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "boot/startup.h"

using namespace vyr;
using namespace vyr::lexer;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    runtime_init();
    root_keep = false;
    collector::set_enabled(true);
}

// Option bits of the first byte.
constexpr uint8_t mode_mask = 0x03;   // 0, 3 load; 1 scan; 2 prescan
constexpr uint8_t opt_one = 0x04;
constexpr uint8_t opt_force_block = 0x08;
constexpr uint8_t opt_traced = 0x10;   // a tracer that drops errors and steps past them
constexpr uint8_t opt_no_load = 0x20;  // ... and refuses every scan event
constexpr uint8_t opt_string = 0x40;   // the text as a string! source with a /part length

struct Fuzzer {
    bool refuse_scans;
    uint32_t events = 0;
    static bool on_event(void* self, const TraceEvent& e, uint32_t& position) {
        auto* f = static_cast<Fuzzer*>(self);
        if (++f->events > 1000000) std::abort();  // a scan that does not advance
        if (e.event == event::error) {
            position = e.position + 1;
            return false;
        }
        return !(f->refuse_scans && e.event == event::scan);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_once();
    if (size == 0) return 0;
    uint8_t opts = data[0];
    Request rq;
    rq.text = data + 1;
    rq.length = uint32_t(size - 1);
    switch (opts & mode_mask) {
        case 1: rq.mode = Mode::scan; break;
        case 2: rq.mode = Mode::prescan; break;
        default: rq.mode = Mode::load; break;
    }
    rq.one = opts & opt_one;
    rq.force_block = opts & opt_force_block;
    Fuzzer fuzzer{bool(opts & opt_no_load)};
    Tracer tracer{Fuzzer::on_event, &fuzzer, event::all};
    if (opts & opt_traced) rq.tracer = &tracer;

    stack::Mark mark;
    Cell result{};
    collector::CellRoot keep(&result);
    try {
        uint32_t consumed = 0;
        if (opts & opt_string) {
            // Latin-1 characters from the bytes; the length may run past the tail.
            Cell s{};
            string_t::make_from_units_at(s, data + 1, uint32_t(size - 1), 1);
            int32_t length = int32_t(size) - 1 + int32_t(opts & 0x80 ? 7 : -3);
            lexer_scan_string(&result, s, length, rq, &consumed);
            check(consumed <= size - 1);
        } else {
            lexer_scan(&result, rq, &consumed);
            check(consumed <= size - 1);
        }
    } catch (const Unwind& u) {
        check(u.code == catch_code::error);
    }
    check(active_scans() == 0);
    mark.restore();
    errors::clear_last_error();
    static uint32_t runs = 0;
    if (++runs % 256 == 0) collector::recycle();
    return 0;
}
