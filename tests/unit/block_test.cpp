// block!: append, insert, change, make, to, copy, take, trim, swap, put,
// path access, compare, mold and form, and the block helpers.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "runtime/stack.h"
#include "tests/unit/block_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {



Cell at_index(Cell s, int32_t i) {
    s.w1 = uint32_t(i);
    return s;
}

// append (append = true) or insert through the slot, answering the series.
Cell add(Cell series, Cell value, bool append, int32_t part = -1, bool only = false, int32_t dup = 1) {
    block_t::insert(&series, &value, part, only, dup, append);
    return series;
}

TEST_F(BlockTest, AppendAndInsert) {
    Cell a = W("a"), b = W("b"), x = W("x");
    EXPECT_EQ(M(add(B({}), B({a, b}), true)), "[a b]");
    EXPECT_EQ(M(add(B({}), B({a, b}), true, -1, true)), "[[a b]]");
    EXPECT_EQ(M(add(B({}), x, true, -1, false, 3)), "[x x x]");
    EXPECT_EQ(M(add(B({I(1)}), B({}), true)), "[1]");
    EXPECT_EQ(M(add(B({}), at_index(B({I(1), I(2), I(3)}), 1), true)), "[2 3]");  // spliced from its index

    Cell s = B({I(1), I(2)});
    Cell appended = add(at_index(s, 1), I(3), true);
    EXPECT_EQ(appended.w1, 0u);  // append answers the head
    EXPECT_EQ(M(s), "[1 2 3]");

    Cell t = B({I(1), I(5)});
    Cell inserted = add(at_index(t, 1), B({I(2), I(3), I(4)}), false, 2);
    EXPECT_EQ(M(t), "[1 2 3 5]");
    EXPECT_EQ(inserted.w1, 3u);  // just past the inserted cells
    Cell dup = add(t, B({I(0), I(0)}), false, -1, false, 3);
    EXPECT_EQ(M(t), "[0 0 0 0 0 0 1 2 3 5]");
    EXPECT_EQ(dup.w1, 6u);
    Cell past_tail = add(at_index(t, 99), I(9), false);  // an index past the tail is set to it
    EXPECT_EQ(past_tail.w1, 11u);
    EXPECT_EQ(M(t).substr(M(t).size() - 3), " 9]");
}

TEST_F(BlockTest, AppendAndInsertFromTheSameBlock) {
    Cell s = B({I(1), I(2)});
    add(s, s, true);
    EXPECT_EQ(M(s), "[1 2 1 2]");
    add(at_index(s, 1), s, false, -1, false, 2);
    EXPECT_EQ(M(s), "[1 1 2 1 2 1 2 1 2 2 1 2]");
    Cell big = B({});
    for (int i = 0; i < 100; ++i) add(big, I(i), true);  // growth keeps every cell
    EXPECT_EQ(series_t::buffer_length(big), 100);
    EXPECT_EQ(int32_t(block_t::cell_at(big, 99)->w2), 99);
}

TEST_F(BlockTest, Change) {
    struct Case {
        Cell series;
        int32_t index;
        Cell value;
        int32_t part;
        int32_t dup;
        const char* expected;
        uint32_t answer;
    } cases[] = {
        {B({I(1), I(2), I(3), I(4)}), 0, B({W("a")}), 2, 1, "[a 3 4]", 1},
        {B({I(1), I(2)}), 0, B({W("a"), W("b"), W("c")}), -1, 1, "[a b c]", 3},
        {B({I(1), I(2), I(3)}), 1, W("x"), -1, 1, "[1 x 3]", 2},
        {B({I(1), I(2), I(3)}), 1, W("x"), -1, 3, "[1 x x x]", 4},
        {B({I(1), I(2), I(3)}), 1, B({}), 1, 1, "[1 3]", 1},
        {B({I(1), I(2), I(3)}), 3, W("x"), -1, 1, "[1 2 3 x]", 4},
        {B({I(1), I(2), I(3)}), 0, B({W("a")}), 99, 1, "[a]", 1},
    };
    for (const Case& c : cases) {
        Cell series = at_index(c.series, c.index), value = c.value;
        block_t::change(&series, &value, c.part, false, c.dup);
        EXPECT_EQ(M(c.series), c.expected);
        EXPECT_EQ(series.w1, c.answer) << c.expected;
    }
    Cell s = B({I(1), I(2), I(3), I(4)});  // the source overlaps the changed range
    Cell series = s, value = at_index(s, 2);
    block_t::change(&series, &value, -1, false, 1);
    EXPECT_EQ(M(s), "[3 4 3 4]");
}

