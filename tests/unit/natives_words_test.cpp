// The word, context, object and function natives called through their
// entries, the way the evaluator calls them: a call frame, the argument
// cells pushed in the order of its argument words, the refinement positions, the result read at
// the base. Code is loaded with the lexer; nothing here evaluates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "engine/natives_words.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/value_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

constexpr int32_t off = -1;  // a refinement that was not used

int32_t int_of(const Cell& c) { return int32_t(c.w2); }

class NativesWordsTest : public test::EvalFixture {
protected:
    // The values of the text, as a block.
    static Cell load(const char* text) { return test::load_code(text); }
    // The first value of the text.
    static Cell value(const char* text) { return *memory::cell_at(load(text).w2, 0); }

    // Calls the native with the argument cells and refinement positions;
    // answers its result. The stacks are put back also when it raises.
    static Cell call(natives::NativeFn fn, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
        stack::Mark mark;
        uint32_t depth = frames::depth();
        struct Restore {
            stack::Mark& mark;
            uint32_t depth;
            ~Restore() {
                frames::unwind_to_depth(depth);
                mark.restore();
            }
        } restore{mark, depth};
        frames::frame_open(word_of("native"));
        for (const Cell& a : args) stack::push_copy(a);
        refs.push_back(off);  // keeps data() valid for natives without refinements
        EXPECT_EQ(fn(false, refs.data()), Status::ok);
        EXPECT_EQ(stack::top(), stack::arg_base() + 1) << "the top must be left at base + 1";
        return *stack::arg_base();
    }

    static Cell get_value(const char* name) { return *word_t::get(word_of(name)); }
    static std::string mold_value(const char* name) { return mold_text(get_value(name)); }
    static void set_value(const char* name, const Cell& v) {
        Cell w = word_of(name);
        word_t::set(w, v);
    }
    static Cell lit(const char* name) { return word_of(name, type_lit_word); }
    static Cell object_of(const char* spec) { return call(natives::construct, {load(spec), none_cell()}, {off, off}); }
    static Cell logic(bool v) { return logic_t::value_of(v); }
};

// ---- set and the word-setting helper ----------------------------------------------

TEST_F(NativesWordsTest, SetBlockOfWords) {
    struct Case {
        const char* words;
        Cell values;
        std::vector<int32_t> refs;  // /any /case /only /some
        const char* a;
        const char* b;
    };
    Case cases[] = {
        {"a b", load("1"), {off, off, off, off}, "1", "none"},
        {"a b", int_cell(5), {off, off, off, off}, "5", "5"},
        {"a b", load("1 2"), {off, off, 2, off}, "[1 2]", "[1 2]"},
        {"a b", block_of({int_cell(1), none_cell()}), {off, off, off, 2}, "1", "7"},
        {"a b", none_cell(), {off, off, off, 2}, "7", "7"},
        {"a :b", value("(3 4)"), {off, off, off, off}, "3", "4"},
        {"a b", value("x/y"), {off, off, off, off}, "x", "y"},
        {"a", load("1 2"), {off, off, off, off}, "1", "7"},
    };
    for (const Case& c : cases) {
        set_value("a", int_cell(7));
        set_value("b", int_cell(7));
        Cell values = c.values;
        Cell r = call(natives::set, {load(c.words), values}, c.refs);
        EXPECT_EQ(mold_text(r), mold_text(values)) << c.words;
        EXPECT_EQ(mold_value("a"), c.a) << c.words << " " << mold_text(values);
        EXPECT_EQ(mold_value("b"), c.b) << c.words << " " << mold_text(values);
    }
}

