// float!: the float core with its mixed-type arithmetic, near-equality and
// compare, rounding, make/to, and the formatting option.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "tests/unit/number_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace ft = vyr::float_t;
namespace it = vyr::integer_t;

namespace {

class FloatTest : public RuntimeTest {
protected:
    void TearDown() override {
        ft::pretty_print = true;
        RuntimeTest::TearDown();
    }
};
using FloatErrorTest = FloatTest;

Cell* (*const op_fn[])() = {ft::add, ft::subtract, ft::multiply, ft::divide, ft::remainder};

Cell binary_of(std::initializer_list<uint8_t> bytes) {
    NodeId node = memory::alloc_bytes(uint32_t(bytes.size()));
    uint8_t* p = series::alloc_tail_bytes(node, uint32_t(bytes.size()));
    for (uint8_t b : bytes) *p++ = b;
    return Cell{type_binary, 0, node, 0};
}

Cell block_of(std::initializer_list<Cell> cells, uint32_t type = type_block) {
    NodeId node = memory::alloc_cells(uint32_t(cells.size()) + 1);
    Cell block{type, 0, node, 0};
    for (const Cell& c : cells) *series::append_cell(block) = c;
    return block;
}

Cell make_float(const Cell& spec, uint32_t type = type_float) {
    Cell result = typed_cell(type_datatype);
    Cell s = spec;
    return *ft::make(&result, &s, type);
}

Cell round_float(const Cell& n, const Cell* scale, ft::RoundFlags f = {}) {
    Cell c = n;
    Cell s = scale ? *scale : Cell{};
    return *ft::round(&c, scale ? &s : nullptr, f.even, f.down, f.half_down, f.floor, f.ceiling, f.half_ceiling);
}

uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

// Same double, bit for bit (so NaN equals NaN and -0.0 differs from 0.0).
#define EXPECT_SAME_DOUBLE(a, b) EXPECT_EQ(bits(a), bits(b)) << (a) << " vs " << (b)

}  // namespace

TEST_F(FloatTest, ArithmeticAndResultTypes) {
    struct Case {
        Cell a;
        int op;
        Cell b;
        uint32_t type;
        double result;
    } cases[] = {
        {float_cell(1.5), it::op_add, float_cell(2.25), type_float, 3.75},
        {float_cell(1.5), it::op_add, int_cell(2), type_float, 3.5},
        {float_cell(1.0), it::op_add, char_cell('a'), type_float, 98.0},
        {float_cell(1.5), it::op_add, time_cell(60), type_time, 61.5},
        {percent_cell(0.1), it::op_add, int_cell(1), type_percent, 1.1},
        {percent_cell(0.1), it::op_multiply, time_cell(3600), type_time, 360},
        {time_cell(60), it::op_multiply, percent_cell(0.5), type_time, 30},
        {float_cell(7.0), it::op_subtract, float_cell(0.5), type_float, 6.5},
        {float_cell(1.0), it::op_divide, int_cell(4), type_float, 0.25},
        {float_cell(1.0), it::op_divide, int_cell(0), type_float, INFINITY},
        {float_cell(-1.0), it::op_divide, float_cell(0.0), type_float, -INFINITY},
        {float_cell(0.0), it::op_divide, float_cell(0.0), type_float, NAN},
        {float_cell(5.5), it::op_remainder, int_cell(2), type_float, 1.5},
        {float_cell(-5.5), it::op_remainder, int_cell(2), type_float, -1.5},
        {float_cell(5.0), it::op_remainder, int_cell(0), type_float, NAN},
        {float_cell(5.0), it::op_remainder, float_cell(INFINITY), type_float, 5.0},
        {float_cell(5.0), it::op_remainder, float_cell(-INFINITY), type_float, 5.0},
        {float_cell(INFINITY), it::op_remainder, float_cell(INFINITY), type_float, NAN},
        {float_cell(INFINITY), it::op_remainder, float_cell(2.0), type_float, NAN},
        {float_cell(5.0), it::op_remainder, float_cell(NAN), type_float, NAN},
    };
    for (const Case& c : cases) {
        Cell r = call_direct(op_fn[c.op], c.a, c.b);
        EXPECT_EQ(type_of(r), c.type) << "op " << c.op;
        if (std::isnan(c.result))
            EXPECT_TRUE(std::isnan(cell_float(r))) << "op " << c.op;
        else
            EXPECT_DOUBLE_EQ(cell_float(r), c.result) << "op " << c.op;
    }
}