TEST_F(BlockTest, MakeAndTo) {
    Cell proto = B({}), spec = I(0);
    block_t::make(&proto, &spec, type_block);
    EXPECT_EQ(M(proto), "[]");
    EXPECT_GE(memory::buffer_of(proto.w2)->capacity, 16u);  // room for one cell

    Cell source = B({I(1), I(2), I(3)});
    Cell from = at_index(source, 1);
    block_t::make(&proto, &from, type_block);
    EXPECT_EQ(M(proto), "[2 3]");
    EXPECT_NE(proto.w2, source.w2);  // a copy

    Cell one = I(1);
    block_t::to(&proto, &one, type_block);
    EXPECT_EQ(M(proto), "[1]");
    Cell typeset{type_typeset, 0, 0, 0};  // integer! (11) and block! (5)
    uint8_t bits[12] = {};
    bits[type_block >> 3] |= uint8_t(0x80 >> (type_block & 7));
    bits[type_integer >> 3] |= uint8_t(0x80 >> (type_integer & 7));
    std::memcpy(&typeset.w1, bits, sizeof bits);
    block_t::to(&proto, &typeset, type_block);
    EXPECT_EQ(M(proto), "[block! integer!]");
    Cell paren = B({I(1)}, type_paren);
    block_t::to(&proto, &paren, type_block);
    EXPECT_EQ(type_of(proto), uint32_t(type_block));
    EXPECT_NE(proto.w2, paren.w2);
}

TEST_F(BlockTest, MakeFromAnUnsupportedSpecRaises) {
    Cell proto = B({}), spec = W("x");
    EXPECT_RAISES(block_t::make(&proto, &spec, type_block), err_cat::script, err_id::script::bad_make_arg);
}

TEST_F(BlockTest, CopyDeepCopiesNestedSeries) {
    Cell inner = B({I(1)});
    Cell text = S("ab");
    Cell outer = B({inner, text, I(2)});
    Cell result;
    block_t::copy(&outer, &result, nullptr, true, nullptr);
    EXPECT_EQ(series_t::buffer_length(result), 3);
    EXPECT_NE(block_t::cell_at(result, 0)->w2, inner.w2);
    EXPECT_NE(block_t::cell_at(result, 1)->w2, text.w2);
    EXPECT_EQ(series::cycle_depth(), 0u);

    Cell shallow;
    block_t::copy(&outer, &shallow, nullptr, false, nullptr);
    EXPECT_EQ(block_t::cell_at(shallow, 0)->w2, inner.w2);

    Cell only_blocks, dt = datatype_value(type_block);  // /types: only the named type is copied
    block_t::copy(&outer, &only_blocks, nullptr, false, &dt);
    EXPECT_NE(block_t::cell_at(only_blocks, 0)->w2, inner.w2);
    EXPECT_EQ(block_t::cell_at(only_blocks, 1)->w2, text.w2);

    Cell shared = B({inner, inner});  // a block met twice is not a cycle
    block_t::copy(&shared, &result, nullptr, true, nullptr);
    EXPECT_EQ(M(result), "[[1] [1]]");
}

