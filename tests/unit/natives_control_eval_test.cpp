// The control-flow natives run by the evaluator on code loaded by the lexer.
// The natives get short specs here (the start-up sources, which give the
// full ones, are not loaded); a few comparison and type tests are defined
// as extra natives of the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "datatypes/unwind.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/value_helpers.h"

namespace vyr {
namespace {

Cell load(const std::string& text) { return test::load_code(text); }

Status compare_native(int32_t op) {
    actions::compare_op(op);
    stack::stack_keep();
    return Status::ok;
}
Status test_equal(bool, const int32_t*) { return compare_native(registry::op_equal); }
Status test_lesser(bool, const int32_t*) { return compare_native(registry::op_lesser); }
Status test_greater(bool, const int32_t*) { return compare_native(registry::op_greater); }
Status is_type(uint32_t t) {
    logic_t::box(type_of(*stack::arg_base()) == t);
    stack::stack_keep();
    return Status::ok;
}
Status test_unset_q(bool, const int32_t*) { return is_type(type_unset); }
Status test_error_q(bool, const int32_t*) { return is_type(type_error); }

// The words and specs of the natives under test, and of the test's own.
struct Spec {
    const char* word;
    uint32_t index;
    const char* spec;
};
const Spec control_specs[] = {
    {"if", 1, "cond then-blk"}, {"unless", 2, "cond then-blk"}, {"either", 3, "cond true-blk false-blk"},
    {"any", 4, "conds"}, {"all", 5, "conds"}, {"while", 6, "cond body"}, {"until", 7, "body"},
    {"loop", 8, "count body"}, {"repeat", 9, "'word value body"}, {"forever", 10, "body"},
    {"foreach", 11, "'word series body"}, {"forall", 12, "'word body"}, {"remove-each", 13, "'word data body"},
    {"switch", 18, "value cases /default case"}, {"case", 19, "cases /all"},
    {"do", 20, "value /expand /args arg /next position /trace callback"}, {"reduce", 35, "value /into out"},
    {"compose", 36, "value /deep /only /into out"}, {"try", 70, "block /all /keep"},
    {"break", 77, "/return value"}, {"continue", 78, ""}, {"exit", 79, ""}, {"return", 80, "value"},
    {"throw", 81, "value /name word"}, {"catch", 82, "block /name word"}, {"apply", 107, "func args /all /safer"},
};
struct Extra {
    const char* word;
    natives::NativeFn fn;
    const char* spec;
};
const Extra extra_natives[] = {
    {"equal?", test_equal, "a b"}, {"lesser?", test_lesser, "a b"}, {"greater?", test_greater, "a b"},
    {"unset?", test_unset_q, "value"}, {"error?", test_error_q, "value"},
};

class ControlEvalTest : public test::EvalFixture {
public:
    void SetUp() override {
        test::EvalFixture::SetUp();
        for (const Spec& s : control_specs) define_callable(type_native, s.word, s.spec, natives::slot_of(s.index));
        uint32_t slot = natives::slot_of(natives::native_count + 1);
        for (const Extra& e : extra_natives) {
            natives::natives_append(1, &e.fn);
            define_callable(type_native, e.word, e.spec, slot++);
        }
        define_callable(type_action, "add", "a b", registry::slot_add - 1);
        define_callable(type_action, "multiply", "a b", registry::slot_multiply - 1);
        define_callable(type_action, "divide", "a b", registry::slot_divide - 1);
        define_callable(type_action, "even?", "value", registry::slot_even_q - 1);
        define_callable(type_action, "odd?", "value", registry::slot_odd_q - 1);
        define_callable(type_action, "append", "series value /part range /only /dup count", registry::slot_append - 1);
        define_callable(type_action, "insert", "series value /part range /only /dup count", registry::slot_insert - 1);
        define_callable(type_action, "copy", "value /part range /deep /types kinds", registry::slot_copy - 1);
        define_callable(type_action, "index?", "series", registry::slot_index_q - 1);
        define_callable(type_action, "tail", "series", registry::slot_tail - 1);
        define_callable(type_action, "next", "series", registry::slot_next - 1);
        define_callable(type_action, "make", "type spec", registry::slot_make - 1);
        define_callable(type_action, "pick", "series index", registry::slot_pick - 1);
        define_op("+", "add");
        define_op("*", "multiply");
        define_op("/", "divide");
        define_op("=", "equal?");
        define_op("<", "lesser?");
        define_op(">", "greater?");
        set_global("none", none_t::value);
        set_global("true", logic_t::true_value);
        set_global("false", logic_t::false_value);
        define_type_words();
    }

