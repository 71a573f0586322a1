// Decimal <-> double conversions, the float layouts, big integers and the
// int32 truncation. strtod, std::to_chars and snprintf serve as oracles.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/bigint.h"
#include "runtime/float_text.h"
#include "runtime/numeric.h"
#include "runtime/platform.h"

using namespace vyr;
using namespace vyr::float_text;
using numeric::float_bits;
using numeric::float_from_bits;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

double parse(const std::string& s, size_t* unconsumed = nullptr, int offset = 0) {
    return text_to_float(s.data(), s.data() + s.size(), offset, unconsumed);
}

// strtod as the oracle, except that an underflow gives +0.0 here.
double expected_value(const std::string& s) {
    double d = std::strtod(s.c_str(), nullptr);
    return d == 0 && s.find_first_of("123456789") < s.find_first_of("eE") ? 0.0 : d;
}

std::string hex(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(float_bits(d)));
    return buf;
}

// Random doubles over the whole range: any bit pattern, subnormals, values
// with extreme significands (powers of two, all ones) and everyday magnitudes.
double random_double(std::mt19937_64& rng) {
    uint64_t r = rng();
    uint64_t sign = r & numeric::float_sign_bit;
    uint64_t frac = rng() & numeric::float_fraction_mask;
    uint64_t field;
    switch (r % 6) {
        case 0: field = 0; break;                                   // subnormal
        case 1: frac = (r & 16) ? 0 : numeric::float_fraction_mask;  // binade edges
                field = (r >> 8) % 2047; break;
        case 2: field = 1023 - 30 + (r >> 8) % 80; break;           // about 1e-9 .. 1e15
        default: field = (r >> 8) % 2047; break;                    // anywhere finite
    }
    double d = float_from_bits(sign | (field << numeric::float_exponent_shift) | frac);
    return d == 0 ? 0.5 : d;
}

// The shortest digits and decimal point position of std::to_chars.
void shortest_oracle(double d, std::string& digits, int& decpt) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
    std::string s(buf, res.ptr);
    size_t e = s.find('e');
    digits = s.substr(0, 1) + (e > 1 ? s.substr(2, e - 2) : "");
    decpt = std::atoi(s.c_str() + e + 1) + 1;
}

std::string c_format(const char* format, double d) {
    char buf[128];
    std::snprintf(buf, sizeof buf, format, d);
    return buf;
}

}  // namespace

// ---- int32 truncation ---------------------------------------------------------

