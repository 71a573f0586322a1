// Output hooks: every string the language prints is handed, with a flag that
// says whether a line end follows, to each registered print hook in order of
// registration. The runtime registers one, the console output hook. Write
// hooks observe the runtime's own low-level writes; nothing registers one yet.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::hooks {

using PrintHook = void (*)(const Cell* string, bool line_end);
using WriteHook = void (*)(const void* buffer, uint32_t length, uint32_t extra);

// A list of callbacks that starts with room for 5 and grows by 5.
template <typename Fn>
struct HookList {
    Fn* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

// Makes both lists and registers the console output hook.
void print_hooks_init();
// Appends each non-null callback to its list.
void add_print_hook(PrintHook print, WriteHook write);
// Removes the first entry equal to each non-null callback.
void remove_print_hook(PrintHook print, WriteHook write);
void run_print_hooks(const Cell* string, bool line_end);
void run_write_hooks(const void* buffer, uint32_t length, uint32_t extra);

const HookList<PrintHook>& print_hooks();
const HookList<WriteHook>& write_hooks();

// The console output hook: writes the string's text from its index to its
// tail, UTF-8 encoded, to standard output.
void console_print_hook(const Cell* string, bool line_end);

// The date and time the program was built, as day-month-year/hh:mm:ss.
const char* build_date();

}  // namespace vyr::hooks
