// A fixture for the engine's tests: the runtime fixture (tests/unit/fixture.h)
// plus the call-frame stack and marker words, and small builders for the
// values the engine reads by layout (words, contexts, blocks).
#pragma once

#include <gtest/gtest.h>

#include "engine/frames.h"
#include "engine/stack.h"
#include "engine/unwind.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"

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

class EngineTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        frames::make_frame_block();
        frames::frames_init();
        frames::set_markers({word(sym_body), word(sym_anon), word(sym_not_found)});
    }
    // The frame block goes with the heap: no later test may see its frames.
    void TearDown() override {
        collector::set_stress(false);
        frames::set_frame_top(frames::bottom());
        frames::clear_error_frame();
        frames::set_markers({});
        RuntimeTest::TearDown();
    }
};

}  // namespace vyr::test

