// A fixture for tests of the datatype modules: the start-up steps that exist
// so far, run before each test (a fresh heap, the argument stack, the type
// tables with every registered datatype, the case tables).
//
// Errors: a raised language error unwinds as Unwind{catch_code::error} and
// leaves its record in errors::last_error(); EXPECT_RAISES catches it and
// checks the record.
#pragma once

#include <gtest/gtest.h>

#include "datatypes/datatypes.h"
#include "datatypes/registry.h"
#include "engine/stack.h"
#include "runtime/case_tables.h"
#include "runtime/catch_codes.h"
#include "runtime/errors.h"
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

// Runs `body`, which must raise the language error (category, id).
template <typename F>
void expect_raises(F body, int category, int id) {
    try {
        body();
        ADD_FAILURE() << "no error raised";
        return;
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error);
    }
    EXPECT_EQ(errors::last_error().category, category);
    EXPECT_EQ(errors::last_error().id, id);
}

}  // namespace vyr::test

// Expects `statement` to raise the language error (category, id).
#define EXPECT_RAISES(statement, category, id) ::vyr::test::expect_raises([&] { statement; }, category, id)
