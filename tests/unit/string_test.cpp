// string!: make and to, form, mold with its escapes, comparison, path access
// and the searching and modifying actions.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/bitset.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/fixed_words.h"
#include "datatypes/owners.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;
namespace st = vyr::string_t;
namespace te = vyr::text_errors;
using namespace std::string_literals;

namespace {

class StringTest : public RuntimeTest {
protected:
    // A fresh mold buffer.
    Cell buffer() {
        Cell b;
        st::make_at(b, 0);
        return b;
    }
    std::string mold(const Cell& v, bool all = false, int32_t part = -1) {
        Cell value = v, out = buffer();
        Cell part_cell = te::integer_cell(part);
        st::mold(&value, &out, false, all, false, part >= 0 ? &part_cell : nullptr, part >= 0 ? part : INT32_MAX, 0);
        return utf8_of(out);
    }
    // A block holding the cells.
    Cell block(std::initializer_list<Cell> cells) {
        NodeId n = memory::alloc_cells(uint32_t(cells.size()) + 1);
        for (const Cell& c : cells) *series::alloc_tail_cell(n) = c;
        return Cell{type_block, 0, n, 0};
    }
};
using StringErrorTest = StringTest;

Cell chr(uint32_t cp) { return Cell{type_char, 0, cp, 0}; }
Cell integer(int32_t n) { return te::integer_cell(n); }

}  // namespace

// ---- mold and form ---------------------------------------------------------------

TEST_F(StringTest, MoldQuotesAndEscapes) {
    struct Case {
        std::string text;
        std::string molded;
    } cases[] = {
        {"abc", "\"abc\""},
        {"", "\"\""},
        {"say \"hi\"", "{say \"hi\"}"},
        {std::string(49, 'x'), "\"" + std::string(49, 'x') + "\""},
        {std::string(50, 'x'), "{" + std::string(50, 'x') + "}"},
        {"a\nb\nc", "\"a^/b^/c\""},
        {"a\nb\nc\nd", "{a^/b^/c^/d}"},
        {"tab\there", "\"tab^-here\""},
        {"\x1B[0m\r", "\"^[[0m^M\""},
        {"^", "\"^^\""},
        {"\x1E", "\"^(1E)\""},
        {"\x7F", "\"^~\""},
        {"\u0096", "\"^(96)\""},
        {"\u00C8\u20AC", "\"\u00C8\u20AC\""},
        {"nul"s + '\0', "\"nul^@\""},
        // Brace form: balanced braces stay plain, unbalanced ones get a caret.
        {"a{b}c\"", "{a{b}c\"}"},
        {"a{b\"", "{a^{b\"}"},
        {"a}b\"", "{a^}b\"}"},
        {"x{y{z}\"", "{x^{y^{z^}\"}"},  // after the first unmatched brace, later pairs too
        {"q\"^\n", "{q\"^^^/}"},
    };
    for (const auto& c : cases) {
        Cell s;
        st::make_string_from_text(c.text.data(), uint32_t(c.text.size()), &s, st::encoding_utf8);
        EXPECT_EQ(mold(s), c.molded) << c.text;
    }
}

TEST_F(StringTest, MoldAllWritesEveryNonAsciiCharacterInHex) {
    EXPECT_EQ(mold(text("\u00E9\u20AC!"), true), "\"^(E9)^(20AC)!\"");
    EXPECT_EQ(mold(text("\U0001F600"), true), "\"^(1F600)\"");
}

TEST_F(StringTest, MoldFromTheIndexWithAPartBudget) {
    Cell s = text("abcdef");
    s.w1 = 2;
    EXPECT_EQ(mold(s), "\"cdef\"");
    EXPECT_EQ(mold(s, false, 2), "\"cd\"");
    Cell value = s, out = buffer();
    Cell part = integer(3);
    EXPECT_EQ(st::mold(&value, &out, false, false, false, &part, 3, 0), 3 - 3 - 2);
    // The brace decision looks at the whole text from the index.
    Cell long_text = text(std::string(60, 'y').c_str());
    EXPECT_EQ(mold(long_text, false, 3), "{yyy}");
}

