// The text-buffer layer: widening, writing, concatenation, construction from
// external text, the conversion buffer, comparison and the hex helpers.
#include <gtest/gtest.h>

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/text_codec.h"
#include "datatypes/text_errors.h"
#include "runtime/collector.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;
namespace st = vyr::string_t;

using StringBufferTest = RuntimeTest;
using StringBufferErrorTest = RuntimeTest;

// ---- Widening -------------------------------------------------------------------

TEST_F(StringBufferTest, AppendWidensFromCodePoint128ButPokeAndInsertKeepLatin1) {
    Cell s;
    st::make_at(s, 0);
    st::append_code_point(s, 'a');
    EXPECT_EQ(width_of(s), 1u);
    st::append_code_point(s, 200);  // append keeps 1 byte only for 0-127
    EXPECT_EQ(width_of(s), 2u);
    EXPECT_EQ(code_points(s), U"a\u00C8");

    Cell p = text("ab");
    st::poke_char(st::node_of(p), 1, 200);
    st::insert_char(st::node_of(p), 0, 255);
    EXPECT_EQ(width_of(p), 1u);
    EXPECT_EQ(code_points(p), U"\u00FFa\u00C8");
    st::set_code_point(st::node_of(p), 0, 0x178);  // beyond Latin-1: widens
    EXPECT_EQ(width_of(p), 2u);
    EXPECT_EQ(code_points(p), U"\u0178a\u00C8");
}

TEST_F(StringBufferTest, WideningGoesStraightToTheNeededWidth) {
    Cell s = text("hi");
    st::append_code_point(s, 0x1F600);
    EXPECT_EQ(width_of(s), 4u);
    EXPECT_EQ(code_points(s), U"hi\U0001F600");

    Cell t = text("\u00E9");  // width 1 holding U+00E9
    ASSERT_EQ(width_of(t), 1u);
    st::insert_char(st::node_of(t), 1, 0x20AC);
    EXPECT_EQ(width_of(t), 2u);
    st::insert_char(st::node_of(t), 0, 0x10400);
    EXPECT_EQ(width_of(t), 4u);
    EXPECT_EQ(code_points(t), U"\U00010400\u00E9\u20AC");
}

TEST_F(StringBufferTest, WideningAFullBufferGrowsIt) {
    Cell s;
    st::make_at(s, 16);
    for (int i = 0; i < 16; ++i) st::append_code_point(s, 'a' + i);
    st::append_code_point(s, 0x10FFFF);
    EXPECT_EQ(st::buffer_length(s), 17u);
    EXPECT_EQ(st::char_at(s, 15), uint32_t('p'));
    EXPECT_EQ(st::char_at(s, 16), 0x10FFFFu);
}

// ---- Writing ---------------------------------------------------------------------

TEST_F(StringBufferTest, PokePastTheTailZeroFillsTheGap) {
    Cell s = text("ab");
    st::poke_char(st::node_of(s), 5, 'z');
    EXPECT_EQ(code_points(s), std::u32string(U"ab\0\0\0z", 6));
    st::poke_char(st::node_of(s), 40, 0x20AC);  // grows and widens
    EXPECT_EQ(st::buffer_length(s), 41u);
    for (uint32_t i = 6; i < 40; ++i) ASSERT_EQ(st::char_at(s, i), 0u) << i;
    EXPECT_EQ(st::char_at(s, 40), 0x20ACu);
}

TEST_F(StringBufferTest, RemoveCharsAndTruncate) {
    Cell s = text("abcdef");
    st::remove_char(s, 6);  // at the tail: nothing
    EXPECT_EQ(code_points(s), U"abcdef");
    st::remove_char(s, 0);
    EXPECT_EQ(code_points(s), U"bcdef");
    st::remove_chars(s, 3, 10);  // fewer follow: the rest goes
    EXPECT_EQ(code_points(s), U"bcd");
    st::remove_chars(s, 1, 1);
    EXPECT_EQ(code_points(s), U"bd");
    st::truncate(st::node_of(s), 1);
    EXPECT_EQ(code_points(s), U"b");
    st::reset(s);
    EXPECT_EQ(st::buffer_length(s), 0u);
}

