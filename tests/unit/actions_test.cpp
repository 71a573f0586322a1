// The generic action layer, through two fake datatypes registered in unused
// type rows: dispatch, result boxing, /part and /dup normalisation, the mold
// buffer of form and mold, pick indexes and the comparison core.
#include "datatypes/actions.h"

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
constexpr uint32_t fake = 55;   // a fake datatype with a few actions
constexpr uint32_t other = 56;  // a fake datatype with none

// What the fake implementations saw.
struct Seen {
    bool called = false;
    int32_t part = 0, dup = 0, budget = 0, index = 0;
    bool only = false, all = false, flat = false, append = false;
    uint32_t type = 0;
    Cell value{};
} seen;
int32_t compare_answer = 0;
int32_t length_answer = 0;

void append_text(Cell* buffer, const char* text) {
    size_t n = std::strlen(text);
    std::memcpy(series::alloc_tail_bytes(buffer->w2, uint32_t(n)), text, n);
}
std::string text_of(const Cell& s) {
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->length());
}

Cell* fake_make(Cell* proto, Cell* spec, uint32_t type) {
    seen.type = type;
    *proto = integer(int32_t(type));
    return proto;
}
int32_t fake_form(Cell*, Cell* buffer, Cell* part, int32_t budget) {
    seen.budget = budget;
    append_text(buffer, "abcdef");
    return budget - 6;
}
int32_t fake_mold(Cell*, Cell* buffer, bool only, bool all, bool flat, Cell*, int32_t budget, int32_t) {
    seen.only = only, seen.all = all, seen.flat = flat, seen.budget = budget;
    append_text(buffer, "[x]");
    return budget - 3;
}
int32_t fake_compare(Cell*, Cell*, int32_t) { return compare_answer; }
Cell* fake_add() {
    Cell* b = stack::arg_base();
    *b = integer(int_of(b[0]) + int_of(b[1]));
    return b;
}
bool fake_even(Cell* v) { return int_of(*v) % 2 == 0; }
Cell* fake_insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    seen.called = true, seen.part = part, seen.only = only, seen.dup = dup, seen.append = append;
    seen.value = *value;
    return series;
}
Cell* fake_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    seen.called = true, seen.part = part, seen.dup = dup, seen.value = *series;
    return series;
}
int32_t fake_length(Cell*) { return length_answer; }
Cell* fake_pick(Cell* series, int32_t index, Cell*) {
    seen.index = index;
    return series + 1;  // the index cell itself
}

class ActionsTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        type_tables_init();
        std::vector<ActionFn> row(action_count, unsupported);
        row[slot_make - 1] = act(fake_make);
        row[slot_to - 1] = act(fake_make);
        row[slot_form - 1] = act(fake_form);
        row[slot_mold - 1] = act(fake_mold);
        row[slot_compare - 1] = act(fake_compare);
        row[slot_add - 1] = act(fake_add);
        row[slot_even_q - 1] = act(fake_even);
        row[slot_append - 1] = act(fake_insert);
        row[slot_insert - 1] = act(fake_insert);
        row[slot_change - 1] = act(fake_change);
        row[slot_length_q - 1] = act(fake_length);
        row[slot_pick - 1] = act(fake_pick);
        register_datatype(fake, 0, "fake!", row.data(), row.size());
        std::vector<ActionFn> block_row(action_count, unsupported);
        block_row[slot_change - 1] = act(fake_change);
        register_datatype(type_block, 0, "block!", block_row.data(), block_row.size());
        std::vector<ActionFn> empty(action_count, unsupported);
        register_datatype(other, 0, "other!", empty.data(), empty.size());
        actions::actions_init();
        seen = Seen{};
        stack::push_cell();
        frames::frame_open(word(sym_f));
    }

    // Pushes the arguments and calls the slot's generic entry.
    Cell* call(uint32_t slot, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        refs.resize(actions::refinement_count(slot), -1);
        actions::entry(slot)(refs.data());
        return base;
    }
};

Cell fake_value(int32_t n) { return Cell{fake, 0, uint32_t(n), 0}; }
}  // namespace

