// block!: find and select with their refinements, sort (records, fields,
// /all, /reverse, /stable, user functions, nested sorts) and the set
// operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "datatypes/block.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/series.h"
#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "tests/unit/block_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

using BlockSearchTest = BlockTest;


Cell at_index(Cell s, int32_t i) {
    s.w1 = uint32_t(i);
    return s;
}

// ---- find and select ------------------------------------------------------------

struct FindArgs {
    bool only = false, case_ = false, same = false, last = false, reverse = false, tail = false, match = false;
    int32_t part = 0;  // 0: no /part
    int32_t skip = 0;  // 0: no /skip
};

// The index find answers, or -1 for none.
int32_t find_index(Cell series, Cell key, FindArgs a = {}) {
    Cell part = I(a.part), skip = I(a.skip);
    block_t::find(&series, &key, a.part ? &part : nullptr, a.only, a.case_, a.same, false, nullptr,
                  a.skip ? &skip : nullptr, a.last, a.reverse, a.tail, a.match);
    return type_of(series) == type_none ? -1 : int32_t(series.w1);
}

Cell select_value(Cell series, Cell key, FindArgs a = {}) {
    Cell skip = I(a.skip), part = I(a.part);
    block_t::select(&series, &key, a.part ? &part : nullptr, a.only, a.case_, a.same, false, nullptr,
                    a.skip ? &skip : nullptr, a.last, a.reverse);
    return series;
}