TEST_F(NativesWordsTest, SetChecksEveryWordBeforeSettingAny) {
    set_value("a", int_cell(7));
    EXPECT_RAISES(call(natives::set, {load("a 1"), load("1 2")}, {off, off, off, off}), err_cat::script,
                  err_id::script::invalid_arg);
    EXPECT_EQ(mold_value("a"), "7");
    EXPECT_EQ(mold_text(errors::last_error().args[0]), "1");

    Cell with_unset = block_of({int_cell(1), Cell{type_unset, 0, 0, 0}});
    EXPECT_RAISES(call(natives::set, {load("a b"), with_unset}, {off, off, off, off}), err_cat::script,
                  err_id::script::need_value);
    EXPECT_EQ(mold_value("a"), "7");
    call(natives::set, {load("a b"), with_unset}, {2, off, off, off});
    EXPECT_EQ(mold_value("a"), "1");
    EXPECT_EQ(type_of(get_value("b")), uint32_t(type_unset));

    // One value for every word: the words are not checked first.
    EXPECT_RAISES(call(natives::set, {load("a 1"), int_cell(9)}, {off, off, off, off}), err_cat::script,
                  err_id::script::invalid_arg);
    EXPECT_EQ(mold_value("a"), "9");
}

TEST_F(NativesWordsTest, SetWordNeedsAValueUnlessAny) {
    set_value("x", int_cell(1));
    Cell nothing{type_unset, 0, 0, 0};
    EXPECT_RAISES(call(natives::set, {lit("x"), nothing}, {off, off, off, off}), err_cat::script,
                  err_id::script::need_value);
    EXPECT_EQ(mold_value("x"), "1");
    EXPECT_EQ(name_of(errors::last_error().args[0]), "x");
    // The check comes before anything is set, for blocks too.
    EXPECT_RAISES(call(natives::set, {load("x"), nothing}, {off, off, off, off}), err_cat::script,
                  err_id::script::need_value);
    EXPECT_EQ(mold_value("x"), "1");

    EXPECT_EQ(type_of(call(natives::set, {lit("x"), nothing}, {2, off, off, off})), uint32_t(type_unset));
    EXPECT_EQ(type_of(get_value("x")), uint32_t(type_unset));
    EXPECT_EQ(int_of(call(natives::set, {lit("x"), int_cell(4)}, {off, off, off, off})), 4);
    EXPECT_EQ(mold_value("x"), "4");
}

TEST_F(NativesWordsTest, SetObjectFields) {
    Cell o = object_of("a: 1 b: 2");
    call(natives::set, {o, load("10")}, {off, off, off, off});
    EXPECT_EQ(mold_text(o), "make object! [\n    a: 10\n    b: none\n]");
    call(natives::set, {o, int_cell(3)}, {off, off, off, off});
    EXPECT_EQ(mold_text(o), "make object! [\n    a: 3\n    b: 3\n]");
}

// Paths are walked by the evaluator: in get mode a function found is the
// answer, not called; in set mode the value is stored where the path leads.
TEST_F(NativesWordsTest, GetAndSetThroughPaths) {
    Cell o = object_of("a: 1 f: none");
    set_value("o", o);
    Cell f = call(natives::does, {load("99")});
    call(natives::set, {value("o/f"), f}, {off, off, off, off});
    Cell got = call(natives::get, {value("o/f")}, {off, off});
    EXPECT_EQ(type_of(got), uint32_t(type_function));
    EXPECT_EQ(got.w3, f.w3);

    EXPECT_EQ(int_of(call(natives::set, {value("'o/a"), int_cell(5)}, {off, off, off, off})), 5);
    EXPECT_EQ(int_of(call(natives::get, {value("o/a")}, {off, off})), 5);

    set_value("b", load("1 2"));
    call(natives::set, {value("b/2"), string_cell("x")}, {off, off, off, off});
    EXPECT_EQ(mold_value("b"), "[1 \"x\"]");
    // Every safe point of the walk moves every buffer: the value and the path
    // stay rooted while the code runs.
    collector::set_stress(true);
    call(natives::set, {value("b/1"), string_cell("y")}, {off, off, off, off});
    collector::set_stress(false);
    EXPECT_EQ(mold_value("b"), "[\"y\" \"x\"]");
    set_value("f", f);
    EXPECT_RAISES(call(natives::get, {value("f/x")}, {off, off}), err_cat::script, err_id::script::invalid_path_get);
    EXPECT_RAISES(call(natives::set, {value("f/x"), int_cell(1)}, {off, off, off, off}), err_cat::script,
                  err_id::script::invalid_path_set);
}

