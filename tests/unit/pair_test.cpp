// pair!: arithmetic (with its hand-off to point2D!), make/to, compare,
// form/mold, path access, pick, round, random and the errors; and the
// literals of every scalar type the lexer builds.
#include "datatypes/pair.h"

#include "runtime/random.h"
#include "tests/unit/scalar_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
using PairTest = ScalarTest;

struct MathCase {
    const char* a;
    uint32_t slot;
    const char* b;
    const char* result;
};

struct ErrorCase {
    const char* a;
    uint32_t slot;
    const char* b;
    ErrorId error;
};
}  // namespace

TEST_F(PairTest, Arithmetic) {
    MathCase cases[] = {
        {"10x20", slot_add, "1", "11x21"},
        {"10x20", slot_subtract, "1x2", "9x18"},
        {"10x20", slot_multiply, "2x3", "20x60"},
        {"10x20", slot_divide, "3", "3x6"},
        {"10x20", slot_remainder, "3x7", "1x6"},
        {"6x5", slot_and_t, "3", "2x1"},
        {"6x5", slot_or_t, "3", "7x7"},
        {"6x5", slot_xor_t, "3", "5x6"},
        // A float multiplier or divisor gives a point; other float operands are truncated.
        {"10x20", slot_multiply, "0.5", "(5, 10)"},
        {"10x20", slot_multiply, "50%", "(5, 10)"},
        {"10x20", slot_divide, "4.0", "(2.5, 5)"},
        {"10x20", slot_add, "0.7", "10x20"},
        {"10x20", slot_subtract, "1.9", "9x19"},
        {"10x20", slot_add, "(0.5, 1)", "(10.5, 21)"},
        // An overflowing component continues in point2D!.
        {"2147483647x0", slot_add, "1", "(2.147484e9, 1)"},
        {"-2147483648x1", slot_divide, "-1", "(2.147484e9, -1)"},
        {"65536x1", slot_multiply, "65536", "(4.294967e9, 65536)"},
        // A number first: the operands are swapped (integer - pair is -pair + integer).
        {"1", slot_add, "10x20", "11x21"},
        {"1", slot_subtract, "10x20", "-9x-19"},
        {"3", slot_multiply, "1x2", "3x6"},
        {"0.5", slot_multiply, "10x20", "(5, 10)"},
    };
    for (const MathCase& c : cases) EXPECT_EQ(result(c.a, c.slot, c.b), c.result) << c.a << " " << c.slot << " " << c.b;
}

TEST_F(PairTest, ArithmeticErrors) {
    ErrorCase cases[] = {
        {"10x20", slot_divide, "0", report::zero_divide},
        {"10x20", slot_remainder, "1x0", report::zero_divide},
        {"10x20", slot_add, "\"a\"", report::invalid_type},
        {"10x20", slot_add, "(1, 2, 3)", report::invalid_type},
        {"10x20", slot_multiply, "1.#INF", report::invalid_arg},
        {"10x20", slot_divide, "1.#NaN", report::invalid_arg},
        {"10x20", slot_add, "-1.#INF", report::invalid_arg},
        {"1", slot_divide, "2x2", report::not_related},
        {"1.5", slot_subtract, "2x2", report::not_related},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " " + c.b);
        EXPECT_ERROR(call(c.slot, c.a, c.b), c.error);
    }
    // A float divisor of zero is no error: the point gets infinities.
    EXPECT_EQ(result("1x-1", slot_divide, "0.0"), "(1.#INF, -1.#INF)");
}

TEST_F(PairTest, UnaryActions) {
    EXPECT_EQ(result(slot_reverse, "1x2"), "2x1");
    EXPECT_EQ(result(slot_negate, "1x-2"), "-1x2");
    EXPECT_EQ(result(slot_negate, "-2147483648x0"), "-2147483648x0");  // two's complement
    EXPECT_EQ(result(slot_absolute, "-3x4"), "3x4");
    EXPECT_ERROR(call(slot_absolute, {value("-2147483648x0")}), report::overflow);
}

