// Argument checks and the small runtime helpers: typeset membership, the
// expect-arg checks, refinement layout, cell-to-int, fill-repeat and the
// case lookup of switch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/datatypes.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/catch_codes.h"
#include "datatypes/checks.h"
#include "datatypes/typeset.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;

namespace {
class ChecksTest : public test::RuntimeTest {};

Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }
Cell float_of(double d) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}

// A typeset holding the given types, bits laid out in cell byte order.
Cell typeset_of(std::initializer_list<uint32_t> types) {
    uint8_t bytes[12] = {};
    for (uint32_t t : types) bytes[t >> 3] |= uint8_t(0x80 >> (t & 7));
    Cell c{type_typeset, 0, 0, 0};
    std::memcpy(&c.w1, bytes, sizeof bytes);
    return c;
}

// Runs `body`, which must raise (category, id); answers the error record.
template <typename F>
const errors::ErrorRecord& raised(F body, int category, int id) {
    test::expect_raises(body, category, id, "");
    return errors::last_error();
}
}  // namespace

TEST(TypesetBitsTest, MembershipFollowsCellByteOrder) {
    // block! (5) is bit 0x04 of byte 0; integer! (11) bit 0x10 of byte 1.
    Cell ts = typeset_of({type_block, type_integer, 95});
    EXPECT_EQ(ts.w1, 0x1004u);
    EXPECT_TRUE(typeset_t::has(ts, type_block));
    EXPECT_TRUE(typeset_t::has(ts, type_integer));
    EXPECT_TRUE(typeset_t::has(ts, 95));
    EXPECT_FALSE(typeset_t::has(ts, type_string));
    EXPECT_FALSE(typeset_t::has(ts, 96));   // beyond the map
    EXPECT_FALSE(typeset_t::has(ts, 255));
}

TEST_F(ChecksTest, ArgumentTypeChecks) {
    Cell ts = typeset_of({type_integer, type_none});
    Cell good = integer(3), bad = logic_t::true_value;
    EXPECT_EQ(checks::check_arg_type(ts, 0, &good), &good);
    const auto& e = raised([&] { checks::check_arg_type(ts, 1, &bad); }, err_cat::script, err_id::script::expect_arg);
    EXPECT_EQ(type_of(e.args[1]), uint32_t(type_datatype));
    EXPECT_EQ(e.args[1].w1, uint32_t(type_logic));

    // A refinement that was not used leaves its argument unchecked.
    EXPECT_EQ(checks::check_refinement_arg(logic_t::false_value, ts, 2, &bad), &bad);
    raised([&] { checks::check_refinement_arg(logic_t::true_value, ts, 2, &bad); }, err_cat::script,
           err_id::script::expect_arg);

    Cell u = unset_t::value;
    EXPECT_EQ(checks::check_not_unset(0, &good), &good);
    const auto& e2 = raised([&] { checks::check_not_unset(0, &u); }, err_cat::script, err_id::script::expect_arg);
    EXPECT_EQ(e2.args[1].w1, uint32_t(type_unset));
}

TEST_F(ChecksTest, NativeArgumentsByFrameSlot) {
    Cell ts = typeset_of({type_integer});
    stack::set_arg_base(stack::push_copy(integer(1)));
    stack::push_copy(logic_t::true_value);
    EXPECT_EQ(checks::check_native_arg(0, ts, 0), stack::arg_base());
    EXPECT_EQ(checks::check_native_arg(-1, ts, 1), nullptr);  // optional argument not given
    raised([&] { checks::check_native_arg(1, ts, 1); }, err_cat::script, err_id::script::expect_arg);
}

TEST_F(ChecksTest, WordStores) {
    Cell foo = word_t::make_global("foo");
    const auto& e = raised([&] { checks::get_word_checked(foo); }, err_cat::script, err_id::script::no_value);
    EXPECT_EQ(errors::message_line(e), "*** Script Error: foo has no value");

    Cell* base = stack::push_copy(integer(0));
    stack::set_arg_base(base);
    stack::push_copy(integer(7));
    checks::set_word_checked(foo);
    EXPECT_EQ(checks::get_word_checked(foo)->w2, 7u);
    EXPECT_EQ(stack::top(), base + 2);  // the value stays
    stack::push_copy(integer(8));
    checks::set_word_pop(foo);
    EXPECT_EQ(checks::get_word_checked(foo)->w2, 8u);
    EXPECT_EQ(stack::top(), base);

    stack::push_copy(unset_t::value);
    raised([&] { checks::set_word_checked(foo); }, err_cat::script, err_id::script::need_value);
    EXPECT_EQ(checks::get_word_checked(foo)->w2, 8u);  // unchanged
}