TEST_F(StringBufferTest, AppendTextAndUtf8) {
    Cell s;
    st::make_at(s, 0);
    st::append_text(s, "make ");
    st::append_utf8(st::node_of(s), "caf\xC3\xA9 \xF0\x9F\x98\x80", 10);
    EXPECT_EQ(code_points(s), U"make caf\u00E9 \U0001F600");
    EXPECT_EQ(width_of(s), 4u);
    st::append_text_part(s, "xyz", 2);
    EXPECT_EQ(code_points(s), U"make caf\u00E9 \U0001F600xy");
}

TEST_F(StringBufferErrorTest, AppendOfIllFormedUtf8RaisesAccessError) {
    Cell s;
    st::make_at(s, 0);
    EXPECT_RAISES(st::append_utf8(st::node_of(s), "ok\xC3\x28", 4), err_cat::access, err_id::access::invalid_utf8);
}

// ---- Concatenation -----------------------------------------------------------------

TEST_F(StringBufferTest, ConcatenateModes) {
    struct Case {
        const char* target;
        uint32_t target_index;
        const char* source;
        int32_t part;
        st::Concat mode;
        const char32_t* expected;  // the whole target from its head
    } cases[] = {
        {"abc", 0, "XY", -1, st::Concat::append, U"abcXY"},
        {"abc", 1, "XY", -1, st::Concat::insert, U"aXYbc"},
        {"abc", 1, "XY", -1, st::Concat::overwrite, U"aXY"},
        {"abc", 2, "XYZ", -1, st::Concat::overwrite, U"abXYZ"},  // runs past the tail
        {"abc", 0, "XYZ", 2, st::Concat::append, U"abcXY"},
        {"abc", 0, "XYZ", 0, st::Concat::append, U"abc"},
        {"abc", 3, "\u20AC", -1, st::Concat::insert, U"abc\u20AC"},
    };
    for (const auto& c : cases) {
        Cell t = text(c.target);
        t.w1 = c.target_index;
        Cell src = text(c.source);
        st::concatenate(t, src, c.part, 0, false, c.mode);
        t.w1 = 0;
        EXPECT_EQ(code_points(t), c.expected) << c.target << " + " << c.source;
    }
}

TEST_F(StringBufferTest, ConcatenateWidensTheNarrowerSide) {
    // A wider source widens the target.
    Cell t = text("ab");
    Cell wide = text("\U0001F600");
    st::append_string(t, wide, -1, false);
    EXPECT_EQ(width_of(t), 4u);
    EXPECT_EQ(code_points(t), U"ab\U0001F600");

    // A narrower source is widened in place, keeping its text...
    Cell t2 = text("\u20AC");
    Cell narrow = text("xy");
    st::append_string(t2, narrow, -1, false);
    EXPECT_EQ(width_of(narrow), 2u);
    EXPECT_EQ(code_points(narrow), U"xy");
    EXPECT_EQ(code_points(t2), U"\u20ACxy");

    // ...unless the characters are converted one by one.
    Cell t3 = text("\u20AC");
    Cell narrow2 = text("\u00E9z");
    st::concatenate(t3, narrow2, -1, 0, true, st::Concat::insert);
    EXPECT_EQ(width_of(narrow2), 1u);
    EXPECT_EQ(code_points(t3), U"\u00E9z\u20AC");
}

TEST_F(StringBufferTest, InsertingATextIntoItself) {
    Cell s = text("abcd");
    Cell at1 = s;
    at1.w1 = 1;
    Cell from2 = s;
    from2.w1 = 2;
    st::concatenate(at1, from2, -1, 0, false, st::Concat::insert);
    EXPECT_EQ(code_points(s), U"acdbcd");
    st::append_string(s, s, -1, false);
    EXPECT_EQ(code_points(s), U"acdbcdacdbcd");
}

TEST_F(StringBufferTest, RotateTextRegions) {
    uint8_t bytes[] = {'a', 'b', 'c', '-', '-', 'X', 'Y'};
    st::rotate_text_regions(bytes, 3, bytes + 5, 2, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 7), "XY--abc");
    uint8_t two[] = {'1', '2', '3', '4', '5'};
    st::rotate_text_regions(two, 1, two + 1, 4, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(two), 5), "23451");
}

TEST_F(StringBufferTest, MoveCharsWidensTheTarget) {
    Cell src = text("\u20ACxy");
    Cell dst = text("ab");
    dst.w1 = 1;
    st::move_chars(src, dst, 2 * 2);
    EXPECT_EQ(code_points(src), U"y");
    dst.w1 = 0;
    EXPECT_EQ(code_points(dst), U"a\u20ACxb");
}

