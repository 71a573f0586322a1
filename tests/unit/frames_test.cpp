// The call-frame stack: openers and closers, kind-1 context restoring,
// unrolling, the report walks and the collector hook.
#include "datatypes/frames.h"

#include <string>

#include "datatypes/string_buffer.h"
#include "runtime/collector.h"
#include "tests/unit/text_util.h"
#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;
using frames::Frame;

namespace {
class FramesTest : public EngineTest {};

Cell* push_int(int32_t n) { return stack::push_copy(integer(n)); }
}  // namespace

TEST_F(FramesTest, CloseReturnAndDiscardPlaceTheResult) {
    push_int(1);  // the caller's result slot
    Cell* caller_base = stack::arg_base();
    push_int(2);

    // A call that pushed nothing: close keeps whatever the base cell held.
    Cell* base = frames::frame_open(word(sym_f));
    EXPECT_EQ(base, stack::top());
    frames::frame_close();
    EXPECT_EQ(stack::arg_base(), caller_base);
    EXPECT_EQ(stack::top(), base + 1);

    // frame_return copies the result into the caller's slot; the arguments go.
    stack::set_top(base);
    frames::frame_open(word(sym_f));
    push_int(42);
    push_int(43);
    frames::frame_return();
    EXPECT_EQ(int_of(*caller_base), 42);
    EXPECT_EQ(stack::top(), base + 1);

    // frame_discard drops everything of the call.
    stack::set_top(base);
    frames::frame_open(word(sym_f));
    push_int(7);
    frames::frame_discard();
    EXPECT_EQ(stack::top(), caller_base);
    EXPECT_EQ(frames::depth(), 0u);
}

// A recursive compiled function: each level's frame-open-compiled points the
// context at its own arguments; each close gives the caller its own back.
TEST_F(FramesTest, FunctionFramesRestoreContextValuesAcrossRecursion) {
    NodeId ctx = make_context(1, true);
    Cell f = word(sym_f);
    stack::push_cell();  // result slot of the top level

    frames::frame_open_function(f, ctx);
    Cell* outer_args = push_int(1);
    frames::frame_open_compiled(f, ctx);
    EXPECT_EQ(context_t::values_base(ctx), outer_args);

    frames::frame_open_function(f, ctx);
    Cell* inner_args = push_int(2);
    frames::frame_open_compiled(f, ctx);
    EXPECT_EQ(context_t::values_base(ctx), inner_args);
    push_int(20);
    frames::frame_return();           // the inner body's result lands on its first argument
    frames::frame_close_function();  // the outer level sees its own arguments again
    EXPECT_EQ(context_t::values_base(ctx), outer_args);
    EXPECT_EQ(int_of(*stack::top_cell()), 20);

    frames::frame_return();
    frames::frame_close_function();
    EXPECT_EQ(context_cell(ctx).w2, 0u);  // not running any more
    EXPECT_EQ(frames::depth(), 0u);
}

TEST_F(FramesTest, UnrollToKindKeepsTheFoundFrameLive) {
    NodeId ctx = make_context(1, true);
    Cell* outer = stack::push_cell();
    frames::frame_open_loop(word(sym_f));
    Cell* loop_base = stack::arg_base();
    push_int(1);
    frames::frame_open_function(word(sym_g), ctx);
    context_cell(ctx).w2 = 99;  // the callee moved its values
    push_int(2);
    frames::frame_open(word(sym_h));
    push_int(3);
    Cell* inner_base = stack::arg_base();

    // keep clear: the base becomes the loop's opener's, the top the old base + 1.
    Frame* loop = frames::unroll_to_kind(frames::kind::loop, false);
    EXPECT_EQ(frames::kind_of(*loop), frames::kind::loop);
    EXPECT_EQ(frames::top_frame(), loop);
    EXPECT_EQ(context_cell(ctx).w2, 0u);
    EXPECT_EQ(stack::arg_base(), outer);
    EXPECT_EQ(stack::top(), inner_base + 1);

    // keep set on the innermost: only the top moves.
    stack::set_arg_base(loop_base);
    push_int(5);
    frames::unroll_to_loop(true);
    EXPECT_EQ(stack::top(), loop_base + 1);

    // No frame of the kind: the walk stops at the bottom frame.
    frames::frame_open(word(sym_g));
    Frame* found = frames::unroll_to_kind(frames::kind::catch_, false);
    EXPECT_EQ(found, frames::bottom());
    EXPECT_EQ(stack::top(), stack::bottom());
    EXPECT_EQ(stack::arg_base(), stack::bottom());
}

