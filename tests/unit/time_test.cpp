// time!: its text, make/to, fields, path access and pick, arithmetic through
// float!'s core, even?/odd? and round.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "tests/unit/number_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace tt = vyr::time_t;
namespace ft = vyr::float_t;

namespace {

class TimeTest : public RuntimeTest {
protected:
    void TearDown() override {
        ft::pretty_print = true;
        RuntimeTest::TearDown();
    }
};
using TimeErrorTest = TimeTest;

Cell block_of(std::initializer_list<Cell> cells) {
    NodeId node = memory::alloc_cells(uint32_t(cells.size()) + 1);
    Cell block{type_block, 0, node, 0};
    for (const Cell& c : cells) *series::append_cell(block) = c;
    return block;
}

Cell make_time(const Cell& spec) {
    Cell result = typed_cell(type_datatype);
    Cell s = spec;
    return *tt::make(&result, &s, type_time);
}

constexpr double h = 3600, m = 60;

Cell path_get(const Cell& time, const Cell& element) {
    Cell t = time, e = element, path = typed_cell(type_path);
    return *tt::path_access(&t, &e, nullptr, &path, nullptr, nullptr, -1, false, true, false, false);
}

// Sets a field through the path; answers the changed time.
Cell path_set(const Cell& time, const Cell& element, const Cell& value) {
    Cell t = time, e = element, v = value, path = typed_cell(type_path);
    tt::path_access(&t, &e, &v, &path, nullptr, nullptr, -1, false, false, false, false);
    return t;
}

}  // namespace

TEST_F(TimeTest, Text) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {h + 2 * m + 3, "1:02:03"},
        {0, "0:00:00"},
        {-0.0, "0:00:00"},
        {0.5, "0:00:00.5"},
        {-(h + 30 * m), "-1:30:00"},
        {100 * h, "100:00:00"},
        {5.25, "0:00:05.25"},
        {12 * m + 59.5, "0:12:59.5"},
        {1e-7, "0:00:00"},
        {0.000001, "0:00:00.000001"},
        {10 * h + 1.25, "10:00:01.25"},
        {-0.25, "-0:00:00.25"},
        {2147483647.0 * h, "2147483647:00:00"},
        {2147483648.0 * h + 61, "2147483648:01:01"},  // past 32-bit hours
        {INFINITY, "1.#INF"},
        {-INFINITY, "-1.#INF"},
        {NAN, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_EQ(tt::to_text(c.seconds).view(), c.text) << c.seconds;
}

TEST_F(TimeTest, FormAndMold) {
    int32_t left;
    EXPECT_EQ(formed(time_cell(h + 30 * m), false, &left), "1:30:00");
    EXPECT_EQ(left, 1000 - 7);
    EXPECT_EQ(molded(time_cell(-(h + 30 * m))), "-1:30:00");
    EXPECT_EQ(molded(time_cell(5.25)), "0:00:05.25");
    // A time divided by zero is infinite.
    EXPECT_EQ(molded(call_direct(tt::divide, time_cell(h), int_cell(0))), "1.#INF");
}

// Time arithmetic as it reaches the text.
TEST_F(TimeTest, ArithmeticText) {
    Cell t = call_direct(tt::add, time_cell(h), time_cell(30 * m));
    EXPECT_EQ(molded(t), "1:30:00");
    t = call_direct(tt::subtract, time_cell(h), time_cell(90 * m));
    EXPECT_EQ(molded(t), "-0:30:00");
    t = call_direct(integer_t::multiply, int_cell(3), time_cell(20 * m + 0.5));
    EXPECT_EQ(molded(t), "1:00:01.5");
}

TEST_F(TimeTest, MakeAndTo) {
    struct Case {
        Cell spec;
        double seconds;
    } cases[] = {
        {block_of({int_cell(1), int_cell(2), int_cell(3)}), h + 2 * m + 3},
        {block_of({int_cell(-1), int_cell(30)}), -(h + 30 * m)},
        {block_of({int_cell(1), int_cell(2), float_cell(3.5)}), h + 2 * m + 3.5},
        {block_of({int_cell(0), int_cell(90)}), 90 * m},
        {block_of({int_cell(5)}), 5 * h},
        {block_of({}), 0},
        {int_cell(90), 90},
        {float_cell(1.5), 1.5},
        {percent_cell(0.5), 0.5},
        {time_cell(-7), -7},
    };
    for (const Case& c : cases) {
        Cell r = make_time(c.spec);
        EXPECT_EQ(type_of(r), uint32_t(type_time));
        EXPECT_EQ(ft::get(r), c.seconds);
    }
}

