// Non-local exits: break, continue, return, exit and throw landing at their
// frames, errors reaching their catch site, and the catch-site guard.
#include "datatypes/unwind.h"

#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;
using frames::Frame;

namespace {
class UnwindTest : public EngineTest {};

Cell* push_int(int32_t n) { return stack::push_copy(integer(n)); }

// [loop frame [function frame (context values moved) [native frame: value, name]]]
struct Nest {
    NodeId ctx;
    Cell* loop_slot;
    Nest(void (*open_outer)(const Cell&), bool return_target) : ctx(make_context(1, true)) {
        stack::push_cell();
        open_outer(word(sym_f));
        loop_slot = push_int(0);
        frames::frame_open_function(word(sym_g), ctx);
        frames::set_return_target(return_target);
        context_cell(ctx).w2 = 55;
        push_int(1);
        frames::frame_open(word(sym_h));
        push_int(42);  // the exit's value
        push_int(7);   // a throw's name
    }
};
void open_loop(const Cell& w) { frames::frame_open_loop(w); }
void open_catch(const Cell& w) { frames::frame_open_catch(w); }
void open_eval(const Cell& w) { frames::frame_open_eval(w); }
}  // namespace

TEST_F(UnwindTest, BreakLandsAtTheLoopWithItsValue) {
    Nest n(open_loop, false);
    EXPECT_EQ(unwind::throw_break(true, false), Status::break_);
    EXPECT_EQ(frames::depth(), 1u);
    EXPECT_EQ(frames::kind_of(*frames::top_frame()), frames::kind::loop);
    EXPECT_EQ(context_cell(n.ctx).w2, 0u);  // the function frame on the way was restored
    EXPECT_EQ(stack::arg_base(), n.loop_slot);
    EXPECT_EQ(stack::top(), n.loop_slot);
    EXPECT_EQ(int_of(*n.loop_slot), 42);
}

TEST_F(UnwindTest, ContinueAndExitLeaveUnset) {
    {
        Nest n(open_loop, false);
        EXPECT_EQ(unwind::throw_break(true, true), Status::continue_);
        EXPECT_EQ(type_of(*n.loop_slot), uint32_t(type_unset));
    }
    frames::unwind_to_depth(0);
    Nest n(open_eval, true);
    EXPECT_EQ(unwind::throw_return(false, false), Status::exit);
    EXPECT_EQ(frames::kind_of(*frames::top_frame()), frames::kind::function);
    EXPECT_EQ(type_of(*stack::arg_base()), uint32_t(type_unset));
}

TEST_F(UnwindTest, ReturnLandsInTheReturnTargetsResultSlot) {
    Nest n(open_eval, true);
    Cell* fn_slot = n.loop_slot + 1;
    EXPECT_EQ(unwind::throw_return(true, false), Status::return_);
    EXPECT_EQ(frames::depth(), 2u);
    EXPECT_EQ(stack::arg_base(), fn_slot);
    EXPECT_EQ(int_of(*fn_slot), 42);
    EXPECT_EQ(context_cell(n.ctx).w2, 55u);  // the target frame itself stays live
}

TEST_F(UnwindTest, ThrowPushesValueAndNameAtTheCatchFrame) {
    Nest n(open_catch, false);
    EXPECT_EQ(unwind::throw_value(catch_code::throw_), Status::throw_);
    EXPECT_EQ(frames::kind_of(*frames::top_frame()), frames::kind::catch_);
    EXPECT_EQ(stack::arg_base(), n.loop_slot);
    EXPECT_EQ(stack::top(), n.loop_slot + 2);
    EXPECT_EQ(int_of(n.loop_slot[0]), 42);
    EXPECT_EQ(int_of(n.loop_slot[1]), 7);
}

