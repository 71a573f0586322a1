// The control-flow natives through their entries, for what they do before or
// without evaluating code, and the loop step routines.
#include "engine/loop_steps.h"

#include <vector>

#include "datatypes/none.h"
#include "engine/natives.h"
#include "tests/unit/engine_fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;

namespace {
class ControlTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        natives::natives_init();
    }
    // Calls a native as the evaluator does: in a frame named by a word, its
    // arguments from the base, the refinement positions.
    Status call(natives::NativeFn fn, const std::vector<Cell>& args, std::vector<int32_t> refs = {-1, -1, -1, -1}) {
        base_depth = frames::depth();
        frames::frame_open(word(sym_f));
        for (const Cell& a : args) stack::push_copy(a);
        return fn(false, refs.data());
    }
    Cell result() const { return *stack::arg_base(); }
    uint32_t base_depth = 0;
};

Cell logic(bool v) { return Cell{type_logic, v ? 1u : 0u, 0, 0}; }
Cell float_cell(double d) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
}  // namespace

// ---- Step routines ------------------------------------------------------------------

TEST_F(ControlTest, ForeachStepsThroughBlocksAndStrings) {
    Cell x = global_word("x", none());
    Cell b = block_of({integer(1), integer(2)});
    EXPECT_TRUE(loop_steps::foreach_next(b, x));
    EXPECT_EQ(int_of(*word_t::get(x)), 1);
    EXPECT_TRUE(loop_steps::foreach_next(b, x));
    EXPECT_FALSE(loop_steps::foreach_next(b, x));
    EXPECT_EQ(int_of(*word_t::get(x)), 2);

    Cell s = text("ab");
    s.w1 = 1;
    EXPECT_TRUE(loop_steps::foreach_next(s, x));
    EXPECT_EQ(type_of(*word_t::get(x)), uint32_t(type_char));
    EXPECT_EQ(word_t::get(x)->w2, uint32_t('b'));
    EXPECT_FALSE(loop_steps::foreach_next(s, x));
}

// Several words take one element each; past the tail they get none. A bad
// word block sets none of its words.
TEST_F(ControlTest, ForeachWithSeveralWords) {
    Cell a = global_word("a", integer(0)), b = global_word("b", integer(0));
    Cell words = block_of({a, b});
    Cell series = block_of({integer(1), integer(2), integer(3)});
    EXPECT_TRUE(loop_steps::foreach_next_multi(series, words, 2));
    EXPECT_TRUE(loop_steps::foreach_next_multi(series, words, 2));
    EXPECT_EQ(int_of(*word_t::get(a)), 3);
    EXPECT_EQ(type_of(*word_t::get(b)), uint32_t(type_none));
    EXPECT_EQ(series.w1, 4u);
    EXPECT_FALSE(loop_steps::foreach_next_multi(series, words, 2));
    EXPECT_FALSE(loop_steps::foreach_next_multi(series, words, 0));

    Cell fresh = block_of({integer(5), integer(6)});
    Cell bad = block_of({a, integer(1)});
    EXPECT_RAISES(loop_steps::foreach_next_multi(fresh, bad, 2), err_cat::script, err_id::script::invalid_arg);
    Cell with_unset = block_of({integer(5), unset()});
    EXPECT_RAISES(loop_steps::foreach_next_multi(with_unset, words, 2), err_cat::script, err_id::script::need_value);
    EXPECT_EQ(int_of(*word_t::get(a)), 3);
}

TEST_F(ControlTest, RemoveEachStepRemovesWhatWasVisited) {
    Cell series = block_of({integer(1), integer(2), integer(3), integer(4)});
    series.w1 = 2;  // two words just visited 1 and 2
    loop_steps::remove_each_step(series, 2, none());
    EXPECT_EQ(series.w1, 2u);
    loop_steps::remove_each_step(series, 2, logic(true));
    EXPECT_EQ(series.w1, 0u);
    EXPECT_EQ(memory::series_length(series.w2), 2u);
    EXPECT_EQ(int_of(*memory::cell_at(series.w2, 0)), 3);
    series.w1 = 1;
    loop_steps::remove_each_step(series, 1, unset());  // unset is not false
    EXPECT_EQ(memory::series_length(series.w2), 1u);
}

TEST_F(ControlTest, LoopCountTruncatesFloatsInPlace) {
    struct Case {
        double value;
        int32_t count;
    } cases[] = {{2.9, 2}, {-0.5, 0}, {-3.7, -3}, {1e20, INT32_MIN}, {__builtin_nan(""), INT32_MIN}};
    for (const Case& c : cases) {
        Cell n = float_cell(c.value);
        EXPECT_EQ(loop_steps::loop_count(n), c.count) << c.value;
        EXPECT_EQ(type_of(n), uint32_t(type_integer));
    }
    Cell i = integer(7);
    EXPECT_EQ(loop_steps::loop_count(i), 7);
}

