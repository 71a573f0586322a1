// integer!: 32-bit arithmetic that turns into float! instead of wrapping,
// division and remainder rules, power, rounding, conversions, compare.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "tests/unit/number_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace it = vyr::integer_t;

namespace {

class IntegerTest : public RuntimeTest {};
using IntegerErrorTest = IntegerTest;

// A binary! value holding the bytes.
Cell binary_of(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
    NodeId node = memory::alloc_bytes(uint32_t(bytes.size()));
    uint8_t* p = series::alloc_tail_bytes(node, uint32_t(bytes.size()));
    for (uint8_t b : bytes) *p++ = b;
    return Cell{type_binary, index, node, 0};
}

Cell block_of(std::initializer_list<Cell> cells) {
    NodeId node = memory::alloc_cells(uint32_t(cells.size()) + 1);
    Cell block{type_block, 0, node, 0};
    for (const Cell& c : cells) *series::append_cell(block) = c;
    return block;
}

// The answer of an arithmetic action, as the type and the number it holds.
struct Number {
    uint32_t type;
    double value;
};
Number number_of(const Cell& c) {
    if (type_of(c) == type_integer || type_of(c) == type_char) return {type_of(c), double(it::get(c))};
    return {type_of(c), cell_float(c)};
}

Cell* (*const op_fn[])() = {it::add, it::subtract, it::multiply, it::divide, it::remainder, it::or_t, it::and_t, it::xor_t};

Cell round_int(int32_t n, const Cell* scale, float_t::RoundFlags f = {}) {
    Cell c = int_cell(n);
    Cell s = scale ? *scale : Cell{};
    return *it::round(&c, scale ? &s : nullptr, f.even, f.down, f.half_down, f.floor, f.ceiling, f.half_ceiling);
}

}  // namespace

TEST_F(IntegerTest, ArithmeticStaysIntegerOrTurnsFloat) {
    struct Case {
        int32_t a;
        int op;
        int32_t b;
        uint32_t type;
        double result;
    } cases[] = {
        {2147483647, it::op_add, 1, type_float, 2147483648.0},
        {-2147483648, it::op_subtract, 1, type_float, -2147483649.0},
        {65536, it::op_multiply, 65536, type_float, 4294967296.0},
        {-65536, it::op_multiply, 32768, type_integer, -2147483648.0},
        {2147483646, it::op_add, 1, type_integer, 2147483647.0},
        {7, it::op_divide, 2, type_float, 3.5},
        {6, it::op_divide, 2, type_integer, 3},
        {-7, it::op_divide, 2, type_float, -3.5},
        {-2147483648, it::op_divide, 2, type_integer, -1073741824},
        {-7, it::op_remainder, 2, type_integer, -1},
        {7, it::op_remainder, -2, type_integer, 1},
        {-2147483648, it::op_remainder, 3, type_integer, -2},
        {12, it::op_or, 3, type_integer, 15},
        {12, it::op_and, 6, type_integer, 4},
        {12, it::op_xor, 6, type_integer, 10},
        {-1, it::op_xor, 0, type_integer, -1},
    };
    for (const Case& c : cases) {
        Number n = number_of(call_direct(op_fn[c.op], int_cell(c.a), int_cell(c.b)));
        EXPECT_EQ(n.type, c.type) << c.a << " op " << c.op << " " << c.b;
        EXPECT_EQ(n.value, c.result) << c.a << " op " << c.op << " " << c.b;
    }
}

TEST_F(IntegerTest, SecondOperandDecidesTheArithmetic) {
    // A char! operand counts as its code point; the integer stays integer!.
    Number n = number_of(call_direct(it::add, int_cell(1), char_cell('a')));
    EXPECT_EQ(n.type, uint32_t(type_integer));
    EXPECT_EQ(n.value, 98);
    // float!, percent! and time! hand the work to float!'s core.
    n = number_of(call_direct(it::add, int_cell(1), float_cell(0.5)));
    EXPECT_EQ(n.type, uint32_t(type_float));
    EXPECT_EQ(n.value, 1.5);
    n = number_of(call_direct(it::add, int_cell(1), percent_cell(0.1)));
    EXPECT_EQ(n.type, uint32_t(type_float));
    EXPECT_DOUBLE_EQ(n.value, 1.1);
    n = number_of(call_direct(it::multiply, int_cell(2), time_cell(90)));
    EXPECT_EQ(n.type, uint32_t(type_time));
    EXPECT_EQ(n.value, 180);
    // Division by a float zero follows float!: an infinity, no error.
    n = number_of(call_direct(it::divide, int_cell(1), float_cell(0.0)));
    EXPECT_TRUE(std::isinf(n.value));
}

