// The lexer's decoders: each literal form to its plain result, and the
// malformed forms to the error they report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lexer.h"
#include "engine/lexer_scan.h"
#include "runtime/cell.h"

using namespace vyr;
using namespace vyr::lexer;

namespace {

const uint8_t* b(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }
const uint8_t* e(std::string_view s) { return b(s) + s.size(); }

// The token flags the automaton would give the text.
uint32_t flags_of(std::string_view s) {
    uint32_t f = 0;
    for (uint8_t c : s) f |= byte_class[c] & ~class_mask;
    return f;
}

int32_t escape(std::string_view s, size_t* used = nullptr) {
    const uint8_t* p = b(s);
    int32_t v = escape_decode(p, e(s));
    if (used) *used = size_t(p - b(s));
    return v;
}

std::u32string text_of(std::string_view s, bool escapes, uint32_t* unit = nullptr) {
    TextShape shape;
    if (!measure_text(b(s), e(s), flags_of(s), escapes, shape)) return U"<invalid>";
    std::vector<uint32_t> units(shape.count + 1);
    std::vector<uint8_t> raw(size_t(shape.count) * shape.unit + 4);
    decode_text(b(s), e(s), escapes, shape, raw.data());
    std::u32string out;
    for (uint32_t i = 0; i < shape.count; ++i) {
        uint32_t v = 0;
        std::memcpy(&v, raw.data() + size_t(i) * shape.unit, shape.unit);
        out.push_back(char32_t(v));
    }
    if (unit) *unit = shape.unit;
    return out;
}

}  // namespace

// ---- Escapes and text -----------------------------------------------------------

TEST(LexerScan, Escapes) {
    struct Case {
        const char* text;  // after the "^"
        int32_t value;
        size_t used;
    } cases[] = {
        {"/", 10, 1},        {"-", 9, 1},         {"@", 0, 1},          {"\"", 34, 1},       {"{", 123, 1},
        {"}", 125, 1},       {"^", 94, 1},        {"~", 127, 1},        {"a", 1, 1},         {"z", 26, 1},
        {"A", 1, 1},         {"[", 27, 1},        {"_", 31, 1},         {"!", 33, 1},        {"(A)", 10, 3},
        {"(41)", 0x41, 4},   {"(line)", 10, 6},   {"(LINE)", 10, 6},    {"(tab)", 9, 5},     {"(null)", 0, 6},
        {"(back)", 8, 6},    {"(page)", 12, 6},   {"(esc)", 27, 5},     {"(del)", 127, 5},   {"(263A)", 0x263A, 6},
        {"(bac)", 0xBAC, 5}, {"(10FFFF)", 0x10FFFF, 8},
    };
    for (const auto& c : cases) {
        size_t used = 0;
        EXPECT_EQ(escape(c.text, &used), c.value) << c.text;
        EXPECT_EQ(used, c.used) << c.text;
    }
    // No ")", no digit, a non-hex digit, seven digits, and code points past U+10FFFF.
    for (const char* bad : {"(", "(41", "()", "(zz)", "(lin)", "(0000041)", "(110000)", "(FFFFFF)", ""})
        EXPECT_EQ(escape(bad), -1) << bad;
}

TEST(LexerScan, TextWithAndWithoutEscapes) {
    uint32_t unit = 0;
    EXPECT_EQ(text_of("a^\"b", true), U"a\"b");
    EXPECT_EQ(text_of("a^/b^(tab)c", true), U"a\nb\tc");
    EXPECT_EQ(text_of("x^(263A)", true, &unit), U"x\u263A");
    EXPECT_EQ(unit, 2u);  // more than two hex digits widen to 2 bytes
    EXPECT_EQ(text_of("^(1F600)", true, &unit), U"\U0001F600");
    EXPECT_EQ(unit, 4u);
    EXPECT_EQ(text_of("\xC3\xA9t\xC3\xA9", true, &unit), U"\u00E9t\u00E9");
    EXPECT_EQ(unit, 2u);
    EXPECT_EQ(text_of("\xF0\x9F\x98\x80", false, &unit), U"\U0001F600");
    EXPECT_EQ(unit, 4u);
    EXPECT_EQ(text_of("a^b", false), U"a^b");  // no escapes in raw strings, tags, urls ...
    EXPECT_EQ(text_of("^(110000)", true), U"<invalid>");
    EXPECT_EQ(text_of("^(zz)", true), U"<invalid>");
    EXPECT_EQ(text_of("\xC3(", false), U"<invalid>");
}

