// point2D! and point3D!: arithmetic in single and double precision, the
// hand-offs from integer! and float!, make/to, near-equality and ordering,
// form/mold, path access, pick, round per component, random and the errors.
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"

#include <cmath>

#include "tests/unit/scalar_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
using PointTest = ScalarTest;

struct MathCase {
    const char* a;
    uint32_t slot;
    const char* b;
    const char* result;
};
}  // namespace

TEST_F(PointTest, Arithmetic) {
    MathCase cases[] = {
        {"(1, 2)", slot_add, "1x2", "(2, 4)"},
        {"(1, 2)", slot_multiply, "2.5", "(2.5, 5)"},
        {"(1, 2)", slot_multiply, "50%", "(0.5, 1)"},
        {"(1, 2)", slot_subtract, "(0.5, 0.25)", "(0.5, 1.75)"},
        {"(7, 8)", slot_remainder, "3", "(1, 2)"},
        {"(1, 2)", slot_divide, "4", "(0.25, 0.5)"},
        {"(1, -2)", slot_divide, "0.0", "(1.#INF, -1.#INF)"},  // a float divisor: no zero test
        {"(1, 2)", slot_add, "0.5", "(1.5, 2.5)"},
        {"(1, 2, 3)", slot_add, "(1, 1, 1)", "(2, 3, 4)"},
        {"(1, 2, 3)", slot_multiply, "2", "(2, 4, 6)"},
        {"(1, 2, 3)", slot_divide, "0.0", "(1.#INF, 1.#INF, 1.#INF)"},
        {"(1, 2, 3)", slot_remainder, "2", "(1, 0, 1)"},
        // A number first: the operands are swapped; integer - point is -point + integer.
        {"2", slot_multiply, "(1, 2)", "(2, 4)"},
        {"1", slot_subtract, "(1, 2)", "(0, -1)"},
        {"1.5", slot_multiply, "(1, 2)", "(1.5, 3)"},
        {"1", slot_subtract, "(1, 2, 3)", "(0, -1, -2)"},
        {"0.5", slot_add, "(1, 2, 3)", "(1.5, 2.5, 3.5)"},
    };
    for (const MathCase& c : cases) EXPECT_EQ(result(c.a, c.slot, c.b), c.result) << c.a << " " << c.slot << " " << c.b;
}

TEST_F(PointTest, ArithmeticErrors) {
    EXPECT_ERROR(call(slot_divide, "(1, 2)", "0"), report::zero_divide);
    EXPECT_ERROR(call(slot_remainder, "(1, 2)", "0.0"), report::zero_divide);
    EXPECT_ERROR(call(slot_divide, "(1, 2)", "(1, 0)"), report::zero_divide);
    EXPECT_ERROR(call(slot_divide, "(1, 2, 3)", "0"), report::zero_divide);
    EXPECT_ERROR(call(slot_add, "(1, 2)", "\"a\""), report::invalid_type);
    EXPECT_ERROR(call(slot_add, "(1, 2)", "(1, 2, 3)"), report::invalid_type);
    EXPECT_ERROR(call(slot_add, "(1, 2, 3)", "1x1"), report::invalid_type);
    EXPECT_ERROR(call(slot_add, "(1, 2, 3)", "(1, 1)"), report::invalid_type);
    EXPECT_ERROR(call(slot_divide, "1", "(1, 2)"), report::not_related);
    EXPECT_ERROR(call(slot_subtract, "1.5", "(1, 2, 3)"), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_point3d));
}

TEST_F(PointTest, UnaryActions) {
    Cell z = call(slot_negate, {value("(0, 0)")});
    EXPECT_EQ(z.w1, 0u);  // 0.0 - 0.0: no negative zeros
    EXPECT_EQ(z.w2, 0u);
    EXPECT_EQ(result(slot_negate, "(1, -2, 0)"), "(-1, 2, 0)");
    EXPECT_EQ(result(slot_absolute, "(-1.5, 2)"), "(1.5, 2)");
    EXPECT_EQ(result(slot_absolute, "(-1, -2, -3)"), "(1, 2, 3)");
    EXPECT_EQ(result(slot_reverse, "(3, 4)"), "(4, 3)");
    EXPECT_EQ(result(slot_reverse, "(1, 2, 3)"), "(3, 2, 1)");
}