TEST_F(ChecksTest, ContextStores) {
    NodeId ctx = context_t::make(2, false, true, no_node, context_t::kind_object);
    collector::NodeRoot keep(ctx);
    Cell a = word_t::make_global("a"), b = word_t::make_global("b");
    context_t::find_or_add_word(ctx, a);
    context_t::find_or_add_word(ctx, b);
    Cell* base = stack::push_copy(integer(0));
    stack::set_arg_base(base);

    stack::push_copy(integer(5));
    checks::set_context_value_checked(ctx, 1);
    EXPECT_EQ(checks::context_value_slot(ctx, 1)->w2, 5u);
    EXPECT_EQ(stack::top(), base + 2);
    checks::set_context_value_pop(ctx, 0);
    EXPECT_EQ(checks::context_value_slot(ctx, 0)->w2, 5u);
    EXPECT_EQ(stack::top(), base);

    stack::push_copy(unset_t::value);
    const auto& e = raised([&] { checks::set_context_value_checked(ctx, 1); }, err_cat::script,
                           err_id::script::need_value);
    EXPECT_EQ(errors::message_line(e), "*** Script Error: b needs a value");

    // The unchecked store takes unset! too and marks an object's word changed.
    EXPECT_FALSE(context_t::word_at(ctx, 1)->header & header::word_changed);
    checks::set_context_value(ctx, 1);
    EXPECT_EQ(type_of(*checks::context_value_slot(ctx, 1)), uint32_t(type_unset));
    EXPECT_TRUE(context_t::word_at(ctx, 1)->header & header::word_changed);
    EXPECT_EQ(stack::top(), base);

    // A function's context has no values while the function is not running.
    NodeId locals = context_t::make(1, true, false, no_node, context_t::kind_function);
    context_t::find_or_add_word(locals, word_t::make_global("x"));
    const auto& e2 = raised([&] { checks::context_value_slot(locals, 0); }, err_cat::script,
                            err_id::script::not_defined);
    EXPECT_EQ(errors::message_line(e2), "*** Script Error: x word is not bound to a context");
}

TEST_F(ChecksTest, RefinementArgumentLayout) {
    // Frame: [result, /ref, a, b, next]
    Cell* base = stack::push_copy(integer(0));
    stack::set_arg_base(base);
    for (int i = 0; i < 4; ++i) stack::push_copy(integer(10 + i));
    base[1] = logic_t::false_value;
    checks::init_refinement_args(integer(0), 1, 2);  // 0 is true
    EXPECT_EQ(base[1].w1, 1u);
    EXPECT_EQ(base[2].w2, 11u);

    checks::init_refinement_args(none_t::value, 1, 2);
    EXPECT_EQ(type_of(base[2]), uint32_t(type_none));
    EXPECT_EQ(type_of(base[3]), uint32_t(type_none));
    EXPECT_EQ(base[4].w2, 13u);  // only n cells
    checks::init_refinement_args(logic_t::false_value, 3, 1);
    EXPECT_EQ(type_of(base[4]), uint32_t(type_none));
}

