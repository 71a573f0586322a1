// char!: make and to, form, mold, comparison.
#include <gtest/gtest.h>

#include "datatypes/char.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "runtime/stack.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;
namespace te = vyr::text_errors;

namespace char_t_test {
Cell* make(Cell* proto, Cell* spec) {
    return registry::action<registry::action_sig::make>(type_char, registry::slot_make)(proto, spec, type_char);
}
}  // namespace char_t_test

using CharTest = RuntimeTest;
using CharErrorTest = RuntimeTest;

TEST_F(CharTest, MakeFromTextNumbersAndUtf8) {
    Cell result;
    Cell abc = text("abc");
    char_t_test::make(&result, &abc);
    EXPECT_EQ(type_of(result), uint32_t(type_char));
    EXPECT_EQ(result.w2, uint32_t('a'));
    Cell f{type_float, 0, 0, 0};
    set_cell_float(f, 65.9);
    char_t_test::make(&result, &f);
    EXPECT_EQ(result.w2, uint32_t('A'));
    Cell top = te::integer_cell(0x10FFFF);
    char_t_test::make(&result, &top);
    EXPECT_EQ(result.w2, 0x10FFFFu);
    Cell bin;
    string_t::make_from_units_at(bin, "\xE2\x82\xACz", 4, 1);
    set_type(bin, type_binary);
    char_t_test::make(&result, &bin);
    EXPECT_EQ(result.w2, 0x20ACu);
}

TEST_F(CharErrorTest, MakeErrors) {
    Cell result, empty = text(""), minus = te::integer_cell(-1), big = te::integer_cell(0x110000);
    EXPECT_RAISES(char_t_test::make(&result, &empty), err_cat::script, err_id::script::bad_to_arg);
    EXPECT_RAISES(char_t_test::make(&result, &minus), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(char_t_test::make(&result, &big), err_cat::script, err_id::script::out_of_range);
    Cell cut;
    string_t::make_from_units_at(cut, "\xE2\x82", 2, 1);
    set_type(cut, type_binary);
    EXPECT_RAISES(char_t_test::make(&result, &cut), err_cat::access, err_id::access::invalid_utf8);
    Cell stray;
    string_t::make_from_units_at(stray, "\x80", 1, 1);
    set_type(stray, type_binary);
    EXPECT_RAISES(char_t_test::make(&result, &stray), err_cat::access, err_id::access::invalid_utf8);
    Cell none{type_none, 0, 0, 0};
    EXPECT_RAISES(char_t_test::make(&result, &none), err_cat::script, err_id::script::bad_to_arg);
}

TEST_F(CharTest, MoldAndForm) {
    struct Case {
        uint32_t cp;
        bool all;
        const char* molded;
    } cases[] = {
        {'a', false, "#\"a\""},       {0, false, "#\"^@\""},      {'"', false, "#\"^\"\""},
        {127, false, "#\"^~\""},      {10, false, "#\"^/\""},     {150, false, "#\"^(96)\""},
        {0xE9, false, "#\"\u00E9\""}, {0xE9, true, "#\"^(E9)\""}, {0x1F600, true, "#\"^(1F600)\""},
    };
    auto mold = registry::action<registry::action_sig::mold>(type_char, registry::slot_mold);
    for (const auto& c : cases) {
        Cell v = char_t::make_cell(c.cp), out;
        string_t::make_at(out, 0);
        EXPECT_EQ(mold(&v, &out, false, c.all, false, nullptr, 100, 0), 96);
        EXPECT_EQ(utf8_of(out), c.molded) << c.cp;
    }
    auto form = registry::action<registry::action_sig::form>(type_char, registry::slot_form);
    Cell v = char_t::make_cell(0x20AC), out;
    string_t::make_at(out, 0);
    EXPECT_EQ(form(&v, &out, nullptr, 10), 9);
    EXPECT_EQ(code_points(out), U"\u20AC");
}

TEST_F(CharTest, CompareWithCharsAndIntegers) {
    using namespace registry;
    auto compare = action<action_sig::compare>(type_char, slot_compare);
    Cell a = char_t::make_cell('a'), big_a = char_t::make_cell('A'), n97 = te::integer_cell(97);
    EXPECT_EQ(compare(&a, &n97, op_equal), 0);
    EXPECT_EQ(compare(&a, &n97, op_strict_equal), 1);
    EXPECT_EQ(compare(&a, &big_a, op_equal), 1);  // no case folding
    EXPECT_EQ(compare(&big_a, &a, op_lesser), -1);
    Cell s = text("a");
    EXPECT_EQ(compare(&a, &s, op_equal), not_comparable);
    EXPECT_EQ(compare(&a, &s, op_find), 1);
}

// ---- Arithmetic through the integer core --------------------------------------------

namespace {
// Runs a char! action on two operands at a fresh argument base; answers the result.
Cell math(registry::Slot slot, const Cell& a, const Cell& b) {
    stack::Mark mark;
    Cell* base = stack::push_copy(a);
    stack::push_copy(b);
    stack::set_arg_base(base);
    Cell r = *registry::action<registry::action_sig::direct>(type_char, slot)();
    mark.restore();
    return r;
}
}  // namespace

TEST_F(CharTest, ArithmeticStaysAChar) {
    using namespace registry;
    struct Case {
        Slot slot;
        uint32_t cp;
        Cell other;
        uint32_t expected;
    } cases[] = {
        {slot_add, 'a', te::integer_cell(1), 'b'},
        {slot_subtract, 'b', char_t::make_cell(1), 'a'},
        {slot_divide, 'a', te::integer_cell(2), '0'},  // truncated, not float
        {slot_multiply, '!', te::integer_cell(2), 'B'},
        {slot_remainder, 'a', te::integer_cell(10), 7},
        {slot_or_t, 'A', te::integer_cell(32), 'a'},
        {slot_and_t, 'a', te::integer_cell(0x5F), 'A'},
        {slot_xor_t, 'a', te::integer_cell(32), 'A'},
    };
    for (const auto& c : cases) {
        Cell r = math(c.slot, char_t::make_cell(c.cp), c.other);
        EXPECT_EQ(type_of(r), uint32_t(type_char)) << c.slot;
        EXPECT_EQ(r.w2, c.expected) << c.slot;
    }
    Cell f{type_float, 0, 0, 0};
    set_cell_float(f, 1.9);
    EXPECT_EQ(math(slot_add, char_t::make_cell('a'), f).w2, uint32_t('b'));
}

TEST_F(CharErrorTest, ArithmeticOutOfRange) {
    using namespace registry;
    EXPECT_RAISES(math(slot_subtract, char_t::make_cell('a'), te::integer_cell(98)), err_cat::math,
                  err_id::math::overflow);
    EXPECT_RAISES(math(slot_add, char_t::make_cell(0x10FFFF), te::integer_cell(1)), err_cat::math,
                  err_id::math::overflow);
    EXPECT_RAISES(math(slot_multiply, char_t::make_cell(0x10FFFF), te::integer_cell(0x10FFFF)), err_cat::math,
                  err_id::math::overflow);
    EXPECT_RAISES(math(slot_divide, char_t::make_cell('a'), te::integer_cell(0)), err_cat::math,
                  err_id::math::zero_divide);
    EXPECT_RAISES(math(slot_add, char_t::make_cell('a'), text("x")), err_cat::script, err_id::script::invalid_type);
}