TEST_F(ActionsTest, EntriesDispatchAndBoxTheirResults) {
    EXPECT_EQ(int_of(*call(slot_add, {fake_value(2), integer(3)})), 5);

    Cell* r = call(slot_even_q, {fake_value(4)});
    EXPECT_EQ(type_of(*r), uint32_t(type_logic));
    EXPECT_EQ(r->w1, 1u);
    EXPECT_EQ(call(slot_even_q, {fake_value(3)})->w1, 0u);

    length_answer = 3;
    EXPECT_EQ(int_of(*call(slot_length_q, {fake_value(0)})), 3);
    length_answer = -1;
    EXPECT_EQ(type_of(*call(slot_length_q, {fake_value(0)})), uint32_t(type_none));

    // make and to dispatch on the type a datatype! names, and pass it on.
    r = call(slot_make, {Cell{type_datatype, fake, 0, 0}, none()});
    EXPECT_EQ(seen.type, fake);
    EXPECT_EQ(int_of(*r), int32_t(fake));
    call(slot_to, {fake_value(1), none()});
    EXPECT_EQ(seen.type, fake);

    EXPECT_EQ(actions::entry(8), nullptr);
    EXPECT_EQ(actions::refinement_count(slot_find), 11u);
    EXPECT_EQ(actions::refinement_count(slot_write), 8u);
}

TEST_F(ActionsTest, PickIndexFromTheIndexArgument) {
    struct Case {
        Cell index;
        int32_t expected;
    } cases[] = {
        {Cell{type_logic, 1, 0, 0}, 1}, {Cell{type_logic, 0, 0, 0}, 2}, {integer(-3), -3},
        {Cell{type_char, 0, 65, 0}, 65}, {none(), 0},
    };
    for (const Case& c : cases) {
        Cell* r = call(slot_pick, {fake_value(0), c.index});
        EXPECT_EQ(seen.index, c.expected);
        EXPECT_EQ(type_of(*r), type_of(c.index));  // the answered cell is copied into the result
    }
}

TEST_F(ActionsTest, FormAndMoldMakeTheBufferAndHonourPart) {
    Cell* r = call(slot_form, {fake_value(0)});
    EXPECT_EQ(text_of(*r), "abcdef");
    EXPECT_EQ(seen.budget, INT32_MAX);
    EXPECT_EQ(stack::top(), r + 1);

    r = call(slot_form, {fake_value(0), integer(4)}, {1});
    EXPECT_EQ(seen.budget, 4);
    EXPECT_EQ(text_of(*r), "abcd");

    seen = Seen{};
    r = call(slot_form, {fake_value(0), integer(0)}, {1});
    EXPECT_EQ(type_of(*r), uint32_t(type_string));
    EXPECT_EQ(text_of(*r), "");
    EXPECT_EQ(seen.budget, 0);  // not called

    r = call(slot_mold, {fake_value(0)}, {0, -1, 0, -1});
    EXPECT_EQ(text_of(*r), "[x]");
    EXPECT_TRUE(seen.only && !seen.all && seen.flat);
}

