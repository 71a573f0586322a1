// A fixture for datatype tests: a fresh heap, the datatype registrations
// that exist, and the argument stack, set up again for each test.
#pragma once

#include <gtest/gtest.h>

#include "datatypes/datatypes.h"
#include "datatypes/registry.h"
#include "engine/stack.h"
#include "tests/unit/heap_fixture.h"

namespace vyr::test {

// The start-up steps that exist, in their order.
inline void runtime_steps() {
    fresh_heap();
    registry::type_tables_init();
    datatypes::register_datatypes();
    stack::make_stack_block();
    stack::stack_init();
}

class RuntimeTest : public HeapTest {
protected:
    void SetUp() override { runtime_steps(); }
};

}  // namespace vyr::test