TEST_F(IntegerTest, CoreWithoutResultCellTruncatesAndWraps) {
    EXPECT_EQ(it::do_math_op(97, 2, it::op_divide, nullptr), 48);
    EXPECT_EQ(it::do_math_op(-7, 2, it::op_divide, nullptr), -3);
    EXPECT_EQ(it::do_math_op(INT32_MAX, 1, it::op_add, nullptr), INT32_MIN);
    // With a result cell an overflow answers 0 and the cell holds the float.
    Cell c = char_cell(1114111);
    EXPECT_EQ(it::do_math_op(INT32_MAX, 2, it::op_multiply, &c), 0);
    EXPECT_EQ(type_of(c), uint32_t(type_float));
    EXPECT_EQ(cell_float(c), 4294967294.0);
    // An integer result keeps the cell's type (char! arithmetic relies on it).
    c = char_cell('a');
    EXPECT_EQ(it::do_math_op('a', 1, it::op_add, &c), 'b');
    EXPECT_EQ(type_of(c), uint32_t(type_char));
    EXPECT_EQ(it::get(c), 'b');
}

TEST_F(IntegerErrorTest, DivisionAndOverflowErrors) {
    EXPECT_ERROR(call_direct(it::divide, int_cell(1), int_cell(0)), report::zero_divide);
    EXPECT_ERROR(call_direct(it::remainder, int_cell(1), int_cell(0)), report::zero_divide);
    EXPECT_ERROR(call_direct(it::divide, int_cell(INT32_MIN), int_cell(-1)), report::overflow);
    EXPECT_ERROR(call_direct(it::remainder, int_cell(INT32_MIN), int_cell(-1)), report::overflow);
    EXPECT_ERROR(it::do_math_op(1, 0, it::op_divide, nullptr), report::zero_divide);
    EXPECT_ERROR(
        {
            Cell c = int_cell(INT32_MIN);
            it::negate(&c);
        },
        report::overflow);
    EXPECT_ERROR(call_unary(it::absolute, int_cell(INT32_MIN)), report::overflow);
}

TEST_F(IntegerErrorTest, OperandsOfOtherTypes) {
    EXPECT_ERROR(call_direct(it::add, int_cell(1), typed_cell(type_none)), report::invalid_type);
    EXPECT_TRUE(names_type(error_arg(1), type_none));
    EXPECT_ERROR(call_direct(it::add, int_cell(1), typed_cell(type_block)), report::invalid_type);
    EXPECT_ERROR(call_direct(it::divide, int_cell(1), typed_cell(type_pair)), report::not_related);
    EXPECT_ERROR(call_direct(it::subtract, int_cell(1), typed_cell(type_tuple)), report::not_related);
    EXPECT_ERROR(call_direct(it::divide, int_cell(1), typed_cell(type_tuple)), report::not_related);
    EXPECT_ERROR(call_direct(it::multiply, int_cell(1), typed_cell(type_date)), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_integer));
    // Hand-offs to types that are not built yet.
    // money! arithmetic answers money!.
    EXPECT_EQ(type_of(call_direct(it::add, int_cell(1), typed_cell(type_money))), uint32_t(type_money));
}

TEST_F(IntegerTest, UnaryActions) {
    Cell c = int_cell(-5);
    EXPECT_EQ(it::get(*it::negate(&c)), 5);
    EXPECT_EQ(it::get(call_unary(it::absolute, int_cell(-7))), 7);
    EXPECT_EQ(it::get(call_unary(it::absolute, int_cell(INT32_MAX))), INT32_MAX);
    c = int_cell(0);
    EXPECT_EQ(it::get(*it::complement(&c)), -1);
    for (int32_t v : {-3, -2, 0, 1, 2, INT32_MIN, INT32_MAX}) {
        c = int_cell(v);
        EXPECT_EQ(it::even_q(&c), v % 2 == 0) << v;
        EXPECT_EQ(it::odd_q(&c), v % 2 != 0) << v;
    }
}