TEST_F(PointTest, MakeAndTo) {
    struct Case {
        uint32_t type;
        const char* spec;
        const char* result;
    } cases[] = {
        {type_point2d, "3", "(3, 3)"},
        {type_point2d, "0.1", "(0.1, 0.1)"},
        {type_point2d, "1x2", "(1, 2)"},
        {type_point2d, "[1 2.5 3]", "(1, 2.5)"},
        {type_point2d, "\"(1, 2)\"", "(1, 2)"},
        {type_point2d, "(5, 6)", "(5, 6)"},
        {type_point3d, "3", "(3, 3, 3)"},
        {type_point3d, "1x2", "(1, 2, 0)"},
        {type_point3d, "(1, 2)", "(1, 2, 0)"},
        {type_point3d, "[1 2 3 4]", "(1, 2, 3)"},
        {type_point3d, "\"(1, 2, 3)\"", "(1, 2, 3)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mold(call(slot_make, {datatype(c.type), value(c.spec)})), c.result) << c.spec;
        EXPECT_EQ(mold(call(slot_to, {datatype(c.type), value(c.spec)})), c.result) << c.spec;
    }
    for (const char* spec : {"[1]", "[1 a]"})
        EXPECT_RAISES(call(slot_make, {datatype(type_point2d), value(spec)}), err_cat::syntax,
                      err_id::syntax::malconstruct);
    for (const char* spec : {"[1 2]", "[1 2 none]"})
        EXPECT_RAISES(call(slot_make, {datatype(type_point3d), value(spec)}), err_cat::syntax,
                      err_id::syntax::malconstruct);
    EXPECT_ERROR(call(slot_make, {datatype(type_point2d), value("\"1x2\"")}), report::bad_to_arg);
    EXPECT_ERROR(call(slot_make, {datatype(type_point2d), value("(1, 2, 3)")}), report::bad_to_arg);
    EXPECT_ERROR(call(slot_make, {datatype(type_point3d), value("none")}), report::bad_to_arg);
    EXPECT_TRUE(names_type(error_arg(1), type_point3d));
}

TEST_F(PointTest, NearEqualityAndOrdering) {
    // A few units in the last place apart: equal, but not strictly.
    Cell exact = value("(0.3, 2)");
    Cell near = point2d_t::cell_of(std::nextafter(std::nextafter(0.3f, 1.0f), 1.0f), 2.0f);
    EXPECT_TRUE(actions::compare(&near, &exact, op_equal));
    EXPECT_FALSE(actions::compare(&near, &exact, op_not_equal));
    EXPECT_FALSE(actions::compare(&near, &exact, op_strict_equal));
    EXPECT_FALSE(actions::compare(&near, &exact, op_same));
    Cell far = point2d_t::cell_of(0.3001f, 2.0f);
    EXPECT_FALSE(actions::compare(&far, &exact, op_equal));
    Cell negative_zero = point2d_t::cell_of(-0.0f, 2.0f), zero = point2d_t::cell_of(0.0f, 2.0f);
    EXPECT_TRUE(actions::compare(&negative_zero, &zero, op_strict_equal));
    EXPECT_FALSE(actions::compare(&negative_zero, &zero, op_same));

    EXPECT_TRUE(compare("(1, 5)", "(2, 0)", op_lesser));
    EXPECT_TRUE(compare("(1, 5)", "(1, 4)", op_greater));
    EXPECT_TRUE(compare("(1, 2)", "1x2", op_equal));
    EXPECT_TRUE(compare("(1, 2, 3)", "(1, 2, 4)", op_lesser));
    EXPECT_TRUE(compare("(1, 3, 0)", "(1, 2, 4)", op_greater));
    EXPECT_FALSE(compare("(1, 2, 3)", "1x2", op_equal));
    EXPECT_FALSE(compare("(1, 2, 0)", "(1, 2)", op_equal));
    EXPECT_FALSE(compare("(1.#NaN, 1)", "(1.#NaN, 1)", op_equal));
}

TEST_F(PointTest, FormAndMold) {
    EXPECT_EQ(mold(value("(0.1, -2)")), "(0.1, -2)");
    EXPECT_EQ(form(value("(1.5, 2, 3)")), "(1.5, 2, 3)");
    EXPECT_EQ(mold(value("(3.14159265, 1e10)")), "(3.141593, 1e10)");  // seven significant digits
    EXPECT_EQ(budget_left("(1.5, 20)", true), 1000 - 3 - 2 - 4);
    EXPECT_EQ(budget_left("(1, 2, 3)", false), 1000 - 3 - 6);
}

TEST_F(PointTest, PathAccessAndPick) {
    Cell p = value("(3, 4)");
    EXPECT_EQ(mold(path_get(p, value("x"))), "3.0");
    EXPECT_EQ(mold(path_get(p, integer(2))), "4.0");
    EXPECT_EQ(mold(path_set(p, value("Y"), integer(9))), "(3, 9)");
    EXPECT_EQ(mold(path_set(p, integer(1), value("0.5"))), "(0.5, 4)");
    EXPECT_ERROR(path_set(p, value("x"), value("1x1")), report::invalid_type);
    EXPECT_ERROR(path_get(p, integer(3)), report::invalid_path);
    EXPECT_ERROR(path_get(p, value("z")), report::invalid_path);

    Cell q = value("(1, 2, 3)");
    EXPECT_EQ(mold(path_get(q, value("z"))), "3.0");
    EXPECT_EQ(mold(path_set(q, integer(3), integer(7))), "(1, 2, 7)");
    EXPECT_ERROR(path_get(q, integer(4)), report::invalid_path);
    EXPECT_ERROR(path_get(q, value("w")), report::invalid_path);

    EXPECT_EQ(mold(call(slot_pick, {p, value("'y")})), "4.0");
    EXPECT_EQ(mold(call(slot_pick, {q, integer(3)})), "3.0");
    for (int32_t bad : {0, 3}) EXPECT_ERROR(call(slot_pick, {p, integer(bad)}), report::out_of_range);
    for (int32_t bad : {0, 4}) EXPECT_ERROR(call(slot_pick, {q, integer(bad)}), report::out_of_range);
    EXPECT_ERROR(call(slot_pick, {p, value("'z")}), report::cannot_use);
    EXPECT_TRUE(names_type(error_arg(2), type_point2d));
    EXPECT_ERROR(call(slot_pick, {q, value("'w")}), report::cannot_use);
}

TEST_F(PointTest, RoundPerComponent) {
    auto round_to = [](const char* v, const char* scale) {
        return mold(call(slot_round, {value(v), value(scale)}, {1}));
    };
    EXPECT_EQ(round_to("(1.26, 3.74)", "(0.5, 1)"), "(1.5, 4)");
    EXPECT_EQ(round_to("(1.26, 3.74)", "2x1"), "(2, 4)");
    EXPECT_EQ(round_to("(1.26, 3.74)", "0.1"), "(1.3, 3.7)");
    EXPECT_EQ(round_to("(1.26, 2.5, 3.74)", "(0.5, 1)"), "(1.5, 3, 3.74)");  // z keeps its value: scale 0.0
    EXPECT_EQ(round_to("(1.26, 2.5, 3.74)", "(0.5, 1, 2)"), "(1.5, 3, 4)");
    EXPECT_EQ(result(slot_round, "(1.5, -2.5)"), "(2, -3)");
    EXPECT_EQ(mold(call(slot_round, {value("(1.5, -2.5)")}, {-1, 0})), "(2, -2)");  // /even
    EXPECT_ERROR(call(slot_round, {value("(1, 2, 3)"), value("1x1")}, {1}), report::expect_arg);  // no pair scale
}

TEST_F(PointTest, Random) {
    for (int i = 0; i < 50; ++i) {
        Cell r = call(slot_random, {value("(10, 0)")});
        float x = point2d_t::x_of(r);
        EXPECT_TRUE(x >= 0.0f && x <= 10.0f) << x;
        EXPECT_EQ(point2d_t::y_of(r), 0.0f);
        r = call(slot_random, {value("(0, -1, 0)")});
        EXPECT_TRUE(point3d_t::y_of(r) <= 0.0f && point3d_t::y_of(r) >= -1.0f);
        EXPECT_EQ(point3d_t::z_of(r), 0.0f);
    }
    Cell a = call(slot_random, {value("(1, 2)")}, {0});
    EXPECT_EQ(type_of(a), uint32_t(type_unset));
    Cell first = call(slot_random, {value("(1000, 1000, 1000)")});
    call(slot_random, {value("(1, 2)")}, {0});
    EXPECT_EQ(mold(call(slot_random, {value("(1000, 1000, 1000)")})), mold(first));
}
