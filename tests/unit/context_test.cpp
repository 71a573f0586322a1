// Contexts: making from specs, growth and lookup, global words and case
// variants, duplication, binding, reading and writing word values, the
// change notification of object words, and survival across collections.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "fixture.h"
#include "runtime/hash.h"
#include "runtime/series.h"

using namespace vyr;
using collector::CellRoot;
using collector::NodeRoot;

namespace {

class ContextTest : public test::RuntimeTest {};

Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }
Cell unbound(const char* name, uint32_t type = type_word) {
    return Cell{type, 0, uint32_t(symbol_t::make(name)), uint32_t(-1)};
}

NodeId block_of(std::initializer_list<Cell> cells) {
    NodeId b = memory::alloc_cells(uint32_t(cells.size()) + 1);
    for (const Cell& c : cells) *series::alloc_tail_cell(b) = c;
    return b;
}

}  // namespace

TEST_F(ContextTest, SpecWordsShareEntriesAcrossCase) {
    NodeId spec = block_of({unbound("a"), unbound("B"), Cell{type_set_word, 0, uint32_t(symbol_t::make("skipped")), 0},
                            unbound("local", type_refinement), unbound("A"), unbound("b"), integer(3)});
    NodeId ctx = context_t::make_from_spec(Cell{type_block, 2, spec, 0}, false, false, context_t::kind_function);
    EXPECT_EQ(context_t::word_count(ctx), 3u);  // a, B and local; from the first cell, not the index
    EXPECT_EQ(memory::series_length(context_t::context_cell(ctx)->w2), 3u);
    EXPECT_EQ(context_t::find_word(ctx, symbol_t::make("A"), true), 0);
    EXPECT_EQ(context_t::find_word(ctx, symbol_t::make("A"), false), -1);
    EXPECT_EQ(context_t::find_word(ctx, symbol_t::make("local"), false), 2);
}

TEST_F(ContextTest, AContextForNoWordsHasRoomForOne) {
    NodeId ctx = context_t::make(0, false, true, no_node, context_t::kind_object);
    const Cell& c = *context_t::context_cell(ctx);
    EXPECT_EQ(type_of(c), uint32_t(type_context));
    EXPECT_EQ(context_t::kind_of(c), uint32_t(context_t::kind_object));
    EXPECT_TRUE(c.header & header::context_object);
    EXPECT_GE(memory::buffer_of(c.w2)->capacity, 16u);
    EXPECT_EQ(type_of(*context_t::self_slot(ctx)), uint32_t(type_unset));
    NodeId on_stack = context_t::make(3, true, false, no_node, context_t::kind_function);
    EXPECT_TRUE(context_t::values_on_stack(*context_t::context_cell(on_stack)));
    EXPECT_EQ(context_t::context_cell(on_stack)->w2, 0u);
}

TEST_F(ContextTest, ContextsGrowAndKeepEveryWord) {
    NodeId ctx = context_t::make(1, false, true, no_node, context_t::kind_object);
    NodeRoot keep(ctx);
    const int n = 5000;
    for (int i = 0; i < n; ++i) context_t::put_word_value(ctx, unbound(("f" + std::to_string(i)).c_str()), integer(i));
    EXPECT_EQ(context_t::word_count(ctx), uint32_t(n));
    NodeId table = context_t::context_cell(ctx)->w1;
    EXPECT_GT(hash::table_buckets(table), uint32_t(n));
    stress_collect();
    for (int i = 0; i < n; ++i) {
        std::string name = "F" + std::to_string(i);  // found through the case variant
        Cell* v = context_t::value_of_symbol(symbol_t::make(name.c_str()), ctx);
        ASSERT_NE(v, nullptr) << i;
        ASSERT_EQ(int32_t(v->w2), i);
    }
    // Adding when present changes nothing; absent adds with the value.
    EXPECT_EQ(context_t::add_if_absent(ctx, unbound("f1"), integer(-1)), nullptr);
    Cell* added = context_t::add_if_absent(ctx, unbound("extra"), integer(-2));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added, context_t::context_value_at(ctx, n));
    EXPECT_EQ(int32_t(added->w2), -2);
}

