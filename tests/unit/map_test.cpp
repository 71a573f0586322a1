// map!: literals and make, key normalisation, put/select/find/remove with
// their case rules, removed pairs, mold layouts, equality, copy and the
// helpers other modules call (add_pairs, foreach_step, block! of a map).
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/error_catalog.h"
#include "tests/unit/literal_fixture.h"

using namespace vyr;
using namespace vyr::test;

namespace {

namespace script = err_id::script;

class MapTest : public LiteralTest {
protected:
    static Cell make_map(const Cell& spec, bool to = false) {
        Cell proto{type_datatype, type_map, 0, 0}, s = spec;
        return to ? *actions::to(&proto, &s) : *actions::make(&proto, &s);
    }
    static Cell select(const Cell& m, const Cell& key, bool case_ = false) {
        Cell s = m, k = key;
        return *actions::select(&s, &k, nullptr, false, case_, false, false, nullptr, nullptr, false, false);
    }
    static Cell find(const Cell& m, const Cell& key, bool case_ = false) {
        Cell s = m, k = key;
        return *actions::find(&s, &k, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false, false);
    }
    static void put(const Cell& m, const Cell& key, const Cell& v, bool case_ = false) {
        Cell s = m, k = key, x = v;
        actions::put(&s, &k, &x, case_);
    }
    static void remove_key(const Cell& m, const Cell& key) {
        Cell s = m, k = key;
        actions::remove(&s, nullptr, &k);
    }
    static int32_t length(const Cell& m) {
        Cell s = m;
        return actions::length_q(&s);
    }
    static uint32_t cells(const Cell& m) { return memory::series_length(m.w2); }
    static Cell reflect(const Cell& m, const char* field) {
        Cell s = m, f = unbound_word(field);
        return *actions::reflect(&s, &f);
    }
    static bool equal(const Cell& a, const Cell& b, int32_t op = registry::op_equal) {
        Cell x = a, y = b;
        return actions::compare_cells(&x, &y, op) == 0;
    }
};

TEST_F(MapTest, MoldLayouts) {
    Cell m = value("#[a 1 b [x y]]");
    EXPECT_EQ(mold(m), "#[\n    a: 1\n    b: [x y]\n]");
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 1 b: [x y]]");
    EXPECT_EQ(mold(m, {.only = true}), "a: 1\nb: [x y]");
    EXPECT_EQ(form(m), "a: 1\nb: [x y]");
    EXPECT_EQ(remold("#[]"), "#[]");
    EXPECT_EQ(remold("#[\"k\" #\"c\" 2 3.5 %f 12:00]"), "#[\n    \"k\" #\"c\"\n    2 3.5\n    %f 12:00:00\n]");
    // A nested map indents its pairs one level deeper and closes on its own
    // indented line.
    EXPECT_EQ(remold("[\n#[a 1]\n]"), "[\n    #[\n        a: 1\n    ]\n]");
    EXPECT_EQ(remold("#[a #[b 1] c #[]]"), "#[\n    a: #[\n        b: 1\n    ]\n    c: #[]\n]");
    // The part budget stops molding between pairs.
    std::string cut = mold(value("#[a 1 b 2 c 3]"), {.flat = true, .part = 8});
    EXPECT_EQ(cut.substr(0, 8), "#[a: 1 b");
    EXPECT_EQ(cut.find("c:"), std::string::npos);
}

TEST_F(MapTest, MakeAndTo) {
    EXPECT_RAISES(make_map(value("[a 1 b]")), err_cat::script, script::invalid_arg);
    EXPECT_EQ(mold(make_map(value("0"))), "#[]");
    EXPECT_EQ(length(make_map(value("10"))), 0);
    EXPECT_RAISES(make_map(value("-1")), err_cat::script, script::out_of_range);
    EXPECT_RAISES(make_map(value("10"), true), err_cat::script, script::bad_to_arg);
    EXPECT_RAISES(make_map(value("\"x\"")), err_cat::script, script::bad_to_arg);
    EXPECT_RAISES(make_map(value("[[1] 2]")), err_cat::script, script::invalid_path);
    // A later duplicate replaces the earlier value and leaves the block;
    // keys that differ in case stay apart.
    EXPECT_EQ(length(make_map(value("[a 1 A 2]"))), 2);
    Cell m = make_map(value("[a 1 b 2 a 3]"));
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 3 b: 2]");
    EXPECT_EQ(cells(m), 4u);
    // make clones from the index and clears new-line marks.
    Cell spec = value("[x 0\na 1]");
    spec.w1 = 2;
    Cell n = make_map(spec, true);
    EXPECT_EQ(mold(n), "#[\n    a: 1\n]");
    EXPECT_EQ(mold(make_map(n), {.flat = true}), "#[a: 1]");
    EXPECT_NE(make_map(n).w2, n.w2);
}

