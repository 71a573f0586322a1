// native!, action!, op!, function! and routine!: making, spec checks,
// locals, reflection, mold and compare, and the routine table.
#include <gtest/gtest.h>

#include "datatypes/function.h"
#include "datatypes/native.h"
#include "runtime/routines.h"
#include "runtime/stack.h"
#include "fixture.h"
#include "value_helpers.h"

using namespace vyr;
using namespace vyr::test;
namespace script = err_id::script;
namespace internal = err_id::internal;

namespace {

class CallablesTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        mark_ = stack::top();
    }
    void TearDown() override {
        stack::set_top(mark_);
        RuntimeTest::TearDown();
    }
    // A function! made like `func`: its argument block checked, then made.
    Cell func(const Cell& spec, const Cell& body) {
        uint32_t flags = function_t::check_spec(spec);
        function_t::make_function(spec, &body, no_node, 0, 0, flags);
        return *stack::top_cell();
    }
    Cell make_native(uint32_t type, const Cell& arg) {
        Cell result{}, a = arg;
        return *native_t::make(&result, &a, type);
    }
    Cell make_op(const Cell& callable) {
        Cell result{}, a = callable;
        return *op_t::make(&result, &a, type_op);
    }
    Cell reflect(Cell value, const char* field) {
        Cell f = word_of(field);
        auto fn = registry::action<registry::action_sig::reflect>(type_of(value), registry::slot_reflect);
        return *fn(&value, &f);
    }
    static bool blocks_mold() { return registry::get_action(type_block, registry::slot_mold) != nullptr; }

private:
    Cell* mark_ = nullptr;
};

Cell two_words() { return block_of({word_of("a"), word_of("b")}); }

}  // namespace

// ---- native! and action! ---------------------------------------------------------

TEST_F(CallablesTest, MakeNativeAndActionCheckTheIndex) {
    Cell spec = two_words();
    Cell n = make_native(type_native, block_of({spec, int_cell(1)}));
    EXPECT_EQ(type_of(n), uint32_t(type_native));
    EXPECT_EQ(n.w1, 0u);
    EXPECT_EQ(n.w2, spec.w2);
    EXPECT_EQ(make_native(type_native, block_of({spec, int_cell(120)})).w1, 119u);
    EXPECT_EQ(make_native(type_action, block_of({spec, int_cell(62)})).w1, 61u);

    struct Bad {
        uint32_t type;
        Cell arg;
    } cases[] = {
        {type_native, block_of({spec, int_cell(121)})},
        {type_native, block_of({spec, int_cell(0)})},
        {type_action, block_of({spec, int_cell(63)})},
        {type_native, block_of({spec, int_cell(1), int_cell(2)})},
        {type_native, block_of({spec})},
        {type_native, block_of({int_cell(1), spec})},
        {type_native, int_cell(1)},
    };
    for (const Bad& b : cases) EXPECT_RAISES(make_native(b.type, b.arg), err_cat::script, script::bad_make_arg);
}

TEST_F(CallablesTest, NativeReflectionAndCompare) {
    Cell spec = two_words();
    Cell n5 = make_native(type_native, block_of({spec, int_cell(5)}));
    Cell body = reflect(n5, "body");
    EXPECT_EQ(type_of(body), uint32_t(type_integer));
    EXPECT_EQ(int32_t(body.w2), 5);
    Cell s = reflect(n5, "spec");
    EXPECT_EQ(type_of(s), uint32_t(type_block));
    EXPECT_EQ(s.w2, spec.w2);
    EXPECT_RAISES(reflect(n5, "words"), err_cat::internal, internal::not_done);
    // action! inherits reflect.
    Cell a7 = make_native(type_action, block_of({spec, int_cell(7)}));
    EXPECT_EQ(int32_t(reflect(a7, "body").w2), 7);

    Cell n6 = make_native(type_native, block_of({spec, int_cell(6)}));
    EXPECT_EQ(compare_cells(n5, n5, registry::op_equal), 0);
    EXPECT_EQ(compare_cells(n5, n6, registry::op_sort), -1);
    EXPECT_EQ(compare_cells(n5, a7, registry::op_equal), registry::not_comparable);
    EXPECT_EQ(compare_cells(n5, n6, registry::op_lesser), registry::not_comparable);
    EXPECT_EQ(form_text(n5), "?native?");
    EXPECT_EQ(form_text(a7), "?action?");
}

