// object!: construction and class ids, construct, set, the change events,
// and the actions (mold, form, reflect, compare, copy, select, put, path
// access, modify).
#include <gtest/gtest.h>

#include "datatypes/logic.h"
#include "object_fixture.h"
#include "datatypes/owners.h"

using namespace vyr;
using namespace vyr::test;
namespace script = err_id::script;
namespace internal = err_id::internal;

namespace {

Cell reflect(Cell object, const char* what) {
    Cell f = word_of(what);
    return *object_t::reflect(&object, &f);
}

uint32_t length(const Cell& block) { return memory::series_length(block.w2) - block.w1; }

}  // namespace

// ---- Construction ------------------------------------------------------------------

TEST_F(ObjectTest, MakeFromTheDatatypeAndFromPrototypes) {
    Cell spec = block_of({set_word_of("a"), int_cell(1), set_word_of("b"), int_cell(2)});
    Cell o1 = make_object(spec);
    Cell o2 = make_object(block_of({set_word_of("a"), int_cell(1)}));
    EXPECT_EQ(type_of(o1), uint32_t(type_object));
    EXPECT_GT(int32_t(o1.w2), object_t::first_class_id);
    EXPECT_GT(int32_t(o2.w2), int32_t(o1.w2));
    EXPECT_EQ(object_t::field_count(o1), 2u);
    EXPECT_EQ(int32_t(field(o1, "b").w2), 2);
    // The self slot holds the finished object.
    EXPECT_EQ(context_t::self_slot(o1.w1)->w2, o1.w2);

    // A spec that only sets existing fields keeps the prototype's class;
    // adding a field gives a new one.
    Cell same = make_object(block_of({set_word_of("a"), int_cell(5)}), &o1);
    EXPECT_EQ(same.w2, o1.w2);
    EXPECT_NE(same.w1, o1.w1);
    EXPECT_EQ(int32_t(field(same, "a").w2), 5);
    EXPECT_EQ(int32_t(field(o1, "a").w2), 1);  // the prototype is untouched
    Cell more = make_object(block_of({set_word_of("c"), int_cell(3)}), &o1);
    EXPECT_NE(more.w2, o1.w2);
    EXPECT_EQ(object_t::field_count(more), 3u);
    EXPECT_EQ(int32_t(field(more, "b").w2), 2);

    // `self` in a body block is the new object.
    Cell me = make_object(block_of({set_word_of("me"), word_of("self")}));
    EXPECT_EQ(field(me, "me").w1, me.w1);

    // Make from another object: its fields are stored by name, missing ones
    // added (always, from the datatype).
    Cell merged = make_object(o2, &o1);
    EXPECT_EQ(object_t::field_count(merged), 2u);
    EXPECT_EQ(merged.w2, o1.w2);
    Cell fresh = make_object(o1);
    EXPECT_EQ(object_t::field_count(fresh), 2u);
    EXPECT_NE(fresh.w2, o1.w2);

    EXPECT_RAISES(make_object(int_cell(1)), err_cat::syntax, err_id::syntax::malconstruct);
}

TEST_F(ObjectTest, FieldFlagsAreClearedAfterConstruction) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("b"), int_cell(2)}));
    EXPECT_EQ(length(reflect(o, "changed")), 0u);
    set_path(o, "b", int_cell(3));
    Cell changed = reflect(o, "changed");
    ASSERT_EQ(length(changed), 1u);
    EXPECT_EQ(name_of(*memory::cell_at(changed.w2, 0)), "b");
    Cell w = word_of("changed"), none = none_cell(), one = int_cell(1);
    object_t::modify(&o, &w, &none, false);
    EXPECT_EQ(length(reflect(o, "changed")), 0u);
    EXPECT_RAISES(object_t::modify(&o, &w, &one, false), err_cat::script, script::invalid_arg);
}

TEST_F(ObjectTest, HandlerFieldsMustHoldFunctions) {
    EXPECT_RAISES(make_object(block_of({set_word_of("on-change*"), int_cell(1)})), err_cat::script,
                  script::bad_field_set);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(name_of(e.args[0]), "on-change*");
    EXPECT_EQ(e.args[1].w1, uint32_t(type_integer));
}