TEST_F(StringBufferTest, CopyUnitsWidening) {
    Cell src = text("abc");
    Cell dst = text("\u20AC");
    st::copy_units_widening(st::node_of(src), st::node_of(dst), 2, 1, 1, 0, false);
    EXPECT_EQ(code_points(dst), U"\u20ACbc");
    // No target: the source moves into a wider buffer of its own.
    st::copy_units_widening(st::node_of(src), no_node, 4, 0, 0, 0, false);
    EXPECT_EQ(width_of(src), 4u);
    EXPECT_EQ(code_points(src), U"abc");
}

// ---- Construction ---------------------------------------------------------------------

TEST_F(StringBufferTest, MakeFromUtf8AndUtf16) {
    Cell s;
    st::make_string_from_text("a\xC3\xA9\xE2\x82\xAC", 6, &s, st::encoding_utf8);
    EXPECT_EQ(width_of(s), 2u);
    EXPECT_EQ(code_points(s), U"a\u00E9\u20AC");

    const uint8_t utf16[] = {'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0};  // a U+1F600 b
    Cell* w = st::push_text(utf16, 4, st::encoding_utf16le);
    EXPECT_EQ(width_of(*w), 4u);
    EXPECT_EQ(code_points(*w), U"a\U0001F600b");
}

TEST_F(StringBufferTest, BrokenUtf16SurrogateDecodesToReplacementCharacter) {
    const uint8_t lone_high[] = {'a', 0, 0x3D, 0xD8, 'b', 0};  // high surrogate, then b
    Cell* s = st::push_text(lone_high, 3, st::encoding_utf16le);
    EXPECT_EQ(code_points(*s), U"a\uFFFDb");
    const uint8_t high_at_end[] = {0x3D, 0xD8};
    s = st::push_text(high_at_end, 1, st::encoding_utf16le);
    EXPECT_EQ(code_points(*s), U"\uFFFD");
}

TEST_F(StringBufferTest, PushFromUtf8) {
    const uint8_t ok[] = {'o', 'k', 0xF0, 0x9F, 0x98, 0x80};
    Cell* s = st::push_from_utf8(ok, sizeof ok);
    EXPECT_EQ(code_points(*s), U"ok\U0001F600");
}

TEST_F(StringBufferErrorTest, PushFromUtf8RaisesOnIllFormedOrCutOffInput) {
    const uint8_t bad[] = {'a', 0xC0, 0x41};
    EXPECT_RAISES(st::push_from_utf8(bad, sizeof bad), err_cat::access, err_id::access::invalid_utf8);
    const uint8_t cut[] = {'a', 0xE2, 0x82};
    EXPECT_RAISES(st::push_from_utf8(cut, sizeof cut), err_cat::access, err_id::access::invalid_utf8);
    // The argument: a binary! of the bytes from the cut-off sequence on.
    const Cell& arg = errors::last_error().args[0];
    ASSERT_EQ(type_of(arg), uint32_t(type_binary));
    EXPECT_EQ(st::buffer_length(arg), 2u);
    EXPECT_EQ(st::char_at(arg, 0), 0xE2u);
    // Nothing was pushed.
    uint32_t depth = stack::depth();
    EXPECT_RAISES(st::push_from_utf8(bad, sizeof bad), err_cat::access, err_id::access::invalid_utf8);
    EXPECT_EQ(stack::depth(), depth);
    EXPECT_EQ(st::buffer_length(errors::last_error().args[0]), 2u);  // C0 41: the bytes that start the sequence
}

TEST_F(StringBufferTest, PushCopyOfHandsOutAnIndependentBuffer) {
    Cell name = text("word");
    Cell* copy = st::push_copy_of(st::node_of(name));
    st::append_code_point(*copy, '!');
    st::set_code_point(st::node_of(*copy), 0, 'W');
    EXPECT_EQ(code_points(name), U"word");
    EXPECT_EQ(code_points(*copy), U"Word!");
}

// ---- Conversion to UTF-8 and UTF-16 ----------------------------------------------------

TEST_F(StringBufferTest, Utf8RoundTripOfEveryCodePointClass) {
    // One character from each UTF-8 length and each unit width, the edges
    // of each class, and the high surrogates the lenient reader keeps.
    using namespace std::string_literals;
    std::u32string cps = U"\u0000\u007F\u0080\u00FF\u0100\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFF"
                         U"\U00010000\U0001F600\U0010FFFF"s;
    ASSERT_EQ(cps.size(), 14u);
    cps += char32_t(0xD800);
    Cell s = text_of(cps);
    int32_t length = -1;
    const uint8_t* bytes = text_codec::to_utf8(s, length);
    std::vector<uint8_t> copy(bytes, bytes + length);
    Cell back = st::make_cell(text_codec::utf8_to_new_string(copy.data(), copy.size()));
    EXPECT_EQ(code_points(back), cps);
    EXPECT_EQ(width_of(back), 4u);
}

TEST_F(StringBufferTest, ToUtf8EncodesEachWidthAndReusesTheConversionBuffer) {
    struct Case {
        std::u32string cps;
        std::string utf8;
    } cases[] = {
        {U"\u00E9", "\xC3\xA9"},
        {U"\u20AC", "\xE2\x82\xAC"},
        {U"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (auto& c : cases) {
        Cell s = text_of(c.cps);
        int32_t length = -1;
        const uint8_t* p = text_codec::to_utf8(s, length);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), size_t(length)), c.utf8);
        EXPECT_EQ(p[length], 0);
    }
    Cell s = text("line\nnext");
    int32_t length = -1;
    text_codec::to_utf8(s, length);
    NodeId cache = s.w3;
    ASSERT_NE(cache, no_node);
    length = 4;  // a character limit
    const uint8_t* p = text_codec::to_utf8_crlf(s, length, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), size_t(length)), "line");
    EXPECT_EQ(s.w3, cache);
    length = -1;
    p = text_codec::to_utf8_crlf(s, length, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), size_t(length)), "line\r\nnext");
}

