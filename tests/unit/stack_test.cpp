// The argument stack: pushes, resets and the overflow margin.
#include <gtest/gtest.h>

#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "tests/fresh_heap.h"

using namespace vyr;

TEST(StackTest, PushResetKeep) {
    test::fresh_heap();
    stack::make_stack_block();
    stack::stack_init();
    Cell v{type_integer, 7, 0, 0};
    stack::push_copy(v);
    stack::set_arg_base(stack::top());
    stack::push_copy(Cell{type_integer, 8, 0, 0});
    stack::push_copy(Cell{type_integer, 9, 0, 0});
    EXPECT_EQ(stack::top_cell()->w1, 9u);
    stack::stack_keep();
    EXPECT_EQ(stack::top(), stack::arg_base() + 1);
    stack::reset_with_result(v);
    EXPECT_EQ(stack::arg_base()->w1, 7u);
    stack::stack_reset();
    EXPECT_EQ(stack::top(), stack::arg_base());
    stack::pop_cells(1000);
    EXPECT_EQ(stack::top(), stack::bottom());
    EXPECT_EQ(stack::top_cell(), stack::bottom());
}

TEST(StackTest, OverflowRaisesAndLeavesRoom) {
    test::fresh_heap();
    stack::make_stack_block();
    stack::stack_init();
    try {
        for (;;) stack::push_cell();
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error);
    }
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.category, err_cat::internal);
    EXPECT_EQ(e.id, err_id::internal::stack_overflow);
    // The error machinery has room for five more cells.
    for (int i = 0; i < 5; ++i) stack::push_cell();
}