TEST_F(PairTest, MakeAndTo) {
    struct Case {
        const char* spec;
        const char* result;
    } cases[] = {
        {"5", "5x5"},      {"-2.9", "-2x-2"},          {"[1 2.9]", "1x2"},  {"[3 4 5]", "3x4"},
        {"\"3x4\"", "3x4"}, {"(1.5, -2.5)", "1x-2"}, {"7x8", "7x8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mold(call(slot_make, {datatype(type_pair), value(c.spec)})), c.result) << c.spec;
        EXPECT_EQ(mold(call(slot_to, {datatype(type_pair), value(c.spec)})), c.result) << c.spec;
    }
    Cell bad_block = value("[1]");
    EXPECT_RAISES(call(slot_make, {datatype(type_pair), bad_block}), err_cat::syntax, err_id::syntax::malconstruct);
    EXPECT_TRUE(names_type(error_arg(1), type_pair));
    EXPECT_RAISES(call(slot_make, {datatype(type_pair), value("[1 a]")}), err_cat::syntax,
                  err_id::syntax::malconstruct);
    EXPECT_ERROR(call(slot_to, {datatype(type_pair), value("\"abc\"")}), report::bad_to_arg);
    EXPECT_ERROR(call(slot_to, {datatype(type_pair), value("\"1.5\"")}), report::bad_to_arg);
    EXPECT_ERROR(call(slot_to, {datatype(type_pair), value("none")}), report::bad_to_arg);
    EXPECT_ERROR(call(slot_to, {datatype(type_pair), value("(1.#INF, 0)")}), report::invalid_arg);
}

TEST_F(PairTest, CompareOrdersByXThenY) {
    EXPECT_TRUE(compare("1x5", "2x0", op_lesser));
    EXPECT_TRUE(compare("2x1", "2x3", op_lesser));
    EXPECT_TRUE(compare("2x3", "2x3", op_equal));
    EXPECT_TRUE(compare("2x3", "2x3", op_strict_equal));
    EXPECT_TRUE(compare("1x2", "(1, 2)", op_equal));  // compared as points
    EXPECT_TRUE(compare("1x2", "(1, 3)", op_lesser));
    EXPECT_FALSE(compare("1x2", "1", op_equal));
    EXPECT_ERROR(compare("1x2", "1", op_lesser), ErrorId({err_cat::script, err_id::script::invalid_compare}));
}

TEST_F(PairTest, FormAndMold) {
    EXPECT_EQ(mold(value("-5x0")), "-5x0");
    EXPECT_EQ(form(value("10X20")), "10x20");
    EXPECT_EQ(budget_left("-2147483648x7", false), 1000 - 13);
    EXPECT_EQ(budget_left("1x2", true), 997);
    EXPECT_EQ(mold_part(value("123x456"), 5), "123x4");
}

TEST_F(PairTest, PathAccessAndPick) {
    Cell p = value("3x4");
    EXPECT_EQ(mold(path_get(p, value("x"))), "3");
    EXPECT_EQ(mold(path_get(p, value("Y"))), "4");
    EXPECT_EQ(mold(path_get(p, integer(2))), "4");
    EXPECT_EQ(mold(path_set(p, value("y"), integer(9))), "3x9");
    EXPECT_EQ(mold(path_set(p, integer(1), integer(-1))), "-1x4");
    EXPECT_ERROR(path_set(p, value("x"), value("1.5")), report::invalid_type);
    EXPECT_ERROR(path_get(p, integer(3)), report::invalid_path);
    EXPECT_ERROR(path_get(p, value("z")), report::invalid_path);
    EXPECT_ERROR(path_get(p, value("\"x\"")), report::invalid_path);

    EXPECT_EQ(mold(call(slot_pick, {p, integer(1)})), "3");
    EXPECT_EQ(mold(call(slot_pick, {p, value("'y")})), "4");
    EXPECT_ERROR(call(slot_pick, {p, integer(0)}), report::out_of_range);
    EXPECT_EQ(int_of(error_arg(1)), 0);
    EXPECT_ERROR(call(slot_pick, {p, value("'z")}), report::cannot_use);
    EXPECT_TRUE(names_type(error_arg(2), type_pair));
}

TEST_F(PairTest, RoundPerComponent) {
    auto round_to = [](const char* v, const char* scale) {
        return mold(call(slot_round, {value(v), value(scale)}, {1}));
    };
    EXPECT_EQ(round_to("14x26", "10"), "10x30");
    EXPECT_EQ(round_to("14x26", "10x4"), "10x28");
    EXPECT_EQ(round_to("7x8", "2.5"), "7x7");  // 7.5 and 7.5, truncated
    EXPECT_EQ(mold(call(slot_round, {value("15x-25"), value("10")}, {1, -1, 1})), "10x-20");  // /down
    EXPECT_EQ(result(slot_round, "3x4"), "3x4");
}

TEST_F(PairTest, Random) {
    for (int i = 0; i < 50; ++i) {
        Cell r = call(slot_random, {value("10x0")});
        ASSERT_EQ(type_of(r), uint32_t(type_pair));
        EXPECT_GE(pair_t::x_of(r), 1);
        EXPECT_LE(pair_t::x_of(r), 10);
        EXPECT_EQ(pair_t::y_of(r), 0);
        r = call(slot_random, {value("-3x3")});
        EXPECT_TRUE(pair_t::x_of(r) >= -3 && pair_t::x_of(r) <= -1);
    }
    Cell seeded = call(slot_random, {value("3x5")}, {0});
    EXPECT_EQ(type_of(seeded), uint32_t(type_unset));
    Cell first = call(slot_random, {value("1000x1000")});
    random::random_seed(3 ^ 5);
    Cell again = call(slot_random, {value("1000x1000")});
    EXPECT_EQ(mold(first), mold(again));
}

// The lexer builds each scalar literal through its module; mold gives the
// source text back.
TEST_F(PairTest, ScalarLiteralsLoadAndMoldBack) {
    Cell p = value("-10X20");
    EXPECT_EQ(type_of(p), uint32_t(type_pair));
    EXPECT_EQ(pair_t::x_of(p), -10);
    EXPECT_EQ(pair_t::y_of(p), 20);
    struct Case {
        const char* source;
        uint32_t type;
    } cases[] = {
        {"10x-20", type_pair}, {"1.2.3.4", type_tuple}, {"12.5%", type_percent}, {"(1.5, -2)", type_point2d},
        {"(1, 2, 3)", type_point3d}, {"<b>", type_tag}, {"a@b.c", type_email}, {"@ref", type_ref},
    };
    for (const auto& c : cases) {
        Cell v = value(c.source);
        EXPECT_EQ(type_of(v), c.type) << c.source;
        EXPECT_EQ(mold(v), c.source);
    }
}
