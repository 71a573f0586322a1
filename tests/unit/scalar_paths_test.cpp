// Set-paths into the scalars that live in their cell (pair!, tuple! and the
// points), run by the evaluator: the changed value lands where it is held,
// in a word, an object field (whose on-change* sees it) or a block cell.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/number_fixture.h"

namespace vyr {
namespace {

Cell load(const std::string& text) { return test::load_code(text); }

class ScalarPathTest : public test::EvalFixture {
public:
    void SetUp() override {
        test::EvalFixture::SetUp();
        define_callable(type_action, "make", "type spec", registry::slot_make - 1);
        set_global("object!", Cell{type_datatype, type_object, 0, 0});
    }


    // Evaluates the text; answers the mold of its value.
    std::string run(const std::string& text) {
        Cell code = load(text);
        stack::stack_reset();
        Cell* base = stack::push_cell();
        *base = Cell{type_none, 0, 0, 0};
        Status s = Status::ok;
        try {
            s = eval::eval_block(frames::markers().body, code, false);
        } catch (const Unwind&) {
            ADD_FAILURE() << text << ": " << errors::message_line(errors::last_error());
            stack::set_top(base);
            return "";
        }
        EXPECT_EQ(s, Status::ok) << text;
        Cell result = *stack::top_cell();
        std::string text_out = test::molded(result);
        stack::set_top(base);
        return text_out;
    }
};

TEST_F(ScalarPathTest, TheChangedValueLandsWhereItIsHeld) {
    struct Case {
        const char* code;
        const char* value;
    } cases[] = {
        {"p: 3x4 p/x: 5 p", "5x4"},
        {"p: 3x4 p/y: 5", "5"},
        {"t: 1.2.3.4 t/2: 9 t/4: #(none) t", "1.9.3"},
        {"q: (1, 2, 3) q/z: 7 q", "(1, 2, 7)"},
        {"b: [a 1x2 (1, 2)] b/2/y: 9 b/3/x: 0 b", "[a 1x9 (0, 2)]"},
        {"b: [a 1x2] b/a/x: 5 b", "[a 5x2]"},
        {"o: make object! [size: 10x20] o/size/x: 1 o/size", "1x20"},
        {"o: make object! [c: 1.2.3] o/c/1: 0 o/c", "0.2.3"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.value) << c.code;
}

TEST_F(ScalarPathTest, AnObjectFieldRunsItsChangeHandler) {
    define_function("watch", "word old new", "seen-word: word seen-old: old seen-new: new");
    run("o: make object! [size: 10x20 on-change*: :watch] o/size/x: 1");
    EXPECT_EQ(run("seen-word"), "size");
    EXPECT_EQ(run("seen-old"), "10x20");
    EXPECT_EQ(run("seen-new"), "1x20");
    EXPECT_EQ(run("o/size"), "1x20");
}

}  // namespace
}  // namespace vyr
