// binary!: literals in each base, mold and its line breaks, conversion to
// bytes, append/insert/change/trim, the bitwise actions, comparison, the
// inherited series actions on bytes, and the byte helpers.
#include "datatypes/binary.h"

#include <string>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "tests/unit/entry_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {

class BinaryTest : public EntryTest {
protected:
    static Cell bin(const std::vector<uint8_t>& bytes) {
        Cell c;
        binary_t::make_at(c, uint32_t(bytes.size()));
        binary_t::append_bytes(c, bytes.data(), uint32_t(bytes.size()));
        return c;
    }
    static std::vector<uint8_t> bytes_of(Cell v) {
        uint32_t n = binary_t::byte_length(v);
        const uint8_t* p = binary_t::head_ptr(v);
        return std::vector<uint8_t>(p, p + n);
    }
    static std::string hex(const std::string& digits_per_byte, size_t count) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out += digits_per_byte;
        return out;
    }
    // mold of the value, or the error it raises.
    std::string molded(Cell v) {
        return outcome([&] { return mold(v); });
    }
};

Cell integer_of(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }

}  // namespace

TEST_F(BinaryTest, LiteralsInEachBaseMoldInHex) {
    struct Case {
        const char* text;
        const char* mold;
    } cases[] = {
        {"#{0A 0b}", "#{0A0B}"},
        {"2#{00000001 11111111}", "#{01FF}"},
        {"64#{AQID}", "#{010203}"},
        {"64#{TWE=}", "#{4D61}"},
        {"16#{ff ; a comment\n 00}", "#{FF00}"},
        {"#{}", "#{}"},
    };
    for (const auto& c : cases) EXPECT_EQ(molded(load(c.text)), c.mold) << c.text;
    EXPECT_EQ(outcome([] { return mold(load("#{ABC}")); }), "error: syntax invalid");
}

TEST_F(BinaryTest, LongBinariesBreakEvery32Bytes) {
    std::vector<uint8_t> b30(30, 0xAB), b31(31, 0xAB), b32(32, 0xAB), b64(64, 0xAB), b70(70, 0xAB);
    EXPECT_EQ(mold(bin(b30)), "#{" + hex("AB", 30) + "}");
    EXPECT_EQ(mold(bin(b31)), "#{\n" + hex("AB", 31) + "\n}");
    EXPECT_EQ(mold(bin(b32)), "#{\n" + hex("AB", 32) + "\n}");
    EXPECT_EQ(mold(bin(b64)), "#{\n" + hex("AB", 32) + "\n" + hex("AB", 32) + "\n}");
    EXPECT_EQ(mold(bin(b70)), "#{\n" + hex("AB", 32) + "\n" + hex("AB", 32) + "\n" + hex("AB", 6) + "\n}");
    EXPECT_EQ(form(bin(b31)), mold(bin(b31)));
    EXPECT_EQ(mold(bin(b64), false, true), "#{" + hex("AB", 64) + "}");
    EXPECT_EQ(mold(bin({1, 2}), false, false, true), "0102");
    // Inside an indented block the lines stand at the block's level.
    Cell block = load("[\n #{00}]");
    Cell inner = *memory::cell_at(block.w2, 0);
    *memory::cell_at(block.w2, 0) = bin(b31);
    memory::cell_at(block.w2, 0)->header |= inner.header & header::new_line;
    EXPECT_EQ(mold(block), "[\n    #{\n    " + hex("AB", 31) + "\n    }\n]");
    // /part stops writing once the budget is spent.
    EXPECT_EQ(utf8(call(slot_mold, {bin({1, 2, 3, 4}), integer_of(5)}, {-1, -1, -1, 1})), "#{010");
}

TEST_F(BinaryTest, ToBinaryByType) {
    Cell tuple{type_tuple | (3u << header::tuple_size_shift), 0x030201, 0, 0};
    struct Case {
        Cell spec;
        const char* mold;
    } cases[] = {
        {integer_of(1), "#{00000001}"},
        {integer_of(-1), "#{FFFFFFFF}"},
        {load("1.0"), "#{3FF0000000000000}"},
        {load("\"\xC3\xA9t\xC3\xA9\""), "#{C3A974C3A9}"},
        {load("#\"\xE2\x98\xBA\""), "#{E298BA}"},
        {load("#414243"), "#{414243}"},
        {load("[1 \"a\" #{02} #\"b\"]"), "#{01610262}"},
        {load("%a.b"), "#{612E62}"},
        {tuple, "#{010203}"},
        {load("#{0102}"), "#{0102}"},
        {load("#4142XY"), "error: script invalid-data"},
        {load("[1 256]"), "error: script invalid-arg"},
        {load("[1 a]"), "error: script bad-to-arg"},
        {load("12:00"), "error: script bad-to-arg"},
    };
    for (const auto& c : cases) {
        Cell spec = c.spec;
        EXPECT_EQ(outcome([&] { return mold(call(slot_to, {Cell{type_datatype, type_binary, 0, 0}, spec})); }), c.mold)
            << mold(spec);
    }
    // make binary! with a size makes an empty binary.
    Cell made = call(slot_make, {Cell{type_datatype, type_binary, 0, 0}, integer_of(10)});
    EXPECT_EQ(mold(made), "#{}");
    EXPECT_EQ(type_of(made), uint32_t(type_binary));
}

