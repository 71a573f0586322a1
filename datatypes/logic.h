// logic!: true and false. Payload word 1 is 1 for true, 0 for false.
//
// Truth, for every value: a value is false when it is none!, or a logic!
// whose payload is not 1; every other value is true (0, an empty series,
// and unset! where no check is asked for).
#pragma once

#include <cstdint>

#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyr::logic_t {

// The shared constants; callers copy them.
inline constexpr Cell true_value{type_logic, 1, 0, 0};
inline constexpr Cell false_value{type_logic, 0, 0, 0};

inline Cell value_of(bool v) { return v ? true_value : false_value; }
// The payload (1 true, 0 false).
inline uint32_t get(const Cell& cell) { return cell.w1; }

inline Cell* make_at(Cell* cell, bool v) {
    *cell = value_of(v);
    return cell;
}
// Pushes a logic! value on the argument stack.
inline Cell* push(bool v) { return stack::push_copy(value_of(v)); }
// The result cell (argument base) becomes a logic! value.
inline Cell* box(bool v) { return make_at(stack::arg_base(), v); }
// Appends a logic! value at the tail of a block value.
Cell* load_in(const Cell& block, bool v);

// none!, or logic! with a payload other than 1.
inline bool falsy(const Cell& cell) {
    uint32_t t = type_of(cell);
    return t == type_none || (t == type_logic && cell.w1 != 1);
}

// The truth of a value. With `check`, an unset! value raises script
// `no-value` naming `word` (none! when no word is given).
bool true_q(const Cell& value, bool check, const Cell* word = nullptr);
// The truth of the first argument (argument base); unset! raises script
// `no-return`: a condition block that gave no value.
bool arg_true_q();
// True when the first argument is none! or false; no unset! check.
bool arg_false_q();
// The same tests on the value at the top of the argument stack (the
// argument base when only it is there).
bool top_false_q();
inline bool top_true_q() { return !top_false_q(); }

void init();

}  // namespace vyr::logic_t
