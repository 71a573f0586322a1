// Case tables: the generated pair lists, the BMP tables built from them, and
// change_char_case across the table and the supplementary lists.
#include <gtest/gtest.h>

#include "runtime/case_tables.h"

using namespace vyr::case_tables;

namespace {
class CaseTablesTest : public testing::Test {
protected:
    static void SetUpTestSuite() { init_case_tables(); }
};

size_t nonzero_entries(const uint32_t* table) {
    size_t n = 0;
    for (size_t i = 0; i < table_entries; ++i) n += table[i] != 0;
    return n;
}
}  // namespace

TEST_F(CaseTablesTest, ListsHaveTheirCountsAndEnds) {
    struct {
        PairList list;
        size_t count;
        CasePair first, last;
    } cases[] = {
        {PairList::bmp_upper, 1250, {0x0061, 0x0041}, {0xFF5A, 0xFF3A}},
        {PairList::bmp_lower, 1158, {0x0041, 0x0061}, {0xFF3A, 0xFF5A}},
        {PairList::supplementary_upper, 225, {0x10428, 0x10400}, {0x1E943, 0x1E921}},
        {PairList::supplementary_lower, 225, {0x10400, 0x10428}, {0x1E921, 0x1E943}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.list));
        std::span<const CasePair> list = pairs(c.list);
        ASSERT_EQ(list.size(), c.count);
        EXPECT_EQ(list.front().from, c.first.from);
        EXPECT_EQ(list.front().to, c.first.to);
        EXPECT_EQ(list.back().from, c.last.from);
        EXPECT_EQ(list.back().to, c.last.to);
        for (size_t i = 1; i < list.size(); ++i) ASSERT_LT(list[i - 1].from, list[i].from) << i;
    }
    // Every BMP pair lands in its own table entry.
    EXPECT_EQ(nonzero_entries(to_upper_table), 1250u);
    EXPECT_EQ(nonzero_entries(to_lower_table), 1158u);
}

TEST_F(CaseTablesTest, Mappings) {
    struct {
        const char* what;
        uint32_t cp, upper, lower;
    } cases[] = {
        {"ascii lower", 'a', 'A', 'a'},
        {"ascii upper", 'Z', 'Z', 'z'},
        {"digit", '7', '7', '7'},
        {"NUL", 0, 0, 0},
        {"e acute", 0xE9, 0xC9, 0xE9},
        {"E acute", 0xC9, 0xC9, 0xE9},
        {"sharp s: first of SS", 0xDF, 0x53, 0xDF},
        {"capital sharp s", 0x1E9E, 0x1E9E, 0xDF},
        {"y diaeresis leaves width 1", 0xFF, 0x178, 0xFF},
        {"Y diaeresis", 0x178, 0x178, 0xFF},
        {"micro sign", 0xB5, 0x39C, 0xB5},
        {"dotted capital I", 0x130, 0x130, 0x69},
        {"dotless i", 0x131, 0x49, 0x131},
        {"n preceded by apostrophe", 0x149, 0x2BC, 0x149},
        {"final sigma", 0x3C2, 0x3A3, 0x3C2},
        {"sigma", 0x3C3, 0x3A3, 0x3C3},
        {"capital sigma", 0x3A3, 0x3A3, 0x3C3},
        {"ypogegrammeni", 0x345, 0x399, 0x345},
        {"alpha with psili and ypogegrammeni", 0x1F80, 0x1F08, 0x1F80},
        {"ohm sign", 0x2126, 0x2126, 0x3C9},
        {"kelvin sign", 0x212A, 0x212A, 'k'},
        {"Georgian Mtavruli (new in 11.0)", 0x1C90, 0x1C90, 0x10D0},
        {"added after 11.0", 0xA7C3, 0xA7C3, 0xA7C3},
        {"fullwidth z", 0xFF5A, 0xFF3A, 0xFF5A},
        {"last table entry", 0xFFFF, 0xFFFF, 0xFFFF},
        {"below the supplementary keys", 0x10000, 0x10000, 0x10000},
        {"Deseret small", 0x10428, 0x10400, 0x10428},
        {"Deseret capital", 0x10400, 0x10400, 0x10428},
        {"Osage", 0x104D8, 0x104B0, 0x104D8},
        {"Adlam first small", 0x1E922, 0x1E900, 0x1E922},
        {"Adlam last small", 0x1E943, 0x1E921, 0x1E943},
        {"Adlam last capital", 0x1E921, 0x1E921, 0x1E943},
        {"emoji", 0x1F600, 0x1F600, 0x1F600},
        {"beyond every key", 0x10FFFF, 0x10FFFF, 0x10FFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(change_char_case(c.cp, true), c.upper);
        EXPECT_EQ(change_char_case(c.cp, false), c.lower);
    }
}

TEST_F(CaseTablesTest, SecondInitKeepsTheTables) {
    uint32_t* upper = to_upper_table;
    uint32_t* lower = to_lower_table;
    init_case_tables();
    EXPECT_EQ(to_upper_table, upper);
    EXPECT_EQ(to_lower_table, lower);
}