TEST_F(FloatErrorTest, OperandsOfOtherTypes) {
    EXPECT_ERROR(call_direct(ft::add, time_cell(1), char_cell('a')), report::invalid_type);
    EXPECT_ERROR(call_direct(ft::add, percent_cell(1), char_cell('a')), report::invalid_type);
    EXPECT_ERROR(call_direct(ft::add, float_cell(1), typed_cell(type_none)), report::invalid_type);
    EXPECT_ERROR(call_direct(ft::subtract, float_cell(1), typed_cell(type_pair)), report::not_related);
    EXPECT_ERROR(call_direct(ft::divide, float_cell(1), typed_cell(type_point2d)), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_point2d));
    // A time! with a pair! is no pair arithmetic at all.
    EXPECT_ERROR(call_direct(ft::subtract, time_cell(1), typed_cell(type_pair)), report::invalid_type);
    EXPECT_ERROR(call_direct(ft::add, float_cell(1), typed_cell(type_money)), report::not_done);
    EXPECT_ERROR(ft::do_math_op(1.0, 2.0, it::op_xor), report::cannot_use);
    EXPECT_TRUE(names_type(error_arg(2), type_float));
}

TEST_F(FloatTest, NearEquality) {
    const double one_ulp_up = std::nextafter(1.0, 2.0);
    double ten_up = 1.0, eleven_up;
    for (int i = 0; i < 10; ++i) ten_up = std::nextafter(ten_up, 2.0);
    eleven_up = std::nextafter(ten_up, 2.0);
    struct Case {
        double a, b;
        bool near;
    } cases[] = {
        {0.1 + 0.2, 0.3, true},
        {1.0, one_ulp_up, true},
        {1.0, ten_up, true},
        {1.0, eleven_up, false},
        {0.0, -0.0, true},
        {1e-17, -1e-17, true},         // closer than the epsilon
        {DBL_MIN, -DBL_MIN, true},
        {-1.0, -ten_up, true},
        {1.0, -1.0, false},
        {1e300, 1.0000000000001e300, false},
        {INFINITY, INFINITY, true},
        {INFINITY, DBL_MAX, true},      // one unit apart
        {NAN, NAN, false},
        {NAN, 1.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ft::almost_equal_q(c.a, c.b), c.near) << c.a << " " << c.b;
        EXPECT_EQ(ft::almost_equal_q(c.b, c.a), c.near) << c.b << " " << c.a;
    }

    float f = 1.0f, f10 = f, f11;
    for (int i = 0; i < 10; ++i) f10 = std::nextafter(f10, 2.0f);
    f11 = std::nextafter(f10, 2.0f);
    EXPECT_TRUE(ft::float32_almost_equal_q(f, f10));
    EXPECT_FALSE(ft::float32_almost_equal_q(f, f11));
    EXPECT_TRUE(ft::float32_almost_equal_q(0.0f, -0.0f));
    EXPECT_FALSE(ft::float32_almost_equal_q(NAN, NAN));
    EXPECT_TRUE(ft::float32_almost_equal_q(INFINITY, FLT_MAX));  // beyond the finite range: coarse test
    EXPECT_FALSE(ft::float32_almost_equal_q(INFINITY, -INFINITY));
    EXPECT_FALSE(ft::float32_almost_equal_q(FLT_MAX, 1e30f));
}

TEST_F(FloatTest, Compare) {
    using namespace registry;
    struct Case {
        Cell a;
        Cell b;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), op_equal, 0},
        {float_cell(0.1 + 0.2), float_cell(0.3), op_not_equal, 0},
        {float_cell(0.1 + 0.2), float_cell(0.3), op_strict_equal, 1},
        {float_cell(0.3), float_cell(0.3), op_strict_equal, 0},
        {float_cell(0.1 + 0.2), float_cell(0.3), op_lesser, 1},  // order is exact
        {float_cell(1.0), int_cell(1), op_equal, 0},
        {float_cell(1.0), int_cell(1), op_strict_equal, 1},
        {float_cell(1.0), int_cell(1), op_find, 1},
        {float_cell(60), time_cell(60), op_same, 1},
        {float_cell(0.0), float_cell(-0.0), op_same, 1},
        {float_cell(0.0), float_cell(-0.0), op_strict_equal, 0},
        {float_cell(NAN), float_cell(NAN), op_equal, 1},
        {float_cell(NAN), float_cell(NAN), op_strict_equal, 1},
        {float_cell(NAN), float_cell(NAN), op_same, 0},
        {float_cell(NAN), float_cell(1.0), op_lesser, 1},
        {float_cell(NAN), float_cell(1.0), op_lesser_or_equal, 1},
        {float_cell(NAN), float_cell(1.0), op_greater, -1},
        {float_cell(1.0), float_cell(NAN), op_greater_or_equal, -1},
        {float_cell(NAN), float_cell(1.0), op_sort, 0},
        {float_cell(2.0), float_cell(1.0), op_greater, 1},
        {percent_cell(0.5), float_cell(0.5), op_equal, 0},
        {time_cell(90), int_cell(90), op_equal, 0},
        {float_cell(1.0), char_cell(1), op_equal, registry::not_comparable},
        {float_cell(1.0), typed_cell(type_none), op_lesser, registry::not_comparable},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(ft::compare(&a, &b, c.op), c.answer) << cell_float(c.a) << " op " << c.op;
    }
}

