// Runtime errors: the report lines, the exit status, and processor faults.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>

#include "runtime/catch_codes.h"
#include "runtime/platform.h"
#include "boot/startup.h"
#include "runtime/runtime_error.h"

using namespace vyr;

namespace {
// The report goes to standard output; death tests match standard error.
void report_to_stderr() { platform::set_output_fd(STDERR_FILENO); }
}  // namespace

TEST(RuntimeErrorDeathTest, ReportLinesAndStatus) {
    struct Case {
        int32_t status;
        const char* text;
    } cases[] = {
        {1, "access violation"},         {13, "integer divide by zero"}, {19, "stack error or overflow"},
        {94, "out of memory"},           {95, "no CATCH for THROW"},     {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"}, {42, "unknown error code!"},
    };
    for (const Case& c : cases) {
        std::string pattern = std::string("^\n\\*\\*\\* Runtime Error ") + std::to_string(c.status) + ": " + c.text +
                              "\n\\*\\*\\* at: 0000ABCDh\n$";
        EXPECT_EXIT((report_to_stderr(), runtime_error_quit(c.status, 0xABCD)), testing::ExitedWithCode(c.status),
                    pattern);
    }
}

TEST(RuntimeErrorDeathTest, StatusZeroIsSilent) {
    EXPECT_EXIT((report_to_stderr(), runtime_error_quit(0, 0x1234)), testing::ExitedWithCode(0), "^$");
}

TEST(RuntimeErrorDeathTest, AddressOfZeroPrintsEightZeros) {
    EXPECT_EXIT((report_to_stderr(), runtime_error_quit(99, 0)), testing::ExitedWithCode(99),
                "Runtime Error 99: unknown error\n\\*\\*\\* at: 00000000h\n");
}

TEST(RuntimeErrorDeathTest, UncaughtThrowIsError95AndHaltIsQuiet) {
    EXPECT_EXIT((report_to_stderr(), top_level_catch(catch_code::throw_)), testing::ExitedWithCode(95),
                "^\n\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
    EXPECT_EXIT((report_to_stderr(), top_level_catch(catch_code::halt)), testing::ExitedWithCode(0), "^$");
}

TEST(RuntimeErrorTest, SignalMapping) {
    EXPECT_EQ(fault_error_number(SIGSEGV, 0, false), 1);
    EXPECT_EQ(fault_error_number(SIGSEGV, 0, true), 19);
    EXPECT_EQ(fault_error_number(SIGBUS, BUS_ADRALN, false), 2);
    EXPECT_EQ(fault_error_number(SIGILL, 0, false), 17);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_INTDIV, false), 13);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_INTOVF, false), 14);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_FLTDIV, false), 7);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_FLTRES, false), 8);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_FLTINV, false), 9);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_FLTOVF, false), 10);
    EXPECT_EQ(fault_error_number(SIGFPE, FPE_FLTUND, false), 12);
}

namespace {
// A real integer division by zero, out of reach of the sanitizer's check.
int divide_in_hardware(int a, int b) {
    int q;
    asm volatile("cltd\n\tidivl %2" : "=a"(q) : "a"(a), "r"(b) : "edx", "cc");
    return q;
}

void fault_on_null() {
    report_to_stderr();
    install_fault_handlers(nullptr, nullptr);
    // An unmapped address (not null: the sanitizer would report a null store itself).
    volatile int* p = reinterpret_cast<volatile int*>(uintptr_t(16));
    asm volatile("" : "+r"(p));
    *p = 1;
}

void fault_on_divide() {
    report_to_stderr();
    install_fault_handlers(nullptr, nullptr);
    volatile int zero = 0;
    divide_in_hardware(7, zero);
}

int recurse_forever(int depth) {
    volatile char pad[1024];
    pad[0] = char(depth);
    return recurse_forever(depth + 1) + pad[0];
}

void overflow_body(void*) { recurse_forever(0); }

void overflow_the_stack() {
    report_to_stderr();
    // The interpreter thread's stack is large; a small one overflows quickly.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t t;
    auto start = [](void*) -> void* {
        pthread_attr_t a;
        void* lo = nullptr;
        size_t size = 0;
        pthread_getattr_np(pthread_self(), &a);
        pthread_attr_getstack(&a, &lo, &size);
        install_fault_handlers(lo, static_cast<char*>(lo) + size);
        overflow_body(nullptr);
        return nullptr;
    };
    pthread_create(&t, &attr, start, nullptr);
    pthread_join(t, nullptr);
}
}  // namespace

TEST(RuntimeErrorDeathTest, ProcessorFaults) {
    EXPECT_EXIT(fault_on_null(), testing::ExitedWithCode(1), "Runtime Error 1: access violation");
    EXPECT_EXIT(fault_on_divide(), testing::ExitedWithCode(13), "Runtime Error 13: integer divide by zero");
}

TEST(RuntimeErrorDeathTest, MachineStackOverflow) {
    EXPECT_EXIT(overflow_the_stack(), testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow");
}