TEST_F(ObjectTest, Construct) {
    // construct [a: b: 1 c: yes d: off e: foo f: none g:]
    Cell spec = block_of({set_word_of("a"), set_word_of("b"), int_cell(1), set_word_of("c"), word_of("yes"),
                          set_word_of("d"), word_of("OFF"), set_word_of("e"), word_of("foo"), set_word_of("f"),
                          word_of("none"), set_word_of("g")});
    Cell o;
    object_t::construct(spec, nullptr, false, o);
    EXPECT_EQ(int32_t(field(o, "a").w2), 1);
    EXPECT_EQ(int32_t(field(o, "b").w2), 1);
    EXPECT_EQ(field(o, "c").header, uint32_t(type_logic));
    EXPECT_EQ(field(o, "c").w1, 1u);
    EXPECT_EQ(field(o, "d").w1, 0u);
    EXPECT_EQ(type_of(field(o, "e")), uint32_t(type_word));
    EXPECT_EQ(type_of(field(o, "f")), uint32_t(type_none));
    EXPECT_EQ(type_of(field(o, "g")), uint32_t(type_none));
    EXPECT_TRUE(recorded_calls().empty());  // nothing is evaluated

    Cell raw;
    object_t::construct(spec, nullptr, true, raw);
    EXPECT_EQ(type_of(field(raw, "c")), uint32_t(type_word));

    Cell extended;
    object_t::construct(block_of({set_word_of("z"), int_cell(9)}), &o, false, extended);
    EXPECT_EQ(object_t::field_count(extended), 8u);
    EXPECT_EQ(int32_t(field(extended, "a").w2), 1);
}

TEST_F(ObjectTest, SetFields) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("b"), int_cell(2),
                                   set_word_of("c"), int_cell(3)}));
    object_t::set_fields(o, block_of({int_cell(7)}), false, false, false);
    EXPECT_EQ(int32_t(field(o, "a").w2), 7);
    EXPECT_EQ(type_of(field(o, "b")), uint32_t(type_none));  // past the end: none

    object_t::set_fields(o, block_of({int_cell(1), int_cell(2), int_cell(3)}), false, false, false);
    object_t::set_fields(o, block_of({none_cell(), int_cell(5)}), false, false, true);  // /some
    EXPECT_EQ(int32_t(field(o, "a").w2), 1);
    EXPECT_EQ(int32_t(field(o, "b").w2), 5);
    EXPECT_EQ(int32_t(field(o, "c").w2), 3);

    Cell unset{type_unset, 0, 0, 0};
    EXPECT_RAISES(object_t::set_fields(o, block_of({int_cell(1), unset}), false, false, false), err_cat::script,
                  script::need_value);
    EXPECT_EQ(int32_t(field(o, "a").w2), 1);  // checked before anything is set
    object_t::set_fields(o, block_of({int_cell(1), unset}), true, false, false);  // /any
    EXPECT_EQ(type_of(field(o, "b")), uint32_t(type_unset));

    // From an object, by name; every field to one value.
    Cell src = make_object(block_of({set_word_of("C"), int_cell(30)}));
    object_t::set_fields(o, src, false, false, false);
    EXPECT_EQ(int32_t(field(o, "c").w2), 30);
    EXPECT_EQ(int32_t(field(o, "a").w2), 1);
    object_t::set_fields(o, int_cell(0), false, false, false);
    EXPECT_EQ(int32_t(field(o, "b").w2), 0);
}

// ---- Change events ------------------------------------------------------------------

