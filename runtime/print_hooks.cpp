#include "runtime/print_hooks.h"

#include <cstring>

#include "runtime/platform.h"

namespace vyr::hooks {

namespace {
constexpr uint32_t hook_growth = 5;

HookList<PrintHook> print_list;
HookList<WriteHook> write_list;

template <typename Fn>
void append_hook(HookList<Fn>& list, Fn fn) {
    if (list.count == list.capacity) {
        uint32_t capacity = list.capacity + hook_growth;
        auto* grown = static_cast<Fn*>(platform::allocate(capacity * sizeof(Fn)));
        if (list.count) std::memcpy(grown, list.entries, list.count * sizeof(Fn));
        platform::release(list.entries);
        list.entries = grown;
        list.capacity = capacity;
    }
    list.entries[list.count++] = fn;
}

template <typename Fn>
void remove_hook(HookList<Fn>& list, Fn fn) {
    for (uint32_t i = 0; i < list.count; ++i) {
        if (list.entries[i] != fn) continue;
        std::memmove(list.entries + i, list.entries + i + 1, (list.count - i - 1) * sizeof(Fn));
        --list.count;
        return;
    }
}
}  // namespace

void print_hooks_init() {
    print_list = {};
    write_list = {};
    append_hook(print_list, PrintHook(nullptr));  // make room for 5 ...
    append_hook(write_list, WriteHook(nullptr));
    print_list.count = write_list.count = 0;      // ... and start empty
    add_print_hook(console_print_hook, nullptr);
}

void add_print_hook(PrintHook print, WriteHook write) {
    if (print) append_hook(print_list, print);
    if (write) append_hook(write_list, write);
}

void remove_print_hook(PrintHook print, WriteHook write) {
    if (print) remove_hook(print_list, print);
    if (write) remove_hook(write_list, write);
}

void run_print_hooks(const Cell* string, bool line_end) {
    for (uint32_t i = 0; i < print_list.count; ++i) print_list.entries[i](string, line_end);
}

void run_write_hooks(const void* buffer, uint32_t length, uint32_t extra) {
    for (uint32_t i = 0; i < write_list.count; ++i) write_list.entries[i](buffer, length, extra);
}

const HookList<PrintHook>& print_hooks() { return print_list; }
const HookList<WriteHook>& write_hooks() { return write_list; }

const char* build_date() {
    // __DATE__ is "Mmm dd yyyy", __TIME__ "hh:mm:ss".
    static char text[32];
    if (!text[0]) {
        const char* d = __DATE__;
        int day = (d[4] == ' ' ? 0 : d[4] - '0') * 10 + (d[5] - '0');
        snprintf(text, sizeof text, "%d-%.3s-%.4s/%s", day, d, d + 7, __TIME__);
    }
    return text;
}

}  // namespace vyr::hooks