TEST_F(BinaryTest, AppendAndInsertConvertTheirValue) {
    struct Case {
        uint32_t slot;
        const char* series;
        Cell value;
        std::vector<int32_t> refs;  // /part, /only, /dup
        std::vector<Cell> ref_args;
        const char* result;
    } cases[] = {
        {slot_append, "#{}", integer_of(255), {}, {}, "#{FF} @0"},
        {slot_append, "#{}", integer_of(-1), {}, {}, "#{FF} @0"},
        {slot_append, "#{01}", integer_of(256), {}, {}, "error: script invalid-arg"},
        {slot_append, "#{01}", integer_of(-129), {}, {}, "error: script invalid-arg"},
        {slot_append, "#{}", load("\"\xC3\xA9\""), {}, {}, "#{C3A9} @0"},
        {slot_append, "#{}", load("[1 \"a\" #{02}]"), {}, {}, "#{016102} @0"},
        {slot_append, "#{00}", load("#{0102}"), {-1, -1, 2}, {integer_of(3)}, "#{00010201020102} @0"},
        {slot_append, "#{}", load("\"abc\""), {2}, {integer_of(2)}, "#{6162} @0"},
        {slot_append, "#{}", load("[1 2 3]"), {2}, {integer_of(2)}, "#{0102} @0"},
        {slot_append, "#{}", load("[\"abc\" \"de\"]"), {2, 3}, {integer_of(4)}, "#{61626364} @0"},
        {slot_append, "#{}", load("a"), {}, {}, "error: script bad-to-arg"},
        {slot_insert, "#{AABB}", load("#{01}"), {}, {}, "#{01AABB} @1"},
        {slot_insert, "#{AABB}", integer_of(7), {-1, -1, 2}, {integer_of(3)}, "#{070707AABB} @3"},
    };
    for (const auto& c : cases) {
        Cell s = load(c.series);
        std::vector<int32_t> refs = c.refs;
        std::string got = outcome([&] {
            Cell* base = stack::arg_base();
            stack::set_top(base);
            stack::push_copy(s);
            stack::push_copy(c.value);
            for (const Cell& a : c.ref_args) stack::push_copy(a);
            refs.resize(3, -1);
            actions::entry(c.slot)(refs.data());
            return mold(s) + " @" + std::to_string(base->w1);
        });
        EXPECT_EQ(got, c.result) << c.series << " " << mold(c.value);
        // A refused value leaves the binary as it was.
        if (std::string(c.result).rfind("error", 0) == 0) {
            EXPECT_EQ(mold(s), c.series);
        }
    }
}

TEST_F(BinaryTest, ABlockHoldingItselfIsRefusedNotFollowedForever) {
    Cell block = load("[1]");
    block_t::append_value(block, block);
    EXPECT_EQ(outcome([&] { return mold(call(slot_append, {load("#{}"), block})); }), "error: internal too-deep");
    EXPECT_EQ(series::cycle_depth(), 0u);
}

TEST_F(BinaryTest, InsertInTheMiddleAndAppendToItself) {
    Cell s = load("#{010203}");
    s.w1 = 1;
    Cell r = call(slot_insert, {s, load("#{AA}")});
    EXPECT_EQ(r.w1, 2u);
    s.w1 = 0;
    EXPECT_EQ(mold(s), "#{01AA0203}");
    s.w1 = 2;
    call(slot_append, {s, s});  // the value is the series itself, from its index
    s.w1 = 0;
    EXPECT_EQ(mold(s), "#{01AA02030203}");
}