TEST(NumericTest, TruncateToInt32AnswersLikeX86) {
    const struct {
        double x;
        int32_t expected;
    } cases[] = {
        {0.0, 0},
        {-0.0, 0},
        {3.99, 3},
        {-3.99, -3},
        {2147483647.0, 2147483647},
        {2147483647.9, 2147483647},
        {2147483648.0, INT32_MIN},
        {-2147483648.0, INT32_MIN},
        {-2147483648.9, INT32_MIN},  // truncates to -2147483648, which fits
        {-2147483649.0, INT32_MIN},
        {1e300, INT32_MIN},
        {-1e300, INT32_MIN},
        {inf, INT32_MIN},
        {-inf, INT32_MIN},
        {std::nan(""), INT32_MIN},
        {5e-324, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(numeric::truncate_to_int32(c.x), c.expected) << c.x;
    static_assert(numeric::truncate_to_int32(-7.5) == -7);
}

// ---- Text to float: edge cases ------------------------------------------------

TEST(TextToFloatTest, EdgeCases) {
    const struct {
        const char* text;
        double expected;
        size_t unconsumed;
    } cases[] = {
        {"1.5", 1.5, 0},
        {"1.5x", 1.5, 1},
        {"0.1", 0.1, 0},
        {"+7", 7.0, 0},
        {".5", 0.5, 0},
        {"5.", 5.0, 0},
        {"2.2250738585072011e-308", 2.2250738585072011e-308, 0},
        {"2.2250738585072014e-308", 2.2250738585072014e-308, 0},  // least normal
        {"4.9e-324", 4.9406564584124654e-324, 0},
        {"2.4703282292062328e-324", 4.9406564584124654e-324, 0},  // just above half the least subnormal
        {"1.7976931348623157e308", 1.7976931348623157e308, 0},
        {"1.7976931348623158e308", 1.7976931348623157e308, 0},
        {"1e309", inf, 0},
        {"-1e309", -inf, 0},
        {"9007199254740993", 9007199254740992.0, 0},  // 2^53 + 1: tie to even
        {"9007199254740995", 9007199254740996.0, 0},
        {"12345678901234567890123456789012345678901234567890", 12345678901234567890123456789012345678901234567890.0, 0},
        {"0.000000000000000000000000000000000000000000001e45", 1.0, 0},
        {"1000000000000000000000000", 1e24, 0},
        {"123.456e-2", 1.23456, 0},
        {"1e", 1.0, 1},                  // "e" without anything after it is not an exponent
        {"1e+", 1.0, 0},                 // an exponent without digits is 0
        {"2e3x", 2000.0, 1},
        {"12.#INF", 12.0, 4},            // two digits before the point: not an infinity
        {"1.#X", 1.0, 2},
        {"1e99999999999", inf, 0},
        {"1e-99999999999", 0.0, 0},
        {"0.0000000000000000000000000000000000000001e99999999999", inf, 0},
    };
    for (const auto& c : cases) {
        size_t unconsumed = 99;
        double d = parse(c.text, &unconsumed);
        EXPECT_EQ(hex(d), hex(c.expected)) << c.text;
        EXPECT_EQ(unconsumed, c.unconsumed) << c.text;
    }
}

TEST(TextToFloatTest, ZerosAndSigns) {
    EXPECT_EQ(hex(parse("-0.0")), hex(-0.0));
    EXPECT_EQ(hex(parse("0.0")), hex(0.0));
    EXPECT_EQ(hex(parse("-00")), hex(-0.0));
    EXPECT_EQ(hex(parse("-0e5")), hex(-0.0));
    // Underflow does not keep the sign.
    EXPECT_EQ(hex(parse("1e-400")), hex(0.0));
    EXPECT_EQ(hex(parse("-1e-400")), hex(0.0));
    EXPECT_EQ(hex(parse("-2e-324")), hex(0.0));
    EXPECT_EQ(hex(parse("-1e-99999999999")), hex(0.0));
    EXPECT_EQ(parse("-1.5"), -1.5);
}

TEST(TextToFloatTest, InfinityAndNanForms) {
    size_t unconsumed = 99;
    EXPECT_EQ(parse("1.#INF", &unconsumed), inf);
    EXPECT_EQ(unconsumed, 0u);
    EXPECT_EQ(parse("-1.#INF"), -inf);
    EXPECT_EQ(parse("1.#inf"), inf);
    EXPECT_EQ(float_bits(parse("1.#NaN", &unconsumed)), numeric::float_quiet_nan_bits);
    EXPECT_EQ(unconsumed, 0u);
    EXPECT_EQ(float_bits(parse("-1.#NaN")), numeric::float_quiet_nan_bits);  // sign bit clear
    EXPECT_EQ(parse("1.#INFx", &unconsumed), inf);
    EXPECT_EQ(unconsumed, 1u);
}

TEST(TextToFloatTest, RangeIsNotNulTerminated) {
    const char text[] = "123456";
    size_t unconsumed = 99;
    EXPECT_EQ(text_to_float(text, text + 3, 0, &unconsumed), 123.0);
    EXPECT_EQ(unconsumed, 0u);
    EXPECT_EQ(text_to_float(text, text, 0, &unconsumed), 0.0);
}

TEST(TextToFloatTest, ExponentOffsetScalesByPowersOfTen) {
    EXPECT_EQ(parse("150", nullptr, -2), 1.5);
    EXPECT_EQ(parse("10.5", nullptr, -2), 0.105);
    EXPECT_EQ(parse("1e306", nullptr, 3), inf);
    EXPECT_EQ(parse("17976931348623157e292", nullptr, 0), 1.7976931348623157e308);
}

// ---- Text to float: against strtod ----------------------------------------------

// A million random doubles through both conversions, in four shards: the
// shortest digits are std::to_chars's, they read back to the same double, and
// 17-digit texts read as strtod reads them.
class RoundTripTest : public testing::TestWithParam<int> {};

TEST_P(RoundTripTest, RandomDoublesBothWays) {
    std::mt19937_64 rng(1000 + GetParam());
    for (int i = 0; i < 250000; ++i) {
        double d = random_double(rng);
        FloatDigits fd = float_to_text(d, 0, true);
        std::string digits;
        int decpt;
        shortest_oracle(d, digits, decpt);
        ASSERT_EQ(std::string(fd.view()), digits) << hex(d);
        ASSERT_EQ(fd.decpt, decpt) << hex(d);
        ASSERT_EQ(fd.negative, std::signbit(d));
        std::string shortest = (fd.negative ? "-0." : "0.") + digits + "e" + std::to_string(decpt);
        ASSERT_EQ(hex(parse(shortest)), hex(d)) << shortest;
        std::string full = c_format("%.17g", d);
        ASSERT_EQ(hex(parse(full)), hex(std::strtod(full.c_str(), nullptr))) << full;
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, RoundTripTest, testing::Range(0, 4));

TEST(TextToFloatTest, KnownHardInputsMatchStrtod) {
    const char* texts[] = {
        "2.2250738585072012e-308",
        "2.2250738585072011e-308",
        "0.500000000000000166533453693773481063544750213623046875",
        "1.00000000000000011102230246251565404236316680908203125",  // 1 + 2^-53: tie, stays 1
        "1.00000000000000011102230246251565404236316680908203124",
        "1.00000000000000011102230246251565404236316680908203126",
        "3.518437208883201171875e13",
        "9007199254740993.0000000000000000000000000000000000000000000000001",
        "7.2057594037927933e16",
        "1.7976931348623158e308",
        "1.797693134862315807937289714053034150799341327710e308",
        "4.9406564584124654e-324",
        "2.4703282292062327e-324",
        "8.98846567431158e307",
        "0.1e-307",
        "123456789012345678901234567890e-330",
        "1234567890123456789012345678901234567890123456789e-360",
    };
    for (const char* t : texts) EXPECT_EQ(hex(parse(t)), hex(expected_value(t))) << t;
}

// Random decimal texts: up to 60 digits, any point position and exponent.
TEST(TextToFloatTest, RandomDecimalTextsMatchStrtod) {
    std::mt19937_64 rng(11);
    for (int i = 0; i < 200000; ++i) {
        std::string s = (rng() & 1) ? "-" : "";
        int nd = 1 + int(rng() % (i % 4 == 0 ? 60 : 20));
        int point = int(rng() % (nd + 1));
        for (int j = 0; j < nd; ++j) {
            if (j == point) s += '.';
            s += char('0' + rng() % 10);
        }
        s += 'e' + std::to_string(int(rng() % 700) - 350);
        ASSERT_EQ(hex(parse(s)), hex(expected_value(s))) << s;
    }
}

// The exact decimal half-way points between neighbouring doubles, and texts
// just below (cut short) and just above them (a digit appended). The first
// cases are the ends of the range (the largest double and 2^1024, 0 and the
// least subnormal, the largest subnormal and the least normal) and subnormal
// powers of two with the double below them.
TEST(TextToFloatTest, HalfwayCasesRoundToEven) {
    std::mt19937_64 rng(13);
    std::vector<double> ends = {1.7976931348623157e308, 0.0, 0x0.fffffffffffffp-1022};
    for (int j = 1000; j <= 1074; ++j) ends.push_back(std::nextafter(std::ldexp(1.0, -j), 0.0));
    const int n_ends = int(ends.size());
    for (int i = 0; i < 3000 + n_ends; ++i) {
        double d = i < n_ends ? ends[size_t(i)] : std::fabs(random_double(rng));
        long double next = i == 0 ? 0x1p1024L : static_cast<long double>(std::nextafter(d, inf));
        long double mid = (static_cast<long double>(d) + next) / 2;  // exact in 64 bits
        char buf[1300];
        std::snprintf(buf, sizeof buf, "%.1100Le", mid);
        std::string exact(buf);
        size_t e = exact.find('e');
        std::string mantissa = exact.substr(0, e), exponent = exact.substr(e);
        while (mantissa.back() == '0') mantissa.pop_back();
        const std::string texts[] = {
            mantissa + exponent,
            mantissa + "000000000000000000001" + exponent,
            mantissa.substr(0, std::min<size_t>(mantissa.size(), 19 + i % 30)) + exponent,
        };
        for (const auto& s : texts) ASSERT_EQ(hex(parse(s)), hex(expected_value(s))) << s;
    }
}

// ---- Float to text ------------------------------------------------------------

// Doubles next to powers of ten, where the first digit may round up to 10
// and the digit estimate is most often one off.
TEST(FloatToTextTest, NearPowersOfTenMatchToChars) {
    for (int p = -323; p <= 308; ++p) {
        double center = std::strtod(("1e" + std::to_string(p)).c_str(), nullptr);
        double d = center;
        for (int i = 0; i < 20; ++i) d = std::nextafter(d, 0.0);
        for (int i = 0; i < 41 && std::isfinite(d); ++i, d = std::nextafter(d, inf)) {
            if (d == 0) continue;
            FloatDigits fd = float_to_text(d, 0, true);
            std::string digits;
            int decpt;
            shortest_oracle(d, digits, decpt);
            ASSERT_EQ(std::string(fd.view()), digits) << hex(d);
            ASSERT_EQ(fd.decpt, decpt) << hex(d);
            std::string text(format_float_digits(d, 0, true).view());
            ASSERT_EQ(hex(parse(text)), hex(d)) << text;
        }
    }
}

// With a limit: the shortest digits when they fit, otherwise the value
// correctly rounded to the limit (checked against "%.*e").
TEST(FloatToTextTest, DigitLimitRoundsCorrectly) {
    std::mt19937_64 rng(19);
    for (int i = 0; i < 50000; ++i) {
        double d = std::fabs(random_double(rng));
        int limit = 1 + i % 17;
        FloatDigits fd = float_to_text(d, limit, false);
        std::string digits;
        int decpt;
        shortest_oracle(d, digits, decpt);
        if (int(digits.size()) > limit) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*e", limit - 1, d);
            std::string s(buf);
            size_t e = s.find('e');
            digits = s.substr(0, 1) + (e > 1 ? s.substr(2, e - 2) : "");
            while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
            decpt = std::atoi(s.c_str() + e + 1) + 1;
        }
        ASSERT_EQ(std::string(fd.view()), digits) << hex(d) << " limit " << limit;
        ASSERT_EQ(fd.decpt, decpt) << hex(d) << " limit " << limit;
    }
}

TEST(FloatToTextTest, ZeroAndNonFiniteTexts) {
    const struct {
        double value;
        bool zero_form;
        const char* text;
        int decpt;
    } cases[] = {
        {inf, false, "1.#INF", decpt_nonfinite},
        {-inf, true, "-1.#INF", decpt_nonfinite},
        {std::nan(""), false, "1.#NaN", decpt_nonfinite},
        {-std::nan(""), false, "1.#NaN", decpt_nonfinite},
        {0.0, false, "0", decpt_zero},
        {-0.0, false, "-0", decpt_zero},
        {0.0, true, "0.0", decpt_zero},
        {-0.0, true, "-0.0", decpt_zero},
    };
    for (const auto& c : cases) {
        FloatDigits fd = float_to_text(c.value, 0, c.zero_form);
        EXPECT_EQ(fd.view(), c.text);
        EXPECT_EQ(fd.decpt, c.decpt);
    }
}

TEST(FormatFloatDigitsTest, MoldForms) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {100.0, "100.0"},
        {1e16, "10000000000000000.0"},
        {1e17, "1.0e17"},
        {123.456e20, "1.23456e22"},
        {1e-6, "0.000001"},
        {1e-7, "0.0000001"},
        {1e-8, "1.0e-8"},
        {-2.5, "-2.5"},
        {5e-324, "5.0e-324"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {-1.2345678901234566e-7, "-0.00000012345678901234566"},
        {-0.0, "-0.0"},
        {-inf, "-1.#INF"},
        {std::nan(""), "1.#NaN"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_float_digits(c.value, 0, true).view(), c.text) << c.text;
}

TEST(FormatFloatDigitsTest, SixDigitsWithoutZeroForm) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1.0 / 3, "0.333333"}, {2.0 / 3, "0.666667"}, {0.1 + 0.2, "0.3"}, {1234567.0, "1234570"},
        {100.0, "100"},        {1e20, "1e20"},        {1.5e20, "1.5e20"}, {0.0, "0"},
        {999999.5, "1000000"}, {0.5, "0.5"},          {5.25, "5.25"},    {1234565.0, "1234560"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_float_digits(c.value, 6, false).view(), c.text) << c.text;
}