TEST_F(FloatTest, Round) {
    using F = ft::RoundFlags;
    struct Case {
        Cell n;
        const Cell* scale;
        F flags;
        uint32_t type;
        double result;
    };
    const Cell hundredth = float_cell(0.01), one = int_cell(1), half = float_cell(0.5), ten = int_cell(10),
               minute = time_cell(60), percent_scale = percent_cell(0.5), tiny = float_cell(1e-320),
               negative_tenth = float_cell(-0.1);
    const Case cases[] = {
        {float_cell(2.5), nullptr, {}, type_float, 3.0},
        {float_cell(-2.5), nullptr, {}, type_float, -3.0},
        {float_cell(2.4), nullptr, {}, type_float, 2.0},
        {float_cell(2.5), nullptr, {.even = true}, type_float, 2.0},
        {float_cell(3.5), nullptr, {.even = true}, type_float, 4.0},
        {float_cell(-2.7), nullptr, {.down = true}, type_float, -2.0},
        {float_cell(-2.1), nullptr, {.floor = true}, type_float, -3.0},
        {float_cell(-2.9), nullptr, {.ceiling = true}, type_float, -2.0},
        {float_cell(-2.5), nullptr, {.half_ceiling = true}, type_float, -2.0},
        {float_cell(2.5), nullptr, {.half_ceiling = true}, type_float, 3.0},
        {float_cell(2.5), nullptr, {.half_down = true}, type_float, 2.0},
        {float_cell(3.14159), &hundredth, {}, type_float, 3.14},
        {float_cell(3.14159), &negative_tenth, {}, type_float, 3.1},
        {float_cell(2.6), &one, {}, type_integer, 3},
        {float_cell(-2.6), &one, {}, type_integer, -3},
        {float_cell(7.3), &half, {}, type_float, 7.5},
        {float_cell(1234.5), &ten, {}, type_integer, 1230},
        {float_cell(100.0), &minute, {}, type_time, 120},
        {percent_cell(0.125), nullptr, {}, type_percent, 0.13},
        {percent_cell(0.1234), &percent_scale, {}, type_percent, 0.125},
        {float_cell(1e300), nullptr, {}, type_float, 1e300},       // below the value's precision
        {float_cell(0.5), &tiny, {}, type_float, 0.5},
        {float_cell(3e-320), &tiny, {}, type_float, 3e-320},       // a subnormal scale
        {float_cell(2.5e-320), &tiny, {}, type_float, 3e-320},
        {float_cell(2.5), &hundredth, {}, type_float, 2.5},
    };
    for (const Case& c : cases) {
        Cell r = round_float(c.n, c.scale, c.flags);
        EXPECT_EQ(type_of(r), c.type) << cell_float(c.n);
        double v = type_of(r) == type_integer ? double(it::get(r)) : cell_float(r);
        EXPECT_DOUBLE_EQ(v, c.result) << cell_float(c.n);
    }
    // A zero scale leaves the value as it is (it would divide by zero).
    Cell zero = float_cell(0.0);
    EXPECT_EQ(cell_float(round_float(float_cell(0.0), &zero)), 0.0);
    EXPECT_EQ(cell_float(round_float(float_cell(5e-324), &zero)), 5e-324);
}

TEST_F(FloatErrorTest, RoundErrors) {
    Cell huge = float_cell(1e308), one = int_cell(1), money = typed_cell(type_money);
    EXPECT_ERROR(round_float(float_cell(1.5e308), &huge), report::overflow);
    EXPECT_ERROR(round_float(float_cell(3e9), &one), report::overflow);  // no integer! holds it
    EXPECT_ERROR(round_float(float_cell(1.5), &money), report::not_related);
}

