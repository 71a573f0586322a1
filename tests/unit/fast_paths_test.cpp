// The fast paths: integer and float arithmetic with overflow to float!,
// comparison, block pick and navigation, and the fallback to the generic
// actions (through a fake datatype) inside a frame named by the word.
#include "engine/fast_paths.h"

#include <vector>

#include "datatypes/integer.h"
#include "datatypes/actions.h"
#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;
namespace fp = vyr::fast_paths;

namespace {
constexpr uint32_t fake = 55;
uint32_t called_in = 0;  // symbol of the frame a fake action ran in
int32_t compare_answer = 0;

void note_frame() { called_in = frames::top_frame()->symbol; }
Cell* fake_add() {
    note_frame();
    Cell* b = stack::arg_base();
    *b = integer(int32_t(b[0].w2 + b[1].w2) * 10);
    return b;
}
int32_t fake_compare(Cell*, Cell*, int32_t) {
    note_frame();
    return compare_answer;
}
Cell* fake_path(Cell* parent, Cell* element, Cell*, Cell*, Cell*, Cell*, int32_t, bool, bool, bool, bool) {
    note_frame();
    *parent = integer(int_of(*element) + 100);
    return parent;
}
Cell* fake_next() {
    note_frame();
    stack::arg_base()->w2 += 1;
    return stack::arg_base();
}

Cell f(double d) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
Cell fake_value(int32_t n) { return Cell{fake, 0, uint32_t(n), 0}; }

class FastPathsTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        type_tables_init();
        std::vector<ActionFn> row(action_count, unsupported);
        row[slot_add - 1] = act(fake_add);
        row[slot_compare - 1] = act(fake_compare);
        row[slot_path_access - 1] = act(fake_path);
        row[slot_next - 1] = act(fake_next);
        register_datatype(fake, 0, "fake!", row.data(), row.size());
        actions::actions_init();
        stack::push_cell();
        frames::frame_open(word(sym_f));
        called_in = 0;
    }
    const Cell op_word = word(sym_g);
};

void expect_float(const Cell& c, double d) {
    ASSERT_EQ(type_of(c), uint32_t(type_float));
    EXPECT_EQ(cell_float(c), d);
}
}  // namespace

TEST_F(FastPathsTest, IntegerArithmeticOverflowsToFloat) {
    struct Case {
        int32_t op, a, b;
        bool overflows;
        double result;
    } cases[] = {
        {integer_t::op_add, 2, 3, false, 5},
        {integer_t::op_add, 2147483647, 1, true, 2147483648.0},
        {integer_t::op_add, -2147483647 - 1, -1, true, -2147483649.0},
        {integer_t::op_subtract, -2147483647 - 1, 1, true, -2147483649.0},
        {integer_t::op_subtract, 0, -2147483647 - 1, true, 2147483648.0},
        {integer_t::op_subtract, -5, -7, false, 2},
        {integer_t::op_multiply, -2147483647 - 1, -1, true, 2147483648.0},
        {integer_t::op_multiply, 65536, 65536, true, 4294967296.0},
        {integer_t::op_multiply, -46341, 46340, false, -2147441940},
        {integer_t::op_or, 12, 10, false, 14},
        {integer_t::op_and, 12, 10, false, 8},
        {integer_t::op_xor, 12, 10, false, 6},
    };
    for (const Case& c : cases) {
        Cell* top = stack::top();
        Cell* r = fp::fast_math(op_word, c.op, integer(c.a), integer(c.b));
        EXPECT_EQ(r, top);
        EXPECT_EQ(stack::top(), top + 1);
        if (c.overflows) expect_float(*r, c.result);
        else EXPECT_EQ(int_of(*r), int32_t(c.result)) << c.a << " op " << c.op << " " << c.b;
    }
    expect_float(*fp::fast_math(op_word, integer_t::op_add, f(1.5), f(2.25)), 3.75);
    expect_float(*fp::fast_math(op_word, integer_t::op_multiply, f(1.5), f(-2)), -3);
    EXPECT_EQ(called_in, 0u);  // no frame, no action
}

TEST_F(FastPathsTest, OtherTypesFallBackInAFrameNamedByTheWord) {
    uint32_t depth = frames::depth();
    Cell* top = stack::top();
    Cell* r = fp::fast_math_imm(op_word, integer_t::op_add, fake_value(2), 3);
    EXPECT_EQ(called_in, sym_g);
    EXPECT_EQ(frames::depth(), depth);
    EXPECT_EQ(r, top);
    EXPECT_EQ(int_of(*r), 50);

    // _top: the left operand is the top cell, and the answer replaces it.
    stack::push_copy(integer(7));
    r = fp::fast_math_top_imm(op_word, integer_t::op_subtract, 10);
    EXPECT_EQ(r, top + 1);
    EXPECT_EQ(stack::top(), top + 2);
    EXPECT_EQ(int_of(*r), -3);
    stack::push_copy(fake_value(1));
    r = fp::fast_math_top(op_word, integer_t::op_add, integer(2));
    EXPECT_EQ(r, top + 2);
    EXPECT_EQ(int_of(*r), 30);
}

