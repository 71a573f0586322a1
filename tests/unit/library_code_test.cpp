// Code decoded from the boot image runs as compiled code: the frames it
// opens carry no interpreter bit, so `system/state/interpreted?` (a walk of
// those bits) answers false while only library code is on the call stack,
// and true as soon as the user's code is below. Here the boot-origin flag is
// set by hand on loaded blocks.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/frames.h"
#include "datatypes/function.h"
#include "engine/eval.h"
#include "runtime/routines.h"
#include "tests/unit/eval_fixture.h"

namespace vyr {
namespace {

std::string seen;  // what the probe routine saw, one letter per call: T or F

Status interpreted_probe(Cell* args, uint32_t) {
    seen += frames::frame_interpreted_q(nullptr, false) ? 'T' : 'F';
    args[0] = Cell{type_none, 0, 0, 0};
    return Status::ok;
}

class LibraryCodeTest : public test::EvalFixture {
public:
    void SetUp() override {
        test::EvalFixture::SetUp();
        define_type_words();
        int32_t index = routines::add("interpreted-probe", interpreted_probe);
        Cell spec = test::load_code("");
        set_global("probe-frames", *routine_t::make_routine(spec, nullptr, index, -1, true));
        stack::pop_cells(1);
        seen.clear();
    }

    static Cell library(Cell block) {
        memory::set_series_flags(block.w2, memory::flag::boot_origin);
        return block;
    }
    // A function whose body is library code (its body is copied when the
    // function is made: the copy must stay library code).
    static void define_library_function(const char* name, const char* body_text) {
        Cell spec = test::load_code("");
        Cell body = library(test::load_code(body_text));
        function_t::make_function(spec, &body, no_node, 0, 0, 0);
        set_global(name, *stack::top_cell());
        stack::pop_cells(1);
    }
    static void run(const Cell& block) {
        stack::Mark mark;
        Cell* held = stack::push_copy(block);
        ASSERT_EQ(eval::do_block(*held), Status::ok);
        mark.restore();
    }
};

TEST_F(LibraryCodeTest, InterpretedAnswersFromTheKindOfCodeThatOpenedTheFrames) {
    define_library_function("lib", "probe-frames");
    define_function("user", "", "probe-frames");
    define_library_function("lib-calls-user", "user");
    struct Case {
        const char* code;
        bool from_library;
        const char* expected;
    } cases[] = {
        {"probe-frames", false, "T"},
        {"probe-frames", true, "F"},
        {"lib", true, "F"},             // library code all the way
        {"lib", false, "T"},            // the user's code called the library function
        {"user", true, "T"},            // the user's function body is the user's code
        {"lib-calls-user", true, "T"},
    };
    for (const Case& c : cases) {
        seen.clear();
        Cell block = test::load_code(c.code);
        run(c.from_library ? library(block) : block);
        EXPECT_EQ(seen, c.expected) << c.code << (c.from_library ? " from library code" : "");
    }
}

TEST_F(LibraryCodeTest, LibraryFunctionBodiesStayLibraryCodeWhenCopied) {
    define_library_function("lib", "probe-frames [probe-frames]");
    Cell fn = *word_t::get(word_t::make_global("lib"));
    Cell body = *memory::cell_at(fn.w3, function_t::record::body);
    EXPECT_TRUE(memory::buffer_of(body.w2)->flags & memory::flag::boot_origin);
    Cell nested = *memory::cell_at(body.w2, 1);
    EXPECT_TRUE(memory::buffer_of(nested.w2)->flags & memory::flag::boot_origin);
}

}  // namespace
}  // namespace vyr