TEST_F(FramesTest, UnrollStopsAtTryAllAndWithResultCarriesTheValue) {
    stack::push_cell();
    frames::frame_open_loop(word(sym_f));
    Cell* loop_slot = stack::arg_base();
    push_int(0);
    frames::frame_open(word(sym_g));
    push_int(77);  // the innermost frame's result
    Frame* found = frames::unroll_with_result(frames::kind::loop);
    EXPECT_EQ(frames::kind_of(*found), frames::kind::loop);
    EXPECT_EQ(int_of(*loop_slot), 77);
    EXPECT_EQ(stack::arg_base(), loop_slot);

    frames::frame_open_try_all(word(sym_g));
    frames::frame_open(word(sym_h));
    EXPECT_EQ(frames::kind_of(*frames::unroll_to_kind(frames::kind::loop, false)), frames::kind::try_all);
}

TEST_F(FramesTest, CallingWordSkipsMarkerFrames) {
    EXPECT_EQ(frames::calling_word().w2, sym_not_found());
    NodeId ctx = make_context(3, false);
    frames::frame_open(word(sym_f, ctx, 2));
    frames::frame_open(fixed::word_body_marker);
    frames::frame_open(fixed::word_anon_marker);
    Cell w = frames::calling_word();
    EXPECT_EQ(type_of(w), uint32_t(type_word));
    EXPECT_EQ(w.w1, ctx);
    EXPECT_EQ(w.w2, sym_f);
    EXPECT_EQ(w.w3, 2u);

    // A noted error frame is the start of the next walk, once.
    frames::frame_open(word(sym_g));
    frames::frame_open(word(sym_h));
    frames::note_error_frame(frames::top() - 1);
    EXPECT_EQ(frames::calling_word().w2, sym_g);
    EXPECT_EQ(frames::calling_word().w2, sym_h);
    // A noted position above the live frames is stale and ignored.
    frames::note_error_frame(frames::top());
    frames::frame_discard();
    frames::frame_discard();
    EXPECT_EQ(frames::calling_word().w2, sym_f);

    frames::unwind_to_depth(0);
    frames::frame_open(fixed::word_body_marker);
    frames::frame_open(fixed::word_anon_marker);
    EXPECT_EQ(frames::calling_word().w2, sym_not_found());
}

TEST_F(FramesTest, ReturnTargetsAndInterpretedBits) {
    frames::frame_open_interp_function(word(sym_f));
    frames::frame_open(word(sym_g));
    frames::frame_open(word(sym_h));
    EXPECT_TRUE(frames::frame_interpreted_q(nullptr, false));
    EXPECT_FALSE(frames::frame_interpreted_q(nullptr, true));
    frames::mark_interpreted();
    EXPECT_TRUE(frames::frame_interpreted_q(nullptr, true));

    Frame* caller = frames::mark_caller_return_target();
    ASSERT_EQ(caller, frames::top() - 2);
    EXPECT_EQ(frames::mark_caller_return_target(), nullptr);  // already set: not ours to clear
    frames::clear_return_target(caller);
    EXPECT_EQ(caller->header & frames::bits::return_target, 0u);
    frames::set_return_target(true);
    EXPECT_NE(frames::top_frame()->header & frames::bits::return_target, 0u);
}