TEST_F(ObjectTest, OnChangeFiresWithOldAndNewValues) {
    Cell h = handler({word_of("word"), word_of("old"), word_of("new"), refinement_of("local"), word_of("tmp")});
    Cell o = make_object(block_of({set_word_of("on-change*"), h, set_word_of("x"), int_cell(1)}));
    ASSERT_NE(o.w3, 0u);
    EXPECT_TRUE(recorded_calls().empty());  // construction stores do not fire

    // A word store, a path store and put each call the handler once.
    Cell x = *context_t::word_at(o.w1, int32_t(object_t::find_field_index(o, word_of("x"))));
    word_t::set(x, int_cell(2));
    set_path(o, "x", int_cell(3));
    Cell key = word_of("x"), four = int_cell(4);
    object_t::put(&o, &key, &four, false);
    ASSERT_EQ(recorded_calls().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const RecordedCall& c = recorded_calls()[size_t(i)];
        EXPECT_EQ(c.fn.w3, h.w3);
        EXPECT_EQ(c.object, o.w1);
        EXPECT_EQ(name_of(c.name), "on-change*");
        ASSERT_EQ(c.args.size(), 5u);  // word, old, new, then /local's two slots
        EXPECT_EQ(name_of(c.args[0]), "x");
        EXPECT_EQ(c.args[0].w1, o.w1);
        EXPECT_EQ(int32_t(c.args[1].w2), 1 + i);
        EXPECT_EQ(int32_t(c.args[2].w2), 2 + i);
        EXPECT_EQ(c.args[3].header, uint32_t(type_logic));
        EXPECT_EQ(type_of(c.args[4]), uint32_t(type_none));
    }
    EXPECT_EQ(int32_t(field(o, "x").w2), 4);

    // `set` with a block fires per field and leaves on-change* itself alone.
    recorded_calls().clear();
    object_t::set_fields(o, block_of({int_cell(0), int_cell(9)}), false, false, false);
    EXPECT_EQ(type_of(field(o, "on-change*")), uint32_t(type_function));
    EXPECT_EQ(int32_t(field(o, "x").w2), 9);
    EXPECT_EQ(recorded_calls().size(), 1u);
}

TEST_F(ObjectTest, ReplacedHandlersAreRecountedAndChecked) {
    Cell h = handler({word_of("w"), word_of("o"), word_of("n")});
    Cell o = make_object(block_of({set_word_of("on-change*"), h, set_word_of("x"), int_cell(1)}));
    // Replacing the handler (no store event for it here) then storing a field.
    Cell h2 = handler({word_of("w"), word_of("o"), word_of("n"), refinement_of("local"), word_of("a"),
                       word_of("b")});
    *object_t::select_field(o, word_of("on-change*")) = h2;
    set_path(o, "x", int_cell(2));
    ASSERT_EQ(recorded_calls().size(), 1u);
    EXPECT_EQ(recorded_calls()[0].args.size(), 6u);
    EXPECT_EQ(recorded_calls()[0].fn.w3, h2.w3);

    *object_t::select_field(o, word_of("on-change*")) = int_cell(1);
    EXPECT_RAISES(set_path(o, "x", int_cell(3)), err_cat::script, script::invalid_obj_evt);
}

TEST_F(ObjectTest, OwnedSeriesNotifyOnDeepChange) {
    Cell h = handler({word_of("owner"), word_of("word"), word_of("target"), word_of("action"), word_of("new"),
                      word_of("index"), word_of("part")});
    Cell data = block_of({int_cell(1)});
    Cell w = word_of("the-data");
    word_t::set(w, data);
    Cell o = make_object(block_of({set_word_of("on-deep-change*"), h, set_word_of("data"), word_of("the-data")}));
    EXPECT_TRUE(object_t::has_deep_handler_q(o));
    EXPECT_TRUE(reflect(o, "owner").w1);

    recorded_calls().clear();
    Cell action = word_of("append");
    Cell added = int_cell(5);
    EXPECT_TRUE(owners::notify_owner(data, action, &added, 1, 1));
    ASSERT_EQ(recorded_calls().size(), 1u);
    const RecordedCall& c = recorded_calls()[0];
    EXPECT_EQ(name_of(c.name), "on-deep-change*");
    ASSERT_EQ(c.args.size(), 7u);
    EXPECT_EQ(c.args[0].w1, o.w1);
    EXPECT_EQ(name_of(c.args[1]), "data");
    EXPECT_EQ(c.args[2].w2, data.w2);
    EXPECT_EQ(name_of(c.args[3]), "append");
    EXPECT_EQ(int32_t(c.args[4].w2), 5);
    EXPECT_EQ(int32_t(c.args[5].w2), 1);
    EXPECT_EQ(int32_t(c.args[6].w2), 1);

    // An object without events cannot receive it.
    Cell plain = make_object(block_of({set_word_of("a"), int_cell(1)}));
    EXPECT_RAISES(object_t::fire_on_deep_change(&plain, &w, &data, &action, nullptr, 0, 0), err_cat::script,
                  script::invalid_obj_evt);
}