TEST_F(MapTest, WordKeysAreOneKey) {
    Cell m = value("#[a 1]");
    for (uint32_t t : {type_word, type_lit_word, type_get_word, type_set_word}) {
        EXPECT_EQ(mold(select(m, unbound_word("a", t))), "1") << t;
        EXPECT_EQ(mold(select(m, unbound_word("A", t))), "1") << t;
    }
    EXPECT_EQ(mold(find(m, unbound_word("a", type_lit_word))), "a");  // a word!, not the stored set-word!
    EXPECT_EQ(type_of(find(m, unbound_word("zz"))), uint32_t(type_none));
    Cell e = unbound_word("a");
    EXPECT_EQ(mold(*actions::path_access(&m, &e, nullptr, nullptr, nullptr, nullptr, -1, false, true, true, false)), "1");
    Cell absent = unbound_word("q");
    EXPECT_EQ(type_of(*actions::path_access(&m, &absent, nullptr, nullptr, nullptr, nullptr, -1, false, true, true,
                                            false)),
              uint32_t(type_none));
    put(m, unbound_word("b", type_lit_word), value("2"));
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 1 b: 2]");
}

TEST_F(MapTest, RemovedPairsAndRevival) {
    Cell m = value("#[a 1 b 2 c 3]");
    remove_key(m, unbound_word("b"));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(type_of(select(m, unbound_word("b"))), uint32_t(type_none));
    EXPECT_EQ(type_of(find(m, unbound_word("b"))), uint32_t(type_none));
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 1 c: 3]");
    EXPECT_EQ(mold(reflect(m, "words")), "[a c]");
    remove_key(m, unbound_word("b"));  // already gone
    EXPECT_EQ(length(m), 2);
    put(m, unbound_word("b"), value("20"));
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(cells(m), 6u);  // revived in place
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 1 b: 20 c: 3]");
    Cell s = m;
    EXPECT_RAISES(actions::remove(&s, nullptr, nullptr), err_cat::script, script::missing_arg);
}

TEST_F(MapTest, CaseRules) {
    Cell m = value("#[\"abc\" 1 key 2]");
    EXPECT_EQ(mold(select(m, text_value("ABC"))), "1");
    EXPECT_EQ(type_of(select(m, text_value("ABC"), true)), uint32_t(type_none));
    EXPECT_EQ(type_of(find(m, text_value("ABC"), true)), uint32_t(type_none));
    EXPECT_EQ(type_of(select(m, unbound_word("KEY"), true)), uint32_t(type_none));
    remove_key(m, text_value("ABC"));  // remove/key matches case-sensitively
    EXPECT_EQ(length(m), 2);
    put(m, text_value("ABC"), value("9"), true);  // a new key under /case
    EXPECT_EQ(length(m), 3);
    put(m, text_value("ABC"), value("7"));
    EXPECT_EQ(length(m), 3);
    remove_key(m, text_value("abc"));
    EXPECT_EQ(length(m), 2);
}

TEST_F(MapTest, TextKeysAreCopies) {
    Cell m = value("#[]");
    Cell key = text_value("k");
    put(m, key, value("1"));
    string_t::append_text(key, "x");
    EXPECT_EQ(mold(select(m, text_value("k"))), "1");
    EXPECT_EQ(mold(m, {.flat = true}), "#[\"k\" 1]");
    Cell at_index = text_value("xyz");
    at_index.w1 = 1;
    put(m, at_index, value("2"));
    EXPECT_EQ(mold(select(m, text_value("yz"))), "2");
    EXPECT_RAISES(put(m, value("[1]"), value("2")), err_cat::script, script::invalid_path);
    EXPECT_RAISES(put(m, Cell{type_none, 0, 0, 0}, value("2")), err_cat::script, script::invalid_path);
    EXPECT_EQ(length(m), 2);
}

TEST_F(MapTest, Reflect) {
    Cell m = value("#[a 1 \"s\" [x]]");
    EXPECT_EQ(mold(reflect(m, "words")), "[a \"s\"]");
    EXPECT_EQ(mold(reflect(m, "values")), "[1 [x]]");
    EXPECT_EQ(mold(reflect(m, "body")), "[\n    a: 1\n    \"s\" [x]\n]");
    EXPECT_RAISES(reflect(m, "spec"), err_cat::internal, err_id::internal::not_done);
    // block! make and to of a map give its body.
    Cell proto{type_datatype, type_block, 0, 0}, s = m;
    EXPECT_EQ(mold(*actions::to(&proto, &s)), "[\n    a: 1\n    \"s\" [x]\n]");
    s = m;
    EXPECT_EQ(mold(*actions::make(&proto, &s), {.flat = true}), "[a: 1 \"s\" [x]]");
}

