// Non-local exits. Every exit carries a catch code; a catch site catches every
// code up to its threshold (unsigned), handles its own codes and passes the
// others on unchanged.
//
// Two carriers, chosen for cost:
//  - on the evaluator path, break/continue/return/exit/throw/halt travel as a
//    Status returned by every function that evaluates Vyr code (0 = normal);
//  - language errors (and any code that must cross C++ code calling back into
//    Vyr) travel as one C++ exception type, `Unwind`, carrying the code.
#pragma once

#include <cstdint>

namespace vyr {

namespace catch_code {
inline constexpr uint32_t none = 0;
inline constexpr uint32_t lexer_abort = 10;
inline constexpr uint32_t halt = 0x0BADCAFE;
inline constexpr uint32_t frame_release_failed = 0x7FFFFFF6;
inline constexpr uint32_t frame_reserve_failed = 0x7FFFFFF7;
inline constexpr uint32_t memory_site = 0x7FFFFFF8;  // threshold of the memory manager's sites
inline constexpr uint32_t power_overflow = 0x7FFFFFF9;
inline constexpr uint32_t throw_ = 0x7FFFFFFA;
inline constexpr uint32_t exit = 0x7FFFFFFB;
inline constexpr uint32_t return_ = 0x7FFFFFFC;
inline constexpr uint32_t continue_ = 0x7FFFFFFD;
inline constexpr uint32_t break_ = 0x7FFFFFFE;
inline constexpr uint32_t error = 0x7FFFFFFF;
inline constexpr uint32_t all = 0xFFFFFFFF;  // threshold of the entry frame
}  // namespace catch_code

// The status of an evaluation: 0 for a normal end, else the catch code of the
// exit in progress. Callers must look at it.
enum class [[nodiscard]] Status : uint32_t {
    ok = 0,
    halt = catch_code::halt,
    throw_ = catch_code::throw_,
    exit = catch_code::exit,
    return_ = catch_code::return_,
    continue_ = catch_code::continue_,
    break_ = catch_code::break_,
    error = catch_code::error,
};

// True when a site with this threshold catches the code (it may still pass it on).
constexpr bool covers(uint32_t threshold, uint32_t code) { return code <= threshold; }

// The one C++ exception type of the runtime. Thrown by raise-error (code
// `error`) and by code that must carry a status across C++ frames.
struct Unwind {
    uint32_t code;
};

[[noreturn]] inline void throw_code(uint32_t code) { throw Unwind{code}; }

}  // namespace vyr