TEST(LexerScan, Characters) {
    struct Case {
        const char* token;  // up to the closing quote
        uint32_t cp;
    } cases[] = {
        {"#\"a", 'a'}, {"#\"^/", 10}, {"#\"^(line)", 10}, {"#\"^(263A)", 0x263A}, {"#\"\xE2\x98\xBA", 0x263A},
        {"#\"^\"", '"'},
    };
    for (const auto& c : cases) {
        uint32_t cp = 0;
        EXPECT_EQ(scan_char(b(c.token), e(c.token), cp), code_ok) << c.token;
        EXPECT_EQ(cp, c.cp) << c.token;
    }
    for (const char* bad : {"#\"", "#\"ab", "#\"^(110000)", "#\"^(12", "#\"\xE2\x98"}) {
        uint32_t cp;
        EXPECT_EQ(scan_char(b(bad), e(bad), cp), int32_t(type_char)) << bad;
    }
}

// ---- Numbers ----------------------------------------------------------------------

TEST(LexerScan, Integers) {
    struct Case {
        const char* text;
        bool is_float;
        double value;
    } cases[] = {
        {"2147483647", false, 2147483647.0}, {"-2147483648", false, -2147483648.0}, {"1'000", false, 1000},
        {"+7", false, 7},                    {"-0", false, 0},                       {"007", false, 7},
        {"2147483648", true, 2147483648.0},  {"12345678901", true, 12345678901.0},  {"-2147483649", true, -2147483649.0},
        {"-2'147'483'648", true, -2147483648.0},
    };
    for (const auto& c : cases) {
        IntegerValue v{};
        ASSERT_EQ(scan_integer(b(c.text), e(c.text), flags_of(c.text), v), code_ok) << c.text;
        EXPECT_EQ(v.is_float, c.is_float) << c.text;
        EXPECT_EQ(v.is_float ? v.number : double(v.integer), c.value) << c.text;
    }
    for (const char* bad : {"1''0", "-", "+", "1a"}) {
        IntegerValue v;
        EXPECT_EQ(scan_integer(b(bad), e(bad), flags_of(bad), v), int32_t(type_integer)) << bad;
    }
}

