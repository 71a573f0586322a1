// Helpers of the number tests: value cells, calls of the arithmetic actions
// through an argument frame, and the errors they raise.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "engine/stack.h"
#include "runtime/catch_codes.h"
#include "runtime/platform.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

inline Cell int_cell(int32_t v, uint32_t type = type_integer) { return Cell{type, 0, uint32_t(v), 0}; }
inline Cell char_cell(int32_t cp) { return int_cell(cp, type_char); }
inline Cell float_cell(double d, uint32_t type = type_float) {
    Cell c{type, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
inline Cell percent_cell(double d) { return float_cell(d, type_percent); }
inline Cell time_cell(double seconds) { return float_cell(seconds, type_time); }
inline Cell typed_cell(uint32_t type) { return Cell{type, 0, 0, 0}; }

// Calls an action that reads its operands at the argument base (and the next
// cell) and answers the cell left there.
inline Cell call_direct(Cell* (*fn)(), const Cell& a, const Cell& b) {
    Cell* base = stack::push_copy(a);
    stack::push_copy(b);
    stack::set_arg_base(base);
    Cell result = *fn();
    stack::stack_reset();
    return result;
}
inline Cell call_unary(Cell* (*fn)(), const Cell& a) {
    Cell* base = stack::push_copy(a);
    stack::set_arg_base(base);
    Cell result = *fn();
    stack::stack_reset();
    return result;
}

// Runs `body` in a death-test child that reports through stderr. A raised
// error ends the run with status -2 (254) and its report names category and
// id (or, once errors are made, the catalog message).
template <typename F>
void raise_in_child(F body) {
    platform::set_output_fd(STDERR_FILENO);
    try {
        body();
    } catch (const Unwind&) {
        std::fputs("unwound without a catch site", stderr);
        std::_Exit(1);
    }
    std::fputs("returned without an error", stderr);
    std::_Exit(0);
}

#define EXPECT_RAISES(statement, report) \
    EXPECT_EXIT(::vyr::test::raise_in_child([&] { statement; }), testing::ExitedWithCode(254), report)

namespace report {
inline constexpr const char* zero_divide = "category 4 id 2|attempt to divide by zero";
inline constexpr const char* overflow = "category 4 id 3|math or number overflow";
inline constexpr const char* expect_arg = "category 3 id 7|does not allow";
inline constexpr const char* cannot_use = "category 3 id 10|cannot use";
inline constexpr const char* invalid_arg = "category 3 id 11|invalid argument";
inline constexpr const char* invalid_type = "category 3 id 12|type is not allowed here";
inline constexpr const char* not_related = "category 3 id 22|incompatible argument";
inline constexpr const char* invalid_path = "category 3 id 33|cannot access";
inline constexpr const char* out_of_range = "category 3 id 43|value out of range";
inline constexpr const char* type_limit = "category 3 id 48|overflow/underflow";
inline constexpr const char* bad_to_arg = "category 3 id 56|cannot MAKE/TO";
inline constexpr const char* not_done = "category 9 id 11|not yet implemented";
}  // namespace report

}  // namespace vyr::test
