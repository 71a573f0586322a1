// datatype!, unset!, none! and logic!: helpers, truth tests and actions,
// called through the action table as the generic entries call them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/datatype.h"
#include "datatypes/datatypes.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::registry;

namespace {
class SimpleTypesTest : public test::RuntimeTest {};

Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }
Cell float_of(double d, uint32_t type = type_float) {
    Cell c{type, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
Cell block_of(uint32_t cells) { return Cell{type_block, 0, memory::alloc_cells(cells), 0}; }

int32_t compare(Cell a, Cell b, int32_t op) { return action<action_sig::compare>(type_of(a), slot_compare)(&a, &b, op); }

// Runs `body`, which must raise (category, id); answers the error record.
template <typename F>
const errors::ErrorRecord& raised(F body, int category, int id) {
    test::expect_raises(body, category, id, "");
    return errors::last_error();
}
}  // namespace

TEST_F(SimpleTypesTest, RegisteredWithTheirNamesAndOnlyTheirSlots) {
    EXPECT_STREQ(type_name(type_datatype).name, "datatype!");
    EXPECT_EQ(type_name(type_datatype).length, 8u);
    EXPECT_STREQ(type_name(type_unset).name, "unset!");
    EXPECT_STREQ(type_name(type_none).name, "none!");
    EXPECT_STREQ(type_name(type_logic).name, "logic!");
    EXPECT_EQ(type_name(type_logic).length, 5u);
    EXPECT_EQ(get_action(type_none, slot_append), unsupported);
    EXPECT_EQ(get_action(type_unset, slot_length_q), unsupported);
    EXPECT_EQ(get_action(type_datatype, slot_make), unsupported);
    EXPECT_NE(get_action(type_none, slot_take), unsupported);
    EXPECT_EQ(get_action(type_none, slot_make), get_action(type_none, slot_to));
    EXPECT_NE(get_action(type_logic, slot_make), get_action(type_logic, slot_to));
    EXPECT_EQ(get_action(type_logic, slot_negate), unsupported);
}

TEST_F(SimpleTypesTest, PushBoxAndLoadIn) {
    Cell* base = stack::push_copy(integer(99));
    stack::set_arg_base(base);
    EXPECT_EQ(type_of(*none_t::box()), uint32_t(type_none));
    EXPECT_EQ(type_of(*unset_t::box()), uint32_t(type_unset));
    EXPECT_EQ(logic_t::get(*logic_t::box(true)), 1u);
    EXPECT_EQ(stack::arg_base(), base);

    EXPECT_EQ(type_of(*none_t::push()), uint32_t(type_none));
    EXPECT_EQ(type_of(*unset_t::push()), uint32_t(type_unset));
    EXPECT_EQ(logic_t::get(*logic_t::push(false)), 0u);
    EXPECT_EQ(datatype_t::get(*datatype_t::push(type_block)), uint32_t(type_block));
    EXPECT_EQ(stack::top(), base + 5);

    Cell block = block_of(1);  // room for one: the later ones grow the block
    datatype_t::load_in(block, type_string);
    unset_t::load_in(block);
    none_t::load_in(block);
    logic_t::load_in(block, true);
    ASSERT_EQ(memory::series_length(block.w2), 4u);
    const Cell* c = memory::cell_head(block.w2);
    EXPECT_EQ(c[0].header, uint32_t(type_datatype));
    EXPECT_EQ(c[0].w1, uint32_t(type_string));
    EXPECT_EQ(c[1].header, uint32_t(type_unset));
    EXPECT_EQ(c[2].header, uint32_t(type_none));
    EXPECT_EQ(c[3].header, uint32_t(type_logic));
    EXPECT_EQ(c[3].w1, 1u);
}

TEST_F(SimpleTypesTest, OnlyNoneAndFalseAreFalse) {
    struct {
        Cell value;
        bool truth;
    } cases[] = {
        {none_t::value, false},      {logic_t::false_value, false}, {Cell{type_logic, 2, 0, 0}, false},
        {logic_t::true_value, true}, {integer(0), true},            {float_of(0.0), true},
        {unset_t::value, true},      {block_of(0), true},           {datatype_t::value_of(type_none), true},
    };
    for (auto& c : cases) {
        EXPECT_EQ(logic_t::true_q(c.value, false), c.truth) << type_of(c.value);
        stack::stack_init();
        stack::push_copy(c.value);
        EXPECT_EQ(logic_t::arg_false_q(), !c.truth);
        EXPECT_EQ(logic_t::top_false_q(), !c.truth);
        EXPECT_EQ(logic_t::top_true_q(), c.truth);
        if (type_of(c.value) != type_unset) {
            EXPECT_EQ(logic_t::arg_true_q(), c.truth);
        }
        // The top of the stack, not the argument base, once more is pushed.
        stack::push_copy(c.truth ? none_t::value : logic_t::true_value);
        EXPECT_EQ(logic_t::top_true_q(), !c.truth);
    }
}

TEST_F(SimpleTypesTest, UnsetChecksRaise) {
    Cell word = integer(4);  // stands for the word whose value was read
    const auto& e = raised([&] { logic_t::true_q(unset_t::value, true, &word); }, err_cat::script,
                           err_id::script::no_value);
    EXPECT_EQ(e.args[0].w2, 4u);
    stack::push_copy(unset_t::value);
    raised([] { logic_t::arg_true_q(); }, err_cat::script, err_id::script::no_return);
    EXPECT_EQ(errors::message_line(errors::last_error()), "*** Script Error: block did not return a value");
}

TEST_F(SimpleTypesTest, CompareAnswersPerType) {
    const int32_t nc = not_comparable;
    Cell t = logic_t::true_value, f = logic_t::false_value, n = none_t::value, u = unset_t::value;
    Cell int_type = datatype_t::value_of(type_integer), blk_type = datatype_t::value_of(type_block);
    struct Case {
        Cell a, b;
        int32_t op, answer;
    } cases[] = {
        // logic!: equality and sorting by payload, no ordering.
        {t, t, op_equal, 0},           {t, f, op_equal, 1},          {f, t, op_not_equal, -1},
        {t, f, op_sort, 1},            {f, t, op_case_sort, -1},     {t, t, op_same, 0},
        {t, f, op_lesser, nc},         {t, t, op_greater_or_equal, nc}, {t, t, op_word_equal, nc},
        {t, n, op_equal, nc},          {t, integer(1), op_equal, nc},
        // none! and unset!: all equal, sortable, no ordering.
        {n, n, op_equal, 0},           {n, n, op_sort, 0},           {n, n, op_lesser, nc},
        {n, u, op_equal, nc},          {u, u, op_find, 0},           {u, u, op_strict_word_equal, nc},
        {u, n, op_equal, nc},
        // datatype!: the same type id or not; never ordered or sorted.
        {int_type, int_type, op_strict_equal, 0}, {int_type, blk_type, op_equal, 1},
        {int_type, int_type, op_sort, nc},        {int_type, blk_type, op_lesser, nc},
        {int_type, n, op_equal, 1},               {int_type, n, op_not_equal, 1},
        {int_type, n, op_lesser, nc},             {int_type, n, op_word_equal, nc},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare(c.a, c.b, c.op), c.answer) << type_of(c.a) << " " << type_of(c.b) << " op " << c.op;
}

TEST_F(SimpleTypesTest, MakeAndToLogic) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Cell proto = datatype_t::value_of(type_logic);
    struct Case {
        Cell spec;
        bool make, to;
    } cases[] = {
        {integer(0), false, true},         {integer(-3), true, true},
        {float_of(0.0), false, true},      {float_of(-0.0), false, true},
        {float_of(nan), true, true},       {float_of(0.0, type_percent), false, true},
        {float_of(0.5, type_percent), true, true},
        {none_t::value, false, false},     {logic_t::false_value, false, false},
        {logic_t::true_value, true, true}, {unset_t::value, true, true},
        {block_of(0), true, true},
    };
    auto make = action<action_sig::make>(type_logic, slot_make);
    auto to = action<action_sig::make>(type_logic, slot_to);
    for (Case& c : cases) {
        Cell r = proto;
        EXPECT_EQ(make(&r, &c.spec, type_logic)->header, uint32_t(type_logic));
        EXPECT_EQ(r.w1, uint32_t(c.make)) << "make from type " << type_of(c.spec);
        r = proto;
        to(&r, &c.spec, type_logic);
        EXPECT_EQ(r.w1, uint32_t(c.to)) << "to from type " << type_of(c.spec);
    }
}

