// The owners table: setting and clearing ownership through nested and
// self-containing values and objects, notification, and entries kept across
// collections that renumber nodes.
#include <gtest/gtest.h>

#include "fixture.h"
#include "runtime/hash.h"
#include "runtime/series.h"

using namespace vyr;
using collector::CellRoot;

namespace {

class OwnersTest : public test::RuntimeTest {
protected:
    // An object with one field holding `value`; with `events`, an event
    // record (any node in payload word 3).
    Cell object_with(const char* field, const Cell& value, bool events) {
        NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
        context_t::put_word_value(ctx, Cell{type_word, 0, uint32_t(symbol_t::make(field)), uint32_t(-1)}, value);
        Cell object{type_object, ctx, 0, events ? memory::alloc_cells(1) : 0};
        *context_t::self_slot(ctx) = object;
        return object;
    }
};

bool owned(const Cell& series) { return memory::buffer_of(series.w2)->flags & memory::flag::owned; }
Cell block_cell(NodeId n) { return Cell{type_block, 0, n, 0}; }
Cell string_cell() { return Cell{type_string, 0, memory::alloc_units(4, 1), 0}; }

struct Notified {
    int calls = 0;
    Cell owner{}, word{}, target{}, action{}, value{};
    int32_t index = 0, part = 0;
} notified;

void record(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* value, int32_t index, int32_t part) {
    notified = {notified.calls + 1, *owner, *word, *target, *action, *value, index, part};
}

}  // namespace

TEST_F(OwnersTest, OwnershipReachesNestedSeriesOnceEvenThroughCycles) {
    NodeId outer = memory::alloc_cells(3);
    NodeId inner = memory::alloc_cells(2);
    Cell text = string_cell();
    *series::alloc_tail_cell(inner) = text;
    *series::alloc_tail_cell(outer) = block_cell(inner);
    *series::alloc_tail_cell(outer) = block_cell(outer);  // contains itself
    *series::alloc_tail_cell(inner) = block_cell(outer);  // and a longer cycle
    Cell field = block_cell(outer);
    Cell owner = object_with("data", field, true);
    Cell word = *context_t::word_at(owner.w1, 0);
    owners::set_owned(field, owner, word);
    EXPECT_TRUE(owned(field));
    EXPECT_TRUE(owned(block_cell(inner)));
    EXPECT_TRUE(owned(text));
    EXPECT_EQ(hash::table_count(owners::owners_table), 3u);  // one entry per series
    EXPECT_TRUE(context_t::context_cell(owner.w1)->header & header::owned);
    Cell* o = owners::find_owner(text.w2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->w1, owner.w1);
    EXPECT_EQ(o[1].w2, word.w2);  // the field word follows the owner
    EXPECT_EQ(series::cycle_depth(), 0u);

    owners::clear_owned(field);
    EXPECT_FALSE(owned(field));
    EXPECT_FALSE(owned(text));
    EXPECT_EQ(owners::find_owner(text.w2), nullptr);
    EXPECT_EQ(hash::table_count(owners::owners_table), 0u);
}

TEST_F(OwnersTest, AnOwnedSeriesKeepsItsFirstOwner) {
    Cell text = string_cell();
    Cell first = object_with("a", text, true);
    Cell second = object_with("b", text, true);
    owners::set_owned(text, first, *context_t::word_at(first.w1, 0));
    owners::set_owned(text, second, *context_t::word_at(second.w1, 0));
    EXPECT_EQ(owners::find_owner(text.w2)->w1, first.w1);
    EXPECT_EQ(hash::table_count(owners::owners_table), 1u);
}

TEST_F(OwnersTest, NotificationRunsTheOwnersHandlerOnlyWithAnEventRecord) {
    owners::set_fire_on_deep_change(record);
    notified = {};
    Cell text = string_cell();
    Cell quiet = object_with("q", text, false);
    owners::set_owned(text, quiet, *context_t::word_at(quiet.w1, 0));
    Cell action = word_t::make_global("append");
    EXPECT_FALSE(owners::notify_owner(text, action, nullptr, 0, 1));
    EXPECT_EQ(notified.calls, 0);

    Cell other = string_cell();
    Cell loud = object_with("l", other, true);
    owners::set_owned(other, loud, *context_t::word_at(loud.w1, 0));
    Cell* top = stack::top();
    Cell value{type_char, 0, 'x', 0};
    EXPECT_TRUE(owners::notify_owner(other, action, &value, 2, 1));
    EXPECT_EQ(stack::top(), top);
    EXPECT_EQ(notified.calls, 1);
    EXPECT_EQ(notified.owner.w1, loud.w1);
    EXPECT_EQ(symbol_t::name(int32_t(notified.word.w2)), "l");
    EXPECT_EQ(notified.target.w2, other.w2);
    EXPECT_EQ(notified.action.w2, action.w2);
    EXPECT_EQ(notified.value.w2, uint32_t('x'));
    EXPECT_EQ(notified.index, 2);
    EXPECT_EQ(notified.part, 1);
    EXPECT_TRUE(owners::notify_owner(other, action, nullptr, 0, 0));
    EXPECT_EQ(type_of(notified.value), uint32_t(type_none));

    owners::clear_owned(other);
    EXPECT_FALSE(owners::notify_owner(other, action, nullptr, 0, 0));
    EXPECT_EQ(notified.calls, 2);
    owners::set_fire_on_deep_change(nullptr);
}

TEST_F(OwnersTest, ObjectFieldsAreOwnedThroughTheirOwnWords) {
    Cell inner_text = string_cell();
    Cell inner = object_with("inner-field", inner_text, false);
    Cell owner = object_with("child", inner, true);
    // The child also refers back to the owner, which is skipped.
    context_t::put_word_value(inner.w1, Cell{type_word, 0, uint32_t(symbol_t::make("back")), uint32_t(-1)}, owner);
    Cell field = inner;
    owners::set_owned(field, owner, *context_t::word_at(owner.w1, 0));
    Cell* o = owners::find_owner(inner_text.w2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->w1, owner.w1);
    EXPECT_EQ(symbol_t::name(int32_t(o[1].w2)), "inner-field");
    // An object that owns its own series is a boundary.
    Cell guarded_text = string_cell();
    Cell guarded = object_with("g", guarded_text, true);
    context_t::context_cell(guarded.w1)->header |= header::owned;
    owners::set_owned(guarded, owner, *context_t::word_at(owner.w1, 0));
    EXPECT_FALSE(owned(guarded_text));
}

TEST_F(OwnersTest, EntriesSurviveCollectionsThatRenumberNodes) {
    Cell values[2] = {string_cell(), string_cell()};
    values[1] = object_with("kept", values[0], true);
    CellRoot keep(values, 2);
    owners::set_owned(values[0], values[1], *context_t::word_at(values[1].w1, 0));
    NodeId before = values[0].w2;
    stress_collect();
    ASSERT_NE(values[0].w2, before);
    EXPECT_TRUE(owned(values[0]));
    Cell* o = owners::find_owner(values[0].w2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->w1, values[1].w1);
    EXPECT_EQ(o[-1].w2, values[0].w2);  // the owned value's copy follows the renumbering
}
