// paren! and the path types: construction, mold, form and their rows of
// the action table.
#include <gtest/gtest.h>

#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "tests/unit/block_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

using PathTest = BlockTest;

TEST_F(PathTest, MoldAndFormOfParensAndPaths) {
    Cell a = W("a"), b = W("b");
    Cell paren = B({a, b}, type_paren);
    EXPECT_EQ(mold(paren), "(a b)");
    EXPECT_EQ(mold(paren, {.only = true}), "a b");
    EXPECT_EQ(form(paren), "a b");
    EXPECT_EQ(mold(B({with_new_line(a), with_new_line(b)}, type_paren)), "(\n    a\n    b\n)");

    struct Case {
        uint32_t type;
        const char* molded;
    } cases[] = {
        {type_path, "a/b/1"}, {type_set_path, "a/b/1:"}, {type_lit_path, "'a/b/1"}, {type_get_path, ":a/b/1"}};
    for (const Case& c : cases) {
        Cell p = B({a, with_new_line(b), I(1)}, c.type);  // no new-line handling in paths
        EXPECT_EQ(mold(p), c.molded);
        EXPECT_EQ(form(p), "a/b/1");
    }
    Cell in_block = B({B({a, B({I(1), I(2)}, type_paren)}, type_path)});
    EXPECT_EQ(mold(in_block), "[a/(1 2)]");
    EXPECT_EQ(mold(B({a, b, I(1)}, type_path), {.part = 3}), "a/b");

    Cell self = B({a}, type_path);  // a path inside itself
    block_t::append_value(self, self);
    EXPECT_EQ(mold(self), "a/...");
    Cell self_paren = B({a}, type_paren);
    block_t::append_value(self_paren, self_paren);
    EXPECT_EQ(mold(self_paren), "(a (...))");
    EXPECT_EQ(form(self_paren), "a ...");
}

TEST_F(PathTest, MakeAndTo) {
    Cell proto = B({}), spec = I(0);
    path_t::make(&proto, &spec, type_path);
    EXPECT_EQ(type_of(proto), uint32_t(type_path));
    EXPECT_EQ(series_t::buffer_length(proto), 0);
    EXPECT_GE(memory::buffer_of(proto.w2)->capacity, 16u);

    Cell items = B({W("a"), W("b")});
    auto make = registry::action<registry::action_sig::make>(type_set_path, registry::slot_make);
    make(&proto, &items, type_set_path);  // the children use path!'s make
    EXPECT_EQ(mold(proto), "a/b:");
    EXPECT_NE(proto.w2, items.w2);

    Cell typeset{type_typeset, 0, 0, 0};
    path_t::to(&proto, &typeset, type_path);
    EXPECT_EQ(series_t::buffer_length(proto), 1);
    EXPECT_EQ(type_of(*block_t::cell_at(proto, 0)), uint32_t(type_typeset));
    Cell word = W("x");
    path_t::to(&proto, &word, type_get_path);
    EXPECT_EQ(mold(proto), ":x");

    Cell p = B({W("a")}, type_lit_path), copy;
    auto copy_fn = registry::action<registry::action_sig::copy>(type_lit_path, registry::slot_copy);
    copy_fn(&p, &copy, nullptr, false, nullptr);
    EXPECT_EQ(mold(copy), "'a");
}

TEST_F(PathTest, MakeFromAnUnsupportedSpecRaises) {
    Cell proto = B({}), spec = W("x");
    EXPECT_RAISES(path_t::make(&proto, &spec, type_path), err_cat::script, err_id::script::bad_make_arg);
}

// Rows of the action table: what the types leave out and what they share.
TEST_F(PathTest, ActionRows) {
    using namespace registry;
    for (uint32_t t : {type_path, type_lit_path, type_set_path, type_get_path}) {
        EXPECT_EQ(get_action(t, slot_sort), unsupported) << t;
        EXPECT_EQ(get_action(t, slot_random), unsupported) << t;
        EXPECT_EQ(get_action(t, slot_trim), unsupported) << t;
        EXPECT_EQ(get_action(t, slot_find), get_action(type_block, slot_find)) << t;
        EXPECT_EQ(get_action(t, slot_next), get_action(type_series, slot_next)) << t;
        EXPECT_EQ(get_action(t, slot_make), act(path_t::make)) << t;
    }
    EXPECT_EQ(get_action(type_paren, slot_trim), unsupported);
    EXPECT_EQ(get_action(type_paren, slot_sort), get_action(type_block, slot_sort));
    EXPECT_EQ(get_action(type_paren, slot_mold), act(paren_t::mold));
    EXPECT_EQ(get_action(type_block, slot_insert), get_action(type_block, slot_append));
    EXPECT_EQ(get_action(type_block, slot_add), unsupported);
    EXPECT_EQ(get_action(type_block, slot_pick), act(series_t::pick));
}

TEST_F(PathTest, PushHelpers) {
    Cell* top = stack::top();
    Cell c = B({W("a")});
    EXPECT_EQ(type_of(*path_t::push(c)), uint32_t(type_path));
    EXPECT_EQ(type_of(*set_path_t::push(c)), uint32_t(type_set_path));
    EXPECT_EQ(type_of(*get_path_t::push(c)), uint32_t(type_get_path));
    EXPECT_EQ(type_of(*lit_path_t::push(c)), uint32_t(type_lit_path));
    EXPECT_EQ(type_of(*paren_t::push(c)), uint32_t(type_paren));
    EXPECT_EQ(stack::top(), top + 5);
    Cell made;
    path_t::make_at(made, 3);
    EXPECT_EQ(type_of(made), uint32_t(type_path));
    stack::set_top(top);
}

}  // namespace