TEST_F(BlockTest, CopyDeepOfASelfContainingBlockRaises) {
    Cell s = B({I(1)});
    block_t::append_value(s, s);
    Cell result;
    EXPECT_RAISES(block_t::copy(&s, &result, nullptr, true, nullptr), err_cat::internal, err_id::internal::no_cycle);
    EXPECT_RAISES(block_t::clone(s, true, false), err_cat::internal, err_id::internal::no_cycle);
}

TEST_F(BlockTest, TakeAnswersTheValueOrABlock) {
    Cell inner = B({I(5)});
    Cell s = B({I(1), inner, I(3)});
    Cell one = s;
    block_t::take(&one, nullptr, false, false);
    EXPECT_EQ(type_of(one), uint32_t(type_integer));
    EXPECT_EQ(one.w2, 1u);
    Cell deep = s;
    block_t::take(&deep, nullptr, true, false);
    EXPECT_EQ(type_of(deep), uint32_t(type_block));
    EXPECT_NE(deep.w2, inner.w2);  // /deep: a copy
    Cell part = I(1), partial = s;
    block_t::take(&partial, &part, false, true);
    EXPECT_EQ(M(partial), "[3]");  // /part answers a block even for one cell
    EXPECT_EQ(M(s), "[]");
    Cell empty = s;
    block_t::take(&empty, nullptr, false, false);
    EXPECT_EQ(type_of(empty), uint32_t(type_none));
}

TEST_F(BlockTest, TrimSwapPut) {
    Cell s = B({I(1), none_value(), I(2), none_value()});
    block_t::trim(&s, false, false, false, false, false, nullptr);
    EXPECT_EQ(M(s), "[1 2]");

    Cell a = B({I(1), I(2)}), b = B({W("x")});
    Cell first = at_index(a, 1);
    block_t::swap(&first, &b);
    EXPECT_EQ(M(a), "[1 x]");
    EXPECT_EQ(M(b), "[2]");
    Cell tail = at_index(a, 2);
    block_t::swap(&tail, &b);  // at the tail nothing is exchanged
    EXPECT_EQ(M(a), "[1 x]");

    Cell m = B({W("a"), I(1), W("b")});
    Cell key = W("a"), value = I(7);
    block_t::put(&m, &key, &value, false);
    EXPECT_EQ(M(m), "[a 7 b]");
    key = W("b");
    block_t::put(&m, &key, &value, false);  // the key is last: a cell is added
    EXPECT_EQ(M(m), "[a 7 b 7]");
    key = W("c");
    block_t::put(&m, &key, &value, false);
    EXPECT_EQ(M(m), "[a 7 b 7 c 7]");
    key = W("A");
    value = I(8);
    block_t::put(&m, &key, &value, true);  // /case: A is not a
    EXPECT_EQ(M(m), "[a 7 b 7 c 7 A 8]");
}

