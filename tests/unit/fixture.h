// A fixture for tests of the datatype modules: the start-up steps that exist
// so far, run before each test (a fresh heap, the argument stack, the type
// tables with every registered datatype, the case tables).
//
// Errors: until catch sites exist, an uncaught language error prints its
// "category C id I" report and ends the process with status 254, so tests of
// errors run the raising code in a death test (EXPECT_RAISES).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/datatypes.h"
#include "datatypes/registry.h"
#include "engine/stack.h"
#include "runtime/case_tables.h"
#include "runtime/catch_codes.h"
#include "runtime/platform.h"
#include "tests/fresh_heap.h"

namespace vyr::test {

inline void runtime_fixture() {
    fresh_heap();
    stack::make_stack_block();
    stack::stack_init();
    registry::type_tables_init();
    datatypes::register_datatypes();
    case_tables::init_case_tables();
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { runtime_fixture(); }
    void TearDown() override { memory::free_all_frames(); }
};

// Runs `body` in a death-test child with the report sent to standard error.
template <typename F>
void raise_in_child(F body) {
    platform::set_output_fd(STDERR_FILENO);
    try {
        body();
    } catch (const Unwind&) {
        std::fputs("unwound without a catch site", stderr);
        std::_Exit(1);
    }
    std::_Exit(0);
}

// The pattern of the report of error (category, id).
inline std::string error_report(int category, int id) {
    return "category " + std::to_string(category) + " id " + std::to_string(id) + "[^0-9]";
}

}  // namespace vyr::test

// Expects `statement` to raise the language error (category, id).
#define EXPECT_RAISES(statement, category, id)                                                  \
    EXPECT_EXIT(::vyr::test::raise_in_child([&] { statement; }), ::testing::ExitedWithCode(254), \
                ::vyr::test::error_report(category, id))