TEST(LexerScan, FloatsPercentsAndHex) {
    struct Case {
        const char* text;
        double value;
    } floats[] = {{"1.5", 1.5}, {".5", 0.5}, {"1e3", 1000}, {"1.5e-3", 0.0015}, {"1'000.5", 1000.5}, {"1.", 1.0}};
    for (const auto& c : floats) {
        double d = 0;
        EXPECT_EQ(scan_float(b(c.text), e(c.text), flags_of(c.text), d), code_ok) << c.text;
        EXPECT_EQ(d, c.value) << c.text;
    }
    double d = 0;
    EXPECT_EQ(scan_float(b("1.#2"), e("1.#2"), 0, d), int32_t(type_float));
    EXPECT_EQ(scan_float_special(b("1.#INF"), e("1.#INF"), d), code_ok);
    EXPECT_TRUE(std::isinf(d) && d > 0);
    EXPECT_EQ(scan_float_special(b("-1.#inf"), e("-1.#inf"), d), code_ok);
    EXPECT_TRUE(std::isinf(d) && d < 0);
    EXPECT_EQ(scan_float_special(b("1.#NaN"), e("1.#NaN"), d), code_ok);
    EXPECT_TRUE(std::isnan(d));
    EXPECT_EQ(scan_float_special(b("2.#INF"), e("2.#INF"), d), int32_t(type_float));
    EXPECT_EQ(scan_percent(b("12"), e("12"), 0, d), code_ok);
    EXPECT_EQ(d, 0.12);
    EXPECT_EQ(scan_percent(b("12.5"), e("12.5"), 0, d), code_ok);
    EXPECT_EQ(d, 0.125);

    int32_t h = 0;
    EXPECT_EQ(scan_hex_integer(b("FFh"), e("FFh"), h), code_ok);
    EXPECT_EQ(h, 255);
    EXPECT_EQ(scan_hex_integer(b("FFFFFFFFh"), e("FFFFFFFFh"), h), code_ok);
    EXPECT_EQ(h, -1);  // wraps above 7FFFFFFF
    EXPECT_EQ(scan_hex_integer(b("Ah"), e("Ah"), h), int32_t(type_word));
    EXPECT_EQ(scan_hex_integer(b("1h"), e("1h"), h), int32_t(type_integer));
    EXPECT_EQ(scan_hex_integer(b("123456789h"), e("123456789h"), h), int32_t(type_integer));
}

TEST(LexerScan, FloatSyntax) {
    for (const char* ok : {"1", "-1", "+.5", "1.", "1.5", "1e5", "1E-5", "1'000", "1.2'3", "."})
        EXPECT_TRUE(float_syntax(b(ok), e(ok))) << ok;
    for (const char* bad : {"", "-", "1e", "1.e5", "1,5", "1..2", "'1", "1x", "1e5.0"})
        EXPECT_FALSE(float_syntax(b(bad), e(bad))) << bad;
    std::string long_text(313, '1');
    EXPECT_FALSE(float_syntax(b(long_text), e(long_text)));
    long_text.pop_back();
    EXPECT_TRUE(float_syntax(b(long_text), e(long_text)));
}