TEST_F(StringBufferTest, ConversionBufferSurvivesACollection) {
    Cell s = text("\u20AC and more");
    int32_t length = -1;
    text_codec::to_utf8(s, length);
    collector::CellRoot root(&s);
    collector::set_stress(true);
    collector::collector_run();
    collector::set_stress(false);
    length = -1;
    const uint8_t* p = text_codec::to_utf8(s, length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), size_t(length)), "\xE2\x82\xAC and more");
}

TEST_F(StringBufferTest, ToUtf16) {
    Cell s = text("a\nb");
    const uint8_t* p = text_codec::to_utf16(s);
    const uint8_t crlf[] = {'a', 0, '\r', 0, '\n', 0, 'b', 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(p, p + 10), std::vector<uint8_t>(crlf, crlf + 10));

    Cell wide = text_of(U"\U00010000");
    int32_t length = -1;
    p = text_codec::to_utf16_part(wide, length, false);
    EXPECT_EQ(length, 2);
    const uint8_t pair[] = {0x00, 0xD8, 0x00, 0xDC, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(p, p + 6), std::vector<uint8_t>(pair, pair + 6));
}

TEST_F(StringBufferTest, Utf8ToStringFoldsLineEndsAndGivesBackACutOffSequence) {
    struct Case {
        std::string bytes;
        bool fold;
        std::u32string expected;
        size_t remaining;
    } cases[] = {
        {"a\r\nb", true, U"a\nb", 0},
        {"a\rb", true, U"a\nb", 0},
        {"a\rb", false, U"a\rb", 0},
        {"a\xE2\x82", false, U"a", 2},
        {"\xEF\xBB\xBF", false, U"", 0},
        {"\xEF\xBB\xBFok", false, U"ok", 0},
    };
    for (const auto& c : cases) {
        size_t remaining = 99;
        NodeId n = text_codec::utf8_to_string(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(),
                                              no_node, &remaining, c.fold);
        EXPECT_EQ(code_points(st::make_cell(n)), c.expected) << c.bytes;
        EXPECT_EQ(remaining, c.remaining) << c.bytes;
    }
    // Into an existing buffer: its text is replaced, its width kept.
    Cell target = text("\u20AC old text");
    text_codec::utf8_to_string_into(reinterpret_cast<const uint8_t*>("new"), 3, target, nullptr);
    EXPECT_EQ(code_points(target), U"new");
    EXPECT_EQ(width_of(target), 2u);
}

TEST_F(StringBufferTest, EncodeStringWithBudget) {
    Cell s = text_of(U"\u20ACx");
    uint8_t out[8] = {};
    EXPECT_EQ(text_codec::utf8_encode_string_budget(s, out, 2, -1, false), 2u);
    EXPECT_EQ(out[0], 0xE2);
    EXPECT_EQ(out[1], 0x82);
    EXPECT_EQ(text_codec::utf8_encode_string(s, out, 1, true), 3u);
    EXPECT_EQ(out[3], 0);
}