// ---- op! ---------------------------------------------------------------------------

TEST_F(CallablesTest, OperatorSpecs) {
    struct Case {
        Cell spec;
        bool ok;
    } cases[] = {
        {two_words(), true},
        {block_of({word_of("a"), word_of("b"), refinement_of("local"), word_of("c")}), true},
        {block_of({word_of("a"), block_of({}), string_cell("doc"), word_of("b")}), true},
        {block_of({word_of("a"), word_of("b"), set_word_of("return"), block_of({})}), true},
        {block_of({word_of("a"), word_of("b"), word_of("c")}), false},
        {block_of({word_of("a"), refinement_of("only"), word_of("b")}), false},
        {block_of({lit_word_of("a"), word_of("b")}), false},
        {block_of({get_word_of("a"), word_of("b")}), false},
        {block_of({word_of("a"), lit_word_of("b")}), true},
        {block_of({word_of("a")}), false},
    };
    for (const Case& c : cases) EXPECT_EQ(op_t::spec_ok_q(c.spec.w2), c.ok) << mold_text(c.spec);
}

TEST_F(CallablesTest, MakeOperator) {
    Cell f = func(two_words(), block_of({word_of("a")}));
    Cell op1 = make_op(f);
    Cell op2 = make_op(f);
    EXPECT_EQ(type_of(op1), uint32_t(type_op));
    EXPECT_EQ(op_t::wrapped_type(op1), uint32_t(type_function));
    EXPECT_EQ(op1.w1, f.w1);
    EXPECT_EQ(compare_cells(op1, op2, registry::op_equal), 0);
    // The function's record keeps a copy of it; the op! shares the record.
    EXPECT_EQ(memory::cell_at(f.w3, function_t::record::op_copy)->w3, f.w3);
    EXPECT_EQ(type_of(reflect(op1, "body")), uint32_t(type_block));
    EXPECT_EQ(form_text(op1), "?op?");

    Cell n = make_native(type_native, block_of({two_words(), int_cell(9)}));
    Cell opn = make_op(n);
    EXPECT_EQ(op_t::wrapped_type(opn), uint32_t(type_native));
    EXPECT_EQ(int32_t(reflect(opn, "body").w2), 9);

    EXPECT_RAISES(make_op(int_cell(1)), err_cat::script, script::invalid_type);
    Cell three = func(block_of({word_of("a"), word_of("b"), word_of("c")}), block_of({}));
    EXPECT_RAISES(make_op(three), err_cat::script, script::bad_op_spec);
}

TEST_F(CallablesTest, MoldOfNativesAndOperators) {
    if (!blocks_mold()) GTEST_SKIP() << "block! mold not built";
    Cell n = make_native(type_native, block_of({two_words(), int_cell(1)}));
    EXPECT_EQ(mold_text(n), "make native! [[a b]]");
    EXPECT_EQ(mold_text(n, true), "make native! [a b]");
    Cell a = make_native(type_action, block_of({two_words(), int_cell(1)}));
    EXPECT_EQ(mold_text(a), "make action! [[a b]]");
    Cell f = func(two_words(), block_of({word_of("a"), word_of("+"), word_of("b")}));
    EXPECT_EQ(mold_text(make_op(f)), "make op! func [a b][a + b]");
    EXPECT_EQ(mold_text(make_op(n)), "make op! [[a b]]");
}

// ---- function! ---------------------------------------------------------------------