TEST_F(StringTest, FormAppendsTheTextFromItsIndex) {
    Cell s = text("h\u00E9llo");
    s.w1 = 1;
    Cell out = buffer(), value = s;
    st::append_text(out, "=");
    EXPECT_EQ(st::form(&value, &out, nullptr, 100), 96);
    EXPECT_EQ(utf8_of(out), "=\u00E9llo");
    Cell part = integer(2);
    st::form(&value, &out, &part, 2);
    EXPECT_EQ(utf8_of(out), "=\u00E9llo\u00E9l");
}

TEST_F(StringTest, MoldOfATextIntoItsOwnBuffer) {
    Cell s = text("ab");
    Cell value = s;
    st::mold(&value, &s, false, false, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(utf8_of(s), "ab\"ab\"");
}

// ---- make, to, compare ------------------------------------------------------------

TEST_F(StringTest, MakeAndTo) {
    Cell result, spec = integer(10);
    st::make(&result, &spec, type_string);
    EXPECT_EQ(type_of(result), uint32_t(type_string));
    EXPECT_EQ(st::buffer_length(result), 0u);
    EXPECT_GE(st::buffer_of(result)->capacity, 10u);

    Cell from = text("abcdef");
    from.w1 = 2;
    st::to(&result, &from, type_file);
    EXPECT_EQ(type_of(result), uint32_t(type_file));
    EXPECT_EQ(utf8_of(result), "cdef");
    EXPECT_NE(st::node_of(result), st::node_of(from));

    // A block: every element formed, nothing between them.
    Cell b = block({text("a"), chr('b'), text("cd")});
    st::to(&result, &b, type_string);
    EXPECT_EQ(utf8_of(result), "abcd");
    EXPECT_EQ(result.w1, 0u);

    Cell mixed = block({integer(1), text("a"), chr('b')});
    st::to(&result, &mixed, type_string);
    EXPECT_EQ(utf8_of(result), "1ab");

    // A refinement: formed for string!, molded for the other text types.
    st::to(&result, &fixed::ref_part, type_string);
    EXPECT_EQ(utf8_of(result), "part");
    st::to(&result, &fixed::ref_part, type_file);
    EXPECT_EQ(type_of(result), uint32_t(type_file));
    EXPECT_EQ(utf8_of(result), "/part");

    // A binary!: its bytes from the index as UTF-8.
    Cell bin;
    st::make_from_units_at(bin, "x\xE2\x82\xAC", 4, 1);
    set_type(bin, type_binary);
    st::to(&result, &bin, type_string);
    EXPECT_EQ(code_points(result), U"x\u20AC");
}

TEST_F(StringErrorTest, MakeAndToErrors) {
    Cell result, minus = integer(-1), none{type_none, 0, 0, 0};
    EXPECT_RAISES(st::make(&result, &minus, type_string), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(st::to(&result, &none, type_file), err_cat::script, err_id::script::bad_to_arg);
    Cell big{type_float, 0, 0, 0};
    set_cell_float(big, 3e10);
    EXPECT_RAISES(st::make(&result, &big, type_string), err_cat::script, err_id::script::out_of_range);
    Cell bad;
    st::make_from_units_at(bad, "a\xFF", 2, 1);
    set_type(bad, type_binary);
    EXPECT_RAISES(st::to(&result, &bad, type_string), err_cat::access, err_id::access::invalid_utf8);
}

TEST_F(StringTest, CompareAcrossTextTypes) {
    using namespace registry;
    Cell s = text("abc"), f = text("abc", type_file), d = text("abd", type_file);
    EXPECT_EQ(st::compare(&s, &f, op_equal), 0);
    EXPECT_EQ(st::compare(&s, &f, op_strict_equal), not_comparable);
    EXPECT_EQ(st::compare(&s, &d, op_lesser), not_comparable);
    Cell up = text("ABC");
    EXPECT_EQ(st::compare(&s, &up, op_equal), 0);
    EXPECT_EQ(st::compare(&s, &up, op_strict_equal), 1);
    Cell n = integer(1);
    EXPECT_EQ(st::compare(&s, &n, op_equal), not_comparable);
}

TEST_F(StringErrorTest, PathAccessRefusesWords) {
    Cell s = text("abc"), word{type_word, 0, 1, 0}, path{type_path, 0, 0, 0};
    EXPECT_RAISES(st::path_access(&s, &word, nullptr, &path, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, err_id::script::invalid_path);
    Cell z = chr('z'), v = chr('q');
    EXPECT_RAISES(st::path_access(&s, &z, &v, &path, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, err_id::script::bad_path_set);
}

TEST_F(StringTest, PathAccessSelectsByValue) {
    Cell s = text("key=value"), eq = chr('='), path{type_path, 0, 0, 0};
    Cell* r = st::path_access(&s, &eq, nullptr, &path, nullptr, nullptr, -1, false, false, true, false);
    EXPECT_EQ(type_of(*r), uint32_t(type_char));
    EXPECT_EQ(r->w2, uint32_t('v'));
}

// ---- append, insert, change ---------------------------------------------------------

TEST_F(StringTest, AppendWidensForACharButInsertKeepsLatin1) {
    Cell s = text("ab"), c = chr(233);
    st::append(&s, &c, -1, false, 1, true);
    EXPECT_EQ(width_of(s), 2u);
    EXPECT_EQ(code_points(s), U"ab\u00E9");
    EXPECT_EQ(s.w1, 0u);

    Cell t = text("ab");
    t.w1 = 1;
    st::insert(&t, &c, -1, false, 1, false);
    EXPECT_EQ(width_of(t), 1u);
    EXPECT_EQ(t.w1, 2u);
    t.w1 = 0;
    EXPECT_EQ(code_points(t), U"a\u00E9b");

    Cell u = text("ab"), wide = text("\U0001F600");
    u.w1 = 1;
    st::insert(&u, &wide, -1, false, 1, false);  // widening on insert of a wider character
    EXPECT_EQ(width_of(u), 4u);
    u.w1 = 0;
    EXPECT_EQ(code_points(u), U"a\U0001F600b");
}

TEST_F(StringTest, AppendPartCountsElementsOrCharacters) {
    Cell b = block({text("abc"), text("de"), text("f")});
    Cell s = text("");
    st::append(&s, &b, 2, false, 1, true);  // two elements
    EXPECT_EQ(utf8_of(s), "abcde");
    Cell t = text("");
    st::append(&t, &b, 4, true, 1, true);  // /only: four characters
    EXPECT_EQ(utf8_of(t), "abcd");
    Cell u = text("x");
    Cell src = text("12345");
    st::append(&u, &src, 3, false, 1, true);
    EXPECT_EQ(utf8_of(u), "x123");
}

TEST_F(StringTest, AppendDupTagAndEmptyMaterial) {
    Cell s = text("x"), ab = text("ab");
    st::append(&s, &ab, -1, false, 3, true);
    EXPECT_EQ(utf8_of(s), "xababab");
    Cell tag = text("b", type_tag);
    st::append(&s, &tag, -1, false, 1, true);
    EXPECT_EQ(utf8_of(s), "xababab<b>");
    Cell t = text("");
    st::append(&t, &tag, 2, false, 1, true);  // the part cuts inside the tag
    EXPECT_EQ(utf8_of(t), "<b");

    Cell e = text("abc"), empty = text("");
    e.w1 = 2;
    st::append(&e, &empty, -1, false, 1, true);
    EXPECT_EQ(e.w1, 2u);  // nothing appended: the index stays
}

TEST_F(StringTest, InsertFormedMaterialSharesOneCharacterBudget) {
    Cell s = text("[]");
    s.w1 = 1;
    Cell b = block({text("abc"), text("def")});
    st::insert(&s, &b, 4, false, 1, false);
    EXPECT_EQ(s.w1, 5u);
    s.w1 = 0;
    EXPECT_EQ(utf8_of(s), "[abcd]");
    // At the tail it is append: the part counts elements, the answer is at the tail.
    Cell t = text("<");
    t.w1 = 1;
    st::insert(&t, &b, 1, false, 2, false);
    EXPECT_EQ(t.w1, 7u);
    t.w1 = 0;
    EXPECT_EQ(utf8_of(t), "<abcabc");
}

TEST_F(StringTest, ChangeOverwritesOrReplacesAPart) {
    struct Case {
        const char* series;
        uint32_t index;
        const char* value;
        int32_t part;
        int32_t dup;
        const char* expected;
        uint32_t answer_index;
    } cases[] = {
        {"abcdef", 1, "XY", -1, 1, "aXYdef", 3},
        {"abcdef", 4, "XYZ", -1, 1, "abcdXYZ", 7},  // runs past the tail
        {"abcdef", 1, "X", 3, 1, "aXef", 2},        // /part removes three
        {"abcdef", 1, "XYZ", 1, 1, "aXYZcdef", 4},  // /part removes one
        {"abcdef", 0, "-", -1, 3, "---def", 3},
        {"abc", 3, "Z", -1, 1, "abcZ", 4},           // at the tail: append
    };
    for (const auto& c : cases) {
        Cell s = text(c.series), v = text(c.value);
        s.w1 = c.index;
        st::change(&s, &v, c.part, false, c.dup);
        EXPECT_EQ(s.w1, c.answer_index) << c.series << " " << c.value;
        s.w1 = 0;
        EXPECT_EQ(utf8_of(s), c.expected) << c.series << " " << c.value;
    }
}

TEST_F(StringTest, ChangeWithMaterialFromItsOwnBuffer) {
    Cell s = text("abcd");
    Cell from = s;
    from.w1 = 2;
    st::change(&s, &from, -1, false, 2);  // "cd" twice, taken before the change
    s.w1 = 0;
    EXPECT_EQ(utf8_of(s), "cdcd");
}

// ---- find and select ---------------------------------------------------------------

namespace {
struct FindCase {
    const char* series;
    uint32_t index;
    Cell value;
    bool case_, last, reverse, tail, match;
    int32_t skip;  // 0: none
    int32_t part;  // -1: none
    int32_t expected;  // index of the answer, -1 for none
};
}  // namespace

TEST_F(StringTest, FindTable) {
    FindCase cases[] = {
        {"abc", 0, text("ab"), false, false, false, false, true, 0, -1, 0},
        {"abc", 0, text("ab"), false, false, false, true, true, 0, -1, 2},
        {"abc", 0, text("bc"), false, false, false, false, true, 0, -1, -1},
        {"banana", 0, chr('a'), false, true, false, false, false, 0, -1, 5},
        {"banana", 6, chr('a'), false, false, true, false, false, 0, -1, 5},
        {"banana", 6, text("an"), false, false, true, false, false, 0, -1, 3},
        {"banana", 0, text("NA"), false, false, false, false, false, 0, -1, 2},
        {"banana", 0, text("NA"), true, false, false, false, false, 0, -1, -1},
        {"banana", 0, chr('N'), false, false, false, true, false, 0, -1, 3},
        {"banana", 0, chr('n'), false, false, false, true, false, 2, -1, 4},  // lands skip units after
        {"banana", 0, chr('a'), false, false, false, false, false, 2, -1, -1},  // steps over every a
        {"banana", 0, chr('n'), false, false, false, false, false, 0, 2, -1},   // /part stops before it
        {"banana", 0, text("nan"), false, false, false, false, false, 0, 5, 2},
        {"banana", 0, text("nana"), false, false, false, false, false, 0, 5, -1},
        {"banana", 6, chr('a'), false, false, false, false, false, 0, -1, -1},  // at the tail
        {"", 0, chr('a'), false, false, true, false, false, 0, -1, -1},
        {"stra\u00DFe", 0, text("SSE"), false, false, false, false, false, 0, -1, -1},
        {"\u00E9t\u00E9", 1, chr(0xC9), false, false, false, false, false, 0, -1, 2},
        {"x\U00010428y", 0, chr(0x10400), false, false, false, false, false, 0, -1, 1},
    };
    for (auto& c : cases) {
        Cell s = text(c.series), value = c.value;
        s.w1 = c.index;
        Cell skip = integer(c.skip), part = integer(c.part);
        st::find(&s, &value, c.part >= 0 ? &part : nullptr, false, c.case_, false, false, nullptr,
                 c.skip ? &skip : nullptr, c.last, c.reverse, c.tail, c.match);
        if (c.expected < 0) {
            EXPECT_EQ(type_of(s), uint32_t(type_none)) << c.series << " @" << c.index;
        } else {
            ASSERT_EQ(type_of(s), uint32_t(type_string)) << c.series << " @" << c.index;
            EXPECT_EQ(s.w1, uint32_t(c.expected)) << c.series << " @" << c.index;
        }
    }
}

TEST_F(StringTest, FindABitsetMember) {
    Cell s = text("hello, world"), bits;
    Cell spec = text(",;");
    bitset_t::make_from(bits, spec, 0);
    st::find(&s, &bits, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(s.w1, 5u);
}

TEST_F(StringErrorTest, FindErrors) {
    Cell s = text("abc"), a = chr('a'), zero = integer(0);
    EXPECT_RAISES(st::find(&s, &a, nullptr, false, false, false, true, nullptr, nullptr, false, false, false, false),
                  err_cat::internal, err_id::internal::not_done);
    EXPECT_RAISES(st::find(&s, &a, nullptr, false, false, false, false, nullptr, &zero, false, false, false, false),
                  err_cat::script, err_id::script::out_of_range);
    Cell other = text("abc");
    EXPECT_RAISES(st::find(&s, &a, &other, false, false, false, false, nullptr, nullptr, false, false, false, false),
                  err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_EQ(type_of(errors::last_error().args[0]), uint32_t(type_refinement));  // /part
    EXPECT_EQ(errors::last_error().args[0].w2, fixed::ref_part.w2);
}

TEST_F(StringTest, SelectAnswersTheCharacterAfterTheMatch) {
    Cell s = text("a=1;b=2"), key = text("b=");
    st::select(&s, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(type_of(s), uint32_t(type_char));
    EXPECT_EQ(s.w2, uint32_t('2'));
    Cell t = text("ab"), b = chr('b');
    st::select(&t, &b, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(type_of(t), uint32_t(type_none));  // nothing follows
}

// ---- sort --------------------------------------------------------------------------

TEST_F(StringTest, SortFoldsLettersOnlyUnlessCase) {
    Cell s = text("b_A");
    st::sort(&s, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(utf8_of(s), "_Ab");
    Cell t = text("b_A");
    st::sort(&t, true, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(utf8_of(t), "A_b");
    Cell w = text("\u00E9b\u00C9a");  // 2-byte units fold through the case tables
    st::make_from_units_at(w, u"\u00E9b\u00C9a", 4, 2);
    st::sort(&w, false, nullptr, nullptr, nullptr, false, true, true);
    EXPECT_EQ(code_points(w), U"\u00E9\u00C9ba");
}

TEST_F(StringTest, SortWithSkipPartAndCompareField) {
    Cell s = text("b2a1c0"), two = integer(2), field = integer(2);
    st::sort(&s, false, &two, nullptr, nullptr, false, false, false);
    EXPECT_EQ(utf8_of(s), "a1b2c0");
    st::sort(&s, false, &two, &field, nullptr, false, false, false);
    EXPECT_EQ(utf8_of(s), "c0a1b2");
    Cell t = text("dcba"), part = integer(2);
    t.w1 = 1;
    st::sort(&t, false, nullptr, nullptr, &part, false, false, false);
    t.w1 = 0;
    EXPECT_EQ(utf8_of(t), "dbca");
    Cell back = integer(-2);
    t.w1 = 3;
    st::sort(&t, false, nullptr, nullptr, &back, false, true, false);  // the two units before the index
    t.w1 = 0;
    EXPECT_EQ(utf8_of(t), "dcba");
}

TEST_F(StringTest, StableCaseSortKeepsEqualRecordsInOrder) {
    // Records of a letter and a sequence number (one code point), compared
    // by the letter only: equal letters must keep their sequence order.
    std::u32string records;
    for (char32_t i = 0; i < 400; ++i) {
        records += U"BaAb"[(i * 7 + i / 5) % 4];
        records += 0x100 + i;
    }
    Cell s = text_of(records), skip = integer(2), field = integer(1);
    st::sort(&s, true, &skip, &field, nullptr, false, false, true);
    std::u32string sorted = code_points(s);
    for (size_t r = 2; r < sorted.size(); r += 2) {
        ASSERT_LE(sorted[r - 2], sorted[r]) << r;
        if (sorted[r - 2] == sorted[r]) {
            ASSERT_LT(sorted[r - 1], sorted[r + 1]) << r;
        }
    }
}

TEST_F(StringErrorTest, SortErrors) {
    Cell s = text("abcde"), two = integer(2), one = integer(1);
    EXPECT_RAISES(st::sort(&s, false, &two, nullptr, nullptr, false, false, false), err_cat::script,
                  err_id::script::invalid_refine_arg);
    EXPECT_RAISES(st::sort(&s, false, nullptr, nullptr, nullptr, true, false, false), err_cat::script,
                  err_id::script::bad_refines);
    EXPECT_RAISES(st::sort(&s, false, nullptr, &one, nullptr, false, false, false), err_cat::script,
                  err_id::script::bad_refines);
    Cell five = integer(5), big = integer(6);
    EXPECT_RAISES(st::sort(&s, false, &five, &big, nullptr, false, false, false), err_cat::script, err_id::script::out_of_range);
}

// ---- swap and take -------------------------------------------------------------------

TEST_F(StringTest, SwapExchangesCodePointsWidening) {
    Cell a = text("abc"), b = text("x\u20AC");
    b.w1 = 1;
    st::swap(&a, &b);
    EXPECT_EQ(code_points(a), U"\u20ACbc");
    EXPECT_EQ(code_points(b), U"a");
}

TEST_F(StringTest, Take) {
    Cell s = text("abcdef");
    Cell r = s;
    st::take(&r, nullptr, false, false);
    EXPECT_EQ(type_of(r), uint32_t(type_char));
    EXPECT_EQ(r.w2, uint32_t('a'));
    r = s;
    Cell two = integer(2);
    st::take(&r, &two, false, true);
    EXPECT_EQ(utf8_of(r), "ef");
    EXPECT_EQ(utf8_of(s), "bcd");
    r = s;
    r.w1 = 2;
    Cell minus = integer(-1);
    st::take(&r, &minus, false, false);
    EXPECT_EQ(utf8_of(r), "c");
    EXPECT_EQ(utf8_of(s), "bd");
    r = s;
    Cell zero = integer(0);
    st::take(&r, &zero, false, false);
    EXPECT_EQ(utf8_of(r), "b");
    r = text("");
    st::take(&r, nullptr, false, false);
    EXPECT_EQ(type_of(r), uint32_t(type_none));
}

// ---- trim ----------------------------------------------------------------------------

TEST_F(StringTest, TrimTable) {
    struct Case {
        const char* text;
        bool head, tail, lines, all;
        const char* expected;
    } cases[] = {
        {"  a  \n", false, false, false, false, "a\n"},
        {"  a  \n", false, true, false, false, "  a"},
        {"  a  \n", true, false, false, false, "a  \n"},
        {"  a  \n", true, true, false, false, "a"},
        {" one \n\t two\t \nthree ", false, false, false, false, "one\ntwo\nthree"},
        {"a\t\tb\n\nc  ", false, false, true, false, "a b c"},
        {" a b\tc\n", false, false, false, true, "abc"},
        {"\u3000x\u00A0", false, false, false, false, "x"},
    };
    for (const auto& c : cases) {
        Cell s = text(c.text);
        st::trim(&s, c.head, c.tail, false, c.lines, c.all, nullptr);
        EXPECT_EQ(utf8_of(s), c.expected) << c.text;
    }
    Cell s = text("x-y--z"), dash = chr('-');
    st::trim(&s, false, false, false, false, false, &dash);
    EXPECT_EQ(utf8_of(s), "xyz");
    Cell t = text("a1b2c3"), digits = text("123");
    st::trim(&t, false, false, false, false, false, &digits);
    EXPECT_EQ(utf8_of(t), "abc");
}

// ---- set operations ----------------------------------------------------------------------

TEST_F(StringTest, SetOperations) {
    struct Case {
        const char* a;
        const char* b;
        bool case_;
        int32_t skip;
        int32_t code;
        const char* expected;
    } cases[] = {
        {"aAbB", "", false, 0, st::set_unique, "ab"},
        {"aAbB", "", true, 0, st::set_unique, "aAbB"},
        {"abc", "cde", false, 0, st::set_union, "abcde"},
        {"abc", "CDE", false, 0, st::set_intersect, "c"},
        {"abc", "cde", false, 0, st::set_exclude, "ab"},
        {"abc", "cde", false, 0, st::set_difference, "abde"},
        {"a1b2a3", "", false, 2, st::set_unique, "a1b2"},
    };
    for (const auto& c : cases) {
        Cell a = text(c.a), b = text(c.b), skip = integer(c.skip);
        st::set_operation(&a, &b, c.case_, c.skip ? &skip : nullptr, c.code);
        EXPECT_EQ(utf8_of(a), c.expected) << c.a << " " << c.code;
    }
}

// ---- uppercase and lowercase --------------------------------------------------------

TEST_F(StringTest, ChangeCase) {
    Cell s = text("stra\u00DFe \u00FF");
    st::change_case(&s, nullptr, true);
    EXPECT_EQ(code_points(s), U"STRASE \u0178");  // U+00DF gives one S; U+00FF widens
    EXPECT_EQ(width_of(s), 2u);
    Cell i = text("\u0130X");
    st::change_case(&i, nullptr, false);
    EXPECT_EQ(code_points(i), U"ix");
    Cell part = text("abcdef"), two = integer(2), minus = integer(-3);
    part.w1 = 1;
    st::change_case(&part, &two, true);
    st::change_case(&part, &minus, true);  // a negative count changes nothing
    Cell before = part;
    before.w1 = 0;
    st::change_case(&part, &before, true);  // a position before the value: nothing
    part.w1 = 0;
    EXPECT_EQ(utf8_of(part), "aBCdef");
    Cell wide = text_of(U"\U0001E922\U00010428\U0001F600");
    st::change_case(&wide, nullptr, true);
    EXPECT_EQ(code_points(wide), U"\U0001E900\U00010400\U0001F600");
    Cell c = chr('a');
    st::change_case(&c, nullptr, true);
    EXPECT_EQ(c.w2, uint32_t('A'));
}

TEST_F(StringErrorTest, ChangeCasePartFromAnotherSeries) {
    Cell s = text("abc"), other = text("abc");
    EXPECT_RAISES(st::change_case(&s, &other, true), err_cat::script, err_id::script::invalid_refine_arg);
}

// ---- Owner notification --------------------------------------------------------------

namespace {
std::vector<std::string> heard;  // the action words the owner was told, in order

void hear(Cell*, Cell*, Cell*, Cell* action, Cell*, int32_t, int32_t) {
    heard.push_back(std::string(symbol_t::name(int32_t(action->w2))));
}
}  // namespace

TEST_F(StringTest, ChangesOfAnOwnedTextAreToldToItsOwner) {
    Cell s = text("abc");
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    Cell field_word{type_word, 0, uint32_t(symbol_t::make("field")), uint32_t(-1)};
    context_t::put_word_value(ctx, field_word, s);
    Cell owner{type_object, ctx, 0, memory::alloc_cells(1)};  // with an event record
    *context_t::self_slot(ctx) = owner;
    owners::set_owned(s, owner, *context_t::word_at(ctx, 0));
    owners::set_fire_on_deep_change(hear);
    heard.clear();
    Cell x = chr('x'), two = integer(2);
    st::append(&s, &x, -1, false, 1, true);
    st::insert(&s, &x, -1, false, 1, false);
    st::sort(&s, false, nullptr, nullptr, nullptr, false, false, false);
    Cell taken = s;  // take answers in its series cell
    st::take(&taken, &two, false, false);
    st::change_case(&s, nullptr, true);
    owners::set_fire_on_deep_change(nullptr);
    std::vector<std::string> expected = {"append", "appended", "insert", "inserted", "sort",
                                         "sorted", "take",     "taken",    "uppercase"};
    EXPECT_EQ(heard, expected);
}
