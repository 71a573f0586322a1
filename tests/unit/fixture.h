// A runtime for datatype tests: the start-up steps that exist so far (memory,
// the type tables with every registered datatype, the argument stack, the
// random generator), run afresh for each test.
#pragma once

#include <gtest/gtest.h>

#include "datatypes/datatypes.h"
#include "datatypes/registry.h"
#include "engine/random.h"
#include "engine/stack.h"
#include "tests/fresh_heap.h"

namespace vyr::test {

inline void start_runtime() {
    random::random_init();
    fresh_heap();
    registry::type_tables_init();
    datatypes::register_datatypes();
    stack::make_stack_block();
    stack::stack_init();
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { start_runtime(); }
    void TearDown() override { memory::free_all_frames(); }
};

}  // namespace vyr::test