TEST(LexerScan, TuplesPairsAndPoints) {
    uint8_t parts[tuple_max_parts];
    uint32_t count = 0;
    EXPECT_EQ(scan_tuple(b("1.2.3"), e("1.2.3"), parts, count), code_ok);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(parts[2], 3);
    EXPECT_EQ(scan_tuple(b("255.0.0.1.2.3.4.5.6.7.8.9"), e("255.0.0.1.2.3.4.5.6.7.8.9"), parts, count), code_ok);
    EXPECT_EQ(count, 12u);
    for (const char* bad : {"1..2", "1.2.256", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1.2.", "1.2"})
        EXPECT_EQ(scan_tuple(b(bad), e(bad), parts, count), int32_t(type_tuple)) << bad;

    int32_t x = 0, y = 0;
    EXPECT_EQ(scan_pair(b("1x2"), e("1x2"), x, y), code_ok);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(scan_pair(b("-10X-20"), e("-10X-20"), x, y), code_ok);
    EXPECT_EQ(y, -20);
    for (const char* bad : {"1x2.5", "1x2e5", "1x-", "1x99999999999"})
        EXPECT_EQ(scan_pair(b(bad), e(bad), x, y), int32_t(type_pair)) << bad;

    PointValue p{};
    EXPECT_EQ(scan_point(b("1, 2"), e("1, 2"), p), code_ok);
    EXPECT_EQ(p.count, 2u);
    EXPECT_EQ(p.v[1], 2.0f);
    EXPECT_EQ(scan_point(b(" 1.5 ,\t2 , -3e1 "), e(" 1.5 ,\t2 , -3e1 "), p), code_ok);
    EXPECT_EQ(p.count, 3u);
    EXPECT_EQ(p.v[2], -30.0f);
    EXPECT_EQ(scan_point(b("1.#INF, 1e400"), e("1.#INF, 1e400"), p), code_ok);
    EXPECT_TRUE(std::isinf(p.v[0]) && std::isinf(p.v[1]));
    EXPECT_EQ(scan_point(b("1"), e("1"), p), int32_t(type_point2d));
    EXPECT_EQ(scan_point(b("1, "), e("1, "), p), int32_t(type_point2d));
    EXPECT_EQ(scan_point(b("1 2"), e("1 2"), p), int32_t(type_point2d));
    EXPECT_EQ(scan_point(b("1, a"), e("1, a"), p), int32_t(type_point2d));
    EXPECT_EQ(scan_point(b("1, 2, 3, 4"), e("1, 2, 3, 4"), p), int32_t(type_point3d));
}

TEST(LexerScan, Times) {
    struct Case {
        const char* text;
        double seconds;
    } cases[] = {
        {"12:30", 12 * 3600 + 30 * 60}, {"1:30.5", 90.5},          {"1:30,5", 90.5},       {"-1:00", -3600},
        {"-1:30", -5400},               {"-0:30", -1800},          {"1:02:03", 3723},      {"1:02:03.25", 3723.25},
        {"+2:00", 7200},                {"1'000:00", 3600000},
    };
    for (const auto& c : cases) {
        double s = 0;
        EXPECT_EQ(scan_time(b(c.text), e(c.text), s), code_ok) << c.text;
        EXPECT_EQ(s, c.seconds) << c.text;
    }
    for (const char* bad : {"1:", "1:-2", "1:2:", "1:2x", "99999999999:00", "1:2:3e5", "1:2:3:4"}) {
        double s;
        EXPECT_EQ(scan_time(b(bad), e(bad), s), int32_t(type_time)) << bad;
    }
}

TEST(LexerScan, Money) {
    struct Case {
        const char* text;
        bool negative;
        const char* currency;
        const char* integral;
        const char* fraction;  // null without a point
    } cases[] = {
        {"$1.50", false, "", "1", "50"},       {"USD$1", false, "USD", "1", nullptr},
        {"-$0.00001", true, "", "0", "00001"}, {"+$007", false, "", "7", nullptr},
        {"$1'000'000.5", false, "", "1'000'000", "5"}, {"$000.5", false, "", "0", "5"},
    };
    for (const auto& c : cases) {
        MoneyParts m{};
        ASSERT_EQ(scan_money(b(c.text), e(c.text), m), code_ok) << c.text;
        EXPECT_EQ(m.negative, c.negative) << c.text;
        EXPECT_EQ(m.currency ? std::string(reinterpret_cast<const char*>(m.currency), 3) : "", c.currency);
        const uint8_t* int_end = m.point ? m.point : m.end;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.digits + 1), size_t(int_end - m.digits - 1)), c.integral)
            << c.text;
        if (c.fraction) {
            ASSERT_NE(m.point, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.point + 1), size_t(m.end - m.point - 1)), c.fraction);
        } else {
            EXPECT_EQ(m.point, nullptr);
        }
    }
    for (const char* bad : {"$1.123456", "US$1", "$", "$.5", "$'1", "$1''0", "$1'", "$1.", "$1'.5",
                            "$123456789012345678", "$1.5'0"}) {
        MoneyParts m;
        EXPECT_EQ(scan_money(b(bad), e(bad), m), int32_t(type_money)) << bad;
    }
    MoneyParts m;
    EXPECT_EQ(scan_money(b("$00000000000000000012345678901234567"), e("$00000000000000000012345678901234567"), m),
              code_ok);  // 17 digits once the leading zeros are dropped
}

// ---- Dates ----------------------------------------------------------------------

TEST(LexerScan, CalendarDayNumbers) {
    EXPECT_EQ(day_number(1970, 1, 1), 719468);
    EXPECT_EQ(day_number(0, 3, 1), 0);
    for (int32_t d : {-800000, -1, 0, 59, 60, 719468, 738000, 3652424}) {
        int32_t y, m, dd;
        date_of_day_number(d, y, m, dd);
        EXPECT_EQ(day_number(y, m, dd), d) << d;
    }
    EXPECT_TRUE(leap_year(2000));
    EXPECT_FALSE(leap_year(1900));
    EXPECT_TRUE(leap_year(2024));
}