TEST_F(IntegerTest, Power) {
    struct Case {
        int32_t base;
        Cell exponent;
        uint32_t type;
        double result;
    } cases[] = {
        {2, int_cell(10), type_integer, 1024},
        {2, int_cell(0), type_integer, 1},
        {0, int_cell(0), type_integer, 1},
        {-2, int_cell(3), type_integer, -8},
        {-2, int_cell(31), type_integer, -2147483648.0},
        {46341, int_cell(1), type_integer, 46341},  // the last squaring overflows unused
        {2, int_cell(31), type_float, 2147483648.0},
        {46341, int_cell(2), type_float, 2147488281.0},
        {3, int_cell(40), type_float, std::pow(3.0, 40)},
        {2, int_cell(-1), type_float, 0.5},
        {4, float_cell(0.5), type_float, 2.0},
        {0, int_cell(-1), type_float, INFINITY},
    };
    for (const Case& c : cases) {
        Number n = number_of(call_direct(it::power, int_cell(c.base), c.exponent));
        EXPECT_EQ(n.type, c.type) << c.base;
        EXPECT_EQ(n.value, c.result) << c.base;
    }
}

TEST_F(IntegerErrorTest, PowerRefusesOtherExponents) {
    EXPECT_ERROR(call_direct(it::power, int_cell(2), percent_cell(0.5)), report::expect_arg);
    EXPECT_TRUE(names_type(error_arg(2), type_percent));
    EXPECT_ERROR(call_direct(it::power, int_cell(2), typed_cell(type_none)), report::expect_arg);
}

TEST_F(IntegerTest, Round) {
    using F = float_t::RoundFlags;
    struct Case {
        int32_t n;
        int32_t scale;
        F flags;
        int32_t result;
    } cases[] = {
        {17, 5, {}, 15},
        {18, 5, {}, 20},
        {-17, 5, {}, -15},
        {15, 10, {}, 20},
        {-15, 10, {}, -20},
        {25, 10, {.even = true}, 20},
        {35, 10, {.even = true}, 40},
        {15, 10, {.half_down = true}, 10},
        {-11, 10, {.floor = true}, -20},
        {11, 10, {.floor = true}, 10},
        {-11, 10, {.ceiling = true}, -10},
        {11, 10, {.ceiling = true}, 20},
        {19, 10, {.down = true}, 10},
        {-19, 10, {.down = true}, -10},
        {-15, 10, {.half_ceiling = true}, -10},
        {15, 10, {.half_ceiling = true}, 20},
        {17, -5, {}, 15},  // the scale's sign does not matter
        {5, 0, {}, 5},
        {2147483647, 1, {}, 2147483647},
        {-2147483647, 10, {.down = true}, -2147483640},
    };
    for (const Case& c : cases) {
        Cell scale = int_cell(c.scale);
        Cell r = round_int(c.n, &scale, c.flags);
        EXPECT_EQ(type_of(r), uint32_t(type_integer)) << c.n << " " << c.scale;
        EXPECT_EQ(it::get(r), c.result) << c.n << " " << c.scale;
    }
    EXPECT_EQ(it::get(round_int(INT32_MIN, nullptr)), INT32_MIN);
    EXPECT_EQ(it::get(round_int(7, nullptr)), 7);
    // A float scale rounds through float!.
    Cell scale = float_cell(2.5);
    Number n = number_of(round_int(7, &scale));
    EXPECT_EQ(n.type, uint32_t(type_float));
    EXPECT_EQ(n.value, 7.5);
}

TEST_F(IntegerErrorTest, RoundPastTheRangeOverflows) {
    Cell ten = int_cell(10), min = int_cell(INT32_MIN);
    EXPECT_ERROR(round_int(2147483647, &ten), report::overflow);
    EXPECT_ERROR(round_int(5, &min), report::overflow);
    EXPECT_ERROR(round_int(-2147483647, &ten, {.floor = true}), report::overflow);
    Cell money = typed_cell(type_money);
    EXPECT_ERROR(round_int(5, &money), report::not_related);
}

