// Machine-level failures end the process through one routine that prints the
// two-line "*** Runtime Error" report (unless the status is 0) and exits with
// the error number as the process status. Processor faults reach it from
// signal handlers running on an alternate signal stack.
#pragma once

#include <cstdint>

namespace vyr {

// Runtime error numbers the runtime itself raises.
namespace runtime_error_no {
inline constexpr int32_t access_violation = 1;
inline constexpr int32_t invalid_alignment = 2;
inline constexpr int32_t integer_divide = 13;
inline constexpr int32_t integer_overflow = 14;
inline constexpr int32_t illegal_instruction = 17;
inline constexpr int32_t stack_overflow = 19;
inline constexpr int32_t out_of_memory = 94;
inline constexpr int32_t no_catch = 95;
inline constexpr int32_t unknown = 99;
inline constexpr int32_t no_case_match = 100;
inline constexpr int32_t no_switch_match = 101;
}  // namespace runtime_error_no

// The text of a runtime error number ("unknown error code!" when unlisted).
const char* runtime_error_text(int32_t status);

// Prints the report (nothing for status 0), releases the raw allocations and
// ends the process with `status`. The address is printed as eight upper-case
// hexadecimal digits followed by "h".
[[noreturn]] void runtime_error_quit(int32_t status, uint32_t address);

// The code address of the caller, as the report prints it (its low 32 bits).
#define VYR_CODE_POSITION() (uint32_t(reinterpret_cast<uintptr_t>(__builtin_return_address(0))))

// Installs the fault handlers for the calling thread: an alternate signal
// stack, and SIGSEGV/SIGBUS/SIGFPE/SIGILL mapped to runtime error numbers.
// `stack_low`/`stack_high` bound the thread's stack so that a fault just below
// it is reported as a stack overflow (19).
void install_fault_handlers(const void* stack_low, const void* stack_high);

// Maps a signal and its si_code to a runtime error number.
int32_t fault_error_number(int signo, int si_code, bool in_stack_guard);

}  // namespace vyr
