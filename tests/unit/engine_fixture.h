// A fixture for the engine's tests: the runtime fixture (tests/unit/fixture.h)
// plus the call-frame stack and marker words, and small builders for the
// values the engine reads by layout (words, contexts, blocks).
#pragma once

#include <gtest/gtest.h>

#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "datatypes/unwind.h"
#include "datatypes/fixed_words.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

// Symbol ids of fake words (their frames are named by them; no value is
// read through them).
inline constexpr uint32_t sym_f = 10, sym_g = 11, sym_h = 12;
// The marker words' symbols.
inline uint32_t sym_body() { return fixed::word_body_marker.w2; }
inline uint32_t sym_anon() { return fixed::word_anon_marker.w2; }
inline uint32_t sym_not_found() { return fixed::word_not_found_marker.w2; }

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

// A context for n words with its values in a block, or on the argument
// stack (values word 0: not running).
inline NodeId make_context(uint32_t n, bool on_stack) {
    return context_t::make(n, on_stack, false, no_node, on_stack ? context_t::kind_function : context_t::kind_object);
}
inline Cell& context_cell(NodeId ctx) { return *context_t::context_cell(ctx); }
// A global word holding the value.
inline Cell global_word(const char* name, const Cell& value) {
    Cell w = word_t::make_global(name);
    word_t::set(w, value);
    return w;
}

class EngineTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        frames::make_frame_block();
        frames::frames_init();
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

