// The console output hook: writes a string value's text, from its index to
// the buffer's tail, through the platform writers (UTF-8, LF line ends).
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"

namespace vyr::hooks {

void console_print_hook(const Cell* string, bool line_end) {
    // The terminal GUI back end suspends its output around this once it exists.
    if (!string->w2) {
        platform::write_text(nullptr, 0, 1, line_end);
        return;
    }
    const memory::SeriesBuffer* b = memory::buffer_of(string->w2);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) {
        platform::runtime_print_line({"Error: unknown string encoding: ", unit});
        return;
    }
    uint64_t start = uint64_t(b->head) + uint64_t(string->w1) * unit;
    size_t length = start < b->tail ? size_t(b->tail - start) : 0;
    platform::write_text(b->data() + (length ? start : 0), length, unit, line_end);
}

}  // namespace vyr::hooks