// ---- Comparison ---------------------------------------------------------------------------

TEST_F(StringBufferTest, CompareStrings) {
    using namespace registry;
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool match;
        int32_t expected;
    } cases[] = {
        {"abc", "ABC", op_equal, false, 0},
        {"abc", "ABC", op_strict_equal, false, 1},  // "a" is greater than "A"
        {"abc", "ABC", op_same, false, -1},
        {"ab", "abc", op_lesser, false, -1},
        {"ab", "abc", op_equal, false, 1},
        {"abc", "ab", op_greater, false, 1},
        {"", "", op_equal, false, 0},
        {"abc", "", op_lesser, false, 1},
        {"", "a", op_lesser, false, -1},
        {"Abd", "abc", op_sort, false, 1},
        {"Abc", "abc", op_case_sort, false, -1},
        {"stra\u00DFe", "STRA\u1E9EE", op_lesser, false, -1},  // U+00DF folds to S, U+1E9E to itself
        {"\u00E9t\u00E9", "\u00C9T\u00C9", op_equal, false, 0},
        {"\U00010428", "\U00010400", op_equal, false, 0},  // Deseret folds above the BMP
        {"abcd", "ABC", op_equal, true, 0},                // parse: b is a prefix of a
        {"ab", "abc", op_equal, true, 1},
        {"abc", "", op_find, true, 1},
        {"abc", "", op_equal, true, 0},
    };
    for (const auto& c : cases) {
        Cell a = text(c.a), b = text(c.b);
        EXPECT_EQ(st::compare_strings(a, b, c.op, c.match), c.expected) << c.a << " vs " << c.b << " op " << c.op;
    }
    Cell s = text("abc");
    Cell same = s;
    EXPECT_EQ(st::compare_strings(s, same, op_same, false), 0);
}

TEST_F(StringBufferTest, MatchAtTextCharAndTag) {
    Cell input = text("<b>Hello");
    Cell tag = text("b", type_tag);
    EXPECT_TRUE(st::match_at(input, tag, 0));
    input.w1 = 3;
    Cell hel = text("HEL");
    EXPECT_TRUE(st::match_at(input, hel, 0));
    EXPECT_FALSE(st::match_at(input, hel, registry::op_strict_equal));
    Cell h{type_char, 0, 'h', 0};
    EXPECT_TRUE(st::match_at(input, h, 0));
    EXPECT_FALSE(st::match_at(input, h, registry::op_strict_equal));
    Cell other{type_integer, 0, 1, 0};
    EXPECT_FALSE(st::match_at(input, other, 0));
}

TEST_F(StringBufferTest, FindAndContainsChar) {
    Cell s = text("abcABC");
    s.w1 = 1;
    EXPECT_EQ(st::find_char(s, 'C'), 4);
    EXPECT_EQ(st::find_char(s, 'a'), -1);
    EXPECT_TRUE(st::contains_char_q(s, 'a', 1, false));
    EXPECT_FALSE(st::contains_char_q(s, 'a', 1, true));
    EXPECT_FALSE(st::contains_char_q(s, 'c', 2, true));  // steps over it
    EXPECT_TRUE(st::starts_with_text_q(s, "bcA"));
    EXPECT_FALSE(st::starts_with_text_q(s, "bcABCD"));
}

// ---- Hex -----------------------------------------------------------------------------------

TEST_F(StringBufferTest, IntegerToHex) {
    struct Case {
        int32_t value;
        bool short_form;
        const char* expected;
    } cases[] = {
        {0, true, "00"},      {30, true, "1E"},       {128, true, "80"},       {4095, true, "FFF"},
        {-1, false, "FFFFFFFF"}, {255, false, "000000FF"}, {-1, true, "FFFFFFFF"}, {0x10FFFF, true, "10FFFF"},
    };
    for (const auto& c : cases) {
        st::HexDigits h = st::integer_to_hex(c.value, c.short_form);
        EXPECT_STREQ(h.text, c.expected) << c.value;
        EXPECT_EQ(h.length, std::strlen(c.expected));
    }
    EXPECT_STREQ(st::byte_to_hex(0xA7).text, "A7");
}
