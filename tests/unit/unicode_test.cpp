// Unicode conversions: UTF-8 and UTF-16LE in and out of 1/2/4-byte units,
// the strict and lenient UTF-8 decoders, and widening in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"
#include "tests/fresh_heap.h"

using namespace vyr;
using namespace vyr::unicode;

namespace {
using Bytes = std::vector<uint8_t>;
using CodePoints = std::vector<uint32_t>;

bool is_surrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Units of the given width holding `cps`.
Bytes units_of(const CodePoints& cps, unsigned width) {
    Bytes b(cps.size() * width);
    for (size_t i = 0; i < cps.size(); ++i) store_unit(b.data(), i, width, cps[i]);
    return b;
}

CodePoints code_points_of(const void* units, size_t count, unsigned width) {
    CodePoints cps(count);
    for (size_t i = 0; i < count; ++i) cps[i] = load_unit(units, i, width);
    return cps;
}

Bytes utf16_bytes(const std::vector<uint16_t>& units) {
    Bytes b;
    for (uint16_t u : units) b.insert(b.end(), {uint8_t(u), uint8_t(u >> 8)});
    return b;
}

// Decodes a whole UTF-8 text the way the string layer does: measure, then
// decode into a buffer of the measured width.
struct Decoded {
    Utf8Extent extent;
    CodePoints cps;
};
Decoded decode_utf8(const Bytes& in, unsigned min_width = 1, bool fold_cr = false) {
    Decoded d;
    d.extent = utf8_measure(in.data(), in.size(), min_width, fold_cr);
    Bytes out(d.extent.units * d.extent.width);
    size_t n = utf8_decode_units(in.data(), in.size(), out.data(), d.extent.width, fold_cr);
    EXPECT_EQ(n, d.extent.units);
    d.cps = code_points_of(out.data(), n, d.extent.width);
    return d;
}

// Runs `body`, which must raise the error (category, id); answers the
// error's message line.
template <typename F>
std::string raised_message(F body, int category, int id) {
    test::fresh_heap();  // an error's argument may be a new series
    try {
        body();
        ADD_FAILURE() << "no error raised";
        return {};
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error);
    }
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.category, category);
    EXPECT_EQ(e.id, id);
    return errors::message_line(e);
}
// The bytes of the binary! argument of an `invalid-utf8` error raised by `body`.
Bytes invalid_utf8(std::function<void()> body) {
    raised_message(body, err_cat::access, err_id::access::invalid_utf8);
    const Cell& arg = errors::last_error().args[0];
    if (type_of(arg) != type_binary) return {};
    const memory::SeriesBuffer* b = memory::buffer_of(arg.w2);
    return Bytes(b->data() + b->head, b->data() + b->tail);
}
std::string invalid_char(std::function<void()> body) {
    return raised_message(body, err_cat::script, err_id::script::invalid_char);
}
}  // namespace

// ---- Round trips ----------------------------------------------------------

TEST(UnicodeTest, EveryCodePointRoundTripsThroughUtf8) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= max_code_point; ++cp) {
        unsigned n = utf8_encode_char(cp, buf);
        ASSERT_EQ(n, utf8_char_length(cp)) << std::hex << cp;

        int32_t strict;
        const uint8_t* after = utf8_decode_step(buf, buf + n, strict);
        Utf8Char lenient = utf8_decode_lenient(buf, n);
        if (is_surrogate(cp)) {
            // The strict decoder refuses every surrogate; the lenient one only U+DC00-U+DCFF.
            ASSERT_EQ(strict, -1) << std::hex << cp;
            bool refused = cp >= 0xDC00 && cp <= 0xDCFF;
            ASSERT_EQ(lenient.status, refused ? Utf8Status::invalid : Utf8Status::ok) << std::hex << cp;
            if (!refused) {
                ASSERT_EQ(lenient.cp, int32_t(cp));
            }
            continue;
        }
        ASSERT_EQ(strict, int32_t(cp)) << std::hex << cp;
        ASSERT_EQ(after, buf + n);
        ASSERT_EQ(lenient.cp, int32_t(cp));
        ASSERT_EQ(lenient.length, n);
        uint8_t safe[4];
        ASSERT_EQ(utf8_encode(cp, safe), n);
        ASSERT_EQ(0, memcmp(safe, buf, n));
    }
}

