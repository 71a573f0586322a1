// Runtime errors and the processor-fault handlers.
#include "runtime/runtime_error.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "runtime/platform.h"

namespace vyr {

const char* runtime_error_text(int32_t status) {
    static const char* const texts[] = {
        nullptr,
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (status >= 1 && status <= 34) return texts[status];
    switch (status) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

// Formats the report without allocating, so that the signal handlers can use it.
static size_t format_report(char* buf, size_t size, int32_t status, uint32_t address) {
    int n = snprintf(buf, size, "\n*** Runtime Error %d: %s\n*** at: %08Xh\n", int(status),
                     runtime_error_text(status), unsigned(address));
    return n < 0 ? 0 : (size_t(n) < size ? size_t(n) : size - 1);
}

void runtime_error_quit(int32_t status, uint32_t address) {
    if (status != 0) {
        char buf[160];
        size_t n = format_report(buf, sizeof buf, status, address);
        platform::runtime_print_c_text(buf, n);
    }
    platform::restore_terminal();
    platform::release_all_allocations();
    std::fflush(nullptr);
    std::exit(status);
}

int32_t fault_error_number(int signo, int si_code, bool in_stack_guard) {
    switch (signo) {
        case SIGSEGV:
            return in_stack_guard ? runtime_error_no::stack_overflow : runtime_error_no::access_violation;
        case SIGBUS:
            return runtime_error_no::invalid_alignment;
        case SIGILL:
            return runtime_error_no::illegal_instruction;
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV: return runtime_error_no::integer_divide;
                case FPE_INTOVF: return runtime_error_no::integer_overflow;
                case FPE_FLTDIV: return 7;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTSUB: return 5;
                default: return runtime_error_no::unknown;
            }
        default:
            return runtime_error_no::unknown;
    }
}

namespace {

// Bounds of the stack of the thread that installed the handlers. A fault
// address within `guard_reach` below its low end is an overflow.
thread_local uintptr_t stack_low_bound = 0;
thread_local uintptr_t stack_high_bound = 0;
constexpr uintptr_t guard_reach = 1u << 20;

void on_fault(int signo, siginfo_t* info, void* context) {
    auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
    bool in_guard = signo == SIGSEGV && stack_low_bound != 0 && addr < stack_low_bound + 4096 &&
                    addr + guard_reach >= stack_low_bound;
    int32_t number = fault_error_number(signo, info->si_code, in_guard);
    uint32_t where = 0;
#if defined(__x86_64__)
    if (context) where = uint32_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#else
    (void)context;
#endif
    char buf[160];
    size_t n = format_report(buf, sizeof buf, number, where);
    // Only async-signal-safe calls from here on.
    ssize_t ignored = write(platform::output_fd(), buf, n);
    (void)ignored;
    _exit(number);
}

}  // namespace

void install_fault_handlers(const void* stack_low, const void* stack_high) {
    stack_low_bound = reinterpret_cast<uintptr_t>(stack_low);
    stack_high_bound = reinterpret_cast<uintptr_t>(stack_high);

    static thread_local char* alt_stack = nullptr;
    if (!alt_stack) {
        size_t size = 64 * 1024;
        alt_stack = static_cast<char*>(std::malloc(size));
        stack_t ss{};
        ss.ss_sp = alt_stack;
        ss.ss_size = size;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
}

}  // namespace vyr