TEST_F(ContextTest, GlobalWordsAreSetReadAndUnset) {
    Cell w = word_t::make_global("answer");
    EXPECT_EQ(w.w1, context_t::global_context);
    EXPECT_EQ(type_of(*word_t::get(w)), uint32_t(type_unset));
    word_t::set(w, integer(42));
    EXPECT_EQ(word_t::get(w)->w2, 42u);
    EXPECT_EQ(context_t::global_symbol_value(symbol_t::make("ANSWER"))->w2, 42u);
    word_t::set(w, Cell{type_unset, 0, 0, 0});
    EXPECT_EQ(type_of(*word_t::get(w)), uint32_t(type_unset));
    context_t::set_global_symbol_value(symbol_t::make("brand-new"), integer(5));
    EXPECT_EQ(word_t::get(word_t::make_global("brand-new"))->w2, 5u);
}

TEST_F(ContextTest, AllSpellingsOfAGlobalNameShareOneValue) {
    Cell lower = word_t::make_global("print");
    word_t::set(lower, integer(1));
    Cell folded = word_t::make_global("Print");  // found through folding, a copy with its own spelling
    EXPECT_EQ(symbol_t::name(int32_t(folded.w2)), "Print");
    EXPECT_EQ(folded.w3, lower.w3);
    Cell exact = word_t::make_global_from_symbol(symbol_t::make("PRINT"));  // an entry of its own
    EXPECT_NE(context_t::find_word(context_t::global_context, int32_t(exact.w2), false),
              context_t::find_word(context_t::global_context, int32_t(lower.w2), false));
    EXPECT_EQ(exact.w3, lower.w3);
    word_t::set(exact, integer(2));
    EXPECT_EQ(word_t::get(lower)->w2, 2u);
    Cell at;
    word_t::make_at(symbol_t::make("pRiNt"), &at);
    EXPECT_EQ(at.w3, lower.w3);
}

// After the global word table is re-bucketed, a variant's entry can come
// first on the probe sequence; a spelling added later still shares the first
// spelling's value.
TEST_F(ContextTest, VariantsShareTheValueAfterTheWordTableGrows) {
    NodeId g = context_t::global_context;
    NodeId table = context_t::context_cell(g)->w1;
    uint32_t mask = hash::table_buckets(table) - 1;
    std::string name;
    int32_t id = 0;
    for (int i = 0;; ++i) {  // a canonical id whose probe starts at the last bucket
        name = "v" + std::to_string(i);
        id = symbol_t::make(name.c_str());
        if ((hash::hash_int32(uint32_t(id)) & mask) == mask && context_t::find_word(g, id, true) < 0) break;
    }
    std::string second = name, third = name;
    second[0] = 'V';
    for (char& c : third) c = char(std::toupper(static_cast<unsigned char>(c)));
    Cell first = word_t::make_global_from_symbol(id);
    word_t::set(first, integer(77));
    word_t::make_global_from_symbol(symbol_t::make(second.c_str()));  // wraps to bucket 0
    for (int i = 0; hash::record(table, hash::field::count) < hash::record(table, hash::field::bound); ++i)
        word_t::make_global(("g" + std::to_string(i)).c_str());
    word_t::make_global("grow-now");
    table = context_t::context_cell(g)->w1;
    ASSERT_GT(hash::table_buckets(table), mask + 1);
    Cell late = word_t::make_global_from_symbol(symbol_t::make(third.c_str()));
    EXPECT_EQ(word_t::get(late)->w2, 77u);
    Cell at;
    word_t::make_at(symbol_t::make(third.c_str()), &at);
    EXPECT_EQ(word_t::get(at)->w2, 77u);
}