TEST_F(SimpleTypesTest, MakeAndToUnsetAndNoneIgnoreTheSpec) {
    for (uint32_t type : {uint32_t(type_unset), uint32_t(type_none)})
        for (uint32_t slot : {uint32_t(slot_make), uint32_t(slot_to)})
            for (Cell spec : {integer(1), block_of(0), logic_t::true_value}) {
                Cell r = datatype_t::value_of(type);
                EXPECT_EQ(action<action_sig::make>(type, slot)(&r, &spec, type)->header, type);
            }
}

TEST_F(SimpleTypesTest, NoneIsAnEmptySeries) {
    Cell n = none_t::value, one = integer(1);
    EXPECT_EQ(action<action_sig::length>(type_none, slot_length_q)(&n), -1);
    EXPECT_EQ(type_of(*action<action_sig::find>(type_none, slot_find)(&n, &one, nullptr, false, false, false,
                                                                          false, nullptr, nullptr, false, false,
                                                                          false, false)),
              uint32_t(type_none));
    EXPECT_EQ(type_of(*action<action_sig::select>(type_none, slot_select)(&n, &one, nullptr, false, false, false,
                                                                              false, nullptr, nullptr, false, false)),
              uint32_t(type_none));
    EXPECT_EQ(type_of(*action<action_sig::unary>(type_none, slot_clear)(&n)), uint32_t(type_none));
    EXPECT_EQ(type_of(*action<action_sig::remove>(type_none, slot_remove)(&n, nullptr, nullptr)), uint32_t(type_none));
    EXPECT_EQ(type_of(*action<action_sig::take>(type_none, slot_take)(&n, nullptr, false, true)), uint32_t(type_none));
}