// The called words of an error are read after the unwinding popped their
// frames, also across a collection.
TEST_F(FramesTest, ErrorStackListsTheFramesOfTheRaise) {
    Cell f = global_word("engine-f", Cell{type_function, 0, 0, 0});
    Cell g = global_word("engine-g", Cell{type_native, 0, 0, 0});
    Cell h = global_word("engine-h", Cell{type_native, 0, 0, 0});
    EXPECT_RAISES(
        {
            unwind::Site site;
            frames::frame_open_try(h);
            frames::frame_open_interp_function(f);
            frames::frame_open(fixed::word_body_marker);
            frames::frame_open_interp_native(g);
            raise_error(err_cat::math, err_id::math::zero_divide);
        },
        err_cat::math, err_id::math::zero_divide);
    EXPECT_EQ(frames::depth(), 0u);
    EXPECT_EQ(unwind::error_depth(), 4u);
    stress_collect();

    const Frame* end = frames::bottom() + unwind::error_depth();
    Cell functions = block_of({});
    frames::collect_error_stack(1, functions, end);
    ASSERT_EQ(memory::series_length(functions.w2), 1u);
    EXPECT_EQ(memory::cell_head(functions.w2)->w2, f.w2);

    Cell all = block_of({});
    frames::collect_error_stack(2, all, end);
    ASSERT_EQ(memory::series_length(all.w2), 3u);
    EXPECT_EQ(memory::cell_at(all.w2, 2)->w2, g.w2);

    Cell buffer;
    string_t::make_at(buffer, 16);
    int32_t left = frames::form_error_stack(2, integer(int32_t(unwind::error_depth())), &buffer, 100);
    std::string expected = "engine-h engine-f engine-g ";
    EXPECT_EQ(utf8_of(buffer), expected);
    EXPECT_EQ(left, 100 - int32_t(expected.size()));
    EXPECT_EQ(frames::form_error_stack(1, integer(int32_t(unwind::error_depth())), &buffer, 7), 7 - 9);
    EXPECT_EQ(frames::form_error_stack(2, none(), &buffer, 7), 7);
}

// The call list of the running code: each frame's word, bound in the saved
// function context when there is one, and its caller's base.
TEST_F(FramesTest, CollectFramesListsWordsAndBases) {
    Cell x = word_t::make_global("engine-x");
    Cell spec = block_of({x});
    NodeId fn = context_t::make_from_spec(spec, true, false, context_t::kind_function);
    stack::push_cell();
    frames::frame_open(word_t::make_global("engine-outer"));
    frames::frame_open(fixed::word_anon_marker);
    stack::push_cell();
    frames::frame_open_function(x, fn);
    frames::frame_open(word(sym_f));

    // Innermost first; the marker frame and the bottom frame are left out.
    Cell list = block_of({});
    frames::collect_frames(list);
    ASSERT_EQ(memory::series_length(list.w2), 4u);
    Cell* c = memory::cell_head(list.w2);
    EXPECT_EQ(c[0].w2, sym_f);
    EXPECT_EQ(c[0].w1, context_t::global_context);
    EXPECT_EQ(int_of(c[1]), 2);
    EXPECT_EQ(c[2].w2, x.w2);
    EXPECT_EQ(c[2].w1, fn);  // bound in the function's context
    EXPECT_EQ(int_of(c[3]), 1);
}

// Contexts reached only from frames survive a collection and follow their
// nodes when the collector renumbers them.
TEST_F(FramesTest, MarkFramesKeepsFrameContextsAlive) {
    // A word of an object context reached only from its frame.
    Cell y = word_t::make_global("engine-y");
    NodeId obj = make_context(1, false);
    context_t::put_word_value(obj, y, integer(5));
    word_t::bind_to(y, obj);
    // A function context whose saved values are reachable only from its frame.
    NodeId fn = make_context(1, false);
    context_t::put_word_value(fn, y, integer(6));
    frames::frame_open(y);
    frames::frame_open_function(word(sym_g), fn);
    NodeId moved = make_context(1, false);
    context_t::put_word_value(moved, y, integer(7));
    context_cell(fn).w2 = context_cell(moved).w2;
    for (int i = 0; i < 3; ++i) stress_collect();

    Frame* call = frames::top() - 2;
    EXPECT_EQ(int_of(*frames::frame_word_value(*call)), 5);
    Frame* f = frames::top_frame();
    EXPECT_EQ(int_of(*context_t::context_value_at(f->saved_context, 0)), 7);
    EXPECT_EQ(int_of(*memory::cell_head(f->saved_values)), 6);
    NodeId ctx = f->saved_context;  // the locals may name renumbered nodes
    frames::frame_close_function();
    EXPECT_EQ(int_of(*context_t::context_value_at(ctx, 0)), 6);
}

TEST_F(FramesTest, FrameOverflowRaisesStackOverflow) {
    for (int i = 0; i < 10; ++i) stack::push_cell();
    Cell* top = stack::top();
    EXPECT_RAISES(
        for (;;) frames::frame_open(word(sym_f)), err_cat::internal, err_id::internal::stack_overflow);
    EXPECT_EQ(frames::depth(), frames::frame_capacity);
    EXPECT_EQ(stack::top(), top - 5);
    EXPECT_EQ(errors::last_error().where.w2, sym_f);
}
