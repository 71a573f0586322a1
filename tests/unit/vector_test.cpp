// vector!: make from each spec form, element widths and sign extension,
// mold and form, pick and poke through series!, append/insert/change,
// comparison and the element-wise arithmetic.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "runtime/error_catalog.h"
#include "tests/unit/literal_fixture.h"

using namespace vyr;
using namespace vyr::test;

namespace {

namespace script = err_id::script;

class VectorTest : public LiteralTest {
protected:
    static Cell make_vector(const Cell& spec) {
        Cell proto{type_datatype, type_vector, 0, 0}, s = spec;
        return *actions::make(&proto, &s);
    }
    static Cell make_vector(std::string_view spec) { return make_vector(value(spec)); }
    static Cell percent(double d) {
        Cell c{type_percent, 0, 0, 0};
        set_cell_float(c, d);
        return c;
    }
    static Cell math(Cell* (*fn)(), const Cell& a, const Cell& b) {
        Cell* base = stack::push_copy(a);
        stack::push_copy(b);
        stack::set_arg_base(base);
        Cell r = *fn();
        stack::stack_reset();
        return r;
    }
    static Cell pick(const Cell& v, int32_t i) {
        Cell s = v, index{type_integer, 0, uint32_t(i), 0};
        return *actions::pick(&s, i, &index);
    }
    static void poke(const Cell& v, int32_t i, const Cell& x) {
        Cell s = v, index{type_integer, 0, uint32_t(i), 0}, value = x;
        actions::poke(&s, i, &value, &index);
    }
};

TEST_F(VectorTest, MakeFromEachSpecForm) {
    struct Case {
        const char* spec;
        const char* mold;
    } cases[] = {
        {"3", "make vector! [0 0 0]"},
        {"2.7", "make vector! [0 0]"},
        {"0", "make vector! [0]"},
        {"[1 2 3]", "make vector! [1 2 3]"},
        {"[]", "make vector! [integer! 32 []]"},
        {"[1.5 2.25]", "make vector! [1.5 2.25]"},
        {"[#\"a\" #\"^/\"]", "make vector! [#\"a\" #\"^/\"]"},
        {"[integer! 16 [1 2 3]]", "make vector! [integer! 16 [1 2 3]]"},
        {"[integer! 16 5 [1 2]]", "make vector! [integer! 16 [1 2 0 0 0]]"},
        {"[integer! 32 2 [1 2 3]]", "make vector! [1 2 3]"},
        {"[integer! 8 [1 2 300 200 -1]]", "make vector! [integer! 8 [1 2 44 -56 -1]]"},
        {"[integer! 32 0]", "make vector! [0]"},
        {"[integer! 32 []]", "make vector! [integer! 32 []]"},
        {"[float! 32 [1.5 0.1]]", "make vector! [float! 32 [1.5 0.1]]"},
        {"[float! 64 2]", "make vector! [0.0 0.0]"},
        {"[char! 8 [#\"a\" #\"b\"]]", "make vector! [char! 8 [#\"a\" #\"b\"]]"},
        {"[char! 16 [#\"^(E9)\"]]", "make vector! [char! 16 [#\"\u00E9\"]]"},
        {"[percent! 32 1]", "make vector! [0%]"},
    };
    for (const auto& c : cases) EXPECT_EQ(mold(make_vector(c.spec)), c.mold) << c.spec;

    struct Bad {
        const char* spec;
        int category, id;
    } bad[] = {
        {"[1.5 2]", err_cat::script, script::invalid_arg},
        {"[char! 24 [#\"a\"]]", err_cat::script, script::bad_make_arg},
        {"[integer!]", err_cat::script, script::bad_make_arg},
        {"[string! 8 [1]]", err_cat::script, script::bad_make_arg},
        {"[float! 16 [1.0]]", err_cat::script, script::bad_make_arg},
        {"[integer! [1]]", err_cat::script, script::invalid_spec_field},
        {"[integer! 16]", err_cat::script, script::invalid_spec_field},
        {"[integer! 16 \"x\"]", err_cat::script, script::invalid_spec_field},
        {"[\"a\" \"b\"]", err_cat::script, script::invalid_type},
        {"[integer! 8 [#\"a\"]]", err_cat::script, script::invalid_arg},
        {"\"x\"", err_cat::internal, err_id::internal::not_done},
    };
    for (const auto& b : bad) EXPECT_RAISES(make_vector(b.spec), b.category, b.id);
}

TEST_F(VectorTest, PercentVectors) {
    Cell spec{};
    block_t::make_at(spec, 2);
    block_t::append_value(spec, unbound_word("percent!"));
    Cell values{};
    block_t::make_at(values, 2);
    block_t::append_value(values, percent(0.1));
    block_t::append_value(values, percent(0.255));
    block_t::append_value(spec, values);
    Cell v = make_vector(spec);
    EXPECT_EQ(memory::buffer_of(v.w2)->unit(), 8u);
    EXPECT_EQ(mold(v), "make vector! [10% 25.5%]");
    EXPECT_EQ(form(v), "10% 25.5%");
    EXPECT_EQ(type_of(pick(v, 2)), uint32_t(type_percent));
}

TEST_F(VectorTest, FormAndMoldOptions) {
    Cell v = make_vector("[#\"a\" #\"b\" #\"c\"]");
    EXPECT_EQ(form(v), "a b c");
    v.w1 = 1;
    EXPECT_EQ(mold(v), "make vector! [#\"b\" #\"c\"]");
    Cell w = make_vector("[integer! 16 [1 2]]");
    EXPECT_EQ(mold(w, {.only = true}), "integer! 16 [1 2");
    EXPECT_EQ(mold(make_vector("[1 2]"), {.only = true}), "1 2");
    std::string cut = mold(make_vector("[1 2 3 4 5 6]"), {.part = 16});
    EXPECT_EQ(cut.substr(0, 16), "make vector! [1 ");
    EXPECT_EQ(cut.find('6'), std::string::npos);
}

TEST_F(VectorTest, PickAndPokeThroughSeries) {
    Cell v = make_vector("[integer! 8 3]");
    poke(v, 1, value("200"));
    poke(v, 2, value("-1"));
    poke(v, 3, value("300"));
    EXPECT_EQ(integer_t::get(pick(v, 1)), -56);
    EXPECT_EQ(integer_t::get(pick(v, 2)), -1);
    EXPECT_EQ(integer_t::get(pick(v, 3)), 44);
    EXPECT_EQ(type_of(pick(v, 4)), uint32_t(type_none));
    EXPECT_RAISES(poke(v, 1, value("1.5")), err_cat::script, script::invalid_arg);
    EXPECT_RAISES(poke(v, 4, value("1")), err_cat::script, script::out_of_range);

    Cell c = make_vector("[char! 8 1]");
    poke(c, 1, value("#\"^(E9)\""));
    EXPECT_EQ(char_t::get(pick(c, 1)), 0xE9u);  // characters are not sign-extended
    Cell f = make_vector("[float! 32 1]");
    poke(f, 1, value("0.1"));
    EXPECT_EQ(float_t::get(pick(f, 1)), double(0.1f));
    poke(f, 1, value("1e300"));
    EXPECT_TRUE(std::isinf(float_t::get(pick(f, 1))));

    Cell t = make_vector("[5 6 7]");
    Cell s = t;
    Cell taken = *actions::take(&s, nullptr, false, false);
    EXPECT_EQ(integer_t::get(taken), 5);
    Cell part{type_integer, 0, 2, 0};
    s = t;
    Cell two = *actions::take(&s, &part, false, false);
    EXPECT_EQ(mold(two), "make vector! [6 7]");
    EXPECT_EQ(mold(t), "make vector! [integer! 32 []]");

    Cell proto{type_datatype, type_block, 0, 0}, w = make_vector("[integer! 16 [1 -2 3]]");
    w.w1 = 1;
    EXPECT_EQ(mold(*actions::make(&proto, &w)), "[-2 3]");
    w = make_vector("[1.5]");
    EXPECT_EQ(mold(*actions::to(&proto, &w)), "[1.5]");
}

TEST_F(VectorTest, AppendInsertChange) {
    Cell v = make_vector("[1 2]");
    Cell s = v, x = value("[3 4]");
    Cell r = *actions::append(&s, &x, -1, false, 2);
    EXPECT_EQ(r.w1, 0u);
    EXPECT_EQ(mold(v), "make vector! [1 2 3 4 3 4]");
    s = v;
    s.w1 = 1;
    x = value("9");
    r = *actions::insert(&s, &x, -1, false, 1);
    EXPECT_EQ(r.w1, 2u);
    EXPECT_EQ(mold(v), "make vector! [1 9 2 3 4 3 4]");
    s = v;
    x = value("[7 8 9]");
    actions::insert(&s, &x, 2, false, 1);
    EXPECT_EQ(mold(v), "make vector! [7 8 1 9 2 3 4 3 4]");
    s = v, x = value("[1 1.5]");
    EXPECT_RAISES(actions::append(&s, &x, -1, false, 1), err_cat::script, script::invalid_arg);
    EXPECT_EQ(mold(v), "make vector! [7 8 1 9 2 3 4 3 4]");  // nothing stored
    x = Cell{type_none, 0, 0, 0};
    actions::append(&s, &x, -1, false, 1);
    EXPECT_EQ(series_t::buffer_length(v), 9);

    Cell c = make_vector("[1 2 3 4 5]");
    s = c, s.w1 = 1, x = value("[0 0 0]");
    r = *actions::change(&s, &x, 1, false, 1);
    EXPECT_EQ(mold(c), "make vector! [1 0 0 0 3 4 5]");
    EXPECT_EQ(r.w1, 4u);
    s = c, s.w1 = 5, x = value("[8 8 8]");
    actions::change(&s, &x, -1, false, 1);
    EXPECT_EQ(mold(c), "make vector! [1 0 0 0 3 8 8 8]");
    s = c, x = make_vector("[6 6]");
    actions::change(&s, &x, -1, false, 2);
    EXPECT_EQ(mold(c), "make vector! [6 6 6 6 3 8 8 8]");
    s = c, x = make_vector("[1.0]");
    EXPECT_RAISES(actions::change(&s, &x, -1, false, 1), err_cat::script, script::invalid_arg);

    Cell grow = make_vector("[integer! 16 0]");
    for (int i = 0; i < 100; ++i) {
        s = grow, x = Cell{type_integer, 0, uint32_t(i), 0};
        actions::append(&s, &x, -1, false, 1);
    }
    EXPECT_EQ(integer_t::get(pick(grow, 1)), 0);  // a count of 0 still makes one element
    EXPECT_EQ(integer_t::get(pick(grow, 101)), 99);
}

TEST_F(VectorTest, Comparison) {
    Cell a = make_vector("[1 2 3]"), b = make_vector("[integer! 8 [1 2 3]]"), c = make_vector("[1 2 4]");
    auto cmp = [](Cell x, Cell y, int32_t op) { return actions::compare_cells(&x, &y, op); };
    EXPECT_EQ(cmp(a, b, registry::op_equal), 0);
    EXPECT_NE(cmp(a, b, registry::op_same), 0);
    EXPECT_EQ(cmp(a, a, registry::op_same), 0);
    EXPECT_EQ(cmp(a, c, registry::op_lesser), -1);
    EXPECT_NE(cmp(a, make_vector("[1 2]"), registry::op_equal), 0);
    EXPECT_EQ(cmp(make_vector("[1 2]"), a, registry::op_lesser), -1);
    EXPECT_EQ(cmp(a, value("1"), registry::op_equal), registry::not_comparable);
    Cell x = a, y = make_vector("[1.0 2.0 3.0]");
    EXPECT_RAISES(actions::compare_cells(&x, &y, registry::op_equal), err_cat::script, script::not_same_type);
}

TEST_F(VectorTest, Arithmetic) {
    Cell v = make_vector("[1 2 3]");
    Cell r = math(vector_t::add, v, value("1"));
    EXPECT_EQ(r.w2, v.w2);  // changed in place
    EXPECT_EQ(mold(v), "make vector! [2 3 4]");
    Cell w = math(vector_t::add, v, v);
    EXPECT_NE(w.w2, v.w2);
    EXPECT_EQ(mold(w), "make vector! [4 6 8]");
    EXPECT_EQ(mold(v), "make vector! [2 3 4]");
    math(vector_t::multiply, v, value("2.9"));  // the operand truncated to 2
    EXPECT_EQ(mold(v), "make vector! [4 6 8]");
    math(integer_t::subtract, value("1"), v);  // element op operand
    EXPECT_EQ(mold(v), "make vector! [3 5 7]");
    math([] { return char_t::do_math(integer_t::op_add); }, value("#\"^A\""), v);
    EXPECT_EQ(mold(v), "make vector! [4 6 8]");
    EXPECT_RAISES(math(vector_t::divide, v, value("0")), err_cat::math, err_id::math::zero_divide);

    Cell b = make_vector("[integer! 8 [100 -100]]");
    math(vector_t::add, b, value("100"));
    EXPECT_EQ(mold(b), "make vector! [integer! 8 [-56 0]]");
    Cell big = make_vector("[2147483647]");
    math(vector_t::add, big, value("1"));
    EXPECT_EQ(mold(big), "make vector! [-2147483648]");

    Cell f = make_vector("[1.5 2.5]");
    math(float_t::multiply, value("2"), f);
    EXPECT_EQ(mold(f), "make vector! [3.0 5.0]");
    Cell g = math(vector_t::subtract, f, make_vector("[float! 32 [1.0 1.0 1.0]]"));
    EXPECT_EQ(mold(g), "make vector! [2.0 4.0]");
    EXPECT_RAISES(math(vector_t::add, f, v), err_cat::script, script::not_same_type);
    Cell bits = make_vector("[12 10]");
    EXPECT_EQ(mold(math(vector_t::and_t, bits, make_vector("[10 6]"))), "make vector! [8 2]");
    math(vector_t::xor_t, bits, value("1"));
    EXPECT_EQ(mold(bits), "make vector! [13 11]");
    EXPECT_RAISES(math(vector_t::add, v, value("\"x\"")), err_cat::internal, err_id::internal::not_done);
}

TEST_F(VectorTest, IdentityOperandsLeaveTheVector) {
    // Even NaN elements stay as they are: nothing is computed.
    Cell f = make_vector("[1.#NaN 2.0]");
    Cell before = f;
    struct Case {
        Cell* (*fn)();
        const char* operand;
    } cases[] = {{vector_t::add, "0"}, {vector_t::subtract, "0.0"}, {vector_t::multiply, "1"}, {vector_t::divide, "1.0"}};
    for (auto [fn, operand] : cases) {
        math(fn, f, value(operand));
        EXPECT_EQ(mold(f), "make vector! [1.#NaN 2.0]") << operand;
    }
    EXPECT_EQ(f.w2, before.w2);
    Cell c = make_vector("[char! 8 [#\"a\"]]");
    math(vector_t::add, c, value("1"));
    EXPECT_EQ(mold(c), "make vector! [char! 8 [#\"b\"]]");
}

TEST_F(VectorTest, InheritedSeriesActionsKeepTheElements) {
    Cell v = make_vector("[1.5 2.5 3.5 4.5]");
    Cell s = v;
    actions::reverse(&s, nullptr, nullptr);
    EXPECT_EQ(mold(v), "make vector! [4.5 3.5 2.5 1.5]");
    Cell part{type_integer, 0, 2, 0}, copied{};
    s = v, s.w1 = 1;
    actions::copy(&s, &copied, &part, false, nullptr);
    EXPECT_EQ(mold(copied), "make vector! [3.5 2.5]");
    s = v, s.w1 = 1;
    actions::remove(&s, nullptr, nullptr);
    EXPECT_EQ(mold(v), "make vector! [4.5 2.5 1.5]");
    s = v;
    EXPECT_EQ(actions::length_q(&s), 3);
    s = v, s.w1 = 2;
    actions::clear(&s);
    EXPECT_EQ(mold(v), "make vector! [4.5 2.5]");
}

}  // namespace