TEST_F(FastPathsTest, ComparisonsOfIntegersAndThroughCompare) {
    struct Case {
        int32_t op, a, b;
        bool truth;
    } cases[] = {
        {op_equal, 3, 3, true},           {op_not_equal, 3, 3, false},      {op_strict_equal, 3, 4, false},
        {op_lesser, -1, 0, true},         {op_lesser_or_equal, 0, 0, true}, {op_greater, 0, 0, false},
        {op_greater_or_equal, 5, 4, true},
    };
    for (const Case& c : cases) {
        Cell* r = fp::fast_compare(op_word, c.op, integer(c.a), integer(c.b));
        EXPECT_EQ(type_of(*r), uint32_t(type_logic));
        EXPECT_EQ(r->w1 != 0, c.truth);
        EXPECT_EQ(fp::fast_compare_test_imm(op_word, c.op, integer(c.a), c.b, true), !c.truth);
    }
    EXPECT_EQ(called_in, 0u);

    // Other types: the type's own compare, as the comparison natives do.
    Cell* top = stack::top();
    compare_answer = 0;
    EXPECT_EQ(fp::fast_compare(op_word, op_equal, fake_value(1), fake_value(2))->w1, 1u);
    EXPECT_EQ(called_in, sym_g);
    compare_answer = -1;
    EXPECT_TRUE(fp::fast_compare_test(op_word, op_greater, fake_value(1), fake_value(2), true));
    EXPECT_EQ(stack::top(), top + 1);  // test pushes nothing

    stack::push_copy(fake_value(1));
    Cell* r = fp::fast_compare_top(op_word, op_lesser, fake_value(2));
    EXPECT_EQ(r, top + 1);
    EXPECT_EQ(r->w1, 1u);
    EXPECT_TRUE(fp::fast_compare_set_imm(op_word, op_lesser, integer(1), 2));
    EXPECT_EQ(type_of(*stack::arg_base()), uint32_t(type_logic));
    EXPECT_EQ(stack::arg_base()->w1, 1u);
}

TEST_F(FastPathsTest, PickFromBlocks) {
    Cell b = block_of({word(sym_f), word(sym_g), word(sym_h)});
    b.w1 = 1;  // [g h] from the index
    struct Case {
        int32_t n;
        uint32_t symbol;  // 0: none
    } cases[] = {{1, sym_g}, {2, sym_h}, {3, 0}, {0, 0}, {-1, 0}};
    for (const Case& c : cases) {
        Cell* r = fp::fast_pick(op_word, b, c.n);
        if (c.symbol) EXPECT_EQ(r->w2, c.symbol);
        else EXPECT_EQ(type_of(*r), uint32_t(type_none)) << c.n;
    }
    Cell* r = fp::fast_pick(op_word, fake_value(0), 5);
    EXPECT_EQ(called_in, sym_g);
    EXPECT_EQ(int_of(*r), 105);
}

TEST_F(FastPathsTest, BlockNavigation) {
    Cell b = block_of({integer(1), integer(2)});
    auto at = [&](uint32_t i) {
        Cell c = b;
        c.w1 = i;
        return c;
    };
    struct Case {
        uint32_t index;
        int32_t code;
        uint32_t type;
        int32_t answer;  // the integer, logic or new index
    } cases[] = {
        {0, fp::step::length_q, type_integer, 2}, {5, fp::step::length_q, type_integer, 0},
        {1, fp::step::index_q, type_integer, 2},  {0, fp::step::head_q, type_logic, 1},
        {1, fp::step::head_q, type_logic, 0},     {2, fp::step::tail_q, type_logic, 1},
        {1, fp::step::tail_q, type_logic, 0},     {1, fp::step::next, type_block, 2},
        {2, fp::step::next, type_block, 2},       {0, fp::step::back, type_block, 0},
        {2, fp::step::back, type_block, 1},       {2, fp::step::head, type_block, 0},
        {0, fp::step::tail, type_block, 2},
    };
    for (const Case& c : cases) {
        Cell* r = fp::fast_series_step(op_word, at(c.index), c.code);
        ASSERT_EQ(type_of(*r), c.type) << "code " << c.code << " at " << c.index;
        int32_t got = c.type == type_integer ? int_of(*r) : int32_t(r->w1);
        EXPECT_EQ(got, c.answer) << "code " << c.code << " at " << c.index;
    }
    Cell* r = fp::fast_series_step(op_word, fake_value(4), fp::step::next);
    EXPECT_EQ(called_in, sym_g);
    EXPECT_EQ(r->w2, 5u);
}

TEST_F(FastPathsTest, UnknownCodesAreRuntimeError101) {
    platform::set_output_fd(STDERR_FILENO);
    EXPECT_EXIT(fp::fast_math(op_word, 3, integer(1), integer(2)), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(fp::fast_compare(op_word, 9, integer(1), integer(2)), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(fp::fast_series_step(op_word, fake_value(0), 9), ::testing::ExitedWithCode(101), "");
    platform::set_output_fd(STDOUT_FILENO);
}

// Mixed numbers take the generic path to integer!'s own actions and agree
// with them.
class FastPathsNumbersTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        actions::actions_init();
        stack::push_cell();
        frames::frame_open(word(sym_f));
    }
};

TEST_F(FastPathsNumbersTest, MixedOperandsUseTheDatatypes) {
    Cell g = word(sym_g);
    expect_float(*fp::fast_math(g, integer_t::op_add, integer(1), f(2.5)), 3.5);
    expect_float(*fp::fast_math_imm(g, integer_t::op_multiply, f(1.5), 4), 6);
    EXPECT_EQ(fp::fast_compare(g, op_lesser, integer(1), f(1.5))->w1, 1u);
    EXPECT_EQ(fp::fast_compare_imm(g, op_equal, f(2), 2)->w1, 1u);
    EXPECT_FALSE(fp::fast_compare_test_imm(g, op_greater, f(2.5), 2, true));
    EXPECT_EQ(frames::depth(), 1u);
}
