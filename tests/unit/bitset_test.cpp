// bitset!: making from numbers, texts, ranges and binaries, membership,
// the bitwise operations, comparison and mold.
#include <gtest/gtest.h>

#include "datatypes/bitset.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;
namespace bs = vyr::bitset_t;
namespace te = vyr::text_errors;

namespace {

class BitsetTest : public RuntimeTest {
protected:
    Cell make(const Cell& spec, int kind = 0) {
        Cell b;
        bs::make_from(b, spec, kind);
        return b;
    }
    std::string mold(const Cell& b, int32_t part = -1) {
        Cell v = b, out, part_cell = te::integer_cell(part);
        string_t::make_at(out, 0);
        auto fn = registry::action<registry::action_sig::mold>(type_bitset, registry::slot_mold);
        fn(&v, &out, false, false, false, part >= 0 ? &part_cell : nullptr, part >= 0 ? part : INT32_MAX, 0);
        return utf8_of(out);
    }
    Cell bytes(const char* b, uint32_t n) {
        Cell c;
        string_t::make_from_units_at(c, b, n, 1);
        set_type(c, type_binary);
        return c;
    }
    Cell block(std::initializer_list<Cell> cells) {
        NodeId n = memory::alloc_cells(uint32_t(cells.size()) + 1);
        for (const Cell& c : cells) *series::alloc_tail_cell(n) = c;
        return Cell{type_block, 0, n, 0};
    }
    bool has(const Cell& b, uint32_t n) { return bs::member_q(b, n); }
};
using BitsetErrorTest = BitsetTest;

Cell chr(uint32_t cp) { return Cell{type_char, 0, cp, 0}; }
Cell integer(int32_t n) { return te::integer_cell(n); }

}  // namespace

TEST_F(BitsetTest, MoldOfMadeSets) {
    EXPECT_EQ(mold(make(chr('A'))), "make bitset! #{000000000000000040}");
    EXPECT_EQ(mold(make(integer(0))), "make bitset! #{}");
    Cell nine = make(integer(9));
    EXPECT_EQ(bs::byte_length(nine), 2u);
    EXPECT_EQ(registry::action<registry::action_sig::length>(type_bitset, registry::slot_length_q)(&nine), 16);
    EXPECT_EQ(mold(make(text("ab"))), "make bitset! #{00000000000000000000000060}");
    EXPECT_EQ(mold(make(bytes("\xF0", 1))), "make bitset! #{F0}");
}

TEST_F(BitsetTest, MoldPartStopsAfterTheByteThatSpendsTheBudget) {
    Cell b = make(chr('A'));
    // "make bitset! " (13) + "#{" (2) leaves 3 of 18: two bytes of hex, no closing brace.
    EXPECT_EQ(mold(b, 18), "make bitset! #{0000");
}