TEST_F(NativesWordsTest, SetWordsFromSeries) {
    Cell text = string_cell("xyz");
    natives_words::set_words_from_series(load("a b"), text, 2);
    EXPECT_EQ(mold_value("a"), "#\"x\"");
    EXPECT_EQ(mold_value("b"), "#\"y\"");
    natives_words::set_words_from_series(load("a b"), load("1"), 2);
    EXPECT_EQ(mold_value("b"), "none");
}

// ---- get, unset, value? -------------------------------------------------------------

TEST_F(NativesWordsTest, GetUnsetAndValueQ) {
    EXPECT_RAISES(call(natives::get, {lit("undefined-word")}, {off, off}), err_cat::script, err_id::script::no_value);
    EXPECT_EQ(type_of(call(natives::get, {lit("undefined-word")}, {1, off})), uint32_t(type_unset));
    EXPECT_EQ(call(natives::value_q, {lit("undefined-word")}).w1, 0u);

    set_value("a", int_cell(1));
    set_value("b", int_cell(2));
    EXPECT_EQ(int_of(call(natives::get, {lit("a")}, {off, off})), 1);
    EXPECT_EQ(call(natives::value_q, {lit("a")}).w1, 1u);
    EXPECT_EQ(call(natives::value_q, {int_cell(0)}).w1, 1u);

    EXPECT_EQ(type_of(call(natives::unset, {load("a 1 b")})), uint32_t(type_unset));
    EXPECT_EQ(type_of(get_value("a")), uint32_t(type_unset));
    EXPECT_EQ(type_of(get_value("b")), uint32_t(type_unset));
    set_value("a", int_cell(1));
    call(natives::unset, {word_of("a")});
    EXPECT_EQ(call(natives::value_q, {word_of("a")}).w1, 0u);

    // An object gives the block of its values.
    EXPECT_EQ(mold_text(call(natives::get, {object_of("p: 1 q: \"x\"")}, {off, off})), "[1 \"x\"]");
}

// ---- type? ----------------------------------------------------------------------------

TEST_F(NativesWordsTest, TypeQ) {
    Cell w = call(natives::type_q, {int_cell(1)}, {0});
    EXPECT_EQ(type_of(w), uint32_t(type_word));
    EXPECT_EQ(name_of(w), "integer!");
    Cell t = call(natives::type_q, {load("a")}, {off});
    EXPECT_EQ(type_of(t), uint32_t(type_datatype));
    EXPECT_EQ(t.w1, uint32_t(type_block));
}

// ---- bind, in, context? ---------------------------------------------------------------

TEST_F(NativesWordsTest, InAndBindByName) {
    Cell o = object_of("a: 1 b: 2");
    EXPECT_EQ(type_of(call(natives::in, {o, lit("missing")})), uint32_t(type_none));
    Cell b = call(natives::in, {o, lit("B")});
    EXPECT_EQ(b.w1, o.w1);
    EXPECT_EQ(int_of(*word_t::get(b)), 2);
    Cell r = call(natives::in, {o, value("/a")});
    EXPECT_EQ(type_of(r), uint32_t(type_word));
    EXPECT_EQ(int_of(*word_t::get(r)), 1);

    Cell missing = lit("missing");
    Cell same = call(natives::bind, {missing, o}, {off});
    EXPECT_EQ(std::memcmp(&same, &missing, sizeof(Cell)), 0);
    // A word names the context it is bound to.
    Cell bound = call(natives::bind, {lit("a"), b}, {off});
    EXPECT_EQ(type_of(bound), uint32_t(type_lit_word));
    EXPECT_EQ(int_of(*word_t::get(bound)), 1);
}

TEST_F(NativesWordsTest, BindBlockInPlaceOrCopy) {
    Cell o = object_of("a: 1");
    set_value("a", int_cell(100));
    Cell code = load("a [a (self)]");
    Cell copy = call(natives::bind, {code, o}, {0});
    EXPECT_EQ(int_of(*word_t::get(*memory::cell_at(code.w2, 0))), 100) << "/copy leaves the block alone";
    EXPECT_NE(copy.w2, code.w2);
    EXPECT_EQ(int_of(*word_t::get(*memory::cell_at(copy.w2, 0))), 1);

    Cell same = call(natives::bind, {code, o}, {off});
    EXPECT_EQ(same.w2, code.w2);
    Cell inner = *memory::cell_at(code.w2, 1);
    EXPECT_EQ(int_of(*word_t::get(*memory::cell_at(inner.w2, 0))), 1) << "nested blocks are bound";
    Cell paren = *memory::cell_at(inner.w2, 1);
    Cell self = *word_t::get(*memory::cell_at(paren.w2, 0));
    EXPECT_EQ(type_of(self), uint32_t(type_object));
    EXPECT_EQ(self.w1, o.w1) << "self in an object's code is the object";
}