// Each case runs under a catch site, which puts the stacks back.
TEST_F(UnwindTest, ExitsWithoutATargetRaiseThrowErrors) {
    EXPECT_RAISES(
        {
            unwind::Site site;
            Nest n(open_eval, false);
            (void)unwind::throw_break(false, false);
        },
        err_cat::throw_, err_id::throw_::break_);
    EXPECT_RAISES(
        {
            unwind::Site site;
            Nest n(open_loop, false);
            (void)unwind::throw_return(true, false);
        },
        err_cat::throw_, err_id::throw_::return_);
    EXPECT_RAISES(
        {
            unwind::Site site;
            Nest n(open_loop, false);
            (void)unwind::throw_value(catch_code::throw_);
        },
        err_cat::throw_, err_id::throw_::throw_);
    EXPECT_EQ(int_of(errors::last_error().args[0]), 42);  // the thrown value
    EXPECT_EQ(errors::last_error().where.w2, sym_g);      // the frame the throw happened in
    EXPECT_RAISES(
        {
            unwind::Site site;
            stack::push_cell();
            frames::frame_open_loop(word(sym_f));
            frames::frame_open_try_all(word(sym_g));  // exits cannot cross it
            frames::frame_open(word(sym_h));
            (void)unwind::throw_break(false, true);
        },
        err_cat::throw_, err_id::throw_::continue_);
    EXPECT_EQ(frames::depth(), 0u);
    EXPECT_EQ(stack::top(), stack::bottom());
}

TEST_F(UnwindTest, ErrorsReachTheCatchSiteWithWhereAndDepth) {
    NodeId ctx = make_context(1, true);
    stack::push_cell();
    Cell* try_slot = stack::arg_base();
    bool caught = false;
    try {
        unwind::Site site;
        frames::frame_open_try(word(sym_f));
        push_int(1);
        frames::frame_open_function(word(sym_g), ctx);
        context_cell(ctx).w2 = 9;
        frames::frame_open(word(sym_h));
        frames::frame_open(fixed::word_body_marker);
        push_int(2);
        raise_error(err_cat::math, err_id::math::zero_divide);
    } catch (const Unwind& u) {
        caught = true;
        EXPECT_EQ(u.code, catch_code::error);
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(frames::depth(), 0u);
    EXPECT_EQ(context_cell(ctx).w2, 0u);
    EXPECT_EQ(stack::top(), try_slot + 1);
    EXPECT_EQ(stack::arg_base(), try_slot);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.code, 400);
    EXPECT_EQ(type_of(e.where), uint32_t(type_word));
    EXPECT_EQ(e.where.w2, sym_h);  // the marker frame is skipped
    EXPECT_EQ(unwind::error_depth(), 4u);

    // With no frames at all, where stays none.
    EXPECT_RAISES(raise_error(err_cat::math, err_id::math::overflow), err_cat::math, err_id::math::overflow);
    EXPECT_EQ(type_of(errors::last_error().where), uint32_t(type_none));
}

TEST_F(UnwindTest, SettleAfterCatchMovesTheErrorIntoTheResult) {
    Cell* base = stack::arg_base();
    push_int(1);
    push_int(2);
    stack::push_copy(Cell{type_error, 0, 0, 0});
    unwind::settle_after_catch();
    EXPECT_EQ(type_of(*base), uint32_t(type_error));
    EXPECT_EQ(stack::top(), base + 1);
    push_int(3);
    unwind::settle_after_catch();
    EXPECT_EQ(type_of(*base), uint32_t(type_error));
}

// A break carried across C++ code as an exception has already unrolled below
// the sites it passes; they must not raise the stack back.
TEST_F(UnwindTest, SitesOnlyLowerAndStatusesCrossCxxCode) {
    Nest n(open_loop, false);
    Status s = unwind::catch_status([] {
        unwind::Site site;
        unwind::throw_status(unwind::throw_break(true, false));
    });
    EXPECT_EQ(s, Status::break_);
    EXPECT_EQ(frames::depth(), 1u);
    EXPECT_EQ(stack::top(), n.loop_slot);
    EXPECT_EQ(int_of(*n.loop_slot), 42);
    EXPECT_EQ(unwind::catch_status([] {}), Status::ok);
}

// A C++ container that runs out of memory inside a native is the language's
// no-memory error, which a catch site handles, not an end of the process.
TEST_F(UnwindTest, BadAllocInsideANativeIsNoMemory) {
    Cell* top = stack::top();
    EXPECT_RAISES((void)unwind::catch_status([]() -> Status { throw std::bad_alloc(); }), err_cat::internal,
                  err_id::internal::no_memory);
    EXPECT_EQ(stack::top(), top);
}
