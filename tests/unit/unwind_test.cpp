// Non-local exits: break, continue, return, exit and throw landing at their
// frames, errors reaching their catch site, and the catch-site guard.
#include "engine/unwind.h"

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

TEST_F(UnwindTest, ExitsWithoutATargetRaiseThrowErrors) {
    EXPECT_RAISES(
        {
            Nest n(open_eval, false);
            (void)unwind::throw_break(false, false);
        },
        0, 2);
    EXPECT_RAISES(
        {
            Nest n(open_loop, false);
            (void)unwind::throw_return(true, false);
        },
        0, 3);
    EXPECT_RAISES(
        {
            Nest n(open_loop, false);
            (void)unwind::throw_value(catch_code::throw_);
        },
        0, 4);
    EXPECT_RAISES(
        {
            stack::push_cell();
            frames::frame_open_loop(word(sym_f));
            frames::frame_open_try_all(word(sym_g));  // exits cannot cross it
            frames::frame_open(word(sym_h));
            (void)unwind::throw_break(false, true);
        },
        0, 5);
}

TEST_F(UnwindTest, ErrorReachesTheCatchSiteWithWhereAndStack) {
    NodeId ctx = make_context(1, true);
    stack::push_cell();
    Cell* try_slot = stack::arg_base();
    Cell error = make_error(300);
    bool caught = false;
    try {
        unwind::Site site;
        frames::frame_open_try(word(sym_f));
        push_int(1);
        frames::frame_open_function(word(sym_g), ctx);
        context_cell(ctx).w2 = 9;
        frames::frame_open(word(sym_h));
        frames::frame_open(word(sym_body));
        push_int(2);
        unwind::error_unwind(error);
    } catch (const Unwind& u) {
        caught = true;
        EXPECT_EQ(u.code, catch_code::error);
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(frames::depth(), 0u);
    EXPECT_EQ(context_cell(ctx).w2, 0u);
    EXPECT_EQ(stack::top(), try_slot + 1);

    unwind::push_caught_error();
    unwind::settle_after_catch();
    EXPECT_EQ(type_of(*try_slot), uint32_t(type_error));
    EXPECT_EQ(stack::top(), try_slot + 1);
    Cell& where = error_field(*try_slot, 7);
    EXPECT_EQ(where.w2, sym_h);  // the marker frame is skipped
    EXPECT_EQ(type_of(error_field(*try_slot, 8)), uint32_t(type_integer));
    EXPECT_EQ(int_of(error_field(*try_slot, 8)), 4);  // frame depth when raised
}

TEST_F(UnwindTest, AnErrorWithNoTryFrameEndsTheRun) {
    EXPECT_EXIT(
        {
            platform::set_output_fd(STDERR_FILENO);
            stack::push_cell();
            frames::frame_open_catch(word(sym_f));
            try {
                unwind::Site site;
                unwind::error_unwind(make_error(400));
            } catch (...) {
            }
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Error: code 400\n");
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