TEST_F(NativesWordsTest, ContextQAndFunctionContexts) {
    Cell o = object_of("a: 1");
    Cell a = call(natives::in, {o, lit("a")});
    EXPECT_EQ(call(natives::context_q, {a}).w1, o.w1);
    // The global context has no owner until start-up gives it one.
    EXPECT_EQ(type_of(call(natives::context_q, {lit("a")})), uint32_t(type_none));

    Cell f = call(natives::func, {load("x"), load("x")});
    Cell x = call(natives::in, {f, lit("x")});
    ASSERT_EQ(type_of(x), uint32_t(type_lit_word));
    Cell owner = call(natives::context_q, {x});
    EXPECT_EQ(type_of(owner), uint32_t(type_function));
    EXPECT_EQ(owner.w3, f.w3);
    // Binding code to a function reaches its arguments.
    Cell code = call(natives::bind, {load("x y"), f}, {off});
    EXPECT_EQ(memory::cell_at(code.w2, 0)->w1, f.w1);
    EXPECT_NE(memory::cell_at(code.w2, 1)->w1, f.w1);
    // A native keeps no context a word can be found in.
    Cell native{type_native, natives::slot_of(14), load("spec body").w2, 0};
    EXPECT_EQ(type_of(call(natives::in, {native, lit("spec")})), uint32_t(type_none));
}

// ---- construct, extend ---------------------------------------------------------------------

TEST_F(NativesWordsTest, ConstructWithoutEvaluation) {
    Cell o = call(natives::construct, {load("a: b: yes c: off d: none e: word f:"), none_cell()}, {off, off});
    EXPECT_EQ(mold_text(o),
              "make object! [\n    a: true\n    b: true\n    c: false\n    d: none\n    e: 'word\n    f: none\n]");
    Cell only = call(natives::construct, {load("a: yes"), none_cell()}, {off, 1});
    EXPECT_EQ(mold_text(only), "make object! [\n    a: 'yes\n]");
    Cell with = call(natives::construct, {load("b: 2"), o}, {1, off});
    EXPECT_EQ(object_t::field_count(with), 6u);
    EXPECT_EQ(mold_text(*object_t::select_field(with, word_of("b"))), "2");
    EXPECT_EQ(mold_text(*object_t::select_field(o, word_of("b"))), "true") << "the prototype is copied";
}

TEST_F(NativesWordsTest, ExtendOfAnObjectIsNotDone) {
    EXPECT_RAISES(call(natives::extend, {object_of("a: 1"), load("b: 2")}, {off}), err_cat::internal,
                  err_id::internal::not_done);
}

// ---- as ---------------------------------------------------------------------------------------

TEST_F(NativesWordsTest, AsSharesTheBuffer) {
    Cell file = value("%file");
    Cell s = call(natives::as, {type_cell(type_string), file});
    EXPECT_EQ(type_of(s), uint32_t(type_string));
    EXPECT_EQ(s.w2, file.w2);
    string_t::append_text(s, "s");
    EXPECT_EQ(mold_text(file), "%files");

    Cell p = call(natives::as, {value("a/b"), load("x y")});  // the type of an example value
    EXPECT_EQ(mold_text(p), "x/y");
    EXPECT_EQ(mold_text(call(natives::as, {type_cell(type_paren), value("'a/b")})), "(a b)");

    EXPECT_RAISES(call(natives::as, {type_cell(type_block), string_cell("a")}), err_cat::script,
                  err_id::script::not_same_class);
    EXPECT_EQ(errors::last_error().args[0].w1, uint32_t(type_string));
    EXPECT_EQ(errors::last_error().args[1].w1, uint32_t(type_block));
    EXPECT_RAISES(call(natives::as, {string_cell("x"), load("a")}), err_cat::script, err_id::script::not_same_class);
}

