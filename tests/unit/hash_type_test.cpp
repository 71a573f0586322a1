// hash!'s own actions: make, to, mold, copy, and the re-indexing after sort
// and trim; every answer must find cells where a plain block finds them.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/hash.h"
#include "datatypes/series.h"
#include "runtime/hash.h"
#include "tests/unit/literal_fixture.h"

using namespace vyr;
using namespace vyr::test;

namespace {

class HashTypeTest : public LiteralTest {
protected:
    static Cell make_hash(const Cell& spec, bool to = false) {
        Cell proto{type_datatype, type_hash, 0, 0}, s = spec;
        return to ? *actions::to(&proto, &s) : *actions::make(&proto, &s);
    }
    static Cell as_block(Cell h) {
        set_type(h, type_block);
        h.w3 = 0;
        return h;
    }
    // find of the value in the series: the index found, or -1.
    static int32_t found_at(const Cell& series, const Cell& v, bool case_ = false) {
        Cell s = series, k = v;
        Cell r = *actions::find(&s, &k, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                                false);
        return type_of(r) == type_none ? -1 : int32_t(r.w1);
    }
    // Every cell of the hash! is found at the place a plain block finds it.
    static void expect_finds_like_block(const Cell& h, const char* what) {
        ASSERT_EQ(type_of(h), uint32_t(type_hash)) << what;
        ASSERT_NE(h.w3, no_node) << what;
        Cell b = as_block(h);
        int32_t n = series_t::buffer_length(h);
        for (int32_t i = 0; i < n; ++i) {
            Cell v = *block_t::cell_at(h, uint32_t(i));
            EXPECT_EQ(found_at(h, v), found_at(b, v)) << what << ": cell " << i;
        }
    }
};

TEST_F(HashTypeTest, MakeFromSizeAndBlock) {
    Cell h = make_hash(value("0"));
    EXPECT_EQ(mold(h), "make hash! []");
    Cell s = h, v = value("[a 1 b 2]");
    actions::append(&s, &v, -1, false, 1);
    EXPECT_EQ(found_at(h, unbound_word("b")), 2);
    expect_finds_like_block(h, "appended");

    Cell block = value("[a 1 b 2]");
    Cell copy = make_hash(block);
    Cell x = value("[x]");
    Cell bs = block;
    actions::append(&bs, &x, -1, false, 1);
    EXPECT_EQ(mold(copy), "make hash! [a 1 b 2]");
    EXPECT_EQ(mold(copy, {.only = true}), "a 1 b 2");
    EXPECT_EQ(mold(make_hash(make_hash(value("[c 3]")))), "make hash! [c 3]");
    EXPECT_EQ(mold(make_hash(value("(d 4)"))), "make hash! [d 4]");
    EXPECT_EQ(mold(make_hash(value("5"), true)), "make hash! [5]");
}

TEST_F(HashTypeTest, ToKeepsBlocksConversion) {
    Cell block = value("[a b c]");
    block.w1 = 1;
    Cell h = make_hash(block, true);
    EXPECT_EQ(mold(h), "make hash! [b c]");
    EXPECT_NE(h.w2, block.w2);
    expect_finds_like_block(h, "to");
    Cell again = make_hash(h, true);
    EXPECT_NE(again.w3, h.w3);
    EXPECT_NE(again.w2, h.w2);
}

TEST_F(HashTypeTest, MoldBudgetCountsThePrefix) {
    Cell buffer{}, h = make_hash(value("[a]"));
    string_t::make_at(buffer, 16);
    int32_t left = actions::mold(&h, &buffer, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(left, 100 - int32_t(std::string("make hash! [a]").size()));
}

TEST_F(HashTypeTest, CopiesHaveTheirOwnTables) {
    Cell h = make_hash(value("[a 1 b 2 c 3 a 4]"));
    Cell s = h, whole{};
    actions::copy(&s, &whole, nullptr, false, nullptr);
    EXPECT_NE(whole.w3, h.w3);
    expect_finds_like_block(whole, "whole");
    Cell w = whole, v = value("[z 9]");
    actions::insert(&w, &v, -1, false, 1);
    expect_finds_like_block(whole, "insert into the copy");
    expect_finds_like_block(h, "original after the copy changed");

    Cell part{type_integer, 0, 3, 0}, piece{};
    s = h;
    s.w1 = 2;
    actions::copy(&s, &piece, &part, false, nullptr);
    EXPECT_EQ(mold(piece), "make hash! [b 2 c]");
    EXPECT_EQ(hash::table_count(piece.w3), 3u);
    expect_finds_like_block(piece, "part");
    EXPECT_EQ(found_at(piece, unbound_word("a")), -1);

    Cell deep{};
    s = h;
    actions::copy(&s, &deep, nullptr, true, nullptr);
    expect_finds_like_block(deep, "deep");
}

TEST_F(HashTypeTest, SortAndTrimReindex) {
    Cell h = make_hash(value("[d 4 b 2 a 1 c 3]"));
    Cell s = h;
    actions::sort(&s, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(mold(h, {.only = true}), "1 2 3 4 a b c d");
    expect_finds_like_block(h, "sort");
    EXPECT_EQ(found_at(h, unbound_word("c")), 6);

    Cell tail = make_hash(value("[z y x w]"));
    s = tail;
    s.w1 = 2;
    actions::sort(&s, false, nullptr, nullptr, nullptr, false, true, false);
    s.w1 = 2;
    actions::sort(&s, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(mold(tail, {.only = true}), "z y w x");
    expect_finds_like_block(tail, "sort from the index");

    Cell none{type_none, 0, 0, 0};
    Cell u = make_hash(value("[a 1 b 2]"));
    s = u;
    Cell p2 = none;
    actions::poke(&s, 2, &p2, nullptr);
    s = u;
    actions::trim(&s, false, false, false, false, false, nullptr);
    EXPECT_EQ(mold(u, {.only = true}), "a b 2");
    expect_finds_like_block(u, "trim");
    Cell sel = u, key = unbound_word("b");
    EXPECT_EQ(mold(*actions::select(&sel, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              "2");
}

}  // namespace