TEST_F(BitsetTest, MembershipOfTextsAndNumbers) {
    Cell b = make(text("hello"));
    for (char c : std::string("helo")) EXPECT_TRUE(has(b, uint8_t(c))) << c;
    EXPECT_FALSE(has(b, 'a'));
    EXPECT_FALSE(has(b, 100000));  // beyond the array of a normal set
    Cell v = b;
    Cell t = text("hole");
    auto find = registry::action<registry::action_sig::find>(type_bitset, registry::slot_find);
    find(&v, &t, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(type_of(v), uint32_t(type_logic));
    v = b;
    Cell hx = text("hx");
    find(&v, &hx, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(type_of(v), uint32_t(type_none));
}

TEST_F(BitsetTest, TestingAndClearingATextGoOnAfterACodePointBeyondTheArray) {
    uint32_t largest = 0;
    Cell b = make(text("abc"));
    // Testing: a text whose code point beyond the array comes first, then a
    // non-member, is not wholly in the set.
    Cell wide_then_missing = text_of(U"\U0001F600z");
    EXPECT_FALSE(bs::process_string(wide_then_missing, &b, bs::Mode::test, largest));
    // Clearing: every code point is cleared, also after one beyond the array.
    Cell wide_then_member = text_of(U"\U0001F600b");
    bs::process_string(wide_then_member, &b, bs::Mode::clear, largest);
    EXPECT_FALSE(has(b, 'b'));
    EXPECT_TRUE(has(b, 'a'));
    // A complemented set holds the wide code point: testing goes on and
    // finds the missing one.
    Cell nb = make(text("abc"));
    auto complement = registry::action<registry::action_sig::unary>(type_bitset, registry::slot_complement);
    complement(&nb);
    Cell wide_then_a = text_of(U"\U0001F600a");
    EXPECT_FALSE(bs::process_string(wide_then_a, &nb, bs::Mode::test, largest));
}

TEST_F(BitsetTest, ComplementedSets) {
    Cell a = make(text("A"));
    auto complement = registry::action<registry::action_sig::unary>(type_bitset, registry::slot_complement);
    Cell c = a;
    complement(&c);
    EXPECT_TRUE(bs::complemented_q(c));
    EXPECT_FALSE(bs::complemented_q(a));
    EXPECT_EQ(mold(c), "make bitset! [not #{000000000000000040}]");
    EXPECT_FALSE(has(c, 'A'));
    EXPECT_TRUE(has(c, 'B'));
    EXPECT_TRUE(has(c, 72));
    EXPECT_TRUE(has(c, 0x10FFFF));

}

TEST_F(BitsetTest, PokePickRemoveClear) {
    Cell b = make(integer(16));
    auto poke = registry::action<registry::action_sig::poke>(type_bitset, registry::slot_poke);
    auto pick = registry::action<registry::action_sig::pick>(type_bitset, registry::slot_pick);
    Cell five = integer(5), one = integer(1), zero = integer(0), far = integer(100);
    poke(&b, 5, &one, &five);
    EXPECT_TRUE(has(b, 5));
    poke(&b, 5, &zero, &five);
    EXPECT_FALSE(has(b, 5));
    Cell v = b;
    pick(&v, 100, &far);
    EXPECT_EQ(v.w1, 0u);  // beyond the array of a normal set: false
    poke(&b, 100, &one, &far);  // grows
    EXPECT_EQ(bs::byte_length(b), 13u);
    EXPECT_TRUE(has(b, 100));
    auto remove = registry::action<registry::action_sig::remove>(type_bitset, registry::slot_remove);
    remove(&b, &far, nullptr);
    EXPECT_FALSE(has(b, 100));
    poke(&b, 3, &one, &five);
    auto clear = registry::action<registry::action_sig::unary>(type_bitset, registry::slot_clear);
    clear(&b);
    EXPECT_FALSE(has(b, 5));
    EXPECT_EQ(bs::byte_length(b), 13u);
}

TEST_F(BitsetTest, BitwiseLengthsAndMembership) {
    Cell small = make(chr(3)), big = make(chr(20)), r;
    bs::do_bitwise(r, small, big, 6);  // and~: the shorter length
    EXPECT_EQ(bs::byte_length(r), 1u);
    bs::do_bitwise(r, small, big, 10);  // intersect: the longer length
    EXPECT_EQ(bs::byte_length(r), 3u);
    bs::do_bitwise(r, small, big, 9);  // union
    EXPECT_TRUE(has(r, 3));
    EXPECT_TRUE(has(r, 20));
    bs::do_bitwise(r, big, small, 11);  // exclude
    EXPECT_FALSE(has(r, 3));
    EXPECT_TRUE(has(r, 20));
    bs::do_bitwise(r, small, small, 12);  // difference
    EXPECT_FALSE(has(r, 3));
    bs::do_bitwise(r, small, big, 8);  // unique: the first argument
    EXPECT_EQ(r.w2, small.w2);
}

TEST_F(BitsetTest, BitwiseOfComplementedSetsKeepsTheirMembership) {
    auto complement = registry::action<registry::action_sig::unary>(type_bitset, registry::slot_complement);
    Cell not_a = make(chr('a')), not_b = make(chr('b')), r;
    complement(&not_a);
    complement(&not_b);
    bs::do_bitwise(r, not_a, not_b, 9);  // everything but (a and b): everything
    EXPECT_TRUE(bs::complemented_q(r));
    EXPECT_TRUE(has(r, 'a'));
    EXPECT_TRUE(has(r, 5000));
    bs::do_bitwise(r, not_a, not_b, 6);  // neither a nor b
    EXPECT_FALSE(has(r, 'a'));
    EXPECT_FALSE(has(r, 'b'));
    EXPECT_TRUE(has(r, 5000));
    Cell c = make(chr('c'));
    bs::do_bitwise(r, c, not_a, 6);  // c, but not a: c
    EXPECT_FALSE(bs::complemented_q(r));
    EXPECT_TRUE(has(r, 'c'));
    EXPECT_FALSE(has(r, 5000));
}

TEST_F(BitsetTest, Compare) {
    using namespace registry;
    auto compare = action<action_sig::compare>(type_bitset, slot_compare);
    Cell a = make(chr('a')), a2 = make(chr('a')), b = make(chr('b')), big = make(chr(200));
    EXPECT_EQ(compare(&a, &a2, op_equal), 0);
    EXPECT_EQ(compare(&a, &a2, op_same), 1);
    EXPECT_EQ(compare(&a, &a, op_same), 0);
    EXPECT_EQ(compare(&a, &b, op_lesser), 1);  // a's bit is the higher byte value
    EXPECT_EQ(compare(&a, &big, op_lesser), -1);
    Cell n = integer(1);
    EXPECT_EQ(compare(&a, &n, op_equal), not_comparable);
}

TEST_F(BitsetErrorTest, Errors) {
    Cell minus = integer(-1), eight = integer(8), none{type_none, 0, 0, 0}, b;
    EXPECT_RAISES(bs::make_from(b, minus, 0), err_cat::script, err_id::script::out_of_range);
    EXPECT_RAISES(bs::make_from(b, eight, 1), err_cat::script, err_id::script::bad_to_arg);
    EXPECT_RAISES(bs::make_from(b, none, 0), err_cat::script, err_id::script::bad_make_arg);
    EXPECT_RAISES(bs::make_from(b, none, 1), err_cat::script, err_id::script::bad_to_arg);
    Cell set = make(chr('a'));
    auto remove = registry::action<registry::action_sig::remove>(type_bitset, registry::slot_remove);
    EXPECT_RAISES(remove(&set, nullptr, nullptr), err_cat::script, err_id::script::missing_arg);
    Cell r;
    EXPECT_RAISES(bs::do_bitwise(r, set, minus, 9), err_cat::script, err_id::script::invalid_type);
    Cell s = text("x");
    auto path = registry::action<registry::action_sig::path_access>(type_bitset, registry::slot_path_access);
    EXPECT_RAISES(path(&set, &s, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false), err_cat::script,
                  err_id::script::invalid_type);
    Cell bin = bytes("\x01", 1);
    Cell nested = block({bin});
    EXPECT_RAISES(bs::make_from(b, nested, 0), err_cat::internal, err_id::internal::not_done);
}

// ---- Blocks with ranges and `not` ------------------------------------------------------

TEST_F(BitsetTest, RangesAndNot) {
    Cell dash = word_t::make_global("-"), no = word_t::make_global("not");
    Cell abc = make(block({chr('a'), dash, chr('c')}));
    EXPECT_TRUE(has(abc, 'a'));
    EXPECT_TRUE(has(abc, 'b'));
    EXPECT_TRUE(has(abc, 'c'));
    EXPECT_FALSE(has(abc, 'd'));
    Cell mixed = make(block({integer(1), dash, integer(3), chr('z'), text("XY")}));
    for (uint32_t n : {1u, 2u, 3u, uint32_t('z'), uint32_t('X'), uint32_t('Y')}) EXPECT_TRUE(has(mixed, n)) << n;
    EXPECT_FALSE(has(mixed, 0));

    Cell not_a = make(block({no, chr('A')}));
    EXPECT_EQ(mold(not_a), "make bitset! [not #{000000000000000040}]");
    EXPECT_FALSE(has(not_a, 'A'));
    EXPECT_TRUE(has(not_a, 'B'));
    EXPECT_TRUE(has(not_a, 72));
    Cell not_bytes = make(block({no, bytes("\xF0", 1)}));
    EXPECT_EQ(bs::bits(not_bytes)[0], 0x0F);
    EXPECT_TRUE(bs::complemented_q(not_bytes));
    EXPECT_EQ(mold(not_bytes), "make bitset! [not #{F0}]");

    // Finding a block: every item must be a member.
    auto find = registry::action<registry::action_sig::find>(type_bitset, registry::slot_find);
    Cell v = abc, range = block({chr('a'), dash, chr('c')});
    find(&v, &range, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(type_of(v), uint32_t(type_logic));
    v = abc;
    Cell wider = block({chr('a'), dash, chr('d')});
    find(&v, &wider, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(type_of(v), uint32_t(type_none));
}

TEST_F(BitsetErrorTest, BadRanges) {
    Cell dash = word_t::make_global("-"), b;
    Cell down = block({chr('c'), dash, chr('a')});
    EXPECT_RAISES(bs::make_from(b, down, 0), err_cat::script, err_id::script::past_end);
    Cell open = block({chr('a'), dash});
    EXPECT_RAISES(bs::make_from(b, open, 0), err_cat::script, err_id::script::past_end);
    Cell mixed = block({chr('a'), dash, integer(3)});
    EXPECT_RAISES(bs::make_from(b, mixed, 0), err_cat::script, err_id::script::invalid_arg);
    Cell negative = block({integer(-1)});
    EXPECT_RAISES(bs::make_from(b, negative, 0), err_cat::script, err_id::script::out_of_range);
}

TEST_F(BitsetTest, ReflectAndModifyOwned) {
    Cell set = make(chr('a')), owned = word_t::make_global("owned");
    auto reflect = registry::action<registry::action_sig::reflect>(type_bitset, registry::slot_reflect);
    Cell v = set;
    reflect(&v, &owned);
    EXPECT_EQ(type_of(v), uint32_t(type_none));
    auto modify = registry::action<registry::action_sig::modify>(type_bitset, registry::slot_modify);
    Cell none{type_none, 0, 0, 0};
    modify(&set, &owned, &none, false);
    EXPECT_FALSE(memory::buffer_of(set.w2)->flags & memory::flag::owned);
}