TEST(UnicodeTest, AllCodePointsRoundTripAsText) {
    CodePoints all;
    for (uint32_t cp = 0; cp <= max_code_point; ++cp)
        if (!is_surrogate(cp)) all.push_back(cp);
    Bytes units = units_of(all, 4);

    // UTF-8
    Bytes utf8(utf8_conversion_size(all.size(), 4));
    size_t len = utf8_encode_units(units.data(), all.size(), 4, utf8.data(), false, true);
    EXPECT_EQ(len, utf8_range_length(units.data(), all.size(), 4));
    EXPECT_EQ(utf8[len], 0);
    utf8.resize(len);
    EXPECT_EQ(utf8_count_chars(utf8.data(), utf8.data() + len), all.size());
    Decoded d = decode_utf8(utf8);
    EXPECT_EQ(d.extent.consumed, len);
    EXPECT_EQ(d.extent.width, 4u);
    EXPECT_TRUE(d.cps == all);

    // UTF-16LE
    Bytes utf16(all.size() * 2 + 2 + utf16_extra_bytes(units.data(), all.size(), 4));
    ptrdiff_t n16 = utf16_encode_units(units.data(), all.size(), 4, utf16.data(), false);
    ASSERT_GT(n16, 0);
    EXPECT_EQ(size_t(n16) * 2 + 2, utf16.size() - 2 * std::count(all.begin(), all.end(), lf));
    EXPECT_EQ(utf16_unit_width(utf16.data(), size_t(n16)), 4u);
    Bytes back(all.size() * 4);
    size_t m = utf16_decode_units(utf16.data(), size_t(n16), back.data(), 4, false);
    EXPECT_EQ(m, all.size());
    EXPECT_TRUE(code_points_of(back.data(), m, 4) == all);
}

// ---- Ill-formed UTF-8 -------------------------------------------------------