TEST_F(IntegerTest, ToAndMake) {
    struct Case {
        Cell spec;
        int32_t result;
    } cases[] = {
        {int_cell(-9), -9},
        {char_cell(0x10FFFF), 0x10FFFF},
        {float_cell(3.99), 3},
        {float_cell(-3.99), -3},
        {float_cell(2147483647.0), 2147483647},
        {float_cell(-2147483648.0), INT32_MIN},
        {float_cell(-0.0), 0},
        {percent_cell(12.7), 12},
        {time_cell(3600.6), 3601},
        {time_cell(-1.5), -1},
        {binary_of({1, 2, 3, 4}), 0x01020304},
        {binary_of({1, 2}), 258},
        {binary_of({0xFF, 0xFF, 0xFF, 0xFF, 9}), -1},
        {binary_of({7, 1, 2}, 1), 258},
        {binary_of({}), 0},
    };
    for (const Case& c : cases) {
        Cell result = typed_cell(type_datatype);
        Cell spec = c.spec;
        it::to(&result, &spec, type_integer);
        EXPECT_EQ(type_of(result), uint32_t(type_integer));
        EXPECT_EQ(it::get(result), c.result) << type_of(c.spec);
    }
    Cell result{}, yes{type_logic, 1, 0, 0}, no{type_logic, 0, 0, 0};
    EXPECT_EQ(it::get(*it::make(&result, &yes, type_integer)), 1);
    EXPECT_EQ(it::get(*it::make(&result, &no, type_integer)), 0);
    Cell f = float_cell(65.9);
    EXPECT_EQ(it::get(*it::make(&result, &f, type_integer)), 65);
}

TEST_F(IntegerErrorTest, ToRefusesWhatDoesNotFit) {
    Cell result{};
    for (double x : {2147483647.5, 2147483648.0, -2147483649.0, double(NAN), double(INFINITY)}) {
        Cell spec = float_cell(x);
        EXPECT_ERROR(it::to(&result, &spec, type_integer), report::type_limit);
        EXPECT_TRUE(names_type(error_arg(1), type_integer));
    }
    Cell long_time = time_cell(2147483647.5);
    EXPECT_ERROR(it::to(&result, &long_time, type_integer), report::type_limit);
    Cell none = typed_cell(type_none);
    EXPECT_ERROR(it::to(&result, &none, type_integer), report::bad_to_arg);
    EXPECT_TRUE(names_type(error_arg(1), type_integer));
    EXPECT_EQ(type_of(error_arg(2)), uint32_t(type_none));
    Cell block = block_of({int_cell(1)});
    EXPECT_ERROR(it::make(&result, &block, type_integer), report::bad_to_arg);
}

