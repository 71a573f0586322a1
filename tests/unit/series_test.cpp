// series!: navigation, pick and poke, remove, take, copy, reverse, move and
// random, on blocks and on text through the generic implementations.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/owners.h"
#include "tests/unit/block_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

using SeriesTest = BlockTest;


Cell at_index(Cell s, int32_t i) {
    s.w1 = uint32_t(i);
    return s;
}

// Runs a navigation action (it reads its series, and the offset for at and
// skip, from the argument base) and answers its result.
Cell navigate(Cell* (*action)(), Cell series, Cell offset = I(0)) {
    stack::Mark mark;
    stack::set_arg_base(stack::top());
    stack::push_copy(series);
    stack::push_copy(offset);
    Cell r = *action();
    mark.restore();
    return r;
}
int32_t index_after(Cell* (*action)(), Cell series, int32_t offset = 0) {
    return int32_t(navigate(action, series, I(offset)).w1);
}

TEST_F(SeriesTest, NavigationStaysBetweenHeadAndTail) {
    Cell s = B({I(1), I(2), I(3), I(4)});
    struct Case {
        Cell* (*action)();
        int32_t from, offset, index;
    } cases[] = {
        {series_t::at, 1, 0, 1},   {series_t::at, 1, 1, 1},    {series_t::at, 1, -1, 0},
        {series_t::at, 1, 2, 2},   {series_t::at, 0, 99, 4},   {series_t::at, 2, -99, 0},
        {series_t::skip, 1, 0, 1}, {series_t::skip, 1, 2, 3},  {series_t::skip, 1, -5, 0},
        {series_t::skip, 0, 9, 4}, {series_t::next, 4, 0, 4},  {series_t::next, 3, 0, 4},
        {series_t::back, 0, 0, 0}, {series_t::back, 3, 0, 2},  {series_t::head, 3, 0, 0},
        {series_t::tail, 1, 0, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(index_after(c.action, at_index(s, c.from), c.offset), c.index) << c.from << " " << c.offset;

    EXPECT_EQ(navigate(series_t::index_q, at_index(s, 4)).w2, 5u);  // index? of the tail is length + 1
    EXPECT_EQ(navigate(series_t::head_q, s).w1, 1u);
    EXPECT_EQ(navigate(series_t::head_q, at_index(s, 1)).w1, 0u);
    EXPECT_EQ(navigate(series_t::tail_q, at_index(s, 4)).w1, 1u);
    EXPECT_EQ(navigate(series_t::tail_q, at_index(s, 9)).w1, 1u);  // past the tail counts as the tail
    Cell past = at_index(s, 9);
    EXPECT_EQ(series_t::length_q(&past), 0);
    EXPECT_EQ(past.w1, 4u);  // pulled back to the tail
    Cell second = at_index(s, 1);
    EXPECT_EQ(series_t::length_q(&second), 3);
}

TEST_F(SeriesTest, AtNeedsAnInteger) {
    Cell s = B({I(1)});
    EXPECT_RAISES(navigate(series_t::at, s, none_value()), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(SeriesTest, PickAndPokeCountFromTheIndex) {
    Cell s = at_index(B({I(10), I(20), I(30)}), 1);
    struct Case {
        int32_t n;
        int32_t expected;  // -1: none
    } cases[] = {{0, -1}, {1, 20}, {2, 30}, {3, -1}, {-1, 10}, {-2, -1}};
    for (const Case& c : cases) {
        Cell series = s;
        Cell picked = *series_t::pick(&series, c.n, nullptr);
        if (c.expected < 0) EXPECT_EQ(type_of(picked), uint32_t(type_none)) << c.n;
        else EXPECT_EQ(int32_t(picked.w2), c.expected) << c.n;
    }
    Cell v = I(99), series = s;
    series_t::poke(&series, -1, &v, nullptr);
    EXPECT_EQ(M(at_index(s, 0)), "[99 20 30]");

    Cell text = at_index(S("abc"), 1), picked = text;
    series_t::pick(&picked, 1, nullptr);
    EXPECT_EQ(type_of(picked), uint32_t(type_char));
    EXPECT_EQ(picked.w2, uint32_t('b'));
    Cell ch{type_char, 0, 0xE9, 0};
    series_t::poke(&text, 2, &ch, nullptr);
    EXPECT_EQ(chars_of(text), "ab\xE9");
    Cell wide{type_char, 0, 0x1F600, 0};  // the buffer widens for a wider character
    series_t::poke(&text, 1, &wide, nullptr);
    EXPECT_EQ(series_t::unit_of(text), 4u);
    Cell back = at_index(text, 0);
    EXPECT_EQ(series_t::pick(&back, 2, nullptr)->w2, 0x1F600u);
    EXPECT_EQ(series_t::pick(&(back = at_index(text, 0)), 3, nullptr)->w2, 0xE9u);
}

TEST_F(SeriesTest, PokeOutsideOrWithTheWrongElementRaises) {
    Cell s = B({I(1), I(2)}), v = I(0);
    EXPECT_RAISES(series_t::poke(&s, 0, &v, nullptr), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(series_t::poke(&s, 3, &v, nullptr), err_cat::script, err_id::script::out_of_range);
    Cell text = S("ab");
    EXPECT_RAISES(series_t::poke(&text, 1, &v, nullptr), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(SeriesTest, ClearAndRemove) {
    Cell s = B({I(1), I(2), I(3), I(4), I(5)});
    Cell c = at_index(s, 3);
    series_t::clear(&c);
    EXPECT_EQ(M(s), "[1 2 3]");

    Cell r = s;
    series_t::remove(&r, nullptr, nullptr);
    EXPECT_EQ(M(s), "[2 3]");
    Cell part = I(5), from_one = at_index(s, 1);
    series_t::remove(&from_one, &part, nullptr);  // /part beyond the tail stops there
    EXPECT_EQ(M(s), "[2]");
    Cell at_tail = at_index(s, 1);
    series_t::remove(&at_tail, nullptr, nullptr);
    EXPECT_EQ(M(s), "[2]");

    Cell t = B({I(1), I(2), I(3), I(4)});
    Cell pos = at_index(t, 3), head = t;
    series_t::remove(&head, &pos, nullptr);  // /part as a position in the same series
    EXPECT_EQ(M(t), "[4]");
    Cell none_part = I(0), keep = t;
    series_t::remove(&keep, &none_part, nullptr);
    EXPECT_EQ(M(t), "[4]");
}

TEST_F(SeriesTest, RemoveKeyTakesTheKeyAndItsValue) {
    Cell s = B({W("a"), I(1), W("b"), I(2)});
    Cell key = W("b"), r = s;
    series_t::remove(&r, nullptr, &key);
    EXPECT_EQ(M(s), "[a 1]");
    Cell missing = W("z"), m = s;
    series_t::remove(&m, nullptr, &missing);
    EXPECT_EQ(type_of(m), uint32_t(type_none));
    EXPECT_EQ(M(s), "[a 1]");
}

TEST_F(SeriesTest, RemovePartFromAnotherSeriesRaises) {
    Cell s = B({I(1)}), other = B({I(1)});
    EXPECT_RAISES(series_t::remove(&s, &other, nullptr), err_cat::script, err_id::script::invalid_refine_arg);
}

// take on text goes through series! take, whose answer is a new series.
TEST_F(SeriesTest, TakeCounts) {
    struct Case {
        const char* text;
        int32_t index;
        int32_t part;  // INT32_MIN: no /part
        bool last;
        const char* taken;  // nullptr: none
        const char* left;
    } cases[] = {
        {"", 0, INT32_MIN, false, nullptr, ""},
        {"abcd", 4, INT32_MIN, false, nullptr, "abcd"},
        {"abcd", 0, INT32_MIN, false, "a", "bcd"},
        {"abcd", 1, INT32_MIN, true, "d", "abc"},
        {"abcd", 0, 2, true, "cd", "ab"},
        {"abcd", 1, -1, false, "a", "bcd"},
        {"abcd", 2, -5, false, "ab", "cd"},
        {"abcd", 1, 0, false, "b", "acd"},
        {"abcd", 1, 9, false, "bcd", "a"},
        {"abcd", 2, -1, true, "", "abcd"},
        {"abcd", 0, -1, false, "", "abcd"},  // nothing before the head to take
    };
    for (const Case& c : cases) {
        Cell s = S(c.text);
        Cell series = at_index(s, c.index), part = I(c.part);
        series_t::take(&series, c.part == INT32_MIN ? nullptr : &part, false, c.last);
        if (!c.taken) EXPECT_EQ(type_of(series), uint32_t(type_none)) << c.text << " " << c.index;
        else EXPECT_EQ(chars_of(series), c.taken) << c.text << " " << c.index << " " << c.part;
        EXPECT_EQ(chars_of(s), c.left) << c.text << " " << c.index << " " << c.part;
    }
}

TEST_F(SeriesTest, TakePartAsPosition) {
    Cell s = S("abcdef");
    Cell series = at_index(s, 1), part = at_index(s, 3);
    series_t::take(&series, &part, false, false);
    EXPECT_EQ(chars_of(series), "bc");
    Cell tail_part = at_index(s, 2), from = s;  // "adef": with /last, from the part position to the tail
    series_t::take(&from, &tail_part, false, true);
    EXPECT_EQ(chars_of(from), "ef");
    EXPECT_EQ(chars_of(s), "ad");
}

// Each take answers a buffer of its own: an answer kept by the caller is not
// overwritten by the next take.
TEST_F(SeriesTest, KeptTakeAnswerSurvivesLaterTakes) {
    Cell s = S("xyz");
    Cell first = s, second = s;
    series_t::take(&first, nullptr, false, false);
    series_t::take(&second, nullptr, false, false);
    EXPECT_EQ(chars_of(first), "x");
    EXPECT_EQ(chars_of(second), "y");
    EXPECT_NE(first.w2, second.w2);
}

TEST_F(SeriesTest, CopyPart) {
    Cell s = with_new_line(B({I(1), I(2), I(3), I(4)}));
    struct Case {
        int32_t index;
        Cell part;
        bool has_part;
        const char* expected;
    } cases[] = {
        {1, I(0), false, "[2 3 4]"},
        {0, I(100), true, "[1 2 3 4]"},
        {1, I(-2), true, "[1]"},
        {3, I(-2), true, "[2 3]"},
        {1, I(2), true, "[2 3]"},
        {9, I(0), false, "[]"},
        {0, Cell{type_pair, 0, 2, 4}, true, "[2 3]"},
        {0, Cell{type_pair, 0, 3, 1}, true, "[]"},
        {1, at_index(s, 3), true, "[2 3]"},
        {3, at_index(s, 1), true, "[2 3]"},
    };
    for (const Case& c : cases) {
        Cell v = at_index(s, c.index), result, part = c.part;
        series_t::copy(&v, &result, c.has_part ? &part : nullptr, false, nullptr);
        EXPECT_EQ(M(result), c.expected) << c.index;
        EXPECT_EQ(result.w1, 0u);
        EXPECT_NE(result.header & header::new_line, 0u);  // the source's new-line flag
        EXPECT_NE(result.w2, s.w2);
    }
}

TEST_F(SeriesTest, ReverseWithPartAndSkip) {
    struct Case {
        int32_t index, part, skip;  // 0: not given
        const char* expected;
    } cases[] = {
        {0, 0, 0, "[6 5 4 3 2 1]"}, {1, 0, 0, "[1 6 5 4 3 2]"}, {0, 3, 0, "[3 2 1 4 5 6]"},
        {0, 0, 2, "[5 6 3 4 1 2]"}, {0, 0, 3, "[4 5 6 1 2 3]"}, {0, 4, 2, "[3 4 1 2 5 6]"},
        {0, 0, 6, "[1 2 3 4 5 6]"}, {3, 99, 0, "[1 2 3 6 5 4]"},  // /part past the tail is cut
        {6, 0, 0, "[1 2 3 4 5 6]"}, {0, -1, 0, "[1 2 3 4 5 6]"},
    };
    for (const Case& c : cases) {
        Cell s = B({I(1), I(2), I(3), I(4), I(5), I(6)});
        Cell v = at_index(s, c.index), part = I(c.part), skip = I(c.skip);
        series_t::reverse(&v, c.part ? &part : nullptr, c.skip ? &skip : nullptr);
        EXPECT_EQ(M(s), c.expected) << c.index << " " << c.part << " " << c.skip;
    }
    Cell text = S(U"a\u0100c", 2);
    series_t::reverse(&text, nullptr, nullptr);
    EXPECT_EQ(chars_of(text), std::string("c") + char(0x00) + "a");  // the low bytes of c, U+0100, a
}

TEST_F(SeriesTest, ReverseSkipMustFitTheRecords) {
    Cell s = B({I(1), I(2), I(3)});
    Cell two = I(2), zero = I(0), four = I(4), word = W("x");
    EXPECT_RAISES(series_t::reverse(&s, nullptr, &two), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(series_t::reverse(&s, nullptr, &four), err_cat::script, err_id::script::invalid_refine_arg);
    EXPECT_RAISES(series_t::reverse(&s, nullptr, &zero), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(series_t::reverse(&s, nullptr, &word), err_cat::script, err_id::script::invalid_refine_arg);
}

TEST_F(SeriesTest, MoveWithinOneSeries) {
    struct Case {
        int32_t origin, part, target;
        const char* expected;
    } cases[] = {
        {0, 1, 2, "[2 3 1 4 5]"},  // forward: after the element at the target
        {0, 1, 5, "[2 3 4 5 1]"},  // to the tail
        {0, 2, 5, "[3 4 5 1 2]"},  {3, 2, 0, "[4 5 1 2 3]"},  // backward
        {1, 1, 1, "[1 2 3 4 5]"},  {0, 3, 3, "[1 2 3 4 5]"},  // fewer than size left after the target
        {0, 3, 1, "[1 2 3 4 5]"},                             // target inside the moved run
        {4, 9, 0, "[5 1 2 3 4]"},                             // /part cut to what is there
    };
    for (const Case& c : cases) {
        Cell s = B({I(1), I(2), I(3), I(4), I(5)});
        Cell origin = at_index(s, c.origin), target = at_index(s, c.target), part = I(c.part);
        series_t::move(&origin, &target, &part);
        EXPECT_EQ(M(s), c.expected) << c.origin << " " << c.part << " " << c.target;
    }
}

TEST_F(SeriesTest, MoveAcrossSeries) {
    Cell a = B({I(1), I(2), I(3)}), b = B({I(7), I(8)});
    Cell origin = at_index(a, 1), target = at_index(b, 1), part = I(2);
    Cell* answer = series_t::move(&origin, &target, &part);
    EXPECT_EQ(answer, &target);
    EXPECT_EQ(M(a), "[1]");
    EXPECT_EQ(M(b), "[7 2 3 8]");

    Cell big = B({});
    for (int i = 0; i < 40; ++i) {  // the target grows as needed
        Cell src = B({I(i)}), dst = at_index(big, i);
        series_t::move(&src, &dst, nullptr);
    }
    EXPECT_EQ(series_t::buffer_length(big), 40);
    EXPECT_EQ(int32_t(block_t::cell_at(big, 39)->w2), 39);

    Cell x = S("abc"), y = S("xy");
    series_t::move(&x, &y, nullptr);
    EXPECT_EQ(chars_of(x), "bc");
    EXPECT_EQ(chars_of(y), "axy");
    Cell narrow = S("pq"), wide = at_index(S(U"\u0100\u0101", 2), 1), two = I(2);
    series_t::move(&narrow, &wide, &two);  // text of different widths: the target widens as needed
    EXPECT_EQ(chars_of(narrow), "");
    EXPECT_EQ(series_t::buffer_length(wide), 4);
    Cell check = at_index(wide, 1);
    EXPECT_EQ(series_t::pick(&check, 1, nullptr)->w2, uint32_t('p'));
    Cell wider = S(U"\U0001F600", 4), into = S("ab");
    series_t::move(&wider, &into, nullptr);
    EXPECT_EQ(series_t::unit_of(into), 4u);
    check = into;
    EXPECT_EQ(series_t::pick(&check, 1, nullptr)->w2, 0x1F600u);
}

TEST_F(SeriesTest, MoveBetweenIncompatibleSeriesRaises) {
    Cell b = B({I(1)}), s = S("a"), n = I(3);
    EXPECT_RAISES(series_t::move(&b, &s, nullptr), err_cat::script, err_id::script::move_bad);
    EXPECT_RAISES(series_t::move(&s, &b, nullptr), err_cat::script, err_id::script::move_bad);
    EXPECT_RAISES(series_t::move(&b, &n, nullptr), err_cat::script, err_id::script::expect_arg);
}

TEST_F(SeriesTest, RandomShufflesFromTheIndexAndPicksWithOnly) {
    random::random_seed(42);
    std::vector<int32_t> seen;
    Cell s = B({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8)});
    bool moved = false;
    for (int round = 0; round < 5; ++round) {
        Cell v = at_index(s, 2);
        series_t::random(&v, false, false, false);
        EXPECT_EQ(M(s).substr(0, 5), "[1 2 ");  // before the index nothing moves
        std::vector<int32_t> values;
        for (int i = 0; i < 8; ++i) values.push_back(int32_t(block_t::cell_at(s, uint32_t(i))->w2));
        moved |= values != std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8};
        std::sort(values.begin(), values.end());
        EXPECT_EQ(values, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    }
    EXPECT_TRUE(moved);

    for (int i = 0; i < 20; ++i) {
        Cell v = at_index(s, 6);
        series_t::random(&v, false, false, true);
        ASSERT_EQ(type_of(v), uint32_t(type_integer));
        EXPECT_TRUE(v.w2 == block_t::cell_at(s, 6)->w2 || v.w2 == block_t::cell_at(s, 7)->w2);
    }
    Cell empty = at_index(s, 8);
    series_t::random(&empty, false, false, true);
    EXPECT_EQ(type_of(empty), uint32_t(type_none));
}

}  // namespace

namespace {

// ---- Owners -------------------------------------------------------------------

// Calls of the owner's on-deep-change* handler, by the action words.
struct Heard {
    std::vector<std::string> actions;
    std::vector<int32_t> positions, parts;
    std::function<void(const Cell& target)> during;  // what the handler does, once
} heard;

void hear(Cell*, Cell*, Cell* target, Cell* action, Cell*, int32_t index, int32_t part) {
    heard.actions.emplace_back(symbol_t::name(int32_t(action->w2)));
    heard.positions.push_back(index);
    heard.parts.push_back(part);
    if (heard.during) {
        auto during = std::move(heard.during);
        heard.during = nullptr;
        during(*target);
    }
}

class SeriesOwnerTest : public SeriesTest {
protected:
    void SetUp() override {
        SeriesTest::SetUp();
        heard = {};
        owners::set_fire_on_deep_change(hear);
    }
    void TearDown() override {
        owners::set_fire_on_deep_change(nullptr);
        SeriesTest::TearDown();
    }
    // Makes `series` owned by a new object with an event record, through
    // its field `data`.
    Cell own(Cell series) {
        NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
        context_t::put_word_value(ctx, W("data"), series);
        Cell object{type_object, ctx, 0, memory::alloc_cells(1)};
        *context_t::self_slot(ctx) = object;
        Cell field = W("owned"), pair = B({object, *context_t::word_at(ctx, 0)});
        series_t::modify(&series, &field, &pair, false);
        return object;
    }
};

TEST_F(SeriesOwnerTest, ChangesAreAnnouncedBeforeAndAfter) {
    Cell s = B({I(1), I(2), I(3)});
    Cell owner = own(s);
    Cell field = W("owned"), r = s;
    series_t::reflect(&r, &field);
    EXPECT_EQ(r.w1, owner.w1);

    Cell v = I(4), a = s;
    block_t::insert(&a, &v, -1, false, 1, true);
    Cell c = at_index(s, 1);
    series_t::clear(&c);
    EXPECT_EQ(heard.actions, (std::vector<std::string>{"append", "appended", "clear", "cleared"}));
    EXPECT_EQ(heard.positions, (std::vector<int32_t>{3, 3, 1, 1}));
    EXPECT_EQ(heard.parts, (std::vector<int32_t>{1, 1, 3, 3}));

    Cell none = none_value(), m = s;
    series_t::modify(&m, &field, &none, false);
    r = s;
    series_t::reflect(&r, &field);
    EXPECT_EQ(type_of(r), uint32_t(type_none));
    heard.actions.clear();
    Cell t = s;
    series_t::take(&t, nullptr, false, false);
    EXPECT_TRUE(heard.actions.empty());
}

// A handler that changes the series while it is being changed cannot make
// the action read or write outside it.
TEST_F(SeriesOwnerTest, HandlerChangingTheSeriesFirst) {
    struct Case {
        const char* name;
        std::function<void(Cell&)> action;
    } cases[] = {
        {"take", [](Cell& s) { Cell t = s, part = I(3); series_t::take(&t, &part, false, true); }},
        {"remove", [](Cell& s) { Cell t = at_index(s, 2), part = I(9); series_t::remove(&t, &part, nullptr); }},
        {"reverse", [](Cell& s) { Cell t = s; series_t::reverse(&t, nullptr, nullptr); }},
        {"poke", [](Cell& s) { Cell t = s, v = I(0); series_t::poke(&t, 4, &v, nullptr); }},
        {"insert", [](Cell& s) { Cell t = at_index(s, 4), v = B({I(7), I(8)}); block_t::insert(&t, &v, -1, false, 1, false); }},
        {"change", [](Cell& s) { Cell t = at_index(s, 3), v = B({I(7)}); block_t::change(&t, &v, 2, false, 1); }},
        {"move", [](Cell& s) { Cell t = at_index(s, 3), to = s, part = I(2); series_t::move(&t, &to, &part); }},
        {"sort", [](Cell& s) { Cell t = s; block_t::sort(&t, false, nullptr, nullptr, nullptr, false, false, true); }},
        {"trim", [](Cell& s) { Cell t = s; block_t::trim(&t, false, false, false, false, false, nullptr); }},
    };
    for (const Case& c : cases) {
        Cell s = B({I(5), I(4), I(3), I(2), I(1)});
        own(s);
        heard.during = [](const Cell& target) { block_t::set_tail(target, 1); };
        Cell series = s;
        c.action(series);
        EXPECT_FALSE(heard.during) << c.name << ": the handler did not run";
        EXPECT_LE(series_t::buffer_length(s), 3) << c.name;
        EXPECT_EQ(block_t::cell_at(s, 0)->w2, 5u) << c.name;
    }
}

TEST_F(SeriesTest, RandomSeedFromTheSeries) {
    Cell s = at_index(S("seed text"), 2), seeded = s;
    series_t::random(&seeded, true, false, false);
    EXPECT_EQ(type_of(seeded), uint32_t(type_unset));
    int32_t first = random::random_next();
    Cell again = s;
    series_t::random(&again, true, false, false);
    EXPECT_EQ(random::random_next(), first);
    Cell other = at_index(S("seed text"), 3);
    series_t::random(&other, true, false, false);
    EXPECT_NE(random::random_next(), first);
}

TEST_F(SeriesTest, ReflectOfAnotherFieldIsNotDone) {
    Cell s = B({}), field = W("size");
    EXPECT_RAISES(series_t::reflect(&s, &field), err_cat::internal, err_id::internal::not_done);
    Cell value = I(1);
    EXPECT_EQ(series_t::modify(&s, &field, &value, false), &value);  // other fields change nothing
}

}  // namespace