TEST_F(ChecksTest, CellToInt) {
    struct {
        Cell value;
        int32_t answer;
    } fits[] = {
        {float_of(2147483647.0), 2147483647}, {float_of(-2147483648.0), INT32_MIN}, {float_of(-2.7), -2},
        {float_of(2.9), 2},                   {float_of(-0.0), 0},                  {integer(-5), -5},
        {Cell{type_char, 0, 65, 0}, 65},
    };
    for (auto& c : fits) EXPECT_EQ(checks::cell_to_int(c.value), c.answer);
    for (double d : {2147483647.5, -2147483648.9, 1e300, -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
        const auto& e = raised([&] { (void)checks::cell_to_int(float_of(d)); }, err_cat::script,
                               err_id::script::out_of_range);
        EXPECT_EQ(type_of(e.args[0]), uint32_t(type_float));
    }
}

TEST_F(ChecksTest, MoldIndent) {
    Cell buffer;
    string_t::make_at(buffer, 4);
    string_t::append_text(buffer, "[");
    EXPECT_EQ(checks::mold_indent(buffer, 3, 100), 88);
    EXPECT_EQ(test::utf8_of(buffer), "[            ");
    EXPECT_EQ(checks::mold_indent(buffer, 0, 100), 100);
    EXPECT_EQ(checks::mold_indent(buffer, -2, 100), 108);  // nothing written, budget still moved
    EXPECT_EQ(test::utf8_of(buffer), "[            ");
}

TEST(FillRepeatTest, DoublesThePatternToTheCount) {
    for (uint32_t count : {0u, 1u, 2u, 3u, 7u, 8u, 100u}) {
        std::vector<uint8_t> buf(3 * 100 + 4, 0xEE);
        buf[0] = 'a', buf[1] = 'b', buf[2] = 'c';
        uint8_t* end = checks::fill_repeat(buf.data(), 3, count);
        EXPECT_EQ(end, buf.data() + 3 * count);
        uint32_t filled = count == 0 ? 1 : count;  // the first copy is there already
        for (uint32_t i = 0; i < filled * 3; ++i) ASSERT_EQ(buf[i], "abc"[i % 3]) << count << " at " << i;
        EXPECT_EQ(buf[filled * 3], 0xEE) << count;
    }
}

// ---- switch lookup ----------------------------------------------------------------

namespace {
// A block of the given cells.
Cell block_of(std::initializer_list<Cell> cells) {
    Cell b{type_block, 0, memory::alloc_cells(uint32_t(cells.size())), 0};
    for (const Cell& c : cells) *series::append_cell(b) = c;
    return b;
}
const Cell T = logic_t::true_value, F = logic_t::false_value, N = none_t::value;
}  // namespace

TEST_F(ChecksTest, SwitchFindOverValueAnswerPairs) {
    // As compiled code uses it: pairs of value and answer, into the result slot.
    Cell cases = block_of({F, integer(1), T, integer(2)});
    for (auto [value, answer, position] : {std::tuple{T, 2, 2}, std::tuple{F, 1, 0}}) {
        stack::stack_init();
        stack::set_arg_base(stack::push_copy(value));
        stack::push_copy(cases);
        EXPECT_EQ(checks::switch_find(false, false), position);
        EXPECT_EQ(stack::arg_base()->w2, uint32_t(answer));
    }
    // Answers are not matched: only every other cell is a value.
    Cell pairs = block_of({integer(1), T, T, integer(5)});
    stack::stack_init();
    stack::set_arg_base(stack::push_copy(T));
    stack::push_copy(pairs);
    EXPECT_EQ(checks::switch_find(false, false), 2);
    EXPECT_EQ(stack::arg_base()->w2, 5u);
    // No match: the result slot becomes none!.
    stack::stack_init();
    stack::set_arg_base(stack::push_copy(datatype_t::value_of(type_block)));
    stack::push_copy(cases);
    EXPECT_EQ(checks::switch_find(false, false), -1);
    EXPECT_EQ(type_of(*stack::arg_base()), uint32_t(type_none));
}

TEST_F(ChecksTest, SwitchFindForTheSwitchNative) {
    Cell body_a = block_of({integer(1)}), body_b = block_of({integer(2)});
    // The first block after the match, skipping other values; pushed.
    Cell cases = block_of({F, T, body_a, N, integer(9), body_b, T});
    struct {
        Cell value;
        int32_t position;
        NodeId answer;  // no_node: none! pushed
    } runs[] = {{F, 0, body_a.w2}, {N, 3, body_b.w2}, {T, 1, body_a.w2}, {datatype_t::value_of(type_none), -1, no_node}};
    for (auto& r : runs) {
        stack::stack_init();
        stack::set_arg_base(stack::push_copy(r.value));
        stack::push_copy(cases);
        EXPECT_EQ(checks::switch_find(true, true), r.position);
        ASSERT_EQ(stack::top(), stack::arg_base() + 3);
        EXPECT_EQ(stack::top_cell()->w2, r.answer);
        if (r.answer == no_node) {
            EXPECT_EQ(type_of(*stack::top_cell()), uint32_t(type_none));
        }
    }
    // A match with no block after it runs no case.
    Cell tail_match = block_of({body_a, T});
    stack::stack_init();
    stack::set_arg_base(stack::push_copy(T));
    stack::push_copy(tail_match);
    EXPECT_EQ(checks::switch_find(true, true), 1);
    EXPECT_EQ(type_of(*stack::top_cell()), uint32_t(type_none));
}

TEST_F(ChecksTest, SwitchFindNeverMatchesABlock) {
    Cell inner = block_of({});
    Cell cases = block_of({inner, inner});
    stack::set_arg_base(stack::push_copy(inner));
    stack::push_copy(cases);
    EXPECT_EQ(checks::switch_find(true, true), -1);
    EXPECT_EQ(type_of(*stack::top_cell()), uint32_t(type_none));
}
