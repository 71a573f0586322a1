// The evaluator on code loaded by the lexer, with a handful of actions and
// operators defined by hand (the start-up sources are not loaded here).
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "engine/eval.h"
#include "datatypes/frames.h"
#include "datatypes/unwind.h"
#include "tests/unit/eval_fixture.h"

namespace vyr {
namespace {

namespace script = err_id::script;

Cell load(const std::string& text) { return test::load_code(text); }

class EvalTest : public test::EvalFixture {
public:
    void SetUp() override {
        test::EvalFixture::SetUp();
        define_action("make", "type spec", registry::slot_make);
        define_action("add", "a b", registry::slot_add);
        define_action("subtract", "a b", registry::slot_subtract);
        define_action("multiply", "a b", registry::slot_multiply);
        define_action("pick", "series index", registry::slot_pick);
        define_op("+", "add");
        define_op("-", "subtract");
        define_op("*", "multiply");
        define_type_words();
    }

    static void define_action(const char* name, const char* args, uint32_t slot) {
        define_callable(type_action, name, args, slot - 1);
    }

    // Evaluates the text and answers its value.
    Cell run(const std::string& text) {
        Cell code = load(text);
        stack::stack_reset();
        Cell* base = stack::push_cell();
        *base = Cell{type_none, 0, 0, 0};
        Status s = eval::eval_block(frames::markers().body, code, false);
        EXPECT_EQ(s, Status::ok) << text;
        Cell result = *stack::top_cell();
        stack::set_top(base);
        return result;
    }
    int32_t run_int(const std::string& text) {
        Cell c = run(text);
        EXPECT_EQ(type_of(c), type_integer) << text;
        return int32_t(c.w2);
    }
};

TEST_F(EvalTest, ArithmeticIsLeftToRight) {
    struct Case {
        const char* code;
        int32_t value;
    } cases[] = {
        {"1 + 2 * 3", 9}, {"2 * 3 + 1", 7}, {"1 + (2 * 3)", 7}, {"x: 5 x + 1", 6}, {"x: y: 4 x * y", 16},
        {"add 1 2 * 3", 7}, {"[1 2] 3", 3}, {"10 - 2 - 3", 5},
    };
    for (const Case& c : cases) EXPECT_EQ(run_int(c.code), c.value) << c.code;
}

TEST_F(EvalTest, IntegerOverflowAndFloatsLeaveTheFastPathCorrect) {
    Cell f = run("1.5 + 2.25 * 2");
    ASSERT_EQ(type_of(f), type_float);
    EXPECT_EQ(cell_float(f), 7.5);
    Cell big = run("2147483647 + 1");  // overflow goes to the generic add: float! result
    EXPECT_EQ(type_of(big), type_float);
    EXPECT_EQ(cell_float(big), 2147483648.0);
}

TEST_F(EvalTest, EmptyBlockIsUnset) {
    EXPECT_EQ(type_of(run("")), type_unset);
    EXPECT_EQ(type_of(run("()")), type_unset);
}

TEST_F(EvalTest, WordForms) {
    EXPECT_EQ(type_of(run("'abc")), type_word);
    EXPECT_EQ(type_of(run(":add")), type_action);
    EXPECT_EQ(type_of(run("x: 3 :x")), type_integer);
    EXPECT_EQ(type_of(run("'a/b")), type_path);
}

TEST_F(EvalTest, Errors) {
    EXPECT_RAISES(run("x:"), err_cat::script, script::need_value);
    EXPECT_EQ(errors::message_line(errors::last_error()), "*** Script Error: x: needs a value");
    EXPECT_RAISES(run("+ 1 2"), err_cat::script, script::no_op_arg);
    EXPECT_RAISES(run("no-such-word"), err_cat::script, script::no_value);
    EXPECT_RAISES(run("add 1"), err_cat::script, script::no_arg);
    EXPECT_RAISES(run("x: ()"), err_cat::script, script::need_value);
    EXPECT_RAISES(run("#system [a]"), err_cat::internal, err_id::internal::vyr_system);
}

TEST_F(EvalTest, ErrorsRecordWhereAndNear) {
    define_function("typed", "a [integer!]", "a");
    EXPECT_RAISES(run("1 + 2 typed \"a\""), err_cat::script, script::expect_arg);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(errors::report(e).find("*** Where: typed"), errors::report(e).find("*** Where:"));
    EXPECT_NE(errors::report(e).find("*** Near : typed \"a\""), std::string::npos) << errors::report(e);
}

TEST_F(EvalTest, Functions) {
    define_function("f", "a b", "a + b");
    EXPECT_EQ(run_int("f 1 + 2 3"), 6);
    define_function("g", "a /twice", "either-twice a twice");
    define_function("either-twice", "a t", "t");
    EXPECT_EQ(type_of(run("g 1")), type_logic);
    EXPECT_EQ(run("g 1").w1, 0u);
    EXPECT_EQ(run("g/twice 1").w1, 1u);
    EXPECT_RAISES(run("g/twice/twice 1"), err_cat::script, script::dup_refine);
    EXPECT_RAISES(run("g/thrice 1"), err_cat::script, script::no_refine);
    define_function("typed", "a [integer!]", "a");
    EXPECT_RAISES(run("typed \"x\""), err_cat::script, script::expect_arg);
    define_function("loc", "a /local b", "b: a * 2 b + 1");
    EXPECT_EQ(run_int("loc 5"), 11);
}

TEST_F(EvalTest, RecursionKeepsEachLevelsArguments) {
    // sum-of n = n + sum-of (n - 1), the base case chosen through a path
    // into a block of the two functions.
    define_function("zero", "n", "0");
    define_function("step", "n", "n + sum-of n - 1");
    define_function("sum-of", "n /local k", "k: pick [1 2 2 2 2 2 2 2 2 2 2] n + 1 fns/:k n");
    Cell fns = load("[zero step]");
    Cell inner = *memory::cell_at(fns.w2, 0);
    for (uint32_t i = 0; i < 2; ++i) {
        Cell* c = memory::cell_at(inner.w2, i);
        *c = *word_t::get(*c);
    }
    Cell fns_word = word_t::make_global("fns");
    word_t::set(fns_word, inner);
    EXPECT_EQ(run_int("sum-of 10"), 55);
}

TEST_F(EvalTest, RunawayRecursionRaisesStackOverflow) {
    define_function("down", "n", "down n + 1");
    // Deep recursion needs a machine stack as large as the interpreter's.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(256) << 20);
    pthread_t thread;
    auto body = [](void* self) -> void* {
        EXPECT_RAISES(static_cast<EvalTest*>(self)->run("down 1"), err_cat::internal,
                      err_id::internal::stack_overflow);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, this), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    frames::unwind_to_depth(0);
    stack::stack_reset();
    EXPECT_EQ(run_int("1 + 1"), 2);  // still usable
}

TEST_F(EvalTest, Paths) {
    EXPECT_EQ(run_int("b: [10 20 30] b/2"), 20);
    EXPECT_EQ(run_int("b: [10 20 30] b/2: 5 b/2"), 5);
    EXPECT_EQ(run_int("b: [10 [1 2 3] 30] i: 3 b/2/:i"), 3);
    EXPECT_EQ(run_int("b: [10 20 30] b/(1 + 2)"), 30);
    EXPECT_RAISES(run("nothing/1"), err_cat::script, script::unset_path);
}

TEST_F(EvalTest, ReturnsUnderStressCollection) {
    collector::set_stress(true);
    define_function("f", "a b /local c", "c: [1 2 3] a + b + pick c 3");
    EXPECT_EQ(run_int("f 1 2 + f 3 4"), 16);  // b is 2 + (f 3 4)
    define_function("g", "a /more b", "a + b");  // a refinement in the cached argument spec
    EXPECT_EQ(run_int("g/more 1 2 + g/more 3 4"), 10);
    collector::set_stress(false);
}

}  // namespace
}  // namespace vyr

namespace vyr {
namespace {

TEST_F(EvalTest, LexerCallbackRefusingLoadsGivesEmptyBlock) {
    Cell no = word_t::make_global("no-go");
    word_t::set(no, Cell{type_logic, 0, 0, 0});
    define_function("refuse", "event input type line token", "[load] no-go");
    Cell callback = *word_t::get(word_t::make_global("refuse"));
    std::string text = "a b 3";
    Cell out{};
    lexer::Request r;
    r.text = reinterpret_cast<const uint8_t*>(text.data());
    r.length = uint32_t(text.size());
    r.callback = &callback;
    lexer::lexer_scan(&out, r, nullptr);
    ASSERT_EQ(type_of(out), type_block);
    EXPECT_EQ(memory::series_length(out.w2), 0u);
}

}  // namespace
}  // namespace vyr
