// A fixture for tests of the datatype modules: the start-up steps that exist
// so far, run before each test (a fresh heap, the argument stack, the type
// tables with every registered datatype, the case tables, the symbol block
// and table, the global context, the type-name and fixed words, the owners
// table).
//
// Errors: EXPECT_RAISES runs a statement that must raise a given language
// error, and checks the error record it left.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/context.h"
#include "datatypes/datatypes.h"
#include "datatypes/error.h"
#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "datatypes/owners.h"
#include "runtime/platform.h"
#include "boot/startup.h"
#include "runtime/symbols.h"
#include "tests/fresh_heap.h"

namespace vyr::test {

inline void runtime_fixture() { fresh_runtime(); }

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { runtime_fixture(); }
    void TearDown() override {
        collector::set_stress(false);
        memory::free_all_frames();
    }
    // One collection that moves every buffer and renumbers every node.
    static void stress_collect() {
        collector::set_stress(true);
        collector::safe_point();
        collector::set_stress(false);
    }
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