TEST(LexerScan, Dates) {
    struct Case {
        const char* text;
        int32_t y, m, d;
        bool has_time;
        double time;
        int32_t zh, zm;
    } cases[] = {
        {"1-Jan-2000", 2000, 1, 1, false, 0, 0, 0},
        {"1/1/2000", 2000, 1, 1, false, 0, 0, 0},
        {"2000-01-01", 2000, 1, 1, false, 0, 0, 0},
        {"2000/1/31", 2000, 1, 31, false, 0, 0, 0},
        {"15-march-2024", 2024, 3, 15, false, 0, 0, 0},
        {"15-Sep-99", 1999, 9, 15, false, 0, 0, 0},
        {"1-jan-00/10:00+2:00", 2000, 1, 1, true, 36000, 2, 0},
        {"1-Jan-2000/10:30:15.5-5:30", 2000, 1, 1, true, 37815.5, -5, 30},
        {"1-Jan-2000T10:00Z", 2000, 1, 1, true, 36000, 0, 0},
        {"1-Jan-0049", 49, 1, 1, false, 0, 0, 0},
        {"29-Feb-2000", 2000, 2, 29, false, 0, 0, 0},
        {"2000-W01-1", 2000, 1, 3, false, 0, 0, 0},
        {"2021-W01", 2021, 1, 4, false, 0, 0, 0},
        {"2000-W00", 2000, 1, 1, false, 0, 0, 0},
        {"2020-W53-7", 2021, 1, 3, false, 0, 0, 0},
        {"2000-123", 2000, 5, 2, false, 0, 0, 0},
        {"2001-365T12:00", 2001, 12, 31, true, 43200, 0, 0},
        {"20240315T1030", 2024, 3, 15, true, 37800, 0, 0},
        {"20240315T103015.5Z", 2024, 3, 15, true, 37815.5, 0, 0},
        {"20240315T103000-0530", 2024, 3, 15, true, 37800, -5, 30},
    };
    for (const auto& c : cases) {
        DateValue v{};
        ASSERT_EQ(scan_date(b(c.text), e(c.text), v), code_ok) << c.text;
        EXPECT_EQ(v.year, c.y) << c.text;
        EXPECT_EQ(v.month, c.m) << c.text;
        EXPECT_EQ(v.day, c.d) << c.text;
        EXPECT_EQ(v.has_time, c.has_time) << c.text;
        EXPECT_EQ(v.time, c.time) << c.text;
        EXPECT_EQ(v.zone_hours, c.zh) << c.text;
        EXPECT_EQ(v.zone_minutes, c.zm) << c.text;
    }
    for (const char* bad : {"29-Feb-2001", "31-Apr-2000", "0-Jan-2000", "1-Foo-2000", "1-Ja-2000", "1-13-2000",
                            "1-Jan/2000", "1-Jan-2000/24:00", "1-Jan-2000/10:60", "1-Jan-2000/10:00:60",
                            "1-Jan-2000/10:00+16:00", "1-Jan-2000/10:00+1:99", "1-Jan-2000/10", "1-Jan-2000x",
                            "2000-000", "2000-W01-8", "20241315T1030", "20240315T1030+05", "2000-1-1/"}) {
        DateValue v;
        EXPECT_EQ(scan_date(b(bad), e(bad), v), int32_t(type_date)) << bad;
    }
}

// ---- Binary ---------------------------------------------------------------------