    // Evaluates the text; answers the mold of its value. The frames must be
    // where they were.
    std::string run(const std::string& text) {
        Cell code = load(text);
        collector::CellRoot root(&code);
        stack::stack_reset();
        Cell* base = stack::push_cell();
        *base = Cell{type_none, 0, 0, 0};
        uint32_t depth = frames::depth();
        unwind::Site site;
        Status s = Status::ok;
        try {
            s = eval::eval_block(frames::markers().body, code, true);
        } catch (const Unwind&) {
            site.restore();
            stack::set_top(base);
            return "raised " + errors::message_line(errors::last_error());
        }
        EXPECT_EQ(s, Status::ok) << text;
        EXPECT_EQ(frames::depth(), depth) << text;
        Cell result = *base;
        stack::set_top(base);
        return test::mold_text(result);
    }
    // Evaluates the text, which must raise the error; answers its id word.
    void raises(const std::string& text, int category, int id) {
        Cell code = load(text);
        collector::CellRoot root(&code);
        stack::stack_reset();
        Cell* base = stack::push_cell();
        uint32_t depth = frames::depth();
        {
            unwind::Site site;
            EXPECT_RAISES((void)eval::eval_block(frames::markers().body, code, true), category, id);
            site.restore();
        }
        EXPECT_EQ(frames::depth(), depth) << text;
        stack::set_top(base);
    }
};

struct Case {
    const char* code;
    const char* mold;
};

void run_cases(ControlEvalTest& t, std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(t.run(c.code), c.mold) << c.code;
}

TEST_F(ControlEvalTest, Conditionals) {
    run_cases(*this, {
        {"reduce [if none [1] if false [1] if () [2] if 0 [3]]", "[none none 2 3]"},
        {"reduce [unless none [1] unless true [1] unless () [2]]", "[1 none none]"},
        {"reduce [either 0 [1] [2] either none [1] [2]]", "[1 2]"},
        {"reduce [any [] all []]", "[none none]"},
        {"a: 0 reduce [any [none false 5 6] all [1 2 3] all [1 none (a: 9)] a]", "[5 3 none 0]"},
        {"unset? any [none ()]", "true"},
        {"reduce [switch 2 [1 [10] 2 3 [20]] switch/default 5 [1 [10]] [30] switch 5 [1 [10]]]", "[20 30 none]"},
        {"reduce [switch \"x\" [\"X\" [1]] switch 1 [1.0 [2]] switch 'b [a [1] b [2]]]", "[1 none 2]"},
        {"case [false [1] true [2] true [3]]", "2"},
        {"reduce [case/all [true [1] false [2]] case/all [true [1] true [2]]]", "[none 2]"},
        {"reduce [case [false 1 true [3]] case [none \"x\" true 4]]", "[3 4]"},
        {"reduce [case [true 1 + 2] case [false [1]] case []]", "[3 none none]"},
    });
    raises("either () [1] [2]", err_cat::script, err_id::script::no_return);
    raises("case [true]", err_cat::script, err_id::script::need_value);
    raises("case [false 1 + 2 true [3]]", err_cat::script, err_id::script::no_op_arg);
    raises("case [() [1]]", err_cat::script, err_id::script::no_return);
}

TEST_F(ControlEvalTest, WhileUntilLoopRepeatForever) {
    run_cases(*this, {
        {"x: 0 reduce [unset? while [true] [x: x + 1 if x = 3 [break/return 5]] x]", "[true 3]"},
        {"x: 0 while [x > 0] [x: 99] x", "0"},
        {"n: 0 s: 0 while [n < 5] [n: n + 1 if odd? n [continue] s: s + n] s", "6"},
        {"n: 0 reduce [until [n: n + 1 n = 4] n until [break/return 5]]", "[true 4 5]"},
        {"n: 0 until [n: n + 1 if n < 3 [continue] true] n", "3"},
        {"x: 0 reduce [loop 0 [x: 1] loop -1 [x: 2] x]", "[none none 0]"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},
        {"reduce [loop 3 [7] loop 3 [break/return 8] unset? loop 3 [break]]", "[7 8 true]"},
        {"reduce [repeat i 3 [i] i]", "[3 3]"},
        {"i: 'untouched reduce [repeat i 0 [i] i]", "[none untouched]"},
        {"out: copy [] repeat i 5 [if i = 2 [continue] if i = 4 [break] append out i] out", "[1 3]"},
        {"n: 0 reduce [forever [n: n + 1 if n = 10 [break/return n * 2]] n]", "[20 10]"},
    });
    raises("while [break] [1]", err_cat::throw_, err_id::throw_::while_cond);
    raises("while [()] [1]", err_cat::script, err_id::script::no_return);
    raises("until [()]", err_cat::script, err_id::script::no_return);
}

TEST_F(ControlEvalTest, SeriesLoops) {
    run_cases(*this, {
        {"out: copy [] foreach x [a b] [append out x] foreach c next \"hi!\" [append out c] out",
         "[a b #\"i\" #\"!\"]"},
        {"out: copy [] foreach [a b] [1 2 3] [append/only out reduce [a b]] out", "[[1 2] [3 none]]"},
        {"reduce [foreach x [1 2 3] [x * 10] unset? foreach x [] [1]]", "[30 true]"},
        {"s: next [1 2 3] foreach x s [x] s", "[2 3]"},
        {"out: copy [] foreach x [1 2 3 4 5] [if x = 2 [continue] if x = 4 [break] append out x] out", "[1 3]"},
        {"s: [1 2 3] out: copy [] forall s [append/only out s] reduce [out index? s]", "[[[1 2 3] [2 3] [3]] 1]"},
        {"s: [1 2 3] forall s [if 2 = index? s [break]] index? s", "2"},
        {"s: [1 2 3] forall s [if 1 = index? s [continue] s: tail s] index? s", "1"},
        {"remove-each x [1 2 3 4] [even? x]", "[1 3]"},
        {"remove-each [k v] [a 1 b 2 c 3] [v = 2]", "[a 1 c 3]"},
        {"remove-each c \"a1b2\" [any [c = #\"1\" c = #\"2\"]]", "\"ab\""},
        {"reduce [remove-each x [1 2 3] [if x = 2 [continue] true] "
         "remove-each x [1 2 3 4] [if x = 3 [break] true]]",
         "[[2] [3 4]]"},
    });
    raises("foreach [] [1 2] [1]", err_cat::script, err_id::script::invalid_arg);
    raises("foreach [a 1] [1 2] [a]", err_cat::script, err_id::script::invalid_arg);
    raises("s: [1 2 3] forall s [s: [4 5 6]]", err_cat::script, err_id::script::bad_loop_series);
    raises("n: 5 forall n [1]", err_cat::script, err_id::script::expect_arg);
    raises("forall never-set-anywhere [1]", err_cat::script, err_id::script::no_value);
}

TEST_F(ControlEvalTest, DoReduceCompose) {
    run_cases(*this, {
        {"reduce [do \"1 + 2\" do 5 do [3 4] do pick [(5 + 5)] 1]", "[3 5 4 10]"},
        {"x: 42 do 'x", "42"},
        {"b: [1 + 2 3 * 4] r: do/next b 'pos reduce [r pos]", "[3 [3 * 4]]"},
        {"reduce [unset? do/next [] 'pos pos]", "[true []]"},
        {"reduce [1 + 1 \"a\" [b]]", "[2 \"a\" [b]]"},
        {"x: 7 reduce [reduce 'x equal? :append reduce :append]", "[7 true]"},
        {"out: [a] r: reduce/into [1 + 1 3] tail out reduce [out r]", "[[a 2 3] [2 3]]"},
        {"out: [a] r: reduce/into [1 + 1] out reduce [out r]", "[[2 a] [a]]"},
        {"out: [a] r: reduce/into [[1 2]] out reduce [out r]", "[[1 2 a] [a]]"},
        {"compose [(1 + 1) ([]) ([a b]) ((none)) (do []) ()]", "[2 a b none]"},
        {"compose/only [([]) ([a b])]", "[[] [a b]]"},
        {"x: 1 reduce [compose [[(x)] (x)] compose/deep [[(x)] (x)]]", "[[[(x)] 1] [[1] 1]]"},
        {"out: copy [z] compose/into [(1 + 1) a] tail out out", "[z 2 a]"},
        {"out: copy [z] r: compose/into [(1 + 1) a] out reduce [out r]", "[[2 a z] [z]]"},
        {"b: [10 20] reduce [do 'b/2 do/next \"1 2\" 'pos pos]", "[20 1 [2]]"},
    });
    raises("do %no-such-script.vyr", err_cat::internal, err_id::internal::not_done);
    raises("do make error! \"boom\"", err_cat::user, err_id::user::message);
    raises("compose 1", err_cat::script, err_id::script::expect_val);
}

TEST_F(ControlEvalTest, TryCatchThrow) {
    define_function("f-try-all", "", "try/all [return 1]");
    define_function("f-try", "", "try [return 4] 5");
    define_function("f-throw", "", "throw 9");
    run_cases(*this, {
        {"e: try [1 / 0] reduce [try [1 + 1] error? :e e/type e/id]", "[2 true math zero-divide]"},
        {"reduce [1 error? try [loop 2 [do [reduce [1 / 0]]]] 3]", "[1 true 3]"},
        {"e1: try/all [break] e2: try/all [continue] e3: f-try-all e4: catch [try/all [throw 1]] "
         "reduce [e1/id e2/id e3/id e4/id e4/arg1]",
         "[break continue return throw 1]"},
        {"reduce [loop 3 [try [break/return 7]] f-try catch [try [throw 6] 0]]", "[7 4 6]"},
        {"reduce [catch [throw 5] catch [1 2] catch [loop 3 [throw 4]]]", "[5 2 4]"},
        {"reduce [1 catch [throw 2] 3]", "[1 2 3]"},
        {"catch [f-throw 1]", "9"},
        {"catch [catch/name [throw/name 5 'a] 'b 6]", "5"},
        {"reduce [catch/name [throw/name 5 'A] 'a catch/name [throw/name 6 'b] [a b]]", "[5 6]"},
        {"catch [catch/name [throw 5] 'a 6]", "5"},
        {"reduce [(e: try [break] e/id) (e: try [continue] e/id)]", "[break continue]"},
        {"reduce [(e: try [return 1] e/id) (e: try [exit] e/id)]", "[return return]"},
        {"error? try/keep [1 / 0]", "true"},
    });
    raises("catch/name [throw/name 1 'c] [a 1]", err_cat::script, err_id::script::invalid_refine_arg);
    raises("throw 1", err_cat::throw_, err_id::throw_::throw_);
    raises("catch/name [throw/name 1 'x] 'y", err_cat::throw_, err_id::throw_::throw_);
}

TEST_F(ControlEvalTest, ReturnExitApply) {
    define_function("f-nested", "", "loop 3 [foreach x [1 2] [do [return x * 10]]] 0");
    define_function("f-exit", "", "exit 1");
    define_function("f-return", "", "return 3 4");
    define_function("f-refs", "a /b c", "reduce [a b c]");
    run_cases(*this, {
        {"f-nested", "10"},
        {"unset? f-exit", "true"},
        {"f-return", "3"},
        {"apply :append [[] 1]", "[1]"},
        {"apply :+ [1 2]", "3"},
        {"apply/all :f-refs [1 true 2]", "[1 true 2]"},
        {"apply 'f-refs/b [1 2]", "[1 true 2]"},
    });
    raises("x: 5 apply 'x [1]", err_cat::script, err_id::script::invalid_arg);
    raises("apply 'no-such-fn-here [1]", err_cat::script, err_id::script::invalid_arg);
}

}  // namespace
}  // namespace vyr