TEST_F(ContextTest, FindWordCaseAddsWithoutTouchingValues) {
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    int32_t out = -1;
    EXPECT_EQ(context_t::find_word_case(ctx, symbol_t::make("x"), true, out), -1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(memory::series_length(context_t::context_cell(ctx)->w2), 0u);
    EXPECT_EQ(context_t::find_word_case(ctx, symbol_t::make("X"), true, out), 0);
    EXPECT_EQ(context_t::find_or_add_word(ctx, unbound("y")), 1);
    EXPECT_EQ(memory::series_length(context_t::context_cell(ctx)->w2), 1u);  // y's unset value
}

TEST_F(ContextTest, CollectSetWordsAddsTopLevelSetWordsOnly) {
    NodeId inner = block_of({Cell{type_set_word, 0, uint32_t(symbol_t::make("deep")), 0}});
    NodeId body = block_of({Cell{type_set_word, 0, uint32_t(symbol_t::make("a")), 0}, unbound("b"),
                            Cell{type_block, 0, inner, 0}, Cell{type_set_word, 0, uint32_t(symbol_t::make("c")), 0}});
    NodeId ctx = context_t::make(4, false, true, no_node, context_t::kind_object);
    EXPECT_TRUE(context_t::collect_set_words(ctx, Cell{type_block, 0, body, 0}));
    EXPECT_EQ(context_t::word_count(ctx), 2u);
    EXPECT_FALSE(context_t::collect_set_words(ctx, Cell{type_block, 0, body, 0}));
    EXPECT_FALSE(context_t::collect_set_words(ctx, Cell{type_block, 99, body, 0}));  // index past the tail
}

TEST_F(ContextTest, DuplicateCopiesWordsWithFreshValues) {
    NodeId src = context_t::make(2, false, true, no_node, context_t::kind_object);
    context_t::put_word_value(src, unbound("p"), integer(1));
    context_t::put_word_value(src, unbound("q"), integer(2));
    Cell object{type_object, src, 0, 0};
    NodeId copy = context_t::duplicate(object, context_t::kind_object);
    EXPECT_EQ(object.w1, copy);
    EXPECT_NE(copy, src);
    ASSERT_EQ(context_t::word_count(copy), 2u);
    EXPECT_EQ(context_t::word_at(copy, 1)->w1, copy);
    EXPECT_EQ(context_t::word_at(src, 1)->w1, src);
    EXPECT_EQ(type_of(*context_t::context_value_at(copy, 1)), uint32_t(type_unset));
    EXPECT_EQ(context_t::context_value_at(src, 1)->w2, 2u);
    context_t::put_word_value(copy, unbound("r"), integer(3));  // the copy grows alone
    EXPECT_EQ(context_t::word_count(src), 2u);
    EXPECT_EQ(context_t::find_word(src, symbol_t::make("r"), true), -1);
}

TEST_F(ContextTest, BindingTerminatesOnSelfContainingBlocksAndBindsSelf) {
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    context_t::put_word_value(ctx, unbound("field"), integer(9));
    *context_t::self_slot(ctx) = Cell{type_object, ctx, 0, 0};
    NodeId b = block_of({unbound("field"), unbound("self"), unbound("other")});
    *series::alloc_tail_cell(b) = Cell{type_block, 0, b, 0};  // the block contains itself
    Cell blk{type_block, 0, b, 0};
    block_t::bind(&blk, ctx, true);
    EXPECT_EQ(word_t::get(*memory::cell_at(b, 0))->w2, 9u);
    const Cell& self = *memory::cell_at(b, 1);
    EXPECT_EQ(self.w1, ctx);
    EXPECT_EQ(int32_t(self.w3), -1);
    EXPECT_EQ(word_t::get(self)->w1, ctx);  // the self slot: the object itself
    EXPECT_EQ(memory::cell_at(b, 2)->w1, 0u);  // absent words stay unbound
    EXPECT_EQ(series::cycle_depth(), 0u);
}

TEST_F(ContextTest, SlotsByIndexMarkObjectWordsChanged) {
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    context_t::put_word_value(ctx, unbound("s"), integer(1));
    stack::set_arg_base(stack::top());
    stack::push_copy(integer(5));
    context_t::set_value_at_node(ctx, 0);
    EXPECT_EQ(context_t::context_value_at(ctx, 0)->w2, 5u);
    EXPECT_TRUE(context_t::word_at(ctx, 0)->header & header::word_changed);
    context_t::push_value_at(ctx, 0);
    EXPECT_EQ(stack::top_cell()->w2, 5u);
    stack::stack_reset();
}

namespace {
struct Fired {
    int calls = 0;
    Cell object{}, word{}, old_value{}, new_value{};
} fired;
void record_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value) {
    fired = {fired.calls + 1, *object, *word, *old_value, *new_value};
}
}  // namespace