TEST(LexerScan, Binaries) {
    struct Case {
        uint32_t base;
        const char* text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {16, "0A 0b", {0x0A, 0x0B}},
        {16, "0 A\n; comment ff\nFF", {0x0A, 0xFF}},
        {16, "", {}},
        {2, "00000001", {1}},
        {2, "0000 1111 11110000", {0x0F, 0xF0}},
        {64, "AQID", {1, 2, 3}},
        {64, "TWE=", {0x4D, 0x61}},
        {64, "TQ==", {0x4D}},
        {64, "TW Fu\n", {0x4D, 0x61, 0x6E}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(binary_capacity(c.base, b(c.text), e(c.text)));
        int32_t n = binary_decode(c.base, b(c.text), e(c.text), out.data());
        ASSERT_EQ(n, int32_t(c.bytes.size())) << c.text;
        out.resize(size_t(n));
        EXPECT_EQ(out, c.bytes) << c.text;
        EXPECT_EQ(binary_decode(c.base, b(c.text), e(c.text), nullptr), n) << c.text;
    }
    struct Bad {
        uint32_t base;
        const char* text;
    } bad[] = {{16, "ABC"}, {16, "XY"}, {2, "0000000"}, {2, "00000002"}, {64, "T==="}, {64, "AQI"},
               {64, "TQ==AQID"}, {64, "T\xC3"}, {64, "TWE"}};
    for (const auto& c : bad) EXPECT_EQ(binary_decode(c.base, b(c.text), e(c.text), nullptr), -1) << c.text;
    EXPECT_EQ(binary_base(b("#{"), e("#{")), 16u);
    EXPECT_EQ(binary_base(b("2#{"), e("2#{")), 2u);
    EXPECT_EQ(binary_base(b("64#{"), e("64#{")), 64u);
    EXPECT_EQ(binary_base(b("8#{"), e("8#{")), 0u);
}

// ---- Constructions and words ------------------------------------------------------

TEST(LexerScan, Constructions) {
    auto names = [](uint32_t id) -> const char* {
        switch (id) {
            case 3: return "none!";
            case 11: return "integer!";
            case 20: return "issue!";
            default: return nullptr;
        }
    };
    struct Case {
        const char* text;
        int32_t code;
        Construction::Kind kind;
        uint32_t type;
    } cases[] = {
        {"true", code_ok, Construction::logic_true, 0},  {"FALSE", code_ok, Construction::logic_false, 0},
        {"none", code_ok, Construction::none, 0},        {"unset", code_ok, Construction::unset, 0},
        {"integer!", code_ok, Construction::datatype, 11}, {"none!", code_ok, Construction::datatype, 3},
        {"Issue", code_ok, Construction::datatype, 20},  {"tru", code_malconstruct, Construction::none, 0},
        {"foo", code_malconstruct, Construction::none, 0}, {"", code_malconstruct, Construction::none, 0},
        {"integer!x", code_malconstruct, Construction::none, 0},
    };
    for (const auto& c : cases) {
        Construction out{};
        EXPECT_EQ(scan_construction(b(c.text), e(c.text), names, 20, out), c.code) << c.text;
        if (c.code == code_ok) {
            EXPECT_EQ(out.kind, c.kind) << c.text;
            EXPECT_EQ(out.type, c.type) << c.text;
        }
    }
}

TEST(LexerScan, PointLiteralAheadAndUnicodeBlanks) {
    for (const char* yes : {"1, 2)", "1.5,2)", "-1.#INF, 0)", "1 2 3"}) EXPECT_TRUE(point_literal_ahead(b(yes), e(yes))) << yes;
    for (const char* no : {"1)", "foo bar , 1)", "a b)", "1,"}) EXPECT_FALSE(point_literal_ahead(b(no), e(no))) << no;

    std::string_view w = "\xC2\xA0\xE3\x80\x80" "ab\xE2\x80\x8C" "c\xC2\xA0" "d";
    const uint8_t* start = unicode_blank_skip(b(w), e(w));
    EXPECT_EQ(start - b(w), 5);
    const uint8_t* cut = unicode_blank_cut(start, e(w));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), size_t(cut - start)), "ab\xE2\x80\x8C" "c");
}