TEST_F(TimeErrorTest, MakeRefuses) {
    EXPECT_ERROR(make_time(block_of({int_cell(1), int_cell(-2)})), report::bad_to_arg);
    EXPECT_ERROR(make_time(block_of({int_cell(1), int_cell(2), int_cell(-3)})), report::bad_to_arg);
    EXPECT_ERROR(make_time(block_of({int_cell(1), int_cell(2), int_cell(3), int_cell(4)})), report::bad_to_arg);
    EXPECT_ERROR(make_time(block_of({float_cell(1.5)})), report::bad_to_arg);
    EXPECT_ERROR(make_time(block_of({int_cell(1), typed_cell(type_none)})), report::bad_to_arg);
    EXPECT_ERROR(make_time(typed_cell(type_none)), report::bad_to_arg);
    EXPECT_ERROR(make_time(char_cell('a')), report::bad_to_arg);
    EXPECT_TRUE(names_type(error_arg(1), type_time));
    EXPECT_EQ(type_of(error_arg(2)), uint32_t(type_char));
}

TEST_F(TimeTest, FieldsPathAndPick) {
    const Cell t = time_cell(-(h + 30 * m));
    EXPECT_EQ(tt::hours(ft::get(t)), -1);
    EXPECT_EQ(tt::minutes(ft::get(t)), 30);
    Cell f = path_get(t, int_cell(1));
    EXPECT_EQ(type_of(f), uint32_t(type_integer));
    EXPECT_EQ(integer_t::get(f), -1);
    EXPECT_EQ(integer_t::get(path_get(t, int_cell(2))), 30);
    f = path_get(time_cell(h + 30.5), int_cell(3));
    EXPECT_EQ(type_of(f), uint32_t(type_float));
    EXPECT_EQ(ft::get(f), 30.5);
    EXPECT_EQ(ft::get(path_get(t, int_cell(3))), -0.0);

    const Cell base = time_cell(h + 20 * m + 10);
    EXPECT_EQ(ft::get(path_set(base, int_cell(2), int_cell(45))), h + 45 * m + 10);
    EXPECT_EQ(ft::get(path_set(base, int_cell(1), int_cell(3))), 3 * h + 20 * m + 10);
    EXPECT_EQ(ft::get(path_set(base, int_cell(3), float_cell(1.5))), h + 20 * m + 1.5);
    EXPECT_EQ(ft::get(path_set(base, int_cell(3), int_cell(0))), h + 20 * m);

    Cell p = time_cell(h + 2 * m + 3);
    f = *tt::pick(&p, 3, nullptr);
    EXPECT_EQ(type_of(f), uint32_t(type_float));
    EXPECT_EQ(ft::get(f), 3.0);
    p = time_cell(h + 2 * m + 3);
    Cell index = int_cell(2);
    EXPECT_EQ(integer_t::get(*tt::pick(&p, 2, &index)), 2);
}

TEST_F(TimeTest, FieldsByWord) {
    const Cell t = time_cell(h + 2 * m + 3);
    EXPECT_EQ(integer_t::get(path_get(t, word_t::make_global("hour"))), 1);
    EXPECT_EQ(integer_t::get(path_get(t, word_t::make_global("MINUTE"))), 2);  // any letter case
    EXPECT_EQ(ft::get(path_set(t, word_t::make_global("second"), int_cell(9))), h + 2 * m + 9);
    Cell p = t;
    Cell index = word_t::make_global("second");
    EXPECT_EQ(ft::get(*tt::pick(&p, 0, &index)), 3.0);
}

TEST_F(TimeErrorTest, PathAndPickRefuse) {
    EXPECT_ERROR(path_get(time_cell(h), word_t::make_global("day")), report::invalid_path);
    EXPECT_RAISES(
        {
            Cell p = time_cell(h);
            Cell index = word_t::make_global("day");
            tt::pick(&p, 0, &index);
        },
        err_cat::script, err_id::script::cannot_use);
    const Cell t = time_cell(h);
    EXPECT_ERROR(path_get(t, int_cell(4)), report::invalid_path);
    EXPECT_EQ(type_of(error_arg(1)), uint32_t(type_path));
    EXPECT_EQ(integer_t::get(error_arg(2)), 4);
    EXPECT_ERROR(path_get(t, int_cell(0)), report::invalid_path);
    EXPECT_ERROR(path_get(t, float_cell(1)), report::invalid_path);
    EXPECT_ERROR(path_set(t, int_cell(1), float_cell(1.5)), report::invalid_arg);
    EXPECT_ERROR(path_set(t, int_cell(2), typed_cell(type_none)), report::invalid_arg);
    EXPECT_ERROR(
        {
            Cell p = t;
            Cell index = int_cell(4);
            tt::pick(&p, 4, &index);
        },
        report::out_of_range);
    EXPECT_ERROR(
        {
            Cell p = t;
            Cell index = typed_cell(type_none);
            tt::pick(&p, 0, &index);
        },
        report::out_of_range);
}