TEST_F(CallablesTest, SpecChecks) {
    Cell integer_t = type_cell(type_integer);
    Cell ok[] = {
        block_of({block_of({word_of("trace")})}),
        block_of({word_of("a"), block_of({integer_t}), string_cell("doc")}),
        block_of({word_of("a"), set_word_of("return"), block_of({integer_t}), refinement_of("local"), word_of("x")}),
        block_of({string_cell("doc"), lit_word_of("a"), get_word_of("b"), refinement_of("opt"), word_of("c")}),
        block_of({word_of("a"), set_word_of("RETURN"), block_of({integer_t}), string_cell("doc")}),
    };
    for (const Cell& s : ok) EXPECT_NO_THROW(function_t::check_spec(s)) << mold_text(s);

    Cell bad[] = {
        block_of({word_of("a"), string_cell("doc"), block_of({integer_t})}),
        block_of({set_word_of("return"), block_of({integer_t}), word_of("a")}),
        block_of({set_word_of("return"), block_of({}), set_word_of("return"), block_of({})}),
        block_of({set_word_of("result"), block_of({})}),
        block_of({set_word_of("return"), block_of({}), word_of("a")}),
        block_of({refinement_of("local"), lit_word_of("x")}),
        block_of({refinement_of("local"), word_of("x"), refinement_of("opt")}),
        block_of({refinement_of("opt"), int_cell(1)}),
        block_of({int_cell(1)}),
        block_of({block_of({int_cell(1)})}),
        block_of({word_of("a"), block_of({}), block_of({})}),
    };
    for (const Cell& s : bad)
        EXPECT_RAISES(function_t::check_spec(s), err_cat::script, script::bad_func_def);

    EXPECT_RAISES(function_t::check_spec(block_of({word_of("a"), word_of("A")})), err_cat::script,
                  script::dup_vars);
    EXPECT_RAISES(function_t::check_spec(block_of({word_of("a"), block_of({int_cell(1)})})), err_cat::script,
                  script::invalid_type_spec);
    EXPECT_RAISES(function_t::check_spec(block_of({word_of("a"), block_of({word_of("no-such-type!")})})),
                  err_cat::script, script::no_value);
}

TEST_F(CallablesTest, AttributeFlags) {
    Cell traced = func(block_of({block_of({word_of("Trace")})}), block_of({}));
    EXPECT_TRUE(traced.header & function_t::flag::trace);
    Cell quiet = func(block_of({block_of({word_of("no-trace"), word_of("other")}), word_of("a")}), block_of({}));
    EXPECT_TRUE(quiet.header & function_t::flag::no_trace);
    EXPECT_FALSE(quiet.header & function_t::flag::trace);
}

TEST_F(CallablesTest, MakeFunctionCopiesAndBindsTheBody) {
    Cell inner = block_of({word_of("a")});
    Cell body = block_of({word_of("a"), inner, word_of("unrelated")});
    Cell f = func(two_words(), body);
    EXPECT_EQ(type_of(f), uint32_t(type_function));
    NodeId ctx = f.w1;
    EXPECT_EQ(context_t::word_count(ctx), 2u);
    EXPECT_EQ(context_t::self_slot(ctx)->w3, f.w3);
    Cell copy = reflect(f, "body");
    ASSERT_NE(copy.w2, body.w2);
    const Cell& a = *memory::cell_at(copy.w2, 0);
    EXPECT_EQ(a.w1, ctx);
    const Cell& nested = *memory::cell_at(copy.w2, 1);
    EXPECT_NE(nested.w2, inner.w2);                           // nested blocks copied
    EXPECT_EQ(memory::cell_at(nested.w2, 0)->w1, ctx);        // and bound
    EXPECT_NE(memory::cell_at(copy.w2, 2)->w1, ctx);          // not a word of the function
    EXPECT_EQ(memory::cell_at(body.w2, 0)->w1, word_of("a").w1);  // the original is untouched

    // A spec given at an index is copied from there.
    Cell spec = block_of({string_cell("skipped"), word_of("x")});
    spec.w1 = 1;
    function_t::make_function(spec, nullptr, no_node, 7, 9, 0);
    Cell g = *stack::top_cell();
    EXPECT_NE(g.w2, spec.w2);
    EXPECT_EQ(memory::series_length(g.w2), 1u);
    EXPECT_EQ(type_of(*memory::cell_at(g.w3, function_t::record::body)), uint32_t(type_none));
    EXPECT_EQ(int32_t(memory::cell_at(g.w3, function_t::record::entry)->w2), 7);
    EXPECT_EQ(int32_t(memory::cell_at(g.w3, function_t::record::second)->w2), 9);
}

