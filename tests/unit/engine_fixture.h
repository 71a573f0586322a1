// A fixture for the engine's tests: a fresh heap, the argument stack and the
// call-frame stack, marker words, and small builders for the values the
// engine reads by layout (words, contexts, error! values, blocks).
//
// Until the error catalog raises real error! values, raise_error ends the
// process; EXPECT_RAISES checks the category and id it reports.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/frames.h"
#include "engine/stack.h"
#include "engine/unwind.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "tests/fresh_heap.h"

namespace vyr::test {

// Symbol ids of the fake words.
inline constexpr uint32_t sym_body = 1, sym_anon = 2, sym_not_found = 3, sym_f = 10, sym_g = 11, sym_h = 12;

inline Cell word(uint32_t symbol, NodeId context = no_node, uint32_t index = 0) {
    return Cell{type_word, context, symbol, index};
}
inline Cell integer(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }
inline Cell unset() { return Cell{type_unset, 0, 0, 0}; }
inline Cell none() { return Cell{type_none, 0, 0, 0}; }
inline int32_t int_of(const Cell& c) { return int32_t(c.w2); }

// A block holding the cells, at index 0.
inline Cell block_of(std::initializer_list<Cell> cells, uint32_t type = type_block) {
    NodeId n = memory::alloc_cells(uint32_t(cells.size()) + 1);
    for (const Cell& c : cells) *series::alloc_tail_cell(n) = c;
    return Cell{type, 0, n, 0};
}

// A context whose values live in a block of `count` cells (filled with
// `fill`), or on the argument stack (values word 0: not running).
inline NodeId make_context(uint32_t count, bool on_stack, Cell fill = Cell{type_unset, 0, 0, 0}) {
    NodeId values = no_node;
    if (!on_stack) {
        values = memory::alloc_cells(count + 1);
        for (uint32_t i = 0; i < count; ++i) *series::alloc_tail_cell(values) = fill;
    }
    NodeId ctx = memory::alloc_cells(2);
    *series::alloc_tail_cell(ctx) = Cell{type_context | (on_stack ? header::context_on_stack : 0), 0, values, 0};
    *series::alloc_tail_cell(ctx) = Cell{type_unset, 0, 0, 0};
    return ctx;
}
inline Cell& context_cell(NodeId ctx) { return *memory::cell_head(ctx); }

// An error! value with the ten fields of an error (code, type, id, arg1-3,
// near, where, stack, files), all none but the code.
inline Cell make_error(int32_t code) {
    NodeId ctx = make_context(10, false, Cell{type_none, 0, 0, 0});
    *memory::cell_at(context_cell(ctx).w2, 0) = integer(code);
    return Cell{type_error, ctx, 1, 0};
}
inline Cell& error_field(const Cell& error, uint32_t n) { return *memory::cell_at(context_cell(error.w1).w2, n); }

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_heap();
        stack::make_stack_block();
        stack::stack_init();
        frames::make_frame_block();
        frames::frames_init();
        unwind::unwind_init();
        frames::set_markers({word(sym_body), word(sym_anon), word(sym_not_found)});
    }
    void TearDown() override {
        collector::set_stress(false);
        memory::free_all_frames();
    }
};

}  // namespace vyr::test

// Runs the statement in a child process and expects it to raise the error
// (category, id) with no catch site: the run ends with status -2 (254).
#define EXPECT_RAISES(statement, category, id)                                        \
    EXPECT_EXIT(                                                                      \
        {                                                                             \
            ::vyr::platform::set_output_fd(STDERR_FILENO);                            \
            statement;                                                                \
        },                                                                            \
        ::testing::ExitedWithCode(254), "category " #category " id " #id "\n")