TEST_F(ObjectTest, OwnedSeriesNotifyThroughSeriesActions) {
    auto append = registry::action<registry::action_sig::insert>(type_block, registry::slot_append);
    if (!append) GTEST_SKIP() << "block! append not built";
    Cell h = handler({word_of("owner"), word_of("word"), word_of("target"), word_of("action"), word_of("new"),
                      word_of("index"), word_of("part")});
    Cell data = block_of({int_cell(1)});
    Cell w = word_of("the-data");
    word_t::set(w, data);
    make_object(block_of({set_word_of("on-deep-change*"), h, set_word_of("data"), word_of("the-data")}));
    recorded_calls().clear();
    Cell series = data, value = int_cell(2);
    append(&series, &value, -1, false, 1, true);
    EXPECT_GE(recorded_calls().size(), 1u);
    for (const RecordedCall& c : recorded_calls()) EXPECT_EQ(name_of(c.name), "on-deep-change*");
}

// ---- Actions --------------------------------------------------------------------------

TEST_F(ObjectTest, MoldAndForm) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("b"), word_of("foo")}));
    // b holds the word foo: the stand-in evaluator reads words, so store it directly.
    *object_t::select_field(o, word_of("b")) = word_of("foo");
    EXPECT_EQ(mold_text(o), "make object! [\n    a: 1\n    b: 'foo\n]");
    EXPECT_EQ(mold_text(o, false, false, true), "make object! [a: 1 b: 'foo]");
    EXPECT_EQ(mold_text(o, true), "a: 1\nb: 'foo");
    EXPECT_EQ(form_text(o), "a: 1\nb: 'foo");
    EXPECT_EQ(mold_text(make_object(block_of({}))), "make object! []");

    // An object that holds itself.
    Cell me = make_object(block_of({set_word_of("me"), word_of("self")}));
    EXPECT_EQ(mold_text(me), "make object! [\n    me: make object! [...]\n]");
    EXPECT_EQ(form_text(me), "me: ...");

    // Nested objects indent one level deeper.
    Cell inner = make_object(block_of({set_word_of("x"), int_cell(1)}));
    Cell outer = make_object(block_of({set_word_of("in"), inner}));
    EXPECT_EQ(mold_text(outer), "make object! [\n    in: make object! [\n        x: 1\n    ]\n]");
}

TEST_F(ObjectTest, MoldAllShowsTheHandlerFields) {
    Cell o;
    object_t::construct(block_of({set_word_of("on-change*"), int_cell(1), set_word_of("a"), int_cell(2)}), nullptr,
                        false, o);
    EXPECT_EQ(mold_text(o, false, false, true), "make object! [a: 2]");
    EXPECT_EQ(mold_text(o, false, true, true), "make object! [on-change*: 1 a: 2]");
}

TEST_F(ObjectTest, Reflect) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("p"), int_cell(2)}));
    *object_t::select_field(o, word_of("p")) = word_of("w");
    EXPECT_EQ(int32_t(reflect(o, "class").w2), int32_t(o.w2));
    Cell words = reflect(o, "words");
    ASSERT_EQ(length(words), 2u);
    EXPECT_EQ(type_of(*memory::cell_at(words.w2, 0)), uint32_t(type_word));
    EXPECT_EQ(memory::cell_at(words.w2, 1)->w1, o.w1);
    EXPECT_EQ(int32_t(memory::cell_at(reflect(o, "values").w2, 0)->w2), 1);
    Cell body = reflect(o, "body");
    ASSERT_EQ(length(body), 4u);
    EXPECT_EQ(memory::cell_at(body.w2, 0)->header, uint32_t(type_set_word) | header::new_line);
    EXPECT_EQ(type_of(*memory::cell_at(body.w2, 3)), uint32_t(type_lit_word));
    EXPECT_EQ(reflect(o, "events?").w1, 0u);
    EXPECT_EQ(reflect(o, "owner").w1, 0u);
    EXPECT_RAISES(reflect(o, "spec"), err_cat::internal, internal::not_done);
}