TEST_F(FloatTest, MakeAndTo) {
    struct Case {
        Cell spec;
        uint32_t target;
        double result;
    } cases[] = {
        {int_cell(-3), type_float, -3.0},
        {char_cell('A'), type_float, 65.0},
        {percent_cell(0.25), type_float, 0.25},
        {float_cell(0.25), type_percent, 0.25},
        {time_cell(90.5), type_float, 90.5},
        {int_cell(5), type_percent, 5.0},
        {binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), type_float, 1.0},
        {binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), type_float, 1.0},
        {binary_of({1}), type_float, 5e-324},
        {binary_of({}), type_float, 0.0},
        {block_of({int_cell(1), int_cell(3)}), type_float, 1000.0},
        {block_of({float_cell(1.5), int_cell(-2)}), type_float, 0.015},
        {block_of({int_cell(2), float_cell(2.9)}, type_paren), type_float, 200.0},
    };
    for (const Case& c : cases) {
        Cell r = make_float(c.spec, c.target);
        EXPECT_EQ(type_of(r), c.target);
        EXPECT_DOUBLE_EQ(cell_float(r), c.result) << type_of(c.spec);
    }
}

TEST_F(FloatErrorTest, MakeRefuses) {
    EXPECT_ERROR(make_float(block_of({int_cell(1), int_cell(2), int_cell(3)}), type_percent), report::bad_to_arg);
    EXPECT_TRUE(names_type(error_arg(1), type_percent));
    EXPECT_EQ(type_of(error_arg(2)), uint32_t(type_block));
    EXPECT_ERROR(make_float(block_of({int_cell(1), typed_cell(type_none)})), report::bad_to_arg);
    EXPECT_ERROR(make_float(typed_cell(type_none)), report::bad_to_arg);
    EXPECT_ERROR(make_float(Cell{type_logic, 1, 0, 0}), report::bad_to_arg);
}

TEST_F(FloatTest, UnaryActionsAndPower) {
    Cell c = float_cell(0.0);
    EXPECT_SAME_DOUBLE(cell_float(*ft::negate(&c)), 0.0);
    c = float_cell(-0.0);
    EXPECT_SAME_DOUBLE(cell_float(*ft::negate(&c)), 0.0);
    c = float_cell(1.5);
    EXPECT_SAME_DOUBLE(cell_float(*ft::negate(&c)), -1.5);
    EXPECT_SAME_DOUBLE(cell_float(call_unary(ft::absolute, float_cell(-0.0))), 0.0);
    EXPECT_SAME_DOUBLE(cell_float(call_unary(ft::absolute, float_cell(-INFINITY))), INFINITY);
    Cell t = call_unary(ft::absolute, time_cell(-90));
    EXPECT_EQ(type_of(t), uint32_t(type_time));
    EXPECT_EQ(cell_float(t), 90);

    struct Parity {
        double x;
        bool even;
    } parities[] = {{2.9, true}, {-3.5, false}, {0.0, true}, {1.0, false}, {NAN, true}, {1e20, true}};
    for (const Parity& p : parities) {
        c = float_cell(p.x);
        EXPECT_EQ(ft::even_q(&c), p.even) << p.x;
        EXPECT_EQ(ft::odd_q(&c), !p.even) << p.x;
    }

    EXPECT_EQ(cell_float(call_direct(ft::power, float_cell(2.0), int_cell(3))), 8.0);
    EXPECT_EQ(cell_float(call_direct(ft::power, float_cell(9.0), float_cell(0.5))), 3.0);
    EXPECT_EQ(cell_float(call_direct(ft::power, float_cell(0.0), int_cell(-1))), INFINITY);
}

TEST_F(FloatErrorTest, PowerRefusesOtherExponents) {
    EXPECT_ERROR(call_direct(ft::power, float_cell(2.0), time_cell(3)), report::expect_arg);
}

TEST_F(FloatTest, Random) {
    Cell c = float_cell(1.5);
    EXPECT_EQ(type_of(*ft::random(&c, true, false, false)), uint32_t(type_unset));
    auto draws = [] {
        Cell s = float_cell(1.5);
        ft::random(&s, true, false, false);
        std::vector<double> out;
        for (int i = 0; i < 50; ++i) {
            Cell v = float_cell(10.0);
            out.push_back(cell_float(*ft::random(&v, false, i % 2 == 1, false)));
        }
        return out;
    };
    std::vector<double> first = draws();
    for (double d : first) {
        EXPECT_GE(d, 0.0);
        EXPECT_LE(d, 10.0);
    }
    std::vector<double> second = draws();
    for (size_t i = 0; i < first.size(); i += 2) EXPECT_EQ(first[i], second[i]);  // the seeded draws
    c = percent_cell(0.5);
    ft::random(&c, false, false, false);
    EXPECT_EQ(type_of(c), uint32_t(type_percent));
}