TEST_F(SimpleTypesTest, LogicOperations) {
    struct Case {
        uint32_t slot;
        bool a, b, result;
    } cases[] = {
        {slot_and_t, true, true, true},  {slot_and_t, true, false, false}, {slot_or_t, false, false, false},
        {slot_or_t, false, true, true},  {slot_xor_t, true, true, false},  {slot_xor_t, true, false, true},
    };
    for (const Case& c : cases) {
        stack::stack_init();
        stack::set_arg_base(logic_t::push(c.a));
        logic_t::push(c.b);
        Cell* r = action<action_sig::direct>(type_logic, c.slot)();
        EXPECT_EQ(r, stack::arg_base());
        EXPECT_EQ(logic_t::get(*r), uint32_t(c.result)) << c.slot << " " << c.a << " " << c.b;
    }
    Cell t = logic_t::true_value;
    EXPECT_EQ(logic_t::get(*action<action_sig::unary>(type_logic, slot_complement)(&t)), 0u);
    EXPECT_EQ(logic_t::get(*action<action_sig::unary>(type_logic, slot_complement)(&t)), 1u);
}

TEST_F(SimpleTypesTest, LogicOperationNeedsALogicSecondOperand) {
    stack::set_arg_base(logic_t::push(true));
    stack::push_copy(integer(1));
    const auto& e = raised([] { action<action_sig::direct>(type_logic, slot_and_t)(); }, err_cat::script,
                           err_id::script::expect_arg);
    EXPECT_EQ(type_of(e.args[1]), uint32_t(type_datatype));
    EXPECT_EQ(e.args[1].w1, uint32_t(type_integer));
    EXPECT_EQ(logic_t::get(*stack::arg_base()), 1u);  // the first operand is left alone
}

TEST_F(SimpleTypesTest, RandomLogic) {
    auto rnd = action<action_sig::random>(type_logic, slot_random);
    // /seed seeds with the payload and answers unset!.
    Cell seed = logic_t::true_value;
    EXPECT_EQ(type_of(*rnd(&seed, true, false, false)), uint32_t(type_unset));
    random::Twister expected(1);
    int trues = 0;
    for (int i = 0; i < 200; ++i) {
        Cell v = logic_t::false_value;
        rnd(&v, false, false, false);
        EXPECT_EQ(logic_t::get(v), uint32_t(expected.next() > 1073741823));
        trues += int(logic_t::get(v));
    }
    EXPECT_GT(trues, 50);
    EXPECT_LT(trues, 150);
    Cell v = logic_t::false_value;
    EXPECT_EQ(type_of(*rnd(&v, false, true, false)), uint32_t(type_logic));
}

TEST_F(SimpleTypesTest, FormAndMold) {
    struct Case {
        Cell value;
        const char *form, *mold, *mold_all;
    } cases[] = {
        {datatype_t::value_of(type_logic), "logic", "logic!", "#(logic!)"},
        {datatype_t::value_of(type_datatype), "datatype", "datatype!", "#(datatype!)"},
        {unset_t::value, "", "unset", "#(unset)"},
        {none_t::value, "none", "none", "#(none)"},
        {logic_t::true_value, "true", "true", "#(true)"},
        {logic_t::false_value, "false", "false", "#(false)"},
    };
    for (Case& c : cases) {
        uint32_t type = type_of(c.value);
        auto form = action<action_sig::form>(type, slot_form);
        auto mold = action<action_sig::mold>(type, slot_mold);
        Cell buffer;
        string_t::make_at(buffer, 16);
        // Each answers the budget less what it wrote (negative when it overshot).
        EXPECT_EQ(form(&c.value, &buffer, nullptr, 100), 100 - int32_t(std::strlen(c.form)));
        EXPECT_EQ(test::utf8_of(buffer), c.form);
        string_t::reset(buffer);
        EXPECT_EQ(mold(&c.value, &buffer, false, false, false, nullptr, 3, 0), 3 - int32_t(std::strlen(c.mold)));
        EXPECT_EQ(test::utf8_of(buffer), c.mold);
        string_t::reset(buffer);
        EXPECT_EQ(mold(&c.value, &buffer, false, true, false, nullptr, 100, 0), 100 - int32_t(std::strlen(c.mold_all)));
        EXPECT_EQ(test::utf8_of(buffer), c.mold_all);
    }
}
