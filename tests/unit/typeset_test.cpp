// typeset!: making from blocks, mold and form, membership, comparison and
// the set operations.
#include <gtest/gtest.h>

#include "datatypes/typeset.h"
#include "runtime/stack.h"
#include "fixture.h"
#include "value_helpers.h"

using namespace vyr;
using namespace vyr::test;
namespace script = err_id::script;

namespace {

class TypesetTest : public RuntimeTest {
protected:
    Cell make_from(std::initializer_list<Cell> cells) {
        Cell spec = block_of(cells);
        Cell result{};
        return *typeset_t::make(&result, &spec, type_typeset);
    }
    // Runs do_bitwise on two arguments pushed at a fresh base.
    Cell bitwise(const Cell& a, const Cell& b, int32_t code) {
        stack::Mark mark;
        Cell* base = stack::push_copy(a);
        stack::push_copy(b);
        stack::set_arg_base(base);
        Cell r = *typeset_t::do_bitwise(code);
        mark.restore();
        return r;
    }
};

}  // namespace

TEST_F(TypesetTest, MoldAndForm) {
    Cell ts = make_from({type_cell(type_integer), type_cell(type_float)});
    EXPECT_EQ(mold_text(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(mold_text(ts, true), "integer! float!");
    EXPECT_EQ(form_text(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(mold_text(make_from({})), "make typeset! []");
    EXPECT_EQ(mold_text(make_from({}), true), "");
    // Order is by type id, not by their order in the block.
    EXPECT_EQ(mold_text(make_from({type_cell(type_float), type_cell(type_logic)}), true), "logic! float!");
}

TEST_F(TypesetTest, MoldBudgetCountsWhatStays) {
    Cell ts = make_from({type_cell(type_integer), type_cell(type_float)});
    Cell buffer;
    string_t::make_at(buffer, 64);
    int32_t left = typeset_t::mold_types(ts, &buffer, false, false, 100);
    EXPECT_EQ(left, 100 - int32_t(text_of(buffer).size()));
    // With /part the walk stops once the budget is spent.
    string_t::make_at(buffer, 64);
    Cell part = int_cell(3);
    auto mold = registry::action<registry::action_sig::mold>(type_typeset, registry::slot_mold);
    mold(&ts, &buffer, true, false, false, &part, 3, 0);
    EXPECT_EQ(text_of(buffer), "integer!");
}

TEST_F(TypesetTest, MakeFromWordsTypesetsAndErrors) {
    Cell number = make_from({type_cell(type_integer), type_cell(type_float)});
    Cell w = word_of("my-number!");
    word_t::set(w, number);
    Cell ts = make_from({w, type_cell(type_string)});
    EXPECT_TRUE(typeset_t::has(ts, type_integer));
    EXPECT_TRUE(typeset_t::has(ts, type_float));
    EXPECT_TRUE(typeset_t::has(ts, type_string));
    EXPECT_EQ(typeset_t::count(ts), 3);

    Cell result{};
    Cell bad = block_of({type_cell(type_integer), int_cell(5)});
    EXPECT_RAISES(typeset_t::make(&result, &bad, type_typeset), err_cat::script, script::invalid_arg);
    Cell five = int_cell(5);
    EXPECT_RAISES(typeset_t::make(&result, &five, type_typeset), err_cat::script, script::bad_to_arg);
    Cell unset_word = block_of({word_of("never-set-here")});
    EXPECT_RAISES(typeset_t::make(&result, &unset_word, type_typeset), err_cat::script, script::no_value);
    // A typeset makes itself.
    EXPECT_EQ(compare_cells(*typeset_t::make(&result, &number, type_typeset), number, registry::op_equal), 0);
}

TEST_F(TypesetTest, Find) {
    Cell ts = make_from({type_cell(type_integer)});
    Cell integer = type_cell(type_integer), string = type_cell(type_string), five = int_cell(5);
    Cell v = ts;
    typeset_t::find(&v, &integer, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(v.header, uint32_t(type_logic));
    EXPECT_EQ(v.w1, 1u);
    v = ts;
    typeset_t::find(&v, &string, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(v.w1, 0u);
    v = ts;
    EXPECT_RAISES(typeset_t::find(&v, &five, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                  false, false),
                  err_cat::script, script::invalid_arg);
}

TEST_F(TypesetTest, SetOperations) {
    Cell ints = make_from({type_cell(type_integer)});
    Cell both = bitwise(ints, type_cell(type_float), 9);  // union with a datatype
    EXPECT_TRUE(typeset_t::has(both, type_float));
    EXPECT_TRUE(typeset_t::has(both, type_integer));
    Cell only_float = bitwise(both, type_cell(type_integer), 11);  // exclude
    EXPECT_FALSE(typeset_t::has(only_float, type_integer));
    EXPECT_TRUE(typeset_t::has(only_float, type_float));
    EXPECT_EQ(compare_cells(bitwise(both, ints, 8), both, registry::op_equal), 0);  // unique: the first
    EXPECT_EQ(typeset_t::count(bitwise(both, ints, 10)), 1);                        // intersect
    EXPECT_EQ(typeset_t::count(bitwise(both, ints, 12)), 1);                        // difference
    EXPECT_RAISES(bitwise(ints, int_cell(1), 9), err_cat::script, script::invalid_arg);
}

TEST_F(TypesetTest, ComplementAndAllTypes) {
    Cell empty = make_from({});
    typeset_t::complement(&empty);
    EXPECT_EQ(typeset_t::count(empty), int32_t(registry::highest_type()));
    EXPECT_TRUE(typeset_t::has(empty, type_unset));

    Cell block = block_of({});
    Cell all = *typeset_t::load_all_in(block);
    EXPECT_FALSE(typeset_t::has(all, type_unset));
    EXPECT_EQ(typeset_t::count(all), int32_t(registry::highest_type()) - 1);
}

TEST_F(TypesetTest, CompareAndSpecBlocks) {
    Cell a = make_from({type_cell(type_integer), type_cell(type_float)});
    Cell b = make_from({type_cell(type_float), type_cell(type_integer)});
    Cell c = make_from({type_cell(type_integer)});
    EXPECT_EQ(compare_cells(a, b, registry::op_equal), 0);
    EXPECT_EQ(compare_cells(a, c, registry::op_equal), 1);
    EXPECT_EQ(compare_cells(a, c, registry::op_sort), 1);
    EXPECT_EQ(compare_cells(a, c, registry::op_lesser), registry::not_comparable);
    EXPECT_EQ(compare_cells(a, block_of({}), registry::op_equal), registry::not_comparable);

    // A spec type block: a word whose value is a word stands for object!.
    Cell w = word_of("some-word");
    Cell holder = word_of("holds-a-word");
    word_t::set(holder, w);
    Cell into = block_of({});
    Cell spec = block_of({type_cell(type_block), holder, block_of({})});
    Cell ts = *typeset_t::load_from_block(into, spec);
    EXPECT_TRUE(typeset_t::has(ts, type_block));
    EXPECT_TRUE(typeset_t::has(ts, type_object));
    Cell bad = block_of({int_cell(1)});
    EXPECT_RAISES(typeset_t::load_from_block(into, bad), err_cat::script, script::invalid_type_spec);

    Cell names;
    typeset_t::to_block(a, names);
    ASSERT_EQ(memory::series_length(names.w2), 2u);
    EXPECT_EQ(name_of(*memory::cell_at(names.w2, 0)), "integer!");
    EXPECT_EQ(name_of(*memory::cell_at(names.w2, 1)), "float!");
}