TEST_F(MapTest, Equality) {
    Cell a = value("#[a 1 b \"x\"]"), b = value("#[b \"X\" a 1]"), c = value("#[a 1 b \"y\"]");
    EXPECT_TRUE(equal(a, b));
    EXPECT_FALSE(equal(a, b, registry::op_strict_equal));
    EXPECT_TRUE(equal(a, value("#[a 1 b \"x\"]"), registry::op_strict_equal));
    EXPECT_FALSE(equal(a, c));
    EXPECT_FALSE(equal(a, value("#[a 1]")));
    EXPECT_FALSE(equal(a, b, registry::op_same));
    EXPECT_TRUE(equal(a, a, registry::op_same));
    EXPECT_TRUE(equal(value("#[]"), value("#[]")));
    // Keys that differ only in case are tried in turn.
    EXPECT_TRUE(equal(make_map(value("[\"k\" 1 \"K\" 2]")), make_map(value("[\"K\" 2 \"k\" 1]"))));
    EXPECT_FALSE(equal(make_map(value("[\"k\" 1 \"K\" 2]")), make_map(value("[\"K\" 2 \"k\" 3]"))));
    remove_key(c, unbound_word("b"));
    EXPECT_TRUE(equal(c, value("#[a 1]")));
    Cell x = a, n = value("1");
    EXPECT_EQ(actions::compare_cells(&x, &n, registry::op_equal), registry::not_comparable);
}

TEST_F(MapTest, SelfContainingMaps) {
    Cell m = value("#[a 1]");
    put(m, unbound_word("self"), m);
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 1 self: #[...]]");
    EXPECT_TRUE(equal(m, m));
    Cell s = m, out{};
    EXPECT_RAISES(actions::copy(&s, &out, nullptr, true, nullptr), err_cat::internal, err_id::internal::no_cycle);
    EXPECT_EQ(series::cycle_depth(), 0u);
}

TEST_F(MapTest, CopyAndClear) {
    Cell m = value("#[a [1 2] b \"t\" c 3]");
    Cell s = m, shallow{}, deep{};
    actions::copy(&s, &shallow, nullptr, false, nullptr);
    actions::copy(&s, &deep, nullptr, true, nullptr);
    put(shallow, unbound_word("d"), value("4"));
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(select(shallow, unbound_word("a")).w2, select(m, unbound_word("a")).w2);
    EXPECT_NE(select(deep, unbound_word("a")).w2, select(m, unbound_word("a")).w2);
    EXPECT_NE(select(deep, unbound_word("b")).w2, select(m, unbound_word("b")).w2);
    EXPECT_TRUE(equal(deep, m));
    Cell types{type_datatype, type_string, 0, 0}, typed{};
    actions::copy(&s, &typed, nullptr, true, &types);
    EXPECT_EQ(select(typed, unbound_word("a")).w2, select(m, unbound_word("a")).w2);
    EXPECT_NE(select(typed, unbound_word("b")).w2, select(m, unbound_word("b")).w2);
    actions::clear(&s);
    EXPECT_EQ(length(m), 0);
    EXPECT_EQ(mold(m), "#[]");
    EXPECT_EQ(length(shallow), 4);
    put(m, unbound_word("z"), value("1"));
    EXPECT_EQ(mold(m, {.flat = true}), "#[z: 1]");
}

TEST_F(MapTest, SurvivesCollections) {
    Cell m = value("#[]");
    stack::push_copy(m);
    for (int i = 0; i < 200; ++i) put(*stack::top_cell(), Cell{type_integer, 0, uint32_t(i), 0}, text_value("v"));
    stress_collect();
    m = *stack::top_cell();
    EXPECT_EQ(length(m), 200);
    for (int i = 0; i < 200; i += 37) EXPECT_EQ(mold(select(m, Cell{type_integer, 0, uint32_t(i), 0})), "\"v\"");
    stack::pop_cells(1);
}

TEST_F(MapTest, AddPairsAndForeachStep) {
    Cell m = value("#[a 1]");
    map_t::add_pairs(&m, value("[A 2 b 3]"), false);
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 2 b: 3]");
    map_t::add_pairs(&m, value("[A 4]"), true);
    EXPECT_EQ(length(m), 3);
    EXPECT_RAISES(map_t::add_pairs(&m, value("[x]"), false), err_cat::script, script::invalid_arg);

    remove_key(m, unbound_word("b"));
    Cell k = word_t::make_global("k"), v = word_t::make_global("v");
    Cell words{};
    block_t::make_at(words, 2);
    block_t::append_value(words, k);
    block_t::append_value(words, v);
    std::string seen;
    Cell walk = m;
    while (map_t::foreach_step(words, &walk, 2)) seen += mold(*word_t::get(k)) + "=" + mold(*word_t::get(v)) + " ";
    EXPECT_EQ(seen, "a=2 A=4 ");
    EXPECT_EQ(type_of(*word_t::get(k)), uint32_t(type_none));
    Cell bad{};
    block_t::make_at(bad, 1);
    block_t::append_value(bad, value("1"));
    walk = m;
    EXPECT_RAISES(map_t::foreach_step(bad, &walk, 1), err_cat::script, script::invalid_arg);
}

}  // namespace