TEST_F(CallablesTest, FunctionReflectionAndCompare) {
    Cell f = func(block_of({word_of("a"), refinement_of("opt"), word_of("b")}), block_of({}));
    Cell words = reflect(f, "words");
    ASSERT_EQ(memory::series_length(words.w2), 3u);
    EXPECT_EQ(name_of(*memory::cell_at(words.w2, 1)), "opt");
    EXPECT_EQ(memory::cell_at(words.w2, 0)->w1, f.w1);
    // A new block each time: changing it leaves the function alone.
    *memory::cell_at(words.w2, 0) = int_cell(1);
    EXPECT_EQ(type_of(*memory::cell_at(reflect(f, "words").w2, 0)), uint32_t(type_word));
    EXPECT_EQ(reflect(f, "spec").w2, f.w2);
    EXPECT_RAISES(reflect(f, "class"), err_cat::internal, internal::not_done);

    Cell g = func(two_words(), block_of({}));
    EXPECT_EQ(compare_cells(f, f, registry::op_equal), 0);
    EXPECT_NE(compare_cells(f, g, registry::op_equal), 0);
    EXPECT_EQ(compare_cells(f, int_cell(1), registry::op_equal), registry::not_comparable);
    EXPECT_EQ(form_text(f), "?function?");

    Cell result{};
    Cell arg = block_of({two_words(), block_of({})});
    EXPECT_EQ(type_of(*function_t::make(&result, &arg, type_function)), uint32_t(type_function));
    Cell bad = block_of({two_words()});
    EXPECT_RAISES(function_t::make(&result, &bad, type_function), err_cat::script, script::bad_func_def);
}

TEST_F(CallablesTest, MoldOfFunctions) {
    if (!blocks_mold()) GTEST_SKIP() << "block! mold not built";
    Cell f = func(two_words(), block_of({word_of("a")}));
    EXPECT_EQ(mold_text(f), "func [a b][a]");
    function_t::make_function(two_words(), nullptr, no_node, 0, 0, 0);
    EXPECT_EQ(mold_text(*stack::top_cell()), "func [a b] none");
}

TEST_F(CallablesTest, CollectLocals) {
    if (!blocks_mold()) GTEST_SKIP() << "block! mold not built";
    // function [a] [x: 1 foreach i [1] [y: i] x: 2 repeat k 3 []]
    Cell spec = block_of({word_of("a")});
    Cell body = block_of({set_word_of("x"), int_cell(1), word_of("foreach"), word_of("i"), block_of({int_cell(1)}),
                          block_of({set_word_of("y"), word_of("i")}), set_word_of("x"), int_cell(2),
                          word_of("repeat"), word_of("k"), int_cell(3), block_of({})});
    Cell locals = function_t::collect_locals(spec, body);
    EXPECT_EQ(mold_text(locals), "[x i y k]");
    EXPECT_EQ(mold_text(spec), "[a /local x i y k]");

    // An existing /local gets the new words after it; /extern words never
    // become locals and are cut from its argument block.
    Cell spec2 = block_of({word_of("a"), refinement_of("local"), word_of("b"), refinement_of("extern"),
                           word_of("z")});
    Cell body2 = block_of({set_word_of("z"), int_cell(1), set_word_of("b"), int_cell(2), set_word_of("c"),
                           int_cell(3)});
    function_t::collect_locals(spec2, body2);
    EXPECT_EQ(mold_text(spec2), "[a /local b c]");

    Cell spec3 = block_of({refinement_of("extern"), word_of("z"), int_cell(5)});
    EXPECT_RAISES(function_t::collect_locals(spec3, block_of({})), err_cat::script, script::bad_func_extern);
}

