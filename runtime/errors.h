// Raising language errors. Every error is named by two 0-based positions in
// the error catalog: the category (throw 0, note 1, syntax 2, script 3,
// math 4, access 5, reserved1 6, reserved2 7, user 8, internal 9) and the id
// within it (0 is `code`, 1 is `type`, the first id is 2). Its code is
// category x 100 + (id - 2).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr {

namespace err_cat {
inline constexpr int throw_ = 0;
inline constexpr int note = 1;
inline constexpr int syntax = 2;
inline constexpr int script = 3;
inline constexpr int math = 4;
inline constexpr int access = 5;
inline constexpr int reserved1 = 6;
inline constexpr int reserved2 = 7;
inline constexpr int user = 8;
inline constexpr int internal = 9;
}  // namespace err_cat

// Makes the error! value of (category, id) with up to three arguments and
// unwinds to the nearest catch site. Never returns.
[[noreturn]] void raise_error(int category, int id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);

}  // namespace vyr