TEST(UnicodeTest, IllFormedUtf8Table) {
    struct Case {
        const char* what;
        Bytes bytes;
        int32_t strict_cp;      // first step of the strict decoder
        size_t strict_length;   // bytes that step consumed
        Utf8Status lenient;
        int32_t lenient_cp;
    } cases[] = {
        {"valid 2", {0xC3, 0xA9}, 0xE9, 2, Utf8Status::ok, 0xE9},
        {"valid 3", {0xE2, 0x82, 0xAC}, 0x20AC, 3, Utf8Status::ok, 0x20AC},
        {"valid 4", {0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4, Utf8Status::ok, 0x1F600},
        {"overlong NUL", {0xC0, 0x80}, -1, 1, Utf8Status::ok, 0},
        {"overlong 2", {0xC1, 0xBF}, -1, 1, Utf8Status::ok, 0x7F},
        {"overlong 3", {0xE0, 0x80, 0x80}, -1, 2, Utf8Status::ok, 0},
        {"overlong 4", {0xF0, 0x80, 0x80, 0x80}, -1, 2, Utf8Status::ok, 0},
        {"high surrogate", {0xED, 0xA0, 0x80}, -1, 2, Utf8Status::ok, 0xD800},
        {"low surrogate DC00", {0xED, 0xB0, 0x80}, -1, 2, Utf8Status::invalid, -1},
        {"low surrogate DCFF", {0xED, 0xB3, 0xBF}, -1, 2, Utf8Status::invalid, -1},
        {"low surrogate DD00", {0xED, 0xB4, 0x80}, -1, 2, Utf8Status::ok, 0xDD00},
        {"too large F4", {0xF4, 0x90, 0x80, 0x80}, -1, 2, Utf8Status::invalid, -1},
        {"too large F5", {0xF5, 0x80, 0x80, 0x80}, -1, 1, Utf8Status::invalid, -1},
        {"five-byte lead", {0xF8, 0x88, 0x80, 0x80, 0x80}, -1, 1, Utf8Status::invalid, -1},
        {"FF", {0xFF}, -1, 1, Utf8Status::invalid, -1},
        {"stray continuation", {0x80, 0x41}, -1, 1, Utf8Status::invalid, -1},
        {"bad continuation", {0xC3, 0x41}, -1, 2, Utf8Status::invalid, -1},
        {"bad second of 3", {0xE2, 0x28, 0xA1}, -1, 2, Utf8Status::invalid, -1},
        {"bad third of 4", {0xF0, 0x9F, 0x41, 0x80}, -1, 3, Utf8Status::invalid, -1},
        {"truncated 2", {0xC3}, -1, 1, Utf8Status::incomplete, -1},
        {"truncated 3", {0xE2, 0x82}, -1, 2, Utf8Status::incomplete, -1},
        {"truncated 4", {0xF0, 0x9F, 0x98}, -1, 3, Utf8Status::incomplete, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An exact-size heap copy, so a read past the end shows up under ASan.
        std::vector<uint8_t> in(c.bytes);
        int32_t cp;
        const uint8_t* after = utf8_decode_step(in.data(), in.data() + in.size(), cp);
        EXPECT_EQ(cp, c.strict_cp);
        EXPECT_EQ(size_t(after - in.data()), c.strict_length);
        Utf8Char l = utf8_decode_lenient(in.data(), in.size());
        EXPECT_EQ(l.status, c.lenient);
        EXPECT_EQ(l.cp, c.lenient_cp);
        if (l.status == Utf8Status::ok) {
            size_t length = in.size();
            EXPECT_EQ(utf8_decode_char(in.data(), length), c.lenient_cp);
            EXPECT_EQ(length, l.length);
        }
    }
}

TEST(UnicodeTest, StrictStepsCountAndSkipThroughBadBytes) {
    // a, é, a bad pair C3 41 (one sequence), €, lone 80, 😀, then a cut-off E2 82.
    Bytes text = {0x61, 0xC3, 0xA9, 0xC3, 0x41, 0xE2, 0x82, 0xAC, 0x80, 0xF0, 0x9F, 0x98, 0x80, 0xE2, 0x82};
    const uint8_t* begin = text.data();
    const uint8_t* end = begin + text.size();
    EXPECT_EQ(utf8_count_chars(begin, end), 7u);
    EXPECT_EQ(utf8_skip_chars(begin, end, 3), begin + 5);
    EXPECT_EQ(utf8_skip_chars(begin, end, 6), begin + 13);
    EXPECT_EQ(utf8_skip_chars(begin, end, 100), end);
    EXPECT_EQ(utf8_count_chars(begin, begin), 0u);

    struct {
        uint8_t lead;
        unsigned length;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4}, {0xFF, 4}};
    for (auto l : leads) EXPECT_EQ(utf8_seq_length(l.lead), l.length) << std::hex << int(l.lead);
}

TEST(UnicodeErrorTest, InvalidUtf8RaisesAccessError) {
    const Bytes bad = {0xED, 0xB0, 0x80};
    EXPECT_EQ(invalid_utf8([&] {
                  size_t length = bad.size();
                  (void)utf8_decode_char(bad.data(), length);
              }),
              bad);
    // Inside longer text, as a file or standard input delivers it: the
    // argument holds up to four bytes from the bad sequence on.
    const Bytes text = {'o', 'k', ' ', 0xC3, 0x28, ' ', 'x'};
    const Bytes shown = {0xC3, 0x28, ' ', 'x'};
    EXPECT_EQ(invalid_utf8([&] { (void)utf8_measure(text.data(), text.size(), 1, true); }), shown);
    EXPECT_EQ(invalid_utf8([&] {
                  uint8_t out[8];
                  (void)utf8_decode_units(text.data(), text.size(), out, 1, false);
              }),
              shown);
}

TEST(UnicodeErrorTest, CodePointAboveRangeRaisesInvalidChar) {
    uint8_t out[8];
    EXPECT_EQ(invalid_char([&] { (void)utf8_encode_char(0x110000, out); }),
              "*** Script Error: Invalid char! value: 1114112");
    EXPECT_EQ(invalid_char([] { (void)utf8_char_length(0xFFFFFFFF); }), "*** Script Error: Invalid char! value: -1");
    Bytes units = units_of({0x41, 0x110000}, 4);
    EXPECT_EQ(invalid_char([&] { (void)utf8_range_length(units.data(), 2, 4); }),
              "*** Script Error: Invalid char! value: 1114112");
}

// ---- UTF-8 text to units ----------------------------------------------------

TEST(UnicodeTest, Utf8TextToUnits) {
    struct Case {
        const char* what;
        Bytes in;
        unsigned min_width;
        bool fold_cr;
        CodePoints out;
        unsigned width;
        size_t consumed;
    } cases[] = {
        {"empty", {}, 1, false, {}, 1, 0},
        {"ascii", {'a', 'b'}, 1, false, {'a', 'b'}, 1, 2},
        {"latin-1 fits width 1", {0xC3, 0xBF}, 1, false, {0xFF}, 1, 2},
        {"a e-acute euro: width 2", {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}, 1, false, {'a', 0xE9, 0x20AC}, 2, 6},
        {"then U+1F600: width 4",
         {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80},
         1, false, {'a', 0xE9, 0x20AC, 0x1F600}, 4, 10},
        {"target width kept", {'a'}, 2, false, {'a'}, 2, 1},
        {"incomplete tail kept back", {'a', 0xE2, 0x82}, 1, false, {'a'}, 1, 1},
        {"byte-order mark alone", {0xEF, 0xBB, 0xBF}, 1, false, {}, 1, 3},
        {"byte-order mark skipped", {0xEF, 0xBB, 0xBF, 'x'}, 1, false, {'x'}, 1, 4},
        {"mark only at the start", {'x', 0xEF, 0xBB, 0xBF}, 1, false, {'x', 0xFEFF}, 2, 4},
        {"CR LF folds", {'a', '\r', '\n', 'b'}, 1, true, {'a', '\n', 'b'}, 1, 4},
        {"lone CR folds", {'a', '\r', 'b'}, 1, true, {'a', '\n', 'b'}, 1, 3},
        {"CR at the end folds", {'a', '\r'}, 1, true, {'a', '\n'}, 1, 2},
        {"CR CR LF", {'\r', '\r', '\n'}, 1, true, {'\n', '\n'}, 1, 3},
        {"no folding", {'a', '\r', '\n'}, 1, false, {'a', '\r', '\n'}, 1, 3},
        {"lenient surrogate value", {0xED, 0xA0, 0x80}, 1, false, {0xD800}, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Decoded d = decode_utf8(c.in, c.min_width, c.fold_cr);
        EXPECT_EQ(d.extent.width, c.width);
        EXPECT_EQ(d.extent.consumed, c.consumed);
        EXPECT_TRUE(d.cps == c.out);
    }
}

// ---- Units to UTF-8 ---------------------------------------------------------

TEST(UnicodeTest, UnitsToUtf8) {
    struct Case {
        const char* what;
        CodePoints text;
        unsigned width;
        bool crlf;
        Bytes out;
    } cases[] = {
        {"e-acute at width 1", {0xE9}, 1, false, {0xC3, 0xA9}},
        {"euro at width 2", {0x20AC}, 2, false, {0xE2, 0x82, 0xAC}},
        {"U+1F600 at width 4", {0x1F600}, 4, false, {0xF0, 0x9F, 0x98, 0x80}},
        {"LF stays LF", {'a', '\n', 'b'}, 1, false, {'a', '\n', 'b'}},
        {"CR before LF", {'a', '\n', 'b'}, 1, true, {'a', '\r', '\n', 'b'}},
        {"surrogate value survives", {0xD800}, 2, false, {0xED, 0xA0, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes units = units_of(c.text, c.width);
        Bytes out(utf8_conversion_size(c.text.size(), c.width), 0xAA);
        size_t n = utf8_encode_units(units.data(), c.text.size(), c.width, out.data(), c.crlf, true);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out);
        EXPECT_EQ(out[n], 0);
    }
}

TEST(UnicodeTest, ConversionSizeCoversTheWorstCase) {
    // The widest character of each width, and LFs that each gain a CR.
    struct {
        unsigned width;
        uint32_t widest;
    } cases[] = {{1, 0xFF}, {2, 0xFFFF}, {4, max_code_point}};
    for (auto c : cases) {
        for (uint32_t cp : {c.widest, lf}) {
            CodePoints text(50, cp);
            Bytes units = units_of(text, c.width);
            Bytes out(utf8_conversion_size(text.size(), c.width));
            size_t n = utf8_encode_units(units.data(), text.size(), c.width, out.data(), true, true);
            EXPECT_LE(n + 1, out.size()) << c.width;
        }
    }
}

TEST(UnicodeTest, BudgetCutsInsideACharacter) {
    Bytes units = units_of({0x20AC, 'x'}, 2);
    struct {
        ptrdiff_t budget;
        Bytes out;
        bool nul_written;
    } cases[] = {
        {-1, {}, false}, {0, {}, false}, {2, {0xE2, 0x82}, false}, {3, {0xE2, 0x82, 0xAC}, false},
        {4, {0xE2, 0x82, 0xAC, 'x'}, false}, {5, {0xE2, 0x82, 0xAC, 'x'}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        Bytes out(8, 0xAA);
        size_t n = utf8_encode_units_budget(units.data(), 2, 2, out.data(), c.budget, true);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out);
        EXPECT_EQ(out[n], c.nul_written ? 0 : 0xAA);
    }
    uint8_t one[4] = {};
    EXPECT_EQ(utf8_encode_char_budget(0x20AC, one, 2), 2u);
    EXPECT_EQ(one[2], 0);
}

// ---- UTF-16LE ---------------------------------------------------------

TEST(UnicodeTest, Utf16ToUnits) {
    struct Case {
        const char* what;
        std::vector<uint16_t> in;
        bool drop_cr;
        unsigned width;
        CodePoints out;
    } cases[] = {
        {"ascii", {'a', 'b'}, false, 1, {'a', 'b'}},
        {"latin-1", {'a', 0xFF}, false, 1, {'a', 0xFF}},
        {"bmp", {'a', 0x20AC}, false, 2, {'a', 0x20AC}},
        {"pair", {0xD83D, 0xDE00}, false, 4, {0x1F600}},
        {"first and last pair", {0xD800, 0xDC00, 0xDBFF, 0xDFFF}, false, 4, {0x10000, 0x10FFFF}},
        {"lone high at the end", {'a', 0xD83D}, false, 4, {'a', replacement_char}},
        {"high then a letter", {0xD83D, 'a'}, false, 4, {replacement_char, 'a'}},
        {"high then high then low", {0xD800, 0xD800, 0xDC00}, false, 4, {replacement_char, 0x10000}},
        {"lone low", {0xDE00, 'a'}, false, 4, {0xDE00, 'a'}},
        {"reversed pair", {0xDE00, 0xD83D}, false, 4, {0xDE00, replacement_char}},
        {"CR dropped", {'a', '\r', 'b'}, true, 1, {'a', 'b'}},
        {"every CR dropped", {'\r', '\r', '\n', 0x20AC, '\r'}, true, 2, {'\n', 0x20AC}},
        {"CR dropped beside a pair", {0xD83D, 0xDE00, '\r'}, true, 4, {0x1F600}},
        {"CR kept", {'a', '\r', '\n'}, false, 1, {'a', '\r', '\n'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = utf16_bytes(c.in);
        unsigned width = utf16_unit_width(in.data(), c.in.size());
        EXPECT_EQ(width, c.width);
        Bytes out(c.in.size() * width);
        size_t n = utf16_decode_units(in.data(), c.in.size(), out.data(), width, c.drop_cr);
        EXPECT_TRUE(code_points_of(out.data(), n, width) == c.out);
    }
}

TEST(UnicodeTest, UnitsToUtf16) {
    struct Case {
        const char* what;
        CodePoints text;
        unsigned width;
        bool crlf;
        std::vector<uint16_t> out;
    } cases[] = {
        {"LF gains CR", {'a', '\n', 'b'}, 1, true, {'a', '\r', '\n', 'b'}},
        {"LF alone", {'a', '\n', 'b'}, 1, false, {'a', '\n', 'b'}},
        {"width 2", {0x20AC, 0xFFFF}, 2, false, {0x20AC, 0xFFFF}},
        {"pairs", {0x10000, 0x10FFFF, '\n'}, 4, true, {0xD800, 0xDC00, 0xDBFF, 0xDFFF, '\r', '\n'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes units = units_of(c.text, c.width);
        size_t room = c.text.size() * 2 + 2 + utf16_extra_bytes(units.data(), c.text.size(), c.width);
        Bytes out(room);
        ptrdiff_t n = utf16_encode_units(units.data(), c.text.size(), c.width, out.data(), c.crlf);
        ASSERT_EQ(n, ptrdiff_t(c.out.size()));
        Bytes expected = utf16_bytes(c.out);
        expected.insert(expected.end(), {0, 0});
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n * 2 + 2), expected);
        if (c.crlf) {
            EXPECT_EQ(room, expected.size());  // room is exact with CRs added
        }
    }

    Bytes too_large = units_of({'a', 0x110000}, 4);
    uint8_t out[16];
    EXPECT_EQ(utf16_encode_units(too_large.data(), 2, 4, out, false), -1);
    uint8_t one[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(utf16_encode_char(0x110000, one), 0u);
    EXPECT_EQ(one[0], 0xAA);
}

// ---- Widths and widening ----------------------------------------------------

TEST(UnicodeTest, NarrowestWidth) {
    struct {
        uint32_t cp;
        unsigned width;
    } cases[] = {{0, 1}, {0xFF, 1}, {0x100, 2}, {0xFFFF, 2}, {0x10000, 4}, {max_code_point, 4}};
    for (auto c : cases) EXPECT_EQ(unit_width_of(c.cp), c.width) << std::hex << c.cp;
}

TEST(UnicodeTest, WideningInPlace) {
    struct {
        unsigned from, to;
        CodePoints text;
    } cases[] = {
        {1, 2, {0, 'a', 0x7F, 0x80, 0xFF}},
        {1, 4, {0, 'a', 0x7F, 0x80, 0xFF}},
        {2, 4, {0, 0xFF, 0x100, 0x8000, 0xFFFF}},
        {1, 2, {}},
        {1, 4, {0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << "->" << c.to << " of " << c.text.size());
        Bytes buf(c.text.size() * c.to + 1, 0xAA);  // room for the wider units, and a guard byte
        Bytes narrow = units_of(c.text, c.from);
        std::copy(narrow.begin(), narrow.end(), buf.begin());
        widen_in_place(buf.data(), c.text.size(), c.from, c.to);
        EXPECT_TRUE(code_points_of(buf.data(), c.text.size(), c.to) == c.text);
        EXPECT_EQ(buf.back(), 0xAA);
    }
}

TEST(UnicodeDeathTest, BadUnitWidthIsRuntimeError101) {
    uint8_t buf[16] = {};
    EXPECT_EXIT((platform::set_output_fd(STDERR_FILENO), widen_in_place(buf, 2, 4, 2)),
                testing::ExitedWithCode(101), "Runtime Error 101");
    EXPECT_EXIT((platform::set_output_fd(STDERR_FILENO), (void)utf8_range_length(buf, 2, 3)),
                testing::ExitedWithCode(101), "Runtime Error 101");
}