namespace vyr {
namespace {

// Every safe point collects and moves every buffer: what the natives keep
// across their evaluations must be rooted.
TEST_F(ControlEvalTest, UnderCollectionStress) {
    define_function("f-nested", "", "loop 3 [foreach x [1 2] [do [return x * 10]]] 0");
    collector::set_stress(true);
    run_cases(*this, {
        {"out: copy [] foreach [a b] [1 2 3] [append/only out reduce [a b]] out", "[[1 2] [3 none]]"},
        {"remove-each [k v] [a 1 b 2 c 3] [v = 2]", "[a 1 c 3]"},
        {"s: [1 2 3] out: copy [] forall s [append/only out copy s] reduce [out index? s]",
         "[[[1 2 3] [2 3] [3]] 1]"},
        {"x: 1 compose/deep [[(x) ([a b])] (reduce [x x])]", "[[1 a b] 1 1]"},
        {"out: [a] r: reduce/into [1 + 1 3] tail out reduce [out r]", "[[a 2 3] [2 3]]"},
        {"reduce [case [false [1] true [copy [2]]] switch 2 [2 [copy [3]]]]", "[[2] [3]]"},
        {"reduce [catch [loop 3 [throw copy [4]]] error? try [do \"1 / 0\"] f-nested]", "[[4] true 10]"},
        {"b: [1 + 2 3 * 4] r: do/next b 'pos reduce [r pos]", "[3 [3 * 4]]"},
    });
    collector::set_stress(false);
}

}  // namespace
}  // namespace vyr

