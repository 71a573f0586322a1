// tuple!: byte-wise arithmetic, make/to (blocks, text, issues), compare,
// path access with its none! cut, pick, reverse /part /skip, complement,
// length?, random and the errors.
#include "datatypes/tuple.h"

#include "tests/unit/scalar_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
using TupleTest = ScalarTest;
}  // namespace

TEST_F(TupleTest, ArithmeticClampsEachByte) {
    struct Case {
        const char* a;
        uint32_t slot;
        const char* b;
        const char* result;
    } cases[] = {
        {"1.2.3", slot_add, "1", "2.3.4"},
        {"250.250.250", slot_add, "10", "255.255.255"},
        {"1.2.3", slot_subtract, "5", "0.0.0"},
        {"10.20.30", slot_multiply, "1.5", "15.30.45"},
        {"10.20.30", slot_multiply, "50%", "5.10.15"},
        {"10.20.30", slot_divide, "3", "3.6.10"},
        {"10.20.30", slot_remainder, "7", "3.6.2"},
        {"10.20.30", slot_and_t, "6", "2.4.6"},
        {"1.2.3", slot_or_t, "256", "255.255.255"},
        {"1.2.3", slot_xor_t, "1.2.3", "0.0.0"},
        {"1.2.3", slot_add, "1.1.1.1", "2.3.4.1"},
        {"1.2.3.4", slot_subtract, "1.1.1", "0.1.2.4"},
        {"1.2.3", slot_multiply, "2147483647", "255.255.255"},  // the integer overflows
        {"1.2.3", slot_multiply, "-2147483647", "0.0.0"},
        {"10.20.30", slot_multiply, "1e300", "255.255.255"},
        {"1.2.3", slot_divide, "0.0", "255.255.255"},
        {"0.2.3", slot_divide, "0.0", "0.255.255"},  // 0 / 0.0 is NaN
        // A number first: only the operations that commute.
        {"1", slot_add, "1.2.3", "2.3.4"},
        {"0.5", slot_add, "1.2.3", "1.2.3"},
        {"2", slot_multiply, "1.2.3", "2.4.6"},
    };
    for (const auto& c : cases) EXPECT_EQ(result(c.a, c.slot, c.b), c.result) << c.a << " " << c.slot << " " << c.b;
}

TEST_F(TupleTest, ArithmeticErrors) {
    EXPECT_ERROR(call(slot_divide, "1.2.3", "0"), report::zero_divide);
    EXPECT_ERROR(call(slot_remainder, "1.2.3", "1.0.1"), report::zero_divide);  // byte 2 by a zero byte
    EXPECT_ERROR(call(slot_add, "1.2.3", "\"a\""), report::invalid_type);
    EXPECT_ERROR(call(slot_subtract, "1", "1.2.3"), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_integer));
    EXPECT_ERROR(call(slot_divide, "2.0", "1.2.3"), report::not_related);
    EXPECT_TRUE(names_type(error_arg(2), type_float));
}