// Whatever it prints, the mold form reads back to the same double.
TEST(FormatFloatDigitsTest, MoldFormReadsBack) {
    std::mt19937_64 rng(23);
    for (int i = 0; i < 100000; ++i) {
        double d = random_double(rng);
        FloatText t = format_float_digits(d, 0, true);
        ASSERT_EQ(hex(parse(std::string(t.view()))), hex(d)) << t.c_str();
    }
}

namespace {
// The digits and exponent of the system's "%.<p>g": glibc's correctly rounded
// 17 digits, rounded half up to p digits on the text.
void g_oracle(double d, int p, std::string& digits, int& exponent) {
    std::string s = c_format("%.16e", std::fabs(d));
    size_t e = s.find('e');
    digits = s.substr(0, 1) + s.substr(2, e - 2);
    exponent = std::atoi(s.c_str() + e + 1);
    bool up = digits[size_t(p)] >= '5';
    digits.resize(size_t(p));
    for (size_t i = digits.size(); up && i-- > 0;) {
        up = digits[i] == '9';
        digits[i] = up ? '0' : char(digits[i] + 1);
    }
    if (up) {
        digits = "1" + digits;
        ++exponent;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

// Digits and exponent of a "%g" text ("-1.25e+07", "0.00125", "300").
void g_parts(std::string s, std::string& digits, int& exponent) {
    if (s[0] == '-') s.erase(0, 1);
    size_t e = s.find('e');
    int shift = e == std::string::npos ? 0 : std::atoi(s.c_str() + e + 1);
    s = s.substr(0, e);
    size_t point = s.find('.');
    int int_digits = int(point == std::string::npos ? s.size() : point);
    if (point != std::string::npos) s.erase(point, 1);
    size_t first = s.find_first_not_of('0');
    digits = s.substr(first);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    exponent = int_digits - int(first) - 1 + shift;
}
}  // namespace

TEST(FormatGTest, DoubleRoundingThroughSeventeenDigits) {
    const struct {
        double value;
        int precision;
        const char* text;
    } cases[] = {
        {1e-20, 16, "1e-20"},  // 9.9999999999999995e-21 rounds up at 16 digits
        {1e-20, 17, "9.9999999999999995e-21"},
        {0.1 + 0.7, 16, "0.7999999999999999"},
        {9.3, 16, "9.300000000000001"},
        {9.3, 14, "9.3"},
        {0.125, 2, "0.13"},  // an exact tie rounds up
        {1e20, 16, "1e+20"},
        {1.5e-7, 16, "1.5e-07"},
        {0.0001, 7, "0.0001"},
        {123456.0, 5, "1.2346e+05"},
        {999999.5, 7, "999999.5"},
        {999999.5, 6, "1e+06"},
        {-0.0, 7, "-0"},
        {5e-324, 17, "4.9406564584124654e-324"},
        {-std::nan(""), 7, "-nan"},
        {-inf, 16, "-inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_g(c.value, c.precision).view(), c.text) << c.text;
}

// Random doubles: the digits follow the oracle above, and wherever the two
// roundings agree the whole text is glibc's "%.<p>g".
TEST(FormatGTest, RandomDoublesMatchOracle) {
    std::mt19937_64 rng(29);
    for (int i = 0; i < 100000; ++i) {
        double d = random_double(rng);
        int p = 1 + i % 17;
        std::string text(format_g(d, p).view());
        std::string digits, expected_digits;
        int exponent, expected_exponent;
        g_parts(text, digits, exponent);
        g_oracle(d, p, expected_digits, expected_exponent);
        ASSERT_EQ(digits, expected_digits) << hex(d) << " " << p << " " << text;
        ASSERT_EQ(exponent, expected_exponent) << hex(d) << " " << p << " " << text;
        std::string glibc = c_format(("%." + std::to_string(p) + "g").c_str(), d);
        g_parts(glibc, digits, exponent);
        if (digits == expected_digits && exponent == expected_exponent) {
            ASSERT_EQ(text, glibc);
        }
    }
}

// ---- The float texts by kind ----------------------------------------------

TEST(FormatFloatTest, FormOfFloat) {
    const struct {
        double value;
        bool pretty;
        const char* text;
    } cases[] = {
        {0.1, true, "0.1"},
        {1.0, true, "1.0"},
        {100.0, true, "100.0"},
        {1e20, true, "1.0e20"},
        {1.5e-7, true, "1.5e-7"},
        {0.1 + 0.2, true, "0.3"},
        {1.0 / 3, true, "0.3333333333333333"},
        {1e-20, true, "0.0"},
        {-0.0, true, "0.0"},
        {1e-20, false, "1.0e-20"},
        {-0.0, false, "-0.0"},
        {0.1 + 0.7, true, "0.8"},
        {0.1 + 0.7, false, "0.7999999999999999"},
        {9.3, true, "9.3"},  // "%.16g" gives 9.300000000000001
        {9.3, false, "9.300000000000001"},
        {1.0000000000000002e20, true, "1.0e20"},
        {1.000000000000001e20, true, "1.0e20"},  // "1.000000000000001e+20" is retried
        {1.000000000000001e20, false, "1.000000000000001e20"},
        {1.000000000000002e20, true, "1.000000000000002e20"},
        {1.0000000000000001e-10, true, "1.0e-10"},
        {-1234.5, true, "-1234.5"},
        {inf, true, "1.#INF"},
        {-inf, false, "-1.#INF"},
        {std::nan(""), true, "1.#NaN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_float(c.value, FloatKind::float64, c.pretty).view(), c.text) << c.text;
}

TEST(FormatFloatTest, OtherKinds) {
    const struct {
        double value;
        FloatKind kind;
        bool pretty;
        const char* text;
    } cases[] = {
        {10.0, FloatKind::percent, true, "10%"},
        {12.5, FloatKind::percent, true, "12.5%"},
        {0.0, FloatKind::percent, true, "0%"},
        {0.0, FloatKind::percent, false, "0%"},
        {1e20, FloatKind::percent, true, "1e20%"},
        {1.0 / 3, FloatKind::percent32, true, "0.3333333%"},
        {0.5, FloatKind::time_seconds, true, "0.5"},
        {5.25, FloatKind::time_seconds, true, "5.25"},
        {3.0, FloatKind::time_seconds, true, "3"},
        {59.9999999, FloatKind::time_seconds, true, "60"},
        {1.0, FloatKind::point, true, "1"},
        {0.0, FloatKind::point, true, "0"},
        {1.5, FloatKind::point, true, "1.5"},
        {double(0.1f), FloatKind::float32, true, "0.1"},
        {1.0, FloatKind::float32, true, "1.0"},
        {1e20, FloatKind::float32, true, "1.0e20"},
        {inf, FloatKind::percent, true, "1.#INF"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_float(c.value, c.kind, c.pretty).view(), c.text) << c.text;
}

// ---- Big integers ----------------------------------------------------------------

namespace {
bigint::BigPtr big_of(unsigned __int128 v) {
    bigint::BigPtr b = bigint::big_alloc(2);
    b->wds = 1;
    for (int i = 0; i < 4; ++i) {
        b->x()[i] = uint32_t(v >> (32 * i));
        if (b->x()[i]) b->wds = i + 1;
    }
    return b;
}
unsigned __int128 value_of(const bigint::Big& b) {
    unsigned __int128 v = 0;
    for (int i = b.wds - 1; i >= 0; --i) v = (v << 32) | b.x()[i];
    return v;
}
}  // namespace

TEST(BigintTest, ArithmeticMatchesWideIntegers) {
    std::mt19937_64 rng(31);
    for (int i = 0; i < 2000; ++i) {
        uint64_t a = rng() >> (rng() % 64), b = rng() >> (rng() % 64);
        bigint::BigPtr A = big_of(a), B = big_of(b);
        EXPECT_EQ(value_of(*bigint::big_mul(*A, *B)), (unsigned __int128)a * b);
        bigint::BigPtr D = bigint::big_diff(*A, *B);
        EXPECT_EQ(value_of(*D), a > b ? a - b : b - a);
        EXPECT_EQ(D->sign, a < b ? 1 : 0);
        EXPECT_EQ(bigint::big_compare(*A, *B), a < b ? -1 : a > b ? 1 : 0);
        bigint::BigPtr P = big_of(a >> 20);
        bigint::big_pow5_mul(P, 20);  // 5^20 < 2^47: fits next to a 44-bit value
        EXPECT_EQ(value_of(*P), (unsigned __int128)(a >> 20) * 95367431640625ull);
        bigint::BigPtr S = big_of(a);
        bigint::big_shift_left(S, 60);
        EXPECT_EQ(value_of(*S), (unsigned __int128)a << 60);
    }
}

TEST(BigintTest, QuotientDigits) {
    std::mt19937_64 rng(37);
    for (int i = 0; i < 2000; ++i) {
        uint64_t s = (rng() >> 4) | (uint64_t(1) << 58);  // top word with 4 leading zeros
        uint64_t q = rng() % 10, r = rng() % s;
        unsigned __int128 b = (unsigned __int128)s * q + r;
        bigint::BigPtr B = big_of(b), S = big_of(s);
        EXPECT_EQ(bigint::big_quot_rem(*B, *S), int(q));
        EXPECT_EQ(value_of(*B), (unsigned __int128)r);
    }
}

TEST(BigintTest, RecordsAreRecycled) {
    int64_t live = bigint::live_records();
    bigint::Big* first;
    {
        bigint::BigPtr b = bigint::big_alloc(3);
        first = b.get();
    }
    EXPECT_EQ(bigint::big_alloc(3).get(), first);  // taken back from the class-3 list
    size_t raw = platform::allocation_count();
    {
        bigint::BigPtr big = bigint::big_alloc(bigint::max_free_class + 2);
        EXPECT_EQ(platform::allocation_count(), raw + 1);
    }
    EXPECT_EQ(platform::allocation_count(), raw);  // a large record goes back at once
    // Long conversions release everything they take.
    std::string digits(5000, '7');
    parse(digits + "e-5100");
    format_float_digits(4.9406564584124654e-324, 0, true);
    EXPECT_EQ(bigint::live_records(), live);
}

TEST(BigintTest, FloatDecomposition) {
    int e, bits;
    bigint::BigPtr b = bigint::float_to_big(12.0, &e, &bits);  // 3 x 2^2
    EXPECT_EQ(value_of(*b), 3u);
    EXPECT_EQ(e, 2);
    EXPECT_EQ(bits, 2);
    b = bigint::float_to_big(5e-324, &e, &bits);
    EXPECT_EQ(value_of(*b), 1u);
    EXPECT_EQ(e, -1074);
    EXPECT_EQ(bigint::ulp(1.0), 0x1p-52);
    EXPECT_EQ(bigint::ulp(0x1p-1060), 0x1p-1074);
    EXPECT_EQ(bigint::scaled_ulp(0x1p-1000, true), 0x1p-968);
    int length;
    EXPECT_EQ(bigint::big_to_float(*big_of((unsigned __int128)3 << 100), &length), 1.5);
    EXPECT_EQ(length, 102);
}