TEST_F(BlockSearchTest, FindWithEveryRefinement) {
    Cell a = W("a"), b = W("b"), c = W("c");
    Cell abc = B({a, b, c});
    Cell nested = B({B({b, c}), b, c});
    struct Case {
        Cell series;
        Cell key;
        FindArgs args;
        int32_t expected;
    } cases[] = {
        {abc, b, {}, 1},
        {abc, b, {.tail = true}, 2},
        {abc, B({b, c}), {}, 1},                      // a block key matches a run
        {abc, B({b, c}), {.tail = true}, 3},
        {abc, B({c, a}), {}, -1},
        {abc, B({}), {}, -1},                         // an empty key matches nothing
        {nested, B({b, c}), {.only = true}, 0},       // /only: the block as one cell
        {B({I(1), a, I(2)}), datatype_value(type_integer), {}, 0},
        {B({a, I(1), datatype_value(type_integer)}), datatype_value(type_integer), {.only = true}, 2},
        {B({a, I(1), b, I(2)}), b, {.skip = 2}, 2},
        {B({a, I(1), b, I(2)}), I(1), {.skip = 2}, -1},  // only record heads are tested
        {B({a, I(1), b, I(2)}), b, {.tail = true, .skip = 2}, 4},
        {B({a, b, a}), a, {.last = true}, 2},
        {B({a, b, a, b}), a, {.last = true, .skip = 2}, 2},
        {B({a, b, a, b}), b, {.last = true, .skip = 2}, -1},
        {B({a, b}), b, {.match = true}, -1},
        {B({a, b}), a, {.match = true}, 0},
        {B({a, b}), a, {.tail = true, .match = true}, 1},
        {at_index(B({a, b, a, b}), 3), a, {.reverse = true}, 2},
        {at_index(B({a, b, a, b}), 2), a, {.reverse = true}, 0},
        {at_index(B({a, b, a, b}), 0), a, {.reverse = true}, -1},
        {at_index(B({a, b, c}), 3), b, {.reverse = true}, 1},  // /reverse works from the tail
        {at_index(B({a, b, a}), 1), b, {}, 1},
        {at_index(B({a, b, a}), 1), a, {}, 2},
        {at_index(B({a, b, a}), 3), a, {}, -1},
        {B({a, b, c}), c, {.part = 2}, -1},
        {B({a, b, c}), b, {.part = 2}, 1},
        {B({a, b, c}), B({b, c}), {.part = 2}, -1},  // the run must lie within the part
        {B({a, b, c}), a, {.part = -1}, -1},
        {B({a, W("B")}), b, {}, 1},
        {B({a, W("B")}), b, {.case_ = true}, -1},
        {B({}), a, {}, -1},
    };
    int n = 0;
    for (const Case& c : cases) EXPECT_EQ(find_index(c.series, c.key, c.args), c.expected) << "case " << n++;

    Cell inner = B({I(1)});
    Cell s = B({B({I(1)}), inner});
    EXPECT_EQ(find_index(s, inner, {.only = true}), 0);
    EXPECT_EQ(find_index(s, inner, {.only = true, .same = true}), 1);  // /same: the very same series

    Cell part_pos = at_index(abc, 2);  // a /part position ends the search before it
    Cell series = abc, key = c;
    block_t::find(&series, &key, &part_pos, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(type_of(series), uint32_t(type_none));
}

TEST_F(BlockSearchTest, FindChecksSkipAndPart) {
    Cell s = B({I(1), I(2)}), key = I(1), zero = I(0), word = W("x"), other = B({I(1)});
    EXPECT_RAISES(block_t::find(&s, &key, nullptr, false, false, false, false, nullptr, &zero, false, false, false,
                                false),
                  err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(block_t::find(&s, &key, nullptr, false, false, false, false, nullptr, &word, false, false, false,
                                false),
                  err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(block_t::find(&s, &key, &other, false, false, false, false, nullptr, nullptr, false, false, false,
                                false),
                  err_cat::script, err_id::script::invalid_refine_arg);
}

TEST_F(BlockSearchTest, Select) {
    Cell a = W("a"), b = W("b");
    EXPECT_EQ(select_value(B({a, I(1), b, I(2)}), b).w2, 2u);
    EXPECT_EQ(type_of(select_value(B({a, I(1), b}), b)), uint32_t(type_none));
    EXPECT_EQ(type_of(select_value(B({a, I(1)}), W("z"))), uint32_t(type_none));
    EXPECT_EQ(select_value(B({a, b, I(3)}), B({a, b})).w2, 3u);  // after the whole run
    Cell key = B({a});
    EXPECT_EQ(type_of(select_value(B({key, I(4)}), key, {.only = true})), uint32_t(type_integer));
    EXPECT_EQ(select_value(B({a, I(1), a, I(2)}), a, {.last = true}).w2, 2u);
    EXPECT_EQ(select_value(B({I(1), a, a, I(5)}), a, {.skip = 2}).w2, 5u);  // record heads only: the a at 2
}

// ---- sort ---------------------------------------------------------------------------

struct SortArgs {
    bool case_ = false, all = false, reverse = false, stable = false;
    int32_t skip = 0, part = 0;
    Cell compare{type_none_id, 0, 0, 0};  // type 0: no /compare
};

Cell sorted(Cell s, SortArgs a = {}) {
    Cell skip = I(a.skip), part = I(a.part), cmp = a.compare;
    block_t::sort(&s, a.case_, a.skip ? &skip : nullptr, type_of(cmp) ? &cmp : nullptr, a.part ? &part : nullptr,
                  a.all, a.reverse, a.stable);
    return s;
}

TEST_F(BlockSearchTest, SortOptions) {
    Cell a = W("a"), b = W("b"), c = W("c"), A = W("A");
    struct Case {
        Cell series;
        SortArgs args;
        const char* expected;
    } cases[] = {
        {B({I(3), I(1), I(2)}), {}, "[1 2 3]"},
        {B({I(3), I(1), I(2)}), {.reverse = true}, "[3 2 1]"},
        {B({b, I(2), a, I(1)}), {.skip = 2}, "[a 1 b 2]"},
        {B({a, I(2), b, I(1)}), {.skip = 2, .compare = I(2)}, "[b 1 a 2]"},
        {B({a, I(2), a, I(1), b, I(0)}), {.all = true, .skip = 2}, "[a 1 a 2 b 0]"},
        {B({I(4), I(3), I(2), I(1)}), {.part = 2}, "[3 4 2 1]"},
        {B({c, a, b, A}), {.case_ = true, .stable = true}, "[A a b c]"},
        {B({W("x"), I(2), c}), {.stable = true}, "[2 c x]"},  // not comparable: by type id
        {B({}), {.skip = 9}, "[]"},
    };
    int n = 0;
    for (const Case& c : cases) {
        Cell s = c.series;
        sorted(s, c.args);
        EXPECT_EQ(M(s), c.expected) << "case " << n++;
    }
    Cell s = B({I(9), I(3), I(2), I(1)});  // a negative /part sorts the cells before the index
    Cell from = at_index(s, 3);
    sorted(from, {.part = -2});
    EXPECT_EQ(M(s), "[9 2 3 1]");
    Cell word_case = B({b, A, a});
    sorted(word_case, {.stable = true});
    EXPECT_EQ(M(word_case), "[A a b]");  // case-insensitive, equal keys keep their order
}

TEST_F(BlockSearchTest, SortChecksItsRefinements) {
    Cell s = B({I(1), I(2), I(3)});
    EXPECT_RAISES(sorted(s, {.skip = 2}), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(sorted(s, {.skip = 4}), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(sorted(s, {.skip = -1}), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(sorted(s, {.all = true}), err_cat::script, err_id::script::bad_refines);
    EXPECT_RAISES(sorted(s, {.compare = I(1)}), err_cat::script, err_id::script::bad_refines);
    EXPECT_RAISES(sorted(s, {.all = true, .skip = 1, .compare = I(1)}), err_cat::script, err_id::script::bad_refines);
    EXPECT_RAISES(sorted(s, {.skip = 3, .compare = I(4)}), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(sorted(s, {.compare = W("x")}), err_cat::script, err_id::script::invalid_refine_arg);
}

// Stable sorting of records by one field against std::stable_sort.
TEST_F(BlockSearchTest, StableSortKeepsEqualRecordsInOrder) {
    std::mt19937 gen(7);
    for (int32_t width : {1, 2, 3}) {
        for (int32_t n : {0, 1, 23, 24, 25, 100, 517}) {
            std::vector<std::vector<int32_t>> records;
            Cell s = B({});
            for (int32_t i = 0; i < n; ++i) {
                std::vector<int32_t> r = {int32_t(gen() % 8)};
                for (int32_t j = 1; j < width; ++j) r.push_back(i);
                records.push_back(r);
                for (int32_t v : r) block_t::append_value(s, I(v));
            }
            bool reverse = n % 2;
            std::stable_sort(records.begin(), records.end(),
                             [&](const auto& x, const auto& y) { return reverse ? y[0] < x[0] : x[0] < y[0]; });
            sorted(s, {.reverse = reverse, .stable = true, .skip = width});
            std::vector<int32_t> got, want;
            for (int32_t i = 0; i < n * width; ++i) got.push_back(int32_t(block_t::cell_at(s, uint32_t(i))->w2));
            for (const auto& r : records) want.insert(want.end(), r.begin(), r.end());
            EXPECT_EQ(got, want) << width << " " << n;
        }
    }
}

// ---- sort by a user function ---------------------------------------------------------

// Stand-in user functions: a function! cell whose payload word 1 names one of
// these C++ bodies, run by the caller installed for the tests.
std::map<uint32_t, std::function<Cell(const Cell*, uint32_t)>>& bodies() {
    static std::map<uint32_t, std::function<Cell(const Cell*, uint32_t)>> table;
    return table;
}
Cell function_value(uint32_t id, std::function<Cell(const Cell*, uint32_t)> body) {
    bodies()[id] = std::move(body);
    return Cell{type_function, id, 0, 0};
}
Status call_stand_in(const Cell& function, Cell* args, uint32_t count, NodeId, const Cell&, Cell& answer) {
    answer = bodies().at(function.w1)(args, count);
    return Status::ok;
}
Cell logic(bool b) { return Cell{type_logic, b ? 1u : 0u, 0, 0}; }
int32_t int_of(const Cell& c) { return int32_t(c.w2); }

class BlockSortFunctionTest : public BlockSearchTest {
protected:
    void SetUp() override {
        BlockSearchTest::SetUp();
        eval_hooks::Hooks hooks;
        hooks.call = call_stand_in;
        eval_hooks::install(hooks);
    }
    void TearDown() override {
        eval_hooks::install({});
        BlockSearchTest::TearDown();
    }
};

// A function answering `a < b` (or `a - b`, or a float) sorts ascending;
// with /reverse, descending.
TEST_F(BlockSortFunctionTest, ComparatorAnswersReadAsLessThan) {
    Cell less = function_value(1, [](const Cell* a, uint32_t) { return logic(int_of(a[0]) < int_of(a[1])); });
    Cell minus = function_value(2, [](const Cell* a, uint32_t) { return I(int_of(a[0]) - int_of(a[1])); });
    Cell fl = function_value(3, [](const Cell* a, uint32_t) {
        Cell f{type_float, 0, 0, 0};
        set_cell_float(f, double(int_of(a[0])) - int_of(a[1]));
        return f;
    });
    for (Cell fn : {less, minus, fl}) {
        for (bool stable : {false, true}) {
            Cell s = B({I(5), I(1), I(4), I(2), I(3)});
            sorted(s, {.stable = stable, .compare = fn});
            EXPECT_EQ(M(s), "[1 2 3 4 5]") << fn.w1;
            sorted(s, {.reverse = true, .stable = stable, .compare = fn});
            EXPECT_EQ(M(s), "[5 4 3 2 1]") << fn.w1;
        }
    }
}

// /all with /skip hands the function whole records as two blocks.
TEST_F(BlockSortFunctionTest, AllRecordsAreHandedOverAsBlocks) {
    Cell by_second = function_value(4, [](const Cell* a, uint32_t) {
        EXPECT_EQ(type_of(a[0]), uint32_t(type_block));
        return logic(int_of(*block_t::cell_at(a[0], 1)) < int_of(*block_t::cell_at(a[1], 1)));
    });
    Cell s = B({W("x"), I(3), W("y"), I(1), W("z"), I(2)});
    sorted(s, {.all = true, .stable = true, .skip = 2, .compare = by_second});
    EXPECT_EQ(M(s), "[y 1 z 2 x 3]");
    Cell field = function_value(5, [](const Cell* a, uint32_t) { return logic(int_of(a[0]) < int_of(a[1])); });
    Cell t = B({I(2), W("p"), I(1), W("q")});
    sorted(t, {.skip = 2, .compare = field});  // without /all: the first cell of each record
    EXPECT_EQ(M(t), "[1 q 2 p]");
}

// A sort run from inside a comparator has scratch of its own: the outer sort
// is not disturbed, with or without whole records.
TEST_F(BlockSortFunctionTest, NestedSortsDoNotDisturbEachOther) {
    int calls = 0;
    Cell inner_less = function_value(6, [](const Cell* a, uint32_t) {
        return logic(int_of(*block_t::cell_at(a[0], 0)) < int_of(*block_t::cell_at(a[1], 0)));
    });
    Cell outer = function_value(7, [&](const Cell* a, uint32_t) {
        ++calls;
        Cell scratch = B({I(9), I(calls), I(7), I(calls % 5), I(8), I(1)});
        sorted(scratch, {.all = true, .stable = calls % 2 == 1, .skip = 2, .compare = inner_less});
        EXPECT_EQ(int_of(*block_t::cell_at(scratch, 0)), 7);
        return logic(int_of(*block_t::cell_at(a[0], 0)) < int_of(*block_t::cell_at(a[1], 0)));
    });
    std::vector<int32_t> keys = {5, 3, 9, 1, 7, 2, 8, 6, 4, 0, 11, 10};
    for (bool stable : {false, true}) {
        Cell s = B({});
        for (int32_t k : keys) {
            block_t::append_value(s, I(k));
            block_t::append_value(s, I(-k));
        }
        sorted(s, {.all = true, .stable = stable, .skip = 2, .compare = outer});
        for (int32_t i = 0; i < 12; ++i) {
            EXPECT_EQ(int_of(*block_t::cell_at(s, uint32_t(2 * i))), i);
            EXPECT_EQ(int_of(*block_t::cell_at(s, uint32_t(2 * i + 1))), -i);
        }
    }
    EXPECT_GT(calls, 0);
}

// A comparator that changes the sorted block itself cannot make the sort
// read or write outside it: growing past the sorted cells leaves them
// sorted; taking sorted cells away is an error, and nothing is written.
TEST_F(BlockSortFunctionTest, ComparatorChangingTheSeries) {
    Cell s = B({I(3), I(1), I(2)});
    Cell growing = function_value(8, [&](const Cell* a, uint32_t) {
        for (int i = 0; i < 10; ++i) block_t::append_value(s, I(100));
        return logic(int_of(a[0]) < int_of(a[1]));
    });
    sorted(s, {.stable = true, .compare = growing});
    EXPECT_EQ(M(s).substr(0, 7), "[1 2 3 ");
    Cell t = B({I(3), I(1), I(2), I(0)});
    Cell shrinking = function_value(9, [&](const Cell* a, uint32_t) {
        block_t::set_tail(t, 1);
        return logic(int_of(a[0]) < int_of(a[1]));
    });
    expect_raises([&] { sorted(t, {.compare = shrinking}); }, err_cat::script, err_id::script::invalid_arg,
                  "a comparator that shrinks the block");
    EXPECT_EQ(M(t), "[3]");
}

// A comparator that reaches a safe point (or asks for a collection) cannot
// move the cells being sorted: collection waits for the sort to end.
TEST_F(BlockSortFunctionTest, ComparatorAtASafePoint) {
    Cell s = B({});
    for (int32_t i = 0; i < 40; ++i) block_t::append_value(s, B({I((i * 7) % 40)}));
    collector::CellRoot keep(&s);
    Cell by_item = function_value(11, [](const Cell* a, uint32_t) {
        collector::set_stress(true);
        collector::safe_point();
        collector::set_stress(false);
        collector::recycle();
        return logic(int_of(*block_t::cell_at(a[0], 0)) < int_of(*block_t::cell_at(a[1], 0)));
    });
    for (bool stable : {false, true}) {
        sorted(s, {.stable = stable, .compare = by_item});
        for (int32_t i = 0; i < 40; ++i) EXPECT_EQ(int_of(*block_t::cell_at(*block_t::cell_at(s, uint32_t(i)), 0)), i);
    }
    stress_collect();  // what was put off runs now, and every block is still whole
    for (int32_t i = 0; i < 40; ++i) EXPECT_EQ(int_of(*block_t::cell_at(*block_t::cell_at(s, uint32_t(i)), 0)), i);
}

// An error raised in the comparator leaves every cell of the block in place.
TEST_F(BlockSortFunctionTest, ComparatorErrorLeavesTheBlockWhole) {
    int calls = 0;
    Cell failing = function_value(10, [&](const Cell* a, uint32_t) -> Cell {
        if (++calls == 20) throw_code(catch_code::error);
        return logic(int_of(a[0]) < int_of(a[1]));
    });
    Cell s = B({});
    for (int32_t i = 0; i < 50; ++i) block_t::append_value(s, I((i * 37) % 50));
    Cell* top = stack::top();
    EXPECT_THROW(sorted(s, {.stable = true, .compare = failing}), Unwind);
    stack::set_top(top);
    std::vector<int32_t> values;
    for (int32_t i = 0; i < 50; ++i) values.push_back(int_of(*block_t::cell_at(s, uint32_t(i))));
    std::sort(values.begin(), values.end());
    for (int32_t i = 0; i < 50; ++i) EXPECT_EQ(values[size_t(i)], i);
}

// ---- Set operations -----------------------------------------------------------------------

Cell set_op(int32_t op, Cell a, Cell b, bool case_ = false, int32_t skip = 0) {
    Cell* args = stack::top();
    stack::push_copy(a);
    stack::push_copy(b);
    Cell s = I(skip);
    block_t::set_operation(args, case_, skip ? &s : nullptr, op);
    Cell result = args[0];
    stack::set_top(args);
    return result;
}

TEST_F(BlockSearchTest, SetOperations) {
    Cell a = W("a"), b = W("b"), c = W("c"), A = W("A"), B_ = W("B");
    struct Case {
        int32_t op;
        Cell first, second;
        bool case_;
        int32_t skip;
        const char* expected;
    } cases[] = {
        {block_t::set_unique, B({a, b, a}), B({}), false, 0, "[a b]"},
        {block_t::set_unique, B({a, A, b}), B({}), false, 0, "[a b]"},
        {block_t::set_unique, B({a, A, b}), B({}), true, 0, "[a A b]"},
        {block_t::set_union, B({a}), B({b, a}), false, 0, "[a b]"},
        {block_t::set_intersect, B({a, b, c}), B({c, a}), false, 0, "[a c]"},
        {block_t::set_exclude, B({a, b, c}), B({b}), false, 0, "[a c]"},
        {block_t::set_exclude, B({a, b, c}), B({B_}), false, 0, "[a c]"},
        {block_t::set_exclude, B({a, b, c}), B({B_}), true, 0, "[a b c]"},
        {block_t::set_difference, B({a, b}), B({b, c}), false, 0, "[a c]"},
        {block_t::set_unique, B({a, I(1), b, I(2), a, I(3)}), B({}), false, 2, "[a 1 b 2]"},
        {block_t::set_exclude, B({a, I(1), b, I(2)}), B({b, I(9)}), false, 2, "[a 1]"},
        {block_t::set_union, B({a, I(1)}), B({a, I(2), b, I(3)}), false, 2, "[a 1 b 3]"},
        {block_t::set_unique, B({B({a}), B({a}), B({b})}), B({}), false, 0, "[[a] [b]]"},
        {block_t::set_unique, B({I(1), W("x"), I(1)}), B({}), false, 0, "[1 x]"},
        {block_t::set_unique, at_index(B({a, b, b}), 1), B({}), false, 0, "[b]"},
        {block_t::set_unique, B({a, b, b, c}), B({}), false, 2, "[a b b c]"},  // only first cells are keys
        {block_t::set_intersect, B({a, I(1), b, I(2)}), B({I(2), a}), false, 2, "[a 1]"},
    };
    int n = 0;
    for (const Case& c : cases) {
        Cell r = set_op(c.op, c.first, c.second, c.case_, c.skip);
        EXPECT_EQ(type_of(r), uint32_t(type_block));
        EXPECT_EQ(M(r), c.expected) << "case " << n++;
    }
}

TEST_F(BlockSearchTest, SetOperationSkipMustBePositive) {
    EXPECT_RAISES(set_op(block_t::set_unique, B({I(1)}), B({}), false, -1), err_cat::script, err_id::script::invalid_refine_arg);
}

}  // namespace