namespace vyr {
namespace {

// do/trace: init first and end last; a callback whose spec opens with a
// block of event words sees only those; a nested do/trace adds no second
// trace; an error in the callback ends the trace.
TEST_F(ControlEvalTest, DoTrace) {
    define_callable(type_action, "length?", "series", registry::slot_length_q - 1);
    define_function("cb", "event code offset value ref frame", "append events event");
    define_function("cb-throws", "[throw catch] event code offset value ref frame", "append events event");
    define_function("cb-fails", "event code offset value ref frame", "1 / 0");
    // Under collection stress, with events that only do itself sends.
    define_function("cb-ends", "[init end] event code offset value ref frame", "append events event");
    define_function("f-traced", "", "do/trace [return 4] :cb-ends 5");
    collector::set_stress(true);
    EXPECT_EQ(run("events: copy [] reduce [do/trace [1 + 2] :cb-ends events]"), "[3 [init end]]");
    EXPECT_EQ(run("events: copy [] reduce [f-traced events]"), "[4 [init end]]");
    collector::set_stress(false);
    run_cases(*this, {
        {"events: copy [] r: do/trace [1 + 2] :cb reduce [r pick events 1 pick events length? events]",
         "[3 init end]"},
        {"events: copy [] do/trace [catch [throw 1] do/trace [2] :cb-throws] :cb-throws events", "[throw catch]"},
        {"events: copy [] reduce [error? try [do/trace [1] :cb-fails] events]", "[true []]"},
    });
    EXPECT_FALSE(eval::trace::on());
}

}  // namespace
}  // namespace vyr