TEST_F(FloatTest, PrettyOptionSwitchesTheFormedText) {
    using float_text::FloatKind;
    EXPECT_EQ(ft::format_float(0.1 + 0.7, FloatKind::float64).view(), "0.8");
    EXPECT_EQ(ft::format_float(1e-20, FloatKind::float64).view(), "0.0");
    EXPECT_EQ(ft::format_float(-0.0, FloatKind::float64).view(), "0.0");
    ft::pretty_print = false;
    EXPECT_EQ(ft::format_float(0.1 + 0.7, FloatKind::float64).view(), "0.7999999999999999");
    EXPECT_EQ(ft::format_float(1e-20, FloatKind::float64).view(), "1.0e-20");
}

TEST_F(FloatTest, FormAndMold) {
    struct Case {
        double x;
        const char* form;
        const char* mold;
    } cases[] = {
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {0.1, "0.1", "0.1"},
        {1.0, "1.0", "1.0"},
        {100.0, "100.0", "100.0"},
        {1e20, "1.0e20", "1.0e20"},
        {1.5e-7, "1.5e-7", "0.00000015"},
        {1e-7, "1.0e-7", "0.0000001"},
        {1.5e-8, "1.5e-8", "1.5e-8"},
        {1.0 / 3, "0.3333333333333333", "0.3333333333333333"},
        {-2.5, "-2.5", "-2.5"},
        {0.0, "0.0", "0.0"},
        {INFINITY, "1.#INF", "1.#INF"},
        {-INFINITY, "-1.#INF", "-1.#INF"},
        {NAN, "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        int32_t left;
        EXPECT_EQ(formed(float_cell(c.x), false, &left), c.form);
        EXPECT_EQ(left, 1000 - int32_t(strlen(c.form)));
        EXPECT_EQ(formed(float_cell(c.x), true, &left), c.mold);
        EXPECT_EQ(left, 1000 - int32_t(strlen(c.mold)));
    }
    // Division by zero shows in the text, never as an error.
    EXPECT_EQ(molded(call_direct(ft::divide, float_cell(-1.0), int_cell(0))), "-1.#INF");
    EXPECT_EQ(formed(call_direct(ft::remainder, float_cell(5.0), int_cell(0))), "1.#NaN");
    // The pretty option rules form only.
    EXPECT_EQ(formed(float_cell(1e-20)), "0.0");
    EXPECT_EQ(molded(float_cell(1e-20)), "1.0e-20");
    ft::pretty_print = false;
    EXPECT_EQ(formed(float_cell(1e-20)), "1.0e-20");
}

TEST_F(FloatTest, HelpersAndRegistration) {
    EXPECT_TRUE(ft::float_nan_q(NAN));
    EXPECT_FALSE(ft::float_nan_q(INFINITY));
    EXPECT_TRUE(ft::float_nan_or_inf_q(-INFINITY));
    EXPECT_FALSE(ft::float_nan_or_inf_q(DBL_MAX));
    EXPECT_TRUE(ft::float32_nan_q(NAN));
    EXPECT_SAME_DOUBLE(ft::float_abs(-2.5), 2.5);

    Cell* p = ft::push_words(0, 0x3FF00000);
    EXPECT_EQ(ft::get(*p), 1.0);
    stack::set_arg_base(p);
    EXPECT_EQ(ft::get(*ft::box(2.5)), 2.5);
    Cell c = int_cell(3);
    ft::make_at(&c, 0.5);
    EXPECT_EQ(type_of(c), uint32_t(type_float));
    EXPECT_EQ(ft::get(c), 0.5);

    // time! inherits negate and remainder from float!.
    EXPECT_EQ(registry::get_action(type_time, registry::slot_negate), registry::act(ft::negate));
    EXPECT_EQ(registry::get_action(type_time, registry::slot_remainder), registry::act(ft::remainder));
    EXPECT_EQ(registry::get_action(type_float, registry::slot_to), registry::act(ft::make));
    EXPECT_EQ(registry::get_action(type_float, registry::slot_and_t), registry::unsupported);
}

TEST_F(FloatTest, FromText) {
    EXPECT_EQ(ft::get(make_float(test::text_cell("1,5"))), 1.5);
    EXPECT_EQ(ft::get(make_float(test::text_cell("-2.5e3"))), -2500.0);
    for (const char* bad : {"", "abc", "1.5x"}) EXPECT_ERROR(make_float(test::text_cell(bad)), report::bad_to_arg);
}