// ---- Natives that decide before evaluating anything ------------------------------------

TEST_F(ControlTest, FalseConditionsAndEmptyCountsGiveNone) {
    Cell body = block_of({integer(1)});
    Cell i = global_word("i", word(sym_g));
    struct Case {
        natives::NativeFn fn;
        std::vector<Cell> args;
    } cases[] = {
        {natives::if_, {none(), body}},
        {natives::if_, {logic(false), body}},
        {natives::unless, {logic(true), body}},
        {natives::loop, {integer(0), body}},
        {natives::loop, {float_cell(0.9), body}},
        {natives::repeat, {i, integer(-1), body}},
        {natives::any, {block_of({})}},
        {natives::all, {block_of({})}},
        {natives::case_, {block_of({})}},
        {natives::switch_, {integer(5), block_of({integer(1), body}), none()}},
    };
    for (const Case& c : cases) {
        Cell* base = stack::top();
        ASSERT_EQ(call(c.fn, c.args), Status::ok);
        EXPECT_EQ(type_of(result()), uint32_t(type_none));
        EXPECT_EQ(stack::top(), base + 1);
        EXPECT_EQ(frames::depth(), base_depth + 1);
        frames::frame_close();
        stack::set_top(base);
    }
    EXPECT_EQ(word_t::get(i)->w2, sym_g);  // repeat below 1 leaves its word alone
}

TEST_F(ControlTest, ComposeRefusesANonBlock) {
    EXPECT_RAISES((void)call(natives::compose, {integer(1), none()}), err_cat::script, err_id::script::expect_val);
}

TEST_F(ControlTest, ExitsWithoutTheirTargetAreThrowErrors) {
    EXPECT_RAISES((void)call(natives::break_, {none()}), err_cat::throw_, err_id::throw_::break_);
    EXPECT_RAISES((void)call(natives::continue_, {}), err_cat::throw_, err_id::throw_::continue_);
    EXPECT_RAISES((void)call(natives::return_, {integer(1)}), err_cat::throw_, err_id::throw_::return_);
    EXPECT_RAISES((void)call(natives::exit, {}), err_cat::throw_, err_id::throw_::return_);
    EXPECT_RAISES((void)call(natives::throw_, {integer(9), none()}), err_cat::throw_, err_id::throw_::throw_);
    EXPECT_EQ(int_of(errors::last_error().args[0]), 9);
}

// break inside a loop frame lands there with its value; throw at a catch
// frame with its value and, without /name, an unset name.
TEST_F(ControlTest, BreakAndThrowLandAtTheirFrames) {
    frames::frame_open_loop(word(sym_g));
    Cell* loop_slot = stack::push_copy(none());
    EXPECT_EQ(call(natives::break_, {integer(5)}, {0}), Status::break_);
    EXPECT_EQ(stack::arg_base(), loop_slot);
    EXPECT_EQ(int_of(*loop_slot), 5);

    stack::push_copy(none());
    frames::frame_open_catch(word(sym_h));
    Cell* catch_slot = stack::top();
    EXPECT_EQ(call(natives::throw_, {integer(6), none()}, {-1}), Status::throw_);
    EXPECT_EQ(stack::arg_base(), catch_slot);
    EXPECT_EQ(int_of(catch_slot[0]), 6);
    EXPECT_EQ(type_of(catch_slot[1]), uint32_t(type_unset));
}

// An error raised while try evaluates its block becomes try's result, with
// both stacks back where try found them.
TEST_F(ControlTest, TryTakesAnErrorAndRestoresTheStacks) {
    Cell block = block_of({word_t::make_global("no-such-word-here")});
    Cell* base = stack::top();
    ASSERT_EQ(call(natives::try_, {block}, {-1, -1}), Status::ok);
    EXPECT_EQ(type_of(result()), uint32_t(type_error));
    EXPECT_EQ(stack::arg_base(), base);
    EXPECT_EQ(stack::top(), base + 1);
    EXPECT_EQ(frames::depth(), base_depth + 1);
}

TEST_F(ControlTest, DoOfAnErrorRaisesIt) {
    Cell text_arg = text("boom");
    Cell error = error_t::create_at(err_cat::user, err_id::user::message, &text_arg);
    EXPECT_RAISES((void)call(natives::do_, {error, none(), none(), none()}), err_cat::user, err_id::user::message);
    EXPECT_EQ(type_of(errors::last_error_value()), uint32_t(type_error));
}

TEST_F(ControlTest, ApplyRefusesWhatIsNotAFunction) {
    Cell x = global_word("x", integer(5));
    EXPECT_RAISES((void)call(natives::apply, {x, block_of({})}, {-1, -1}), err_cat::script, err_id::script::invalid_arg);
    Cell unset_word = word_t::make_global("never-set-here");
    EXPECT_RAISES((void)call(natives::apply, {unset_word, block_of({})}, {-1, -1}), err_cat::script,
                  err_id::script::invalid_arg);
}
