// A fixture for tests that evaluate code loaded by the lexer: the runtime
// fixture (tests/unit/fixture.h) plus the engine's start-up (generic actions,
// call frames, natives table, lexer, evaluator), and builders that bind
// hand-made callables to global words. The start-up sources are not loaded
// in these tests: each test defines the few words it uses.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "datatypes/function.h"
#include "datatypes/native.h"
#include "runtime/registry.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "runtime/stack.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

// The block of values the text holds.
inline Cell load_code(const std::string& text) {
    Cell out{};
    lexer::Request r;
    r.text = reinterpret_cast<const uint8_t*>(text.data());
    r.length = uint32_t(text.size());
    lexer::lexer_scan(&out, r, nullptr);
    return out;
}

class EvalFixture : public RuntimeTest {
public:
    void SetUp() override {
        RuntimeTest::SetUp();
        actions::actions_init();
        frames::make_frame_block();
        frames::frames_init();
        natives::natives_init();
        lexer::lexer_init();
        eval::interp_init();
    }
    // Frames a failed test left open, and the marker words, go with the heap.
    void TearDown() override {
        frames::set_frame_top(frames::bottom());
        frames::clear_error_frame();
        frames::set_markers({});
        RuntimeTest::TearDown();
    }

    static void set_global(const char* name, const Cell& value) {
        Cell w = word_t::make_global(name);
        word_t::set(w, value);
    }
    // A native! or action! of the table slot, with the argument words given.
    static void define_callable(uint32_t type, const char* name, const char* spec_text, uint32_t slot) {
        Cell spec = load_code(std::string("[") + spec_text + "]");
        Cell* v = native_t::push(type, *memory::cell_at(spec.w2, 0), slot);
        set_global(name, *v);
        stack::pop_cells(1);
    }
    // An operator over the callable a global word holds.
    static void define_op(const char* name, const char* of) {
        Cell target = *word_t::get(word_t::make_global(of));
        Cell op = target;
        op.header = type_op | (type_of(target) << header::op_type_shift);
        set_global(name, op);
    }
    static void define_function(const char* name, const char* spec_text, const char* body_text) {
        Cell spec = *memory::cell_at(load_code(std::string("[") + spec_text + "]").w2, 0);
        Cell body = *memory::cell_at(load_code(std::string("[") + body_text + "]").w2, 0);
        function_t::make_function(spec, &body, no_node, 0, 0, 0);
        set_global(name, *stack::top_cell());
        stack::pop_cells(1);
    }
    // The type words stand for their datatypes (the start-up sources set them).
    static void define_type_words() {
        for (uint32_t t = 1; t <= registry::highest_type(); ++t) {
            Cell w = registry::type_name(t).word;
            if (type_of(w) == type_word) word_t::set(w, Cell{type_datatype, t, 0, 0});
        }
    }
};

}  // namespace vyr::test
