// hash! through the block and series actions: every change keeps the table
// indexing each cell at its place, find goes through the table and agrees
// with a plain block, set operations answer a hash! with a whole table.
#include <gtest/gtest.h>

#include <random>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "runtime/random.h"
#include "runtime/hash.h"
#include "tests/unit/block_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

using BlockHashTest = BlockTest;

Cell at_index(Cell s, int32_t i) {
    s.w1 = uint32_t(i);
    return s;
}

// A hash! holding the items, with its table.
Cell H(std::initializer_list<Cell> items) {
    Cell h = B(items);
    h.header = type_hash;
    h.w3 = hash::make_hash_table(int32_t(items.size()), &h, hash::kind_block, 0);
    return h;
}

// The cells of a hash! molded as a block.
std::string contents(Cell h) {
    h.header = type_block;
    h.w1 = 0;
    return M(h);
}

// Every cell is indexed at its own place: looking a cell up from its index
// strictly answers that very cell, and the table counts no cell twice.
void expect_table_whole(const Cell& h, const char* what) {
    int32_t n = series_t::buffer_length(h);
    for (int32_t i = 0; i < n; ++i) {
        Cell* hit = hash::hash_table_find(h.w3, block_t::cell_at(h, uint32_t(i)), i, 1, registry::op_strict_equal,
                                          false, false);
        EXPECT_EQ(hit, block_t::cell_at(h, uint32_t(i))) << what << ": cell " << i;
    }
}

TEST_F(BlockHashTest, ChangesKeepTheTableInStep) {
    Cell a = W("a"), b = W("b"), c = W("c");
    Cell h = H({a, I(1), b, I(2), c, I(3)});
    expect_table_whole(h, "made");

    Cell s = at_index(h, 2), v = B({W("x"), I(9)});
    block_t::insert(&s, &v, -1, false, 1, false);
    EXPECT_EQ(contents(h), "[a 1 x 9 b 2 c 3]");
    expect_table_whole(h, "insert");
    s = h, v = a;
    block_t::insert(&s, &v, -1, false, 2, true);
    expect_table_whole(h, "append");

    Cell r = at_index(h, 1), two = I(2);
    series_t::remove(&r, &two, nullptr);
    EXPECT_EQ(contents(h), "[a 9 b 2 c 3 a a]");
    expect_table_whole(h, "remove");

    Cell t = at_index(h, 2), part = I(2);
    series_t::take(&t, &part, false, false);
    EXPECT_EQ(type_of(t), uint32_t(type_hash));  // the answer is a hash! with a table of its own
    EXPECT_NE(t.w3, h.w3);
    expect_table_whole(t, "taken part");
    expect_table_whole(h, "take");

    Cell p = h, nine = I(7);
    series_t::poke(&p, 2, &nine, nullptr);
    expect_table_whole(h, "poke");
    Cell rv = h;
    series_t::reverse(&rv, nullptr, nullptr);
    EXPECT_EQ(contents(h), "[a a 3 c 7 a]");
    expect_table_whole(h, "reverse");

    Cell o = h, target = at_index(h, 4);
    series_t::move(&o, &target, nullptr);
    EXPECT_EQ(contents(h), "[a 3 c 7 a a]");
    expect_table_whole(h, "move forward");
    o = at_index(h, 4), target = h;
    series_t::move(&o, &target, &two);
    EXPECT_EQ(contents(h), "[a a a 3 c 7]");
    expect_table_whole(h, "move back");

    Cell other = H({W("q")});
    o = at_index(h, 3), target = other;
    series_t::move(&o, &target, &two);
    EXPECT_EQ(contents(other), "[3 c q]");
    expect_table_whole(other, "move into");
    expect_table_whole(h, "move out");

    Cell ch = at_index(h, 1), with = B({I(5), I(6), I(7)});
    block_t::change(&ch, &with, 1, false, 1);
    EXPECT_EQ(contents(h), "[a 5 6 7 a 7]");
    expect_table_whole(h, "change");

    Cell sw = at_index(h, 1), sw2 = at_index(other, 0);
    block_t::swap(&sw, &sw2);
    expect_table_whole(h, "swap");
    expect_table_whole(other, "swap other");

    Cell key = W("a"), val = I(0);
    Cell pt = h;
    block_t::put(&pt, &key, &val, false);
    expect_table_whole(h, "put");
    key = W("z");
    block_t::put(&pt, &key, &val, false);
    expect_table_whole(h, "put new");

    random::random_seed(5);
    Cell rnd = at_index(h, 2);
    series_t::random(&rnd, false, false, false);
    expect_table_whole(h, "random");

    Cell cl = at_index(h, 3);
    series_t::clear(&cl);
    EXPECT_EQ(series_t::buffer_length(h), 3);
    expect_table_whole(h, "clear");
    Cell whole = h;
    series_t::clear(&whole);
    EXPECT_EQ(hash::table_count(h.w3), 0u);
}

// find and select on a hash! answer what they answer on an equal block.
TEST_F(BlockHashTest, FindAgreesWithABlock) {
    std::mt19937 gen(3);
    std::vector<Cell> items;
    const char* names[] = {"a", "b", "c", "A"};
    for (int i = 0; i < 60; ++i) items.push_back(gen() % 2 ? I(int32_t(gen() % 5)) : W(names[gen() % 4]));
    Cell block = B({});
    for (const Cell& c : items) block_t::append_value(block, c);
    Cell h = block;
    h.header = type_hash;
    h.w3 = hash::make_hash_table(60, &h, hash::kind_block, 0);
    std::vector<Cell> keys = {I(0), I(3), I(9), W("a"), W("A"), W("b"), W("q")};
    for (const Cell& key : keys) {
        for (int32_t index : {0, 7, 31, 59, 60}) {
            for (int flags = 0; flags < 16; ++flags) {
                bool case_ = flags & 1, last = flags & 2, reverse = flags & 4;
                Cell skip = I(flags & 8 ? 3 : 1);
                Cell x = at_index(block, index), y = at_index(h, index), k1 = key, k2 = key;
                block_t::find(&x, &k1, nullptr, false, case_, false, false, nullptr, &skip, last, reverse, false, false);
                block_t::find(&y, &k2, nullptr, false, case_, false, false, nullptr, &skip, last, reverse, false, false);
                ASSERT_EQ(type_of(x) == type_none, type_of(y) == type_none) << index << " " << flags;
                if (type_of(x) != type_none) EXPECT_EQ(x.w1, y.w1) << index << " " << flags;
            }
        }
    }
}

TEST_F(BlockHashTest, SetOperationsAnswerAHash) {
    Cell a = W("a"), b = W("b");
    Cell* args = stack::top();
    stack::push_copy(H({a, b, a, I(1)}));
    stack::push_copy(B({b}));
    block_t::set_operation(args, false, nullptr, block_t::set_exclude);
    Cell r = args[0];
    stack::set_top(args);
    EXPECT_EQ(type_of(r), uint32_t(type_hash));
    EXPECT_EQ(contents(r), "[a 1]");
    expect_table_whole(r, "exclude");

    stack::push_copy(B({a, I(1), b}));
    stack::push_copy(H({W("B"), I(2)}));
    block_t::set_operation(args, false, nullptr, block_t::set_intersect);  // membership through the hash!'s table
    r = args[0];
    stack::set_top(args);
    EXPECT_EQ(contents(r), "[b]");
}

}  // namespace