TEST_F(BlockTest, SwapNeedsABlock) {
    Cell a = B({I(1)}), n = I(2);
    EXPECT_RAISES(block_t::swap(&a, &n), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(BlockTest, PathAccess) {
    Cell s = B({W("a"), I(1), W("b"), I(2), W("c")});
    auto get = [&](Cell element) {
        Cell parent = s;
        return *block_t::path_access(&parent, &element, nullptr, &parent, nullptr, nullptr, -1, false, true, false,
                                     false);
    };
    auto set = [&](Cell element, Cell value) {
        Cell parent = s, path = s;
        block_t::path_access(&parent, &element, &value, &path, nullptr, nullptr, -1, true, false, true, false);
    };
    EXPECT_EQ(get(I(2)).w2, 1u);
    EXPECT_EQ(type_of(get(I(9))), uint32_t(type_none));
    EXPECT_EQ(get(I(4)).w2, 2u);
    EXPECT_EQ(get(W("a", type_lit_word)).w2, 1u);  // other elements: select /only
    EXPECT_EQ(type_of(get(I(0))), uint32_t(type_none));
    set(I(1), W("z"));
    set(W("b"), I(20));
    EXPECT_EQ(M(s), "[z 1 b 20 c]");
    set(W("c"), I(9));  // the key is the last cell: a cell is added for the value
    EXPECT_EQ(M(s), "[z 1 b 20 c 9]");
}

TEST_F(BlockTest, PathSetOfAnAbsentElementRaises) {
    Cell s = B({W("a"), I(1)}), element = W("q"), value = I(0);
    EXPECT_RAISES(block_t::path_access(&s, &element, &value, &s, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, err_id::script::bad_path_set);
}

TEST_F(BlockTest, Compare) {
    auto cmp = [](Cell a, Cell b, int32_t op = registry::op_equal) { return block_t::compare(&a, &b, op); };
    EXPECT_EQ(cmp(B({I(1), I(2)}), B({I(1), I(2)})), 0);
    EXPECT_LT(cmp(B({I(1)}), B({I(1), I(2)}), registry::op_lesser), 0);
    EXPECT_LT(cmp(B({}), B({I(1)}), registry::op_lesser), 0);
    EXPECT_EQ(cmp(B({W("a")}), B({W("b"), W("c")})), 1);
    EXPECT_EQ(cmp(B({W("a")}), B({W("A")})), 0);
    EXPECT_NE(cmp(B({W("a")}), B({W("A")}), registry::op_strict_equal), 0);
    EXPECT_LT(cmp(B({I(1)}), B({W("a")}), registry::op_lesser), 0);  // by type id: integer! before word!
    EXPECT_GT(cmp(B({I(3)}), B({I(2), I(9)}), registry::op_lesser), 0);
    EXPECT_EQ(cmp(B({I(1)}), B({I(1)}, type_paren)), registry::not_comparable);
    Cell p = B({I(1)}, type_path), lp = B({I(1)}, type_lit_path);
    EXPECT_EQ(cmp(p, lp, registry::op_word_equal), 0);
    Cell s = B({I(1)});
    EXPECT_EQ(cmp(s, s, registry::op_same), 0);
    EXPECT_EQ(cmp(s, B({I(1)}), registry::op_same), -1);

    Cell x = B({}), y = B({});  // each contains itself: the walk stops
    block_t::append_value(x, x);
    block_t::append_value(y, y);
    EXPECT_EQ(cmp(x, y), 0);
    EXPECT_EQ(series::cycle_depth(), 0u);
}

TEST_F(BlockTest, MoldNewLinesAndIndentation) {
    Cell a = W("a"), b = W("b"), c = W("c");
    struct Case {
        Cell value;
        MoldOptions options;
        const char* expected;
    } cases[] = {
        {B({a, b}), {}, "[a b]"},
        {B({a, with_new_line(b)}), {}, "[a\nb]"},
        {B({with_new_line(a), with_new_line(b)}), {}, "[\n    a\n    b\n]"},
        {B({with_new_line(a), b, with_new_line(c)}), {}, "[\n    a b\n    c\n]"},
        {B({with_new_line(a), B({with_new_line(b), with_new_line(c)})}), {}, "[\n    a [\n        b\n        c\n    ]\n]"},
        {B({a, B({with_new_line(b)})}), {}, "[a [\n    b\n]]"},
        {B({with_new_line(a), with_new_line(b)}), {true}, "a\nb"},
        {B({with_new_line(a), with_new_line(b)}), {false, false, true}, "[a b]"},
        {B({a, B({b, c}), B({})}), {true}, "a [b c] []"},
        {B({}), {}, "[]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.value, c.options), c.expected);
}

TEST_F(BlockTest, MoldAndFormPartBudgets) {
    Cell s = B({I(1), I(22), I(333), B({I(4), I(5)})});
    EXPECT_EQ(mold(s), "[1 22 333 [4 5]]");
    MoldOptions o;
    for (int32_t part : {0, 1, 3, 5, 9, 12, 16, 40}) {
        o.part = part;
        EXPECT_EQ(mold(s, o), std::string("[1 22 333 [4 5]]").substr(0, size_t(part))) << part;
        EXPECT_EQ(form(s, part), std::string("1 22 333 4 5").substr(0, size_t(part))) << part;
    }
    // Items stop once the budget is spent: nothing past it is molded.
    Cell buffer = mold_buffer(), part = I(4), value = s;
    block_t::mold(&value, &buffer, false, false, false, &part, 4, 0);
    EXPECT_EQ(chars_of(buffer), "[1 22]");
}

TEST_F(BlockTest, SelfContainingBlocksMoldWithAPlaceholder) {
    Cell s = B({I(1)});
    block_t::append_value(s, s);
    EXPECT_EQ(mold(s), "[1 [...]]");
    EXPECT_EQ(form(s), "1 ...");
    Cell outer = B({s});
    EXPECT_EQ(mold(outer), "[[1 [...]]]");
    EXPECT_EQ(series::cycle_depth(), 0u);
    MoldOptions o;
    o.part = 7;
    EXPECT_EQ(mold(s, o), "[1 [...");
}

TEST_F(BlockTest, FormSeparatesItemsBySpaces) {
    EXPECT_EQ(form(B({I(1), B({I(2), I(3)}), W("x")})), "1 2 3 x");
    EXPECT_EQ(form(B({W("line\n"), W("x"), W("tab\t"), W("y")})), "line\nx tab\ty");
    EXPECT_EQ(form(B({})), "");
}

TEST_F(BlockTest, Helpers) {
    Cell s = B({W("a"), I(1), W("b"), I(2)});
    EXPECT_EQ(block_t::select_value(s, W("b")).w2, 2u);
    EXPECT_EQ(type_of(block_t::select_value(s, I(2))), uint32_t(type_none));  // the match is the last cell
    EXPECT_EQ(block_t::find_word(s, W("a", type_set_word), true).w2, 1u);
    EXPECT_EQ(type_of(block_t::find_word(s, W("q"), true)), uint32_t(type_none));

    Cell r = at_index(s, 2);
    EXPECT_TRUE(block_t::remove_value(r, W("a"), true));
    EXPECT_FALSE(block_t::remove_value(r, W("q"), true));
    EXPECT_EQ(M(s), "[1 b 2]");

    Cell ins = at_index(s, 1);
    block_t::insert_value(ins, I(0), true, false);
    EXPECT_EQ(ins.w1, 2u);
    block_t::insert_value(ins, I(-1), false, true);
    EXPECT_EQ(M(s), "[-1 1 0 b 2]");
    block_t::drop_last(s);
    EXPECT_EQ(M(s), "[-1 1 0 b]");
    Cell t = at_index(s, 2);
    block_t::truncate(t);
    EXPECT_EQ(M(s), "[-1 1]");
    EXPECT_TRUE(block_t::at_tail_q(t));
    block_t::append_values(s, at_index(B({I(7), I(8)}), 1));
    EXPECT_EQ(M(s), "[-1 1 8]");

    Cell nested = B({B({B({I(1)})}), B({I(2)}, type_paren)});
    Cell* deep = block_t::clone(nested, true, false);
    EXPECT_NE(block_t::cell_at(*deep, 0)->w2, block_t::cell_at(nested, 0)->w2);
    EXPECT_EQ(block_t::cell_at(*deep, 1)->w2, block_t::cell_at(nested, 1)->w2);  // paren! only with the paths flag
    Cell* with_paths = block_t::clone(nested, true, true);
    EXPECT_NE(block_t::cell_at(*with_paths, 1)->w2, block_t::cell_at(nested, 1)->w2);
    stack::pop_cells(2);

    Cell sized;
    block_t::make_sized_at(sized, 3, false);
    EXPECT_EQ(type_of(*block_t::cell_at(sized, 2)), uint32_t(type_unset));
    Cell* child = block_t::make_in(&s, 4);
    EXPECT_EQ(type_of(*child), uint32_t(type_block));
    EXPECT_EQ(M(s), "[-1 1 8 []]");
}

}  // namespace