TEST_F(BinaryTest, ChangeReplacesBytes) {
    struct Case {
        const char* series;
        uint32_t index;
        Cell value;
        int32_t part;  // -1: no /part
        int32_t dup;   // 0: no /dup
        const char* result;
        uint32_t index_out;
    } cases[] = {
        {"#{01020304}", 1, load("#{AABB}"), -1, 0, "#{01AABB04}", 3},
        {"#{01020304}", 1, load("#{AA}"), 3, 0, "#{01AA}", 2},
        {"#{01020304}", 0, load("#{AA}"), 1, 3, "#{AAAAAA020304}", 3},
        {"#{0102}", 1, load("#{AABBCC}"), -1, 0, "#{01AABBCC}", 4},
        {"#{0102}", 2, load("#{FF}"), -1, 0, "#{0102FF}", 3},
        {"#{0102}", 0, load("abc"), -1, 0, "#{616263}", 3},
        {"#{01020304}", 1, load("#{}"), 2, 0, "#{0104}", 1},
        {"#{01020304}", 0, load("1.5"), -1, 0, "#{312E3504}", 3},
    };
    for (const auto& c : cases) {
        Cell s = load(c.series);
        s.w1 = c.index;
        std::vector<Cell> args{s, c.value};
        std::vector<int32_t> refs(3, -1);
        if (c.part >= 0) refs[0] = int32_t(args.size()), args.push_back(integer_of(c.part));
        if (c.dup > 0) refs[2] = int32_t(args.size()), args.push_back(integer_of(c.dup));
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        actions::entry(slot_change)(refs.data());
        EXPECT_EQ(base->w1, c.index_out) << c.series << " at " << c.index;
        s.w1 = 0;
        EXPECT_EQ(mold(s), c.result) << c.series << " at " << c.index;
    }
}

TEST_F(BinaryTest, TrimRemovesZeroBytesOrTheNamedOnes) {
    struct Case {
        const char* series;
        std::vector<int32_t> refs;  // /head /tail /auto /lines /all /with
        Cell with;
        const char* result;
    } cases[] = {
        {"#{0000410000}", {}, Cell{}, "#{41}"},
        {"#{0000410000}", {0}, Cell{}, "#{410000}"},
        {"#{0000410000}", {-1, 0}, Cell{}, "#{000041}"},
        {"#{0000410000}", {0, 0}, Cell{}, "#{41}"},
        {"#{00410042}", {-1, -1, -1, -1, 0}, Cell{}, "#{4142}"},
        {"#{01410142}", {-1, -1, -1, -1, -1, 1}, load("#{01}"), "#{4142}"},
        {"#{01410142}", {-1, -1, -1, -1, 0, 1}, integer_of(0x41), "#{010142}"},
        {"#{0000}", {}, Cell{}, "#{}"},
        {"#{00}", {-1, -1, 0}, Cell{}, "error: internal not-done"},
    };
    for (const auto& c : cases) {
        Cell s = load(c.series);
        std::vector<int32_t> refs = c.refs;
        refs.resize(6, -1);
        std::string got = outcome([&] {
            if (refs[5] >= 0) call(slot_trim, {s, c.with}, refs);
            else call(slot_trim, {s}, refs);
            return mold(s);
        });
        EXPECT_EQ(got, c.result) << c.series;
    }
}

TEST_F(BinaryTest, BitwiseActions) {
    struct Case {
        uint32_t slot;
        const char* a;
        const char* b;
        const char* result;
    } cases[] = {
        {slot_and_t, "#{FF00FF}", "#{0F}", "#{0F0000}"},
        {slot_or_t, "#{01}", "#{F0F0}", "#{F1F0}"},
        {slot_xor_t, "#{FF0F}", "#{0F}", "#{F00F}"},
        {slot_and_t, "#{}", "#{}", "#{}"},
    };
    for (const auto& c : cases) EXPECT_EQ(mold(call(c.slot, {load(c.a), load(c.b)})), c.result) << c.a << " " << c.b;
    Cell a = load("#{0102}");
    a.w1 = 1;  // from the index
    EXPECT_EQ(mold(call(slot_or_t, {a, load("#{F0F0}")})), "#{F2F0}");
    EXPECT_EQ(outcome([] { return mold(call(slot_and_t, {load("#{01}"), integer_of(1)})); }),
              "error: script invalid-arg");
    Cell c = load("#{00FF0F}");
    c.w1 = 1;
    call(slot_complement, {c});
    c.w1 = 0;
    EXPECT_EQ(mold(c), "#{0000F0}");
}