TEST_F(CallablesTest, LocalSlots) {
    Cell spec = block_of({word_of("a"), refinement_of("local"), word_of("x"), word_of("y")});
    EXPECT_EQ(function_t::arity_to_refinement(spec.w2, 0, false), 3);
    EXPECT_EQ(function_t::arity_to_refinement(two_words().w2, 0, false), 0);
    EXPECT_EQ(function_t::arity_to_refinement(two_words().w2, 0, true), -1);
    Cell* before = stack::top();
    function_t::push_initial_locals(3);
    ASSERT_EQ(stack::top() - before, 3);
    EXPECT_EQ(before[0].header, uint32_t(type_logic));
    EXPECT_EQ(before[0].w1, 0u);
    EXPECT_EQ(type_of(before[1]), uint32_t(type_none));
    EXPECT_EQ(type_of(before[2]), uint32_t(type_none));
}

// ---- routine! ------------------------------------------------------------------------

namespace {
Status add_two(Cell* args, uint32_t count) {
    EXPECT_EQ(count, 2u);
    args[0] = int_cell(int32_t(args[0].w2 + args[1].w2));
    return Status::ok;
}
}  // namespace

TEST_F(CallablesTest, RoutinesRunFromTheTable) {
    int32_t index = routines::add("add-two", add_two);
    EXPECT_EQ(routines::add("add-two", add_two), index);
    EXPECT_STREQ(routines::name(index), "add-two");
    Cell spec = block_of({word_of("a"), block_of({type_cell(type_integer)}), refinement_of("x"), word_of("b")});
    Cell r = *routine_t::make_routine(spec, nullptr, index, type_integer, true);
    EXPECT_EQ(type_of(r), uint32_t(type_routine));
    EXPECT_EQ(routine_t::arity(r), 2u);
    EXPECT_TRUE(r.header & function_t::flag::routine);
    EXPECT_EQ(int32_t(memory::cell_at(r.w3, function_t::record::second)->w2), int32_t(type_integer));
    EXPECT_EQ(form_text(r), "?routine?");

    Cell* args = stack::push_copy(int_cell(2));
    stack::push_copy(int_cell(40));
    Cell answer{};
    EXPECT_EQ(function_t::call(r, args, 2, no_node, word_of("add-two"), answer), Status::ok);
    EXPECT_EQ(int32_t(answer.w2), 42);

    // A function! needs the evaluator's entry.
    Cell f = func(two_words(), block_of({}));
    EXPECT_RAISES((void)function_t::call(f, args, 2, no_node, word_of("f"), answer), err_cat::internal,
                  internal::not_done);
    Cell bad = *routine_t::make_routine(spec, nullptr, 0, -1, false);
    EXPECT_RAISES((void)function_t::call(bad, args, 2, no_node, word_of("f"), answer), err_cat::internal,
                  internal::not_done);
}

TEST_F(CallablesTest, MoldOfRoutines) {
    if (!blocks_mold()) GTEST_SKIP() << "block! mold not built";
    Cell r = *routine_t::make_routine(two_words(), nullptr, 0, -1, false);
    EXPECT_EQ(mold_text(r), "routine [a b] none");
    Cell body = block_of({word_of("a")});
    Cell r2 = *routine_t::make_routine(two_words(), &body, 0, -1, false);
    EXPECT_EQ(mold_text(r2), "routine [a b][a]");
}
