// String-to-number conversion over 1-, 2- and 4-byte characters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/number_text.h"

using namespace vyr;
using namespace vyr::number_text;

namespace {

// The text in units of the given width.
std::vector<uint8_t> units(const std::u32string& s, uint32_t unit) {
    std::vector<uint8_t> out(s.size() * unit + 1);
    for (size_t i = 0; i < s.size(); ++i)
        for (uint32_t k = 0; k < unit; ++k) out[i * unit + k] = uint8_t(uint32_t(s[i]) >> (8 * k));
    return out;
}

int32_t to_integer(const std::u32string& s, int32_t& error, uint32_t unit = 1) {
    auto u = units(s, unit);
    error = 0;
    return string_to_integer(u.data(), uint32_t(s.size()), unit, error);
}

double to_float(const std::u32string& s, int32_t& error, uint32_t unit = 1) {
    auto u = units(s, unit);
    error = 0;
    return string_to_float(u.data(), uint32_t(s.size()), unit, error);
}

}  // namespace

TEST(NumberText, Integers) {
    struct Case {
        std::u32string text;
        int32_t value;
        int32_t error;
    } cases[] = {
        {U"12", 12, 0},
        {U"1'000", 1000, 0},
        {U"'1'", 1, 0},
        {U"-2147483648", INT32_MIN, 0},
        {U"+2147483647", INT32_MAX, 0},
        {U"2147483648", 0, error_overflow},
        {U"-2147483649", 0, error_overflow},
        // The minimum is taken only when it is the whole number.
        {U"-21474836480", 0, error_overflow},
        {U"-2147483648'", INT32_MIN, 0},
        {U"  12", 0, error_invalid},
        {U"12a", 0, error_invalid},
        {U"", 0, error_invalid},
        {U"-", 0, error_invalid},
        {U"'", 0, error_invalid},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const auto& c : cases) {
            int32_t error;
            EXPECT_EQ(to_integer(c.text, error, unit), c.value) << unit;
            EXPECT_EQ(error, c.error) << unit;
        }
    }
}

TEST(NumberText, Floats) {
    int32_t error;
    EXPECT_EQ(to_float(U"1,5", error), 1.5);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(to_float(U"1'000.5", error, 2), 1000.5);
    EXPECT_EQ(to_float(U"-1.5e3", error, 4), -1500.0);
    EXPECT_EQ(error, 0);
    for (std::u32string bad : {U"abc", U"", U"1e", U"1..5", U"\u0131"}) {
        EXPECT_TRUE(std::isnan(to_float(bad, error, 4)));
        EXPECT_EQ(error, error_invalid);
    }
    std::u32string digits(313, U'1');
    EXPECT_TRUE(std::isnan(to_float(digits, error)));
    EXPECT_EQ(error, error_invalid);
    digits.pop_back();
    EXPECT_FALSE(std::isnan(to_float(digits, error)));
}

TEST(NumberText, MoneyText) {
    struct Case {
        std::u32string text;
        const char* built;  // the compacted text the money! maker gets
        bool negative;
        int32_t currency, point;
    } cases[] = {
        {U"$1.50", "$1.50", false, -1, 2},
        {U"-USD$1'000.25", "-USD$1'000.25", true, 1, 10},
        {U"1.5", "1.5", false, -1, 1},
        {U"+007", "+7", false, -1, -1},
        {U"0.1234567", "0.12345", false, -1, 1},
    };
    for (const auto& c : cases) {
        auto u = units(c.text, 2);
        MoneyText m{};
        ASSERT_TRUE(money_text(u.data(), uint32_t(c.text.size()), 2, m));
        EXPECT_STREQ(m.text, c.built);
        EXPECT_EQ(m.negative, c.negative);
        EXPECT_EQ(m.currency, c.currency);
        EXPECT_EQ(m.point, c.point);
    }
    for (std::u32string bad : {U"US$1", U"$1.", U"$'1", U"1''0", U"", U"$", U".5", U"1'.5", U"1,5",
                                      U"123456789012345678", U"USD1", U"1.5'"}) {
        auto u = units(bad, 1);
        MoneyText m;
        EXPECT_FALSE(money_text(u.data(), uint32_t(bad.size()), 1, m));
    }
}

TEST(NumberText, TupleTextAndUpcase) {
    TupleBytes t{};
    auto u = units(U"1.22.255.0", 4);
    ASSERT_TRUE(tuple_text(u.data(), 10, 4, t));
    EXPECT_EQ(t.count, 4u);
    EXPECT_EQ(t.bytes[2], 255);
    for (std::u32string bad : {U"1.2.256", U"1..2", U"1.2.3.4.5.6.7.8.9.10.11.12.13", U"1.2", U"a.b.c"}) {
        auto v = units(bad, 1);
        EXPECT_FALSE(tuple_text(v.data(), uint32_t(bad.size()), 1, t));
    }
    char text[] = "usd$1a";
    EXPECT_STREQ(ascii_upcase(text), "USD$1A");
}