TEST_F(BinaryTest, CompareByteWise) {
    auto cmp = [](const char* a, const char* b, int32_t op) {
        Cell x = load(a), y = load(b);
        return actions::compare_cells(&x, &y, op);
    };
    EXPECT_EQ(cmp("#{0102}", "#{010203}", op_lesser), -1);   // a prefix sorts first
    EXPECT_EQ(cmp("#{0103}", "#{010203}", op_lesser), 1);
    EXPECT_EQ(cmp("#{FF}", "#{01}", op_lesser), 1);         // unsigned bytes
    EXPECT_EQ(cmp("#{0102}", "#{0102}", op_equal), 0);
    EXPECT_EQ(cmp("#{0102}", "#{010203}", op_equal), 1);    // lengths differ
    EXPECT_EQ(cmp("#{0102}", "#{0102}", op_same), -1);      // two buffers
    EXPECT_EQ(cmp("#{41}", "\"A\"", op_equal), not_comparable);
    Cell x = load("#{0102}");
    EXPECT_EQ(actions::compare_cells(&x, &x, op_same), 0);
    // The helper also takes text, read as UTF-8, and matches prefixes.
    EXPECT_EQ(binary_t::compare_bytes(load("#{C3A9}"), load("\"\xC3\xA9\""), op_equal, false), 0);
    EXPECT_EQ(binary_t::compare_bytes(load("#{414243}"), load("\"AB\""), op_equal, true), 0);
    EXPECT_EQ(binary_t::compare_bytes(load("#{41}"), load("#{4142}"), op_equal, true), 1);
    EXPECT_EQ(binary_t::compare_bytes(load("#{41}"), load("#{}"), op_equal, true), 0);
    EXPECT_EQ(binary_t::compare_bytes(load("#{41}"), load("#{}"), op_not_equal, true), 1);
    EXPECT_TRUE(binary_t::match_at_q(load("#{41}"), load("#\"A\""), op_equal));
    EXPECT_FALSE(binary_t::match_at_q(load("#{41}"), integer_of(0x41), op_equal));
}

TEST_F(BinaryTest, InheritedSeriesActionsWorkOnBytes) {
    Cell s = load("#{0A0B0C}");
    EXPECT_EQ(mold(call(slot_pick, {s, integer_of(2)})), "11");
    EXPECT_EQ(call(slot_length_q, {s}).w2, 3u);
    call(slot_poke, {s, integer_of(1), integer_of(0x1FF)});
    EXPECT_EQ(mold(s), "#{FF0B0C}");
    call(slot_poke, {s, integer_of(2), Cell{type_char, 0, 'A', 0}});
    EXPECT_EQ(mold(s), "#{FF410C}");
    EXPECT_EQ(outcome([&] { return mold(call(slot_poke, {s, integer_of(1), load("\"a\"")})); }),
              "error: script invalid-arg");
    EXPECT_EQ(mold(call(slot_find, {s, integer_of(0x41)})), "#{410C}");
    EXPECT_EQ(mold(call(slot_take, {s})), "255");
    EXPECT_EQ(mold(s), "#{410C}");
    EXPECT_EQ(mold(call(slot_copy, {load("#{010203}"), integer_of(2)}, {1})), "#{0102}");
}

TEST_F(BinaryTest, ByteHelpers) {
    Cell b;
    binary_t::make_at(b, 0);
    binary_t::append_int32(0x01020304, b);
    EXPECT_EQ(bytes_of(b), (std::vector<uint8_t>{1, 2, 3, 4}));
    // Bytes from the binary's own buffer survive the growth they cause.
    for (int i = 0; i < 4; ++i) binary_t::insert_bytes(b, 1, binary_t::head_ptr(b), binary_t::byte_length(b));
    EXPECT_EQ(binary_t::byte_length(b), 64u);
    EXPECT_EQ(bytes_of(b)[0], 1);
    EXPECT_EQ(bytes_of(b)[1], 1);
    binary_t::clear_at(b);
    EXPECT_TRUE(binary_t::tail_q(b));
    uint8_t data[] = {9, 8};
    binary_t::write_bytes_at(b, 3, data, 2);
    EXPECT_EQ(bytes_of(b), (std::vector<uint8_t>{0, 0, 0, 9, 8}));
    binary_t::write_bytes_at(b, 0, data, 1);
    EXPECT_EQ(bytes_of(b), (std::vector<uint8_t>{9, 0, 0, 9, 8}));
    binary_t::next(b);
    binary_t::skip(b, 10);  // past the tail: stays
    EXPECT_EQ(b.w1, 1u);
    Cell* pushed = binary_t::push_bytes(data, 2);
    EXPECT_EQ(bytes_of(*pushed), (std::vector<uint8_t>{9, 8}));
    EXPECT_EQ(binary_t::byte_from_value(Cell{type_char, 0, 0x141, 0}), 0x41);
    EXPECT_RAISES(binary_t::byte_from_value(load("1.0")), err_cat::script, err_id::script::invalid_arg);
    Cell set;
    bitset_t::make_from(set, load("#\"A\""), 0);
    EXPECT_TRUE(binary_t::byte_in_bitset_q(load("#{41}"), set));
    EXPECT_FALSE(binary_t::byte_in_bitset_q(load("#{FF}"), set));
}