// ---- new-line, new-line? --------------------------------------------------------------------

TEST_F(NativesWordsTest, NewLineMarkers) {
    // Which of five cells carry the marker after each call (on a clear block).
    struct Case {
        bool value;
        std::vector<int32_t> refs;  // /all /skip
        int32_t size;
        const char* marked;
    };
    Case cases[] = {
        {true, {off, off}, 0, "10000"},  {true, {2, off}, 0, "11111"},  {false, {2, off}, 0, "00000"},
        {true, {off, 2}, 2, "10101"},    {false, {off, 2}, 2, "01010"}, {true, {2, 2}, 3, "10010"},
    };
    for (const Case& c : cases) {
        Cell b = load("1 2 3 4 5");
        for (uint32_t i = 0; i < 5; ++i) memory::cell_at(b.w2, i)->header &= ~header::new_line;
        Cell size = c.refs[1] == off ? none_cell() : int_cell(c.size);
        Cell r = call(natives::new_line, {b, logic(c.value), size}, c.refs);
        EXPECT_EQ(r.w2, b.w2);
        std::string marked;
        for (uint32_t i = 0; i < 5; ++i) {
            Cell at = b;
            at.w1 = i;
            marked += call(natives::new_line_q, {at}).w1 ? '1' : '0';
        }
        EXPECT_EQ(marked, c.marked) << c.value << " " << c.size;
    }
    Cell b = load("1 2");
    EXPECT_RAISES(call(natives::new_line, {b, logic(true), int_cell(0)}, {off, 2}), err_cat::script,
                  err_id::script::out_of_range);
    Cell tail = b;
    tail.w1 = 2;
    EXPECT_EQ(call(natives::new_line, {tail, logic(true), none_cell()}, {off, off}).w1, 2u);
    EXPECT_EQ(call(natives::new_line_q, {tail}).w1, 0u);
}

// ---- func, function, does, has ---------------------------------------------------------------

TEST_F(NativesWordsTest, FunctionMakers) {
    set_value("integer!", type_cell(type_integer));  // what start-up gives the type words
    Cell spec = load("a [integer!] b");
    Cell f = call(natives::func, {spec, load("a + b")});
    EXPECT_EQ(mold_text(f), "func [a [integer!] b][a + b]");
    // The function keeps an argument block of its own.
    block_t::append_value(spec, word_of("c"));
    EXPECT_EQ(mold_text(f), "func [a [integer!] b][a + b]");

    EXPECT_EQ(mold_text(call(natives::does, {load("1")})), "func [][1]");
    EXPECT_EQ(mold_text(call(natives::has, {load("x"), load("x: 1")})), "func [/local x][x: 1]");

    Cell body = load("x: 1 foreach [i j] s [k: i] repeat n 3 [] if y [y: z: 0]");
    Cell g = call(natives::function, {load("a /local x"), body}, {off});
    EXPECT_EQ(mold_text(Cell{type_block, 0, g.w2, 0}), "[a /local x i j k n y z]");
    Cell h = call(natives::function, {load("a /extern y z"), body}, {off});
    EXPECT_EQ(mold_text(Cell{type_block, 0, h.w2, 0}), "[a /local x i j k n]");

    // An argument block at a later index: only what follows the index.
    Cell tail = load("x y");
    tail.w1 = 1;
    EXPECT_EQ(mold_text(call(natives::func, {tail, load("y")})), "func [y][y]");
}

TEST_F(NativesWordsTest, FunctionSpecErrors) {
    EXPECT_RAISES(call(natives::func, {load("a a"), load("")}), err_cat::script, err_id::script::dup_vars);
    EXPECT_RAISES(call(natives::func, {load("a \"doc\" [integer!]"), load("")}), err_cat::script,
                  err_id::script::bad_func_def);
    EXPECT_RAISES(call(natives::has, {load("x /y"), load("")}), err_cat::script, err_id::script::bad_func_def);
    EXPECT_RAISES(call(natives::function, {load("/extern 1"), load("")}, {off}), err_cat::script,
                  err_id::script::bad_func_extern);
}

}  // namespace