TEST_F(TimeTest, Arithmetic) {
    struct Case {
        Cell* (*fn)();
        Cell a, b;
        uint32_t type;
        double result;
    } cases[] = {
        {tt::divide, time_cell(h), time_cell(30 * m), type_float, 2.0},
        {tt::divide, time_cell(h), int_cell(4), type_time, 15 * m},
        {tt::divide, time_cell(h), int_cell(0), type_time, INFINITY},
        {tt::multiply, time_cell(h), int_cell(2), type_time, 2 * h},
        {tt::multiply, time_cell(h), float_cell(0.5), type_time, 30 * m},
        {tt::add, time_cell(h), int_cell(30), type_time, h + 30},
        {tt::add, time_cell(h), float_cell(1.5), type_time, h + 1.5},
        {tt::subtract, time_cell(h), time_cell(90 * m), type_time, -30 * m},
        {ft::remainder, time_cell(h + 5), int_cell(60), type_time, 5},
    };
    for (const Case& c : cases) {
        Cell r = call_direct(c.fn, c.a, c.b);
        EXPECT_EQ(type_of(r), c.type);
        EXPECT_EQ(ft::get(r), c.result);
    }
    Cell n = time_cell(h);
    EXPECT_EQ(ft::get(*registry::action<registry::action_sig::unary>(type_time, registry::slot_negate)(&n)), -h);
}

TEST_F(TimeErrorTest, ArithmeticRefuses) {
    EXPECT_ERROR(call_direct(tt::multiply, time_cell(h), time_cell(h)), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_time));
    EXPECT_ERROR(call_direct(tt::subtract, time_cell(h), typed_cell(type_date)), report::not_related);
    EXPECT_ERROR(call_direct(tt::add, time_cell(h), char_cell('a')), report::invalid_type);
}

TEST_F(TimeTest, EvenOdd) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {{2, true}, {2.9999999, false}, {3, false}, {-3, false}, {-2.5, true}, {m + 1, false}, {h, true}};
    for (const Case& c : cases) {
        Cell t = time_cell(c.seconds);
        EXPECT_EQ(tt::even_q(&t), c.even) << c.seconds;
        EXPECT_EQ(tt::odd_q(&t), !c.even) << c.seconds;
    }
}

TEST_F(TimeTest, RoundStaysTime) {
    struct Case {
        double seconds;
        Cell scale;
        bool has_scale;
        double result;
    } cases[] = {
        {h + 23 * m + 45, int_cell(60), true, h + 24 * m},
        {h + 0.6, {}, false, h + 1},
        {h + 0.5, float_cell(0.25), true, h + 0.5},
        {h + 10, time_cell(h), true, h},
        {1e10 + 31, int_cell(60), true, 1e10 + 20},  // beyond integer! range: stays a double
    };
    for (const Case& c : cases) {
        Cell t = time_cell(c.seconds), s = c.scale;
        Cell r = *tt::round(&t, c.has_scale ? &s : nullptr, false, false, false, false, false, false);
        EXPECT_EQ(type_of(r), uint32_t(type_time));
        EXPECT_EQ(ft::get(r), c.result) << c.seconds;
    }
}

TEST_F(TimeErrorTest, RoundRefusesMoney) {
    Cell t = time_cell(h), money = typed_cell(type_money);
    EXPECT_ERROR(tt::round(&t, &money, false, false, false, false, false, false), report::not_related);
}

TEST_F(TimeTest, HelpersAndRegistration) {
    Cell* p = tt::push(90);
    EXPECT_EQ(type_of(*p), uint32_t(type_time));
    Cell c = int_cell(1);
    tt::make_at(&c, 2.5);
    EXPECT_EQ(type_of(c), uint32_t(type_time));
    EXPECT_EQ(ft::get(c), 2.5);
    Cell block = block_of({});
    tt::load_in(block, 60);
    EXPECT_EQ(ft::get(*memory::cell_head(block.w2)), 60);
    EXPECT_EQ(registry::get_action(type_time, registry::slot_compare), registry::act(ft::compare));
    EXPECT_EQ(registry::get_action(type_time, registry::slot_power), registry::unsupported);
    EXPECT_STREQ(registry::type_name(type_time).name, "time!");
}

// triple! has form and mold only.
TEST_F(TimeTest, TripleFormAndMold) {
    Cell t{type_triple, 1, uint32_t(-2), 2147483647};
    int32_t left;
    EXPECT_EQ(formed(t, false, &left), "make triple! [1 -2 2147483647]");
    EXPECT_EQ(left, 1000 - 30);
    EXPECT_EQ(molded(t), "make triple! [1 -2 2147483647]");
    for (uint32_t slot : {registry::slot_make, registry::slot_to, registry::slot_compare, registry::slot_add})
        EXPECT_EQ(registry::get_action(type_triple, slot), registry::unsupported) << slot;
}

TEST_F(TimeTest, FromTextLoadsOneTime) {
    EXPECT_EQ(ft::get(make_time(test::text_cell("1:30"))), h + 30 * m);
    EXPECT_EQ(ft::get(make_time(test::text_cell("-0:00:05.25"))), -5.25);
}

TEST_F(TimeErrorTest, FromTextRefusesOtherValues) {
    // Only the first loaded value counts: "1:30 x" gives 1:30.
    EXPECT_EQ(ft::get(make_time(test::text_cell("1:30 x"))), h + 30 * m);
    for (const char* bad : {"12", "", "abc"}) EXPECT_ERROR(make_time(test::text_cell(bad)), report::bad_to_arg);
}