TEST_F(TupleTest, MakeAndTo) {
    struct Case {
        const char* spec;
        const char* result;
    } cases[] = {
        {"[1 2]", "1.2.0"},
        {"[]", "0.0.0"},
        {"[65 #\"B\" 2.9 0]", "65.66.2.0"},
        {"(1 2 3)", "1.2.3"},
        {"\"1.2.3.4\"", "1.2.3.4"},
        {"%5.6.7", "5.6.7"},
        {"#FF8000", "255.128.0"},
        {"#F80", "255.136.0"},
        {"#ff800080", "255.128.0.128"},
        {"9.8.7", "9.8.7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mold(call(slot_make, {datatype(type_tuple), value(c.spec)})), c.result) << c.spec;
        EXPECT_EQ(mold(call(slot_to, {datatype(type_tuple), value(c.spec)})), c.result) << c.spec;
    }
    for (const char* bad : {"[1 2 300]", "[-1 2 3]", "[1 2 a]", "[1 2 3 4 5 6 7 8 9 10 11 12 13]", "\"1.2\"", "5",
                            "none"}) {
        SCOPED_TRACE(bad);
        EXPECT_ERROR(call(slot_to, {datatype(type_tuple), value(bad)}), report::bad_to_arg);
    }
    for (const char* bad : {"#FF80", "#GG0000", "#FF80001", "#\xC3\x81\xC3\x81\xC3\x81"}) {
        SCOPED_TRACE(bad);
        EXPECT_ERROR(call(slot_to, {datatype(type_tuple), value(bad)}), report::invalid_data);
    }
}

TEST_F(TupleTest, CompareByteByByte) {
    EXPECT_TRUE(compare("1.2.3", "1.2.3.0", op_equal));
    EXPECT_TRUE(compare("1.2.3", "1.2.3.0", op_strict_equal));
    EXPECT_TRUE(compare("1.2.3", "1.2.4", op_lesser));
    EXPECT_TRUE(compare("1.2.3.1", "1.2.3", op_greater));
    EXPECT_TRUE(compare("2.0.0", "1.255.255.255", op_greater));
    EXPECT_FALSE(compare("1.2.3", "1", op_equal));
}

TEST_F(TupleTest, FormMoldAndLength) {
    EXPECT_EQ(mold(value("255.0.0.128")), "255.0.0.128");
    EXPECT_EQ(form(value("1.2.3")), "1.2.3");
    EXPECT_EQ(budget_left("255.0.10.1", true), 1000 - 10);
    EXPECT_EQ(mold(call(slot_length_q, {value("1.2.3.4")})), "4");
    EXPECT_EQ(result(slot_complement, "1.2.3"), "254.253.252");
}

TEST_F(TupleTest, PathAccessAndPick) {
    Cell t = value("1.2.3.4.5");
    EXPECT_EQ(mold(path_get(t, integer(2))), "2");
    EXPECT_EQ(mold(path_set(t, integer(4), none())), "1.2.3");
    EXPECT_EQ(mold(path_set(value("1.2.3"), integer(2), none())), "1.0.0");
    EXPECT_EQ(mold(path_set(value("1.2.3"), integer(1), integer(300))), "255.2.3");
    EXPECT_EQ(mold(path_set(value("1.2.3"), integer(3), integer(-5))), "1.2.0");
    EXPECT_ERROR(path_set(value("1.2.3"), integer(4), integer(1)), report::out_of_range);
    EXPECT_ERROR(path_set(value("1.2.3"), integer(1), value("1.5")), report::invalid_type);
    EXPECT_ERROR(path_get(t, value("x")), report::invalid_type);
    EXPECT_ERROR(path_get(t, integer(6)), report::out_of_range);

    EXPECT_EQ(mold(call(slot_pick, {t, integer(5)})), "5");
    EXPECT_ERROR(call(slot_pick, {t, integer(0)}), report::out_of_range);
    EXPECT_ERROR(call(slot_pick, {t, value("'x")}), report::out_of_range);
}

TEST_F(TupleTest, Reverse) {
    auto reversed = [](const char* t, int32_t part, int32_t skip) {
        Cell v = value(t), p = integer(part), s = integer(skip);
        if (part >= 0 && skip > 0) return mold(call(slot_reverse, {v, p, s}, {1, 2}));
        if (part >= 0) return mold(call(slot_reverse, {v, p}, {1, -1}));
        if (skip > 0) return mold(call(slot_reverse, {v, s}, {-1, 1}));
        return mold(call(slot_reverse, {v}));
    };
    EXPECT_EQ(reversed("1.2.3", -1, 0), "3.2.1");
    EXPECT_EQ(reversed("1.2.3.4", -1, 2), "3.4.1.2");
    EXPECT_EQ(reversed("1.2.3.4", 2, 0), "2.1.3.4");
    EXPECT_EQ(reversed("1.2.3.4", 20, 0), "4.3.2.1");
    EXPECT_EQ(reversed("1.2.3.4.5.6", 4, 2), "3.4.1.2.5.6");
    EXPECT_EQ(reversed("1.2.3.4", -1, 4), "1.2.3.4");  // one record

    Cell t = value("1.2.3.4");
    EXPECT_ERROR(call(slot_reverse, {t, integer(-1)}, {1, -1}), report::out_of_range);
    EXPECT_RAISES(call(slot_reverse, {t, value("\"a\"")}, {1, -1}), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_ERROR(call(slot_reverse, {t, integer(0)}, {-1, 1}), report::out_of_range);
    EXPECT_RAISES(call(slot_reverse, {t, integer(3)}, {-1, 1}), err_cat::script, err_id::script::invalid_refine_arg);
}

TEST_F(TupleTest, RandomKeepsEachByteInRange) {
    for (int i = 0; i < 50; ++i) {
        Cell r = call(slot_random, {value("10.0.1.255")});
        const uint8_t* b = tuple_t::bytes_of(r);
        EXPECT_LE(b[0], 10);
        EXPECT_EQ(b[1], 0);
        EXPECT_LE(b[2], 1);
        EXPECT_EQ(tuple_t::count_of(r), 4u);
    }
    EXPECT_EQ(type_of(call(slot_random, {value("1.2.3")}, {0})), uint32_t(type_unset));
}

TEST_F(TupleTest, Helpers) {
    Cell t = value("0.0.0.0");
    EXPECT_TRUE(tuple_t::zero_q(t));
    EXPECT_FALSE(tuple_t::zero_q(value("0.0.1")));
    Cell out;
    EXPECT_EQ(mold(*tuple_t::make_rgba(&out, 1, 2, 3, -1)), "1.2.3");
    EXPECT_EQ(mold(*tuple_t::make_rgba(&out, 1, 2, 3, 4)), "1.2.3.4");
    int32_t ints[] = {256 + 7, 8};
    EXPECT_EQ(mold(*tuple_t::from_ints(2, ints)), "7.8.0");
    EXPECT_EQ(mold(*tuple_t::push(3, 0x030201, 0, 0)), "1.2.3");
}