// /part and /dup as append, insert and change hand them to the datatype.
TEST_F(ActionsTest, PartAndDupAreNormalised) {
    Cell data = block_of({integer(1), integer(2), integer(3), integer(4)});
    auto at = [&](uint32_t i) { return Cell{type_block, i, data.w2, 0}; };
    struct Case {
        const char* what;
        uint32_t slot;
        Cell value;
        Cell part;  // header 0: no /part
        int32_t dup;  // 0: no /dup
        bool called;
        int32_t part_out, dup_out;
        uint32_t index_out;  // of the limited value
    } cases[] = {
        {"plain", slot_append, at(0), Cell{}, 0, true, -1, 1, 0},
        {"integer part", slot_append, at(0), integer(2), 0, true, 2, 1, 0},
        {"zero part", slot_append, at(0), integer(0), 0, false, 0, 0, 0},
        {"negative part at head", slot_insert, at(0), integer(-1), 0, false, 0, 0, 0},
        {"negative part moves back", slot_insert, at(3), integer(-2), 0, true, 2, 1, 1},
        {"negative part stops at head", slot_insert, at(1), integer(-5), 0, true, 1, 1, 0},
        {"position before the value", slot_append, at(3), at(1), 0, true, 2, 1, 1},
        {"position after the value", slot_append, at(1), at(3), 0, true, 2, 1, 1},
        {"index past the tail", slot_append, at(9), at(2), 0, true, 2, 1, 2},
        {"dup below 1", slot_append, at(0), Cell{}, -1, false, 0, 0, 0},
        {"dup", slot_insert, at(0), Cell{}, 3, true, -1, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        seen = Seen{};
        std::vector<int32_t> refs{-1, -1, -1};
        std::vector<Cell> args{fake_value(0), c.value};
        if (c.part.header) refs[0] = int32_t(args.size()), args.push_back(c.part);
        if (c.dup) refs[2] = int32_t(args.size()), args.push_back(integer(c.dup));
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        actions::entry(c.slot)(refs.data());
        EXPECT_EQ(seen.called, c.called);
        if (!c.called) continue;
        EXPECT_EQ(seen.part, c.part_out);
        EXPECT_EQ(seen.dup, c.dup_out);
        EXPECT_EQ(seen.append, c.slot == slot_append);
        EXPECT_EQ(seen.value.w1, c.index_out);
    }

    // change: /part limits the series itself; the new value need not be a series.
    seen = Seen{};
    call(slot_change, {at(3), integer(9), at(1)}, {2});
    EXPECT_TRUE(seen.called);
    EXPECT_EQ(seen.part, 2);
    EXPECT_EQ(seen.value.w1, 1u);
}

TEST_F(ActionsTest, PartErrors) {
    Cell data = block_of({integer(1)});
    // A /part on a value that is not a series.
    EXPECT_RAISES(call(slot_append, {fake_value(0), integer(5), integer(1)}, {2}), 3, 19);
    // A /part position in another buffer.
    Cell elsewhere = block_of({integer(1)});
    EXPECT_RAISES(call(slot_insert, {fake_value(0), data, elsewhere}, {2}), 3, 47);
}

TEST_F(ActionsTest, CompareTurnsAnswersIntoTruth) {
    struct Case {
        int32_t answer, op;
        bool truth;
    } cases[] = {
        {0, op_equal, true},           {1, op_equal, false},         {-2, op_equal, false},
        {-2, op_not_equal, true},      {0, op_not_equal, false},     {0, op_strict_equal, true},
        {-1, op_lesser, true},         {0, op_lesser, false},        {0, op_lesser_or_equal, true},
        {1, op_lesser_or_equal, false}, {1, op_greater, true},       {0, op_greater, false},
        {0, op_greater_or_equal, true}, {-1, op_greater_or_equal, false}, {0, op_same, true},
        {0, op_find, true},            {-2, op_find, false},
    };
    Cell a = fake_value(1), b = fake_value(2);
    for (const Case& c : cases) {
        compare_answer = c.answer;
        EXPECT_EQ(actions::compare(&a, &b, c.op), c.truth) << "answer " << c.answer << " op " << c.op;
    }

    compare_answer = -1;
    Cell* r = call(slot_add, {a, b});  // any frame with two cells
    stack::set_top(r);
    stack::push_copy(a);
    stack::push_copy(b);
    actions::compare_op(op_lesser);
    EXPECT_EQ(type_of(*r), uint32_t(type_logic));
    EXPECT_EQ(r->w1, 1u);

    compare_answer = -2;
    EXPECT_RAISES(actions::compare(&a, &b, op_greater), 3, 45);
    Cell c = Cell{other, 0, 0, 0};
    EXPECT_FALSE(actions::compare(&c, &b, op_equal));  // a type without compare: not comparable
}

TEST_F(ActionsTest, CompareCellsByPayloadEntryOrRecord) {
    Cell t{type_logic, 1, 0, 0}, f{type_logic, 0, 0, 0};
    EXPECT_EQ(actions::compare_cells(&t, &f, op_equal), 1);
    EXPECT_EQ(actions::compare_cells(&f, &f, op_equal), 0);
    Cell n1{type_native, 3, 0, 0}, n2{type_native, 7, 0, 0};
    EXPECT_EQ(actions::compare_cells(&n1, &n2, op_equal), -1);
    Cell fn1{type_function, 0, 0, 9}, fn2{type_function, 0, 0, 9};
    EXPECT_EQ(actions::compare_cells(&fn1, &fn2, op_equal), 0);
    compare_answer = 1;
    Cell a = fake_value(0);
    EXPECT_EQ(actions::compare_cells(&a, &a, op_equal), 1);
}

TEST_F(ActionsTest, MissingImplementationsRaise) {
    Cell v{other, 0, 0, 0};
    EXPECT_RAISES(call(slot_add, {v, v}), 3, 7);  // expect-arg
    EXPECT_RAISES(actions::path_access(&v, &v, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false), 3,
                  37);  // bad-path-type2
    Cell path = block_of({word(sym_f), word(sym_g)}, type_path);
    EXPECT_RAISES(actions::path_access(&v, &v, nullptr, &path, nullptr, nullptr, 1, false, false, true, false), 3,
                  36);  // bad-path-type
    EXPECT_RAISES(call(slot_copy, {fake_value(0), integer(1)}, {-1, -1, 1}), 3, 7);  // copy/types of an integer
}
