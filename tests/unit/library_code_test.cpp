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
#include "runtime/memory.h"
#include "runtime/routines.h"
#include "runtime/series.h"
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

// Boot code decoded from the image is private until a function takes a
// block of it as its body: the first function made from it binds it in
// place, any later one (the same code run again) gets a copy, and so does a
// function made by code inside a taken body.
TEST_F(LibraryCodeTest, AFunctionTakesAPrivateBootBodyOnceThenCopies) {
    constexpr uint32_t decoded = memory::flag::boot_origin | memory::flag::boot_private;
    Cell body = test::load_code("[x [inner]]");
    body = *memory::cell_at(body.w2, 0);
    Cell inner = *memory::cell_at(body.w2, 1);
    memory::set_series_flags(body.w2, decoded);
    memory::set_series_flags(inner.w2, decoded);
    auto body_of = [](const Cell& body_block) {
        Cell spec = test::load_code("x");
        function_t::make_function(spec, &body_block, no_node, 0, 0, 0);
        Cell fn = *stack::top_cell();
        stack::pop_cells(1);
        return *memory::cell_at(fn.w3, function_t::record::body);
    };

    Cell first = body_of(body);
    EXPECT_EQ(first.w2, body.w2) << "taken, not copied";
    EXPECT_FALSE(memory::buffer_of(body.w2)->flags & memory::flag::boot_private);
    EXPECT_FALSE(memory::buffer_of(inner.w2)->flags & memory::flag::boot_private) << "nested code is released too";

    Cell second = body_of(body);
    EXPECT_NE(second.w2, body.w2) << "the same code a second time is copied";
    EXPECT_TRUE(memory::buffer_of(second.w2)->flags & memory::flag::boot_origin);
    EXPECT_NE(memory::cell_at(second.w2, 0)->w1, memory::cell_at(first.w2, 0)->w1) << "each bound to its own context";

    Cell other = test::load_code("[y]");
    other = *memory::cell_at(other.w2, 0);
    memory::set_series_flags(other.w2, decoded);
    Cell from_second = other;
    from_second.w1 = 1;
    EXPECT_NE(body_of(from_second).w2, other.w2) << "a body from an index is a copy";
    NodeId copy = series::copy_series_part(other.w2, 0, 1);
    EXPECT_FALSE(memory::buffer_of(copy)->flags & memory::flag::boot_private) << "a copy is held by its maker";
}

}  // namespace
}  // namespace vyr