TEST_F(ObjectTest, Compare) {
    Cell a = make_object(block_of({set_word_of("x"), int_cell(1), set_word_of("y"), int_cell(2)}));
    Cell b = make_object(block_of({set_word_of("x"), int_cell(1), set_word_of("y"), int_cell(2)}));
    Cell c = make_object(block_of({set_word_of("x"), int_cell(1), set_word_of("y"), int_cell(2),
                                   set_word_of("z"), int_cell(3)}));
    Cell d = make_object(block_of({set_word_of("x"), int_cell(1), set_word_of("y"), int_cell(5)}));
    EXPECT_NE(a.w2, b.w2);
    EXPECT_EQ(compare_cells(a, b, registry::op_equal), 0);
    EXPECT_EQ(compare_cells(a, a, registry::op_same), 0);
    EXPECT_EQ(compare_cells(a, b, registry::op_same), -1);
    EXPECT_EQ(compare_cells(c, a, registry::op_equal), 1);
    EXPECT_EQ(compare_cells(a, c, registry::op_equal), -1);
    EXPECT_EQ(compare_cells(a, d, registry::op_lesser), -1);
    EXPECT_EQ(compare_cells(a, int_cell(1), registry::op_equal), registry::not_comparable);
    // Objects that hold themselves compare without looping.
    Cell m1 = make_object(block_of({set_word_of("me"), word_of("self")}));
    Cell m2 = make_object(block_of({set_word_of("me"), word_of("self")}));
    EXPECT_EQ(compare_cells(m1, m2, registry::op_equal), 0);
}

TEST_F(ObjectTest, SelectPutAndPaths) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("u"), int_cell(0)}));
    *object_t::select_field(o, word_of("u")) = Cell{type_unset, 0, 0, 0};
    Cell v = o, key = word_of("A");
    object_t::select(&v, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(int32_t(v.w2), 1);
    v = o;
    key = word_of("missing");
    object_t::select(&v, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_EQ(type_of(v), uint32_t(type_none));
    v = o;
    Cell one = int_cell(1);
    EXPECT_RAISES(object_t::select(&v, &one, nullptr, false, false, false, false, nullptr, nullptr, false, false),
                  err_cat::script, script::invalid_type);
    EXPECT_RAISES(object_t::put(&o, &one, &one, false), err_cat::script, script::invalid_key_type);
    Cell missing = word_of("missing");
    EXPECT_RAISES(object_t::put(&o, &missing, &one, false), err_cat::script, script::invalid_path);

    // Reading: a missing or unset field by the get and tail flags.
    auto read = [&](const char* name, bool get, bool tail) {
        Cell w = word_of(name);
        return *object_t::path_access(&o, &w, nullptr, nullptr, nullptr, nullptr, -1, false, get, tail, false);
    };
    EXPECT_EQ(int32_t(read("a", false, true).w2), 1);
    EXPECT_EQ(type_of(read("missing", true, true)), uint32_t(type_unset));
    EXPECT_RAISES(read("missing", false, true), err_cat::script, script::invalid_path);
    EXPECT_RAISES(read("u", false, false), err_cat::script, script::unset_path);
    EXPECT_RAISES(read("u", false, true), err_cat::script, script::invalid_path);
    Cell n = int_cell(1);
    EXPECT_RAISES(object_t::path_access(&o, &n, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, script::invalid_path);

    // The element keeps the binding it was resolved to.
    Cell elem = word_of("a");
    object_t::path_access(&o, &elem, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false);
    EXPECT_EQ(elem.w1, o.w1);
}

TEST_F(ObjectTest, CopyRebindsFunctions) {
    Cell body = block_of({word_of("a")});
    stack::Mark mark;
    function_t::make_function(block_of({}), &body, no_node, 0, 0, 0);
    Cell f = *stack::top_cell();
    mark.restore();
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("f"), f}));
    // Functions of a copy are bound to the copy.
    Cell result{};
    Cell src = o;
    object_t::copy(&src, &result, nullptr, false, nullptr);
    EXPECT_NE(result.w1, o.w1);
    EXPECT_EQ(result.w2, o.w2);
    Cell fc = field(result, "f");
    Cell fc_body = *memory::cell_at(fc.w3, function_t::record::body);
    EXPECT_EQ(memory::cell_at(fc_body.w2, 0)->w1, result.w1);
    // Fields of the copy are its own.
    set_path(result, "a", int_cell(2));
    EXPECT_EQ(int32_t(field(o, "a").w2), 1);

    Cell part = int_cell(1);
    EXPECT_RAISES(object_t::copy(&src, &result, &part, false, nullptr), err_cat::script, script::invalid_refine_arg);

    // A function without a body cannot be rebound.
    function_t::make_function(block_of({}), nullptr, no_node, 0, 0, 0);
    Cell compiled = *stack::top_cell();
    mark.restore();
    Cell holder;
    object_t::construct(block_of({set_word_of("g"), int_cell(0)}), nullptr, false, holder);
    *object_t::select_field(holder, word_of("g")) = compiled;
    EXPECT_RAISES(object_t::copy(&holder, &result, nullptr, false, nullptr), err_cat::script, script::bad_func_def);
}