TEST_F(ContextTest, SettingAFieldOfAnObjectWithEventsFiresTheChangeHook) {
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    context_t::put_word_value(ctx, unbound("size"), integer(1));
    Cell word = *context_t::word_at(ctx, 0);
    context_t::set_fire_on_change(record_change);
    fired = {};
    word_t::set(word, integer(2));  // no event record: nothing fires
    EXPECT_EQ(fired.calls, 0);
    EXPECT_TRUE(context_t::word_at(ctx, 0)->header & header::word_changed);
    *context_t::self_slot(ctx) = Cell{type_object, ctx, 0, memory::alloc_cells(2)};
    Cell* top = stack::top();
    word_t::set(word, integer(3));
    EXPECT_EQ(fired.calls, 1);
    EXPECT_EQ(fired.old_value.w2, 2u);
    EXPECT_EQ(fired.new_value.w2, 3u);
    EXPECT_EQ(fired.word.w2, word.w2);
    EXPECT_EQ(fired.object.w1, ctx);
    EXPECT_EQ(stack::top(), top);
    word_t::set_in_context(word, integer(4), ctx, false);
    EXPECT_EQ(fired.calls, 1);
    EXPECT_EQ(context_t::context_value_at(ctx, 0)->w2, 4u);
    context_t::set_fire_on_change(nullptr);
}

TEST_F(ContextTest, WordsAndValuesSurviveStressCollections) {
    std::vector<Cell> words;
    for (int i = 0; i < 300; ++i) {
        words.push_back(word_t::make_global(("keep" + std::to_string(i)).c_str()));
        word_t::set(words.back(), Cell{type_block, 0, memory::alloc_cells(1), 0});
    }
    CellRoot keep(words.data(), words.size());
    stress_collect();
    stress_collect();
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(words[size_t(i)].w1, context_t::global_context);
        Cell* v = word_t::get(words[size_t(i)]);
        ASSERT_EQ(type_of(*v), uint32_t(type_block));
        ASSERT_EQ(memory::buffer_of(v->w2)->node, v->w2);  // a live series
        Cell again = word_t::make_global(("KEEP" + std::to_string(i)).c_str());
        ASSERT_EQ(again.w3, words[size_t(i)].w3);
    }
    // The fixed words and the type-name words follow the renumbering too.
    EXPECT_EQ(fixed::word_os_linux.w1, context_t::global_context);
    EXPECT_EQ(registry::type_name(type_word).word.w1, context_t::global_context);
}

TEST_F(ContextTest, ReadingAndWritingWithoutValuesRaise) {
    Cell missing = unbound("nowhere");
    EXPECT_RAISES(word_t::get(missing), err_cat::script, err_id::script::no_value);
    NodeId fn = context_t::make(2, true, false, no_node, context_t::kind_function);
    int32_t out = -1;
    context_t::find_word_case(fn, symbol_t::make("arg"), true, out);
    Cell arg = *context_t::word_at(fn, 0);
    EXPECT_RAISES(word_t::get(arg), err_cat::script, err_id::script::not_in_context);
    EXPECT_RAISES(word_t::set(arg, integer(1)), err_cat::script, err_id::script::not_defined);
    EXPECT_RAISES(context_t::push_value_at(fn, 0), err_cat::script, err_id::script::not_defined);
    EXPECT_RAISES(word_t::set(missing, integer(1)), err_cat::script, err_id::script::not_defined);  // unbound
}
