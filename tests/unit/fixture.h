// A fixture for tests of the datatype modules: the start-up steps that exist
// so far, run before each test (a fresh heap, the argument stack, the type
// tables with every registered datatype, the case tables).
//
// Errors: EXPECT_RAISES runs a statement that must raise a given language
// error, and checks the error record it left.
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
void expect_raises(F body, int category, int id, const char* what) {
    try {
        body();
        ADD_FAILURE() << what << ": no error raised";
        return;
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error) << what;
    }
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.category, category) << what << ": " << errors::message_line(e);
    EXPECT_EQ(e.id, id) << what << ": " << errors::message_line(e);
}

}  // namespace vyr::test

// Expects `statement` to raise the language error (category, id).
#define EXPECT_RAISES(statement, category, id) \
    ::vyr::test::expect_raises([&] { statement; }, category, id, #statement)