TEST_F(ObjectTest, SurvivesACollection) {
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("me"), word_of("self")}));
    Cell* kept = stack::push_copy(o);
    stress_collect();
    EXPECT_EQ(int32_t(field(*kept, "a").w2), 1);
    EXPECT_EQ(mold_text(*kept, false, false, true), "make object! [a: 1 me: make object! [...]]");
}

TEST_F(ObjectTest, DeepCopiesAndPrototypeSeries) {
    Cell inner = block_of({word_of("a")});
    Cell text = string_cell("abc");
    Cell o = make_object(block_of({set_word_of("a"), int_cell(1), set_word_of("b"), int_cell(0), set_word_of("s"),
                                   int_cell(0)}));
    *object_t::select_field(o, word_of("b")) = block_of({inner});
    *object_t::select_field(o, word_of("s")) = text;

    Cell deep{}, shallow{};
    object_t::copy(&o, &deep, nullptr, true, nullptr);
    object_t::copy(&o, &shallow, nullptr, false, nullptr);
    Cell b = field(deep, "b");
    EXPECT_NE(b.w2, field(o, "b").w2);
    EXPECT_NE(memory::cell_at(b.w2, 0)->w2, inner.w2);  // nested blocks too
    EXPECT_NE(field(deep, "s").w2, text.w2);
    EXPECT_EQ(field(shallow, "b").w2, field(o, "b").w2);
    EXPECT_EQ(field(shallow, "s").w2, text.w2);

    // /types copies only the values of those types.
    Cell only_strings = type_cell(type_string);
    Cell typed{};
    object_t::copy(&o, &typed, nullptr, false, &only_strings);
    EXPECT_EQ(field(typed, "b").w2, field(o, "b").w2);
    EXPECT_NE(field(typed, "s").w2, text.w2);

    // A new object from a prototype gets its own series, bound to it.
    Cell child = make_object(block_of({set_word_of("a"), int_cell(2)}), &o);
    Cell cb = field(child, "b");
    EXPECT_NE(cb.w2, field(o, "b").w2);
    EXPECT_EQ(memory::cell_at(memory::cell_at(cb.w2, 0)->w2, 0)->w1, child.w1);
    EXPECT_EQ(mold_text(child, false, false, true), "make object! [a: 2 b: [[a]] s: \"abc\"]");
}