TEST_F(IntegerTest, DecimalText) {
    struct Case {
        int32_t v;
        const char* text;
    } cases[] = {{0, "0"}, {7, "7"}, {-7, "-7"}, {1000, "1000"}, {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const Case& c : cases) EXPECT_EQ(it::to_text(c.v).view(), c.text);
}

TEST_F(IntegerTest, FormAndMold) {
    for (int32_t v : {0, -1, 42, INT32_MAX, INT32_MIN}) {
        int32_t left;
        std::string text = formed(int_cell(v), false, &left);
        EXPECT_EQ(text, std::to_string(v));
        EXPECT_EQ(left, 1000 - int32_t(text.size()));
        EXPECT_EQ(molded(int_cell(v)), text);
    }
}

TEST_F(IntegerTest, Compare) {
    using namespace registry;
    struct Case {
        int32_t a;
        Cell b;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {1, int_cell(2), op_lesser, -1},
        {2, int_cell(1), op_greater, 1},
        {-1, int_cell(1), op_lesser, -1},
        {5, int_cell(5), op_strict_equal, 0},
        {97, char_cell(97), op_equal, 0},
        {97, char_cell(97), op_strict_equal, 1},
        {97, char_cell(97), op_find, 1},
        {1, float_cell(1.0), op_equal, 0},
        {1, float_cell(1.0), op_strict_equal, 1},
        {1, float_cell(1.0000000000000002), op_equal, 0},
        {1, float_cell(1.5), op_lesser, -1},
        {60, time_cell(60), op_equal, 0},
        {1, float_cell(NAN), op_equal, 1},
        {1, typed_cell(type_none), op_equal, registry::not_comparable},
        {1, typed_cell(type_block), op_lesser, registry::not_comparable},
    };
    for (const Case& c : cases) {
        Cell a = int_cell(c.a), b = c.b;
        EXPECT_EQ(it::compare(&a, &b, c.op), c.answer) << c.a << " op " << c.op;
        EXPECT_EQ(type_of(a), uint32_t(type_integer));
    }
}

TEST_F(IntegerTest, Random) {
    Cell c = int_cell(5);
    EXPECT_EQ(type_of(*it::random(&c, true, false, false)), uint32_t(type_unset));
    c = int_cell(0);
    EXPECT_EQ(it::get(*it::random(&c, false, false, false)), 0);
    std::set<int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        c = int_cell(-3);
        seen.insert(it::get(*it::random(&c, false, i % 2 == 0, false)));
    }
    EXPECT_EQ(seen, (std::set<int32_t>{-3, -2, -1}));
    // Seeding repeats the sequence.
    auto draws = [] {
        Cell s = int_cell(42);
        it::random(&s, true, false, false);
        std::vector<int32_t> out;
        for (int i = 0; i < 5; ++i) {
            Cell v = int_cell(1000000);
            out.push_back(it::get(*it::random(&v, false, false, false)));
        }
        return out;
    };
    EXPECT_EQ(draws(), draws());
    // char! inherits random and keeps its type.
    c = char_cell('z');
    it::random(&c, false, false, false);
    EXPECT_EQ(type_of(c), uint32_t(type_char));
    EXPECT_GE(it::get(c), 1);
    EXPECT_LE(it::get(c), 'z');
}

TEST_F(IntegerTest, HelpersAndRegistration) {
    Cell* p = it::push(12);
    EXPECT_EQ(type_of(*p), uint32_t(type_integer));
    stack::set_arg_base(p);
    EXPECT_EQ(it::arg_value(), 12);
    EXPECT_EQ(it::arg_value_or_0(), 12);
    *p = float_cell(3.0);
    EXPECT_EQ(it::arg_value_or_0(), 0);
    EXPECT_EQ(it::get(*it::box(-4)), -4);
    EXPECT_EQ(it::sign(-9), -1);
    EXPECT_EQ(it::sign(0), 0);
    EXPECT_EQ(it::sign(INT32_MAX), 1);
    Cell block = block_of({});
    it::load_in(block, 77);
    EXPECT_EQ(memory::series_length(block.w2), 1u);
    EXPECT_EQ(it::get(*memory::cell_head(block.w2)), 77);

    EXPECT_EQ(registry::get_action(type_integer, registry::slot_add), registry::act(it::add));
    EXPECT_EQ(registry::get_action(type_integer, registry::slot_append), registry::unsupported);
    EXPECT_STREQ(registry::type_name(type_integer).name, "integer!");
}

TEST_F(IntegerTest, FromText) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {{"1'000", 1000}, {"-42", -42}, {"+7", 7}, {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}};
    for (const Case& c : cases) {
        Cell result = typed_cell(type_datatype), spec = test::text_cell(c.text);
        EXPECT_EQ(integer_t::get(*it::to(&result, &spec, type_integer)), c.value) << c.text;
    }
    for (const char* bad : {"12a", "", "-", "2147483648", "1.5"}) {
        Cell result = typed_cell(type_datatype), spec = test::text_cell(bad);
        EXPECT_ERROR(it::to(&result, &spec, type_integer), report::bad_to_arg);
    }
}

TEST_F(IntegerTest, FromIssueReadsHex) {
    Cell result = typed_cell(type_datatype);
    Cell ff = issue_t::load_text("FF"), eight = issue_t::load_text("7fffFFFF");
    EXPECT_EQ(integer_t::get(*it::to(&result, &ff, type_integer)), 255);
    EXPECT_EQ(integer_t::get(*it::to(&result, &eight, type_integer)), 2147483647);
    for (const char* bad : {"123456789", "12G"}) {
        Cell spec = issue_t::load_text(bad);
        EXPECT_ERROR(it::to(&result, &spec, type_integer), report::invalid_data);
    }
}
