// The comparison, logic, math and set-operation natives, called through
// their routines with the arguments laid out as the evaluator lays them out.
#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/float.h"
#include "datatypes/typeset.h"
#include "datatypes/actions.h"
#include "engine/natives.h"
#include "tests/unit/block_helpers.h"
#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace nat = vyr::natives;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double pi = 3.141592653589793;

Cell F(double d, uint32_t type = type_float) {
    Cell c{type, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
Cell T(bool v) { return Cell{type_logic, v ? 1u : 0u, 0, 0}; }
// A cell of a type whose module does not exist yet; only its type is read.
Cell raw(uint32_t type) { return Cell{type, 0, 0, 0}; }

// Refinement positions: -1 unused, else the position of its first argument.
using Refs = std::vector<int32_t>;

class NativesMathTest : public EngineTest {
protected:
    // Calls the native with the argument cells in a call frame of a word
    // named like it, and answers the result cell. The frame is gone after
    // the call, also when the native raised.
    Cell call(nat::NativeFn fn, std::initializer_list<Cell> args, Refs refs = {}) {
        uint32_t depth = frames::depth();
        stack::Mark mark;
        frames::frame_open(word_t::make_global("math-native"));
        for (const Cell& c : args) stack::push_copy(c);
        refs.resize(4, -1);
        try {
            Status s = fn(false, refs.data());
            EXPECT_EQ(s, Status::ok);
            EXPECT_EQ(stack::top(), stack::arg_base() + 1) << "the native leaves only its result";
        } catch (...) {
            frames::unwind_to_depth(depth);
            mark.restore();
            throw;
        }
        Cell result = *stack::arg_base();
        frames::frame_discard();
        return result;
    }
    bool truth(nat::NativeFn fn, std::initializer_list<Cell> args, Refs refs = {}) {
        Cell r = call(fn, args, std::move(refs));
        EXPECT_EQ(type_of(r), uint32_t(type_logic));
        return r.w1 == 1;
    }
    double real(nat::NativeFn fn, std::initializer_list<Cell> args, Refs refs = {}) {
        Cell r = call(fn, args, std::move(refs));
        EXPECT_EQ(type_of(r), uint32_t(type_float));
        return cell_float(r);
    }
    int32_t whole(nat::NativeFn fn, std::initializer_list<Cell> args, Refs refs = {}) {
        Cell r = call(fn, args, std::move(refs));
        EXPECT_EQ(type_of(r), uint32_t(type_integer));
        return int32_t(r.w2);
    }
    Cell bitset(const char* members) {
        Cell b;
        bitset_t::make_from(b, S(members), 0);
        return b;
    }
};

// ---- Comparison and logic -------------------------------------------------------------

TEST_F(NativesMathTest, ComparisonsForwardTheirOperator) {
    struct Case {
        nat::NativeFn fn;
        Cell a, b;
        bool want;
    } cases[] = {
        {nat::equal_q, I(1), F(1.0), true},          {nat::strict_equal_q, I(1), F(1.0), false},
        {nat::not_equal_q, I(1), I(2), true},        {nat::lesser_q, I(1), I(2), true},
        {nat::lesser_q, I(2), I(2), false},          {nat::lesser_or_equal_q, I(2), I(2), true},
        {nat::greater_q, F(2.5), I(2), true},        {nat::greater_or_equal_q, I(1), I(2), false},
        {nat::equal_q, S("abc"), S("ABC"), true},    {nat::strict_equal_q, S("abc"), S("ABC"), false},
        {nat::equal_q, I(1), S("1"), false},         {nat::not_equal_q, I(1), S("1"), true},
    };
    for (const Case& c : cases) EXPECT_EQ(truth(c.fn, {c.a, c.b}), c.want) << mold(c.a) << " " << mold(c.b);
    // Values of types that cannot be ordered: an error for an ordering only.
    EXPECT_RAISES(call(nat::lesser_q, {I(1), S("a")}), err_cat::script, err_id::script::invalid_compare);
    EXPECT_RAISES(call(nat::greater_or_equal_q, {none(), none()}), err_cat::script, err_id::script::invalid_compare);
}

TEST_F(NativesMathTest, SameAsksForIdentity) {
    Cell s = S("a");
    Cell s_next = s;
    s_next.w1 = 1;
    Cell b = B({I(1)});
    struct Case {
        Cell a, b;
        bool want;
    } cases[] = {
        {S("a"), S("a"), false},  // equal texts, different buffers
        {s, s, true},
        {s, s_next, false},       // one buffer, other index
        {b, b, true},
        {F(0.0), F(-0.0), false},
        {F(nan_value), F(nan_value), true},
        {F(1.0), F(1.0), true},
        {I(1), F(1.0), false},
        {I(7), I(7), true},
        {none(), none(), true},
        {unset(), unset(), true},
        {T(true), T(true), true},
        {T(true), T(false), false},
        {datatype_value(type_integer), datatype_value(type_integer), true},
        {W("a"), W("a"), true},
        {W("a"), W("b"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(truth(nat::same_q, {c.a, c.b}), c.want) << mold(c.a) << " " << mold(c.b);
}

TEST_F(NativesMathTest, NotIsTrueOnlyForNoneAndFalse) {
    EXPECT_TRUE(truth(nat::not_, {none()}));
    EXPECT_TRUE(truth(nat::not_, {T(false)}));
    EXPECT_FALSE(truth(nat::not_, {T(true)}));
    EXPECT_FALSE(truth(nat::not_, {I(0)}));
    EXPECT_FALSE(truth(nat::not_, {B({})}));
    EXPECT_FALSE(truth(nat::not_, {unset()}));
}

// ---- max and min ------------------------------------------------------------------------

TEST_F(NativesMathTest, MaxAndMinPickAnArgument) {
    struct Case {
        nat::NativeFn fn;
        Cell a, b;
        const char* want;
    } cases[] = {
        {nat::max, I(1), F(2.0), "2.0"},
        {nat::max, I(1), F(1.0), "1"},    // a tie gives value1 for max
        {nat::min, I(1), F(1.0), "1.0"},  // and value2 for min
        {nat::min, I(3), I(-2), "-2"},
        {nat::max, S("abc"), S("abd"), "\"abd\""},
        {nat::min, S("abc"), S("abd"), "\"abc\""},
        {nat::max, I(5), F(nan_value), "1.#NaN"},  // a NaN beside a number wins, in either order
        {nat::max, F(nan_value), I(5), "1.#NaN"},
        {nat::min, I(5), F(nan_value), "1.#NaN"},
        {nat::min, F(nan_value), F(1.0), "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(call(c.fn, {c.a, c.b})), c.want) << mold(c.a) << " " << mold(c.b);
    EXPECT_RAISES(call(nat::max, {I(1), S("a")}), err_cat::script, err_id::script::invalid_compare);
}

// ---- Predicates ----------------------------------------------------------------------------

TEST_F(NativesMathTest, SignPredicates) {
    struct Case {
        Cell n;
        int32_t sign;
    } cases[] = {
        {I(-3), -1}, {I(0), 0}, {I(2147483647), 1}, {F(-0.5), -1}, {F(-0.0), 0}, {F(nan_value), 0},
        {F(inf), 1}, {F(-2.0, type_time), -1}, {F(0.25, type_percent), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(whole(nat::sign_q, {c.n}), c.sign) << mold(c.n);
        EXPECT_EQ(truth(nat::negative_q, {c.n}), c.sign < 0) << mold(c.n);
        EXPECT_EQ(truth(nat::positive_q, {c.n}), c.sign > 0) << mold(c.n);
    }
    EXPECT_RAISES(call(nat::negative_q, {S("1")}), err_cat::script, err_id::script::expect_arg);
    EXPECT_EQ(errors::last_error().args[0].w2, word_t::make_global("math-native").w2);
    EXPECT_RAISES(call(nat::sign_q, {none()}), err_cat::script, err_id::script::expect_arg);
}

TEST_F(NativesMathTest, ZeroAndNaN) {
    struct Case {
        Cell v;
        bool zero;
    } cases[] = {
        {I(0), true}, {I(1), false}, {F(0.0), true}, {F(-0.0), true}, {F(nan_value), false}, {F(1e-300), false},
        {F(0.0, type_time), true}, {Cell{type_char, 0, 0, 0}, true}, {Cell{type_char, 0, 'a', 0}, false},
        {S(""), false}, {none(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(truth(nat::zero_q, {c.v}), c.zero) << mold(c.v);

    EXPECT_TRUE(truth(nat::nan_q, {F(nan_value)}));
    EXPECT_TRUE(truth(nat::nan_q, {F(-nan_value, type_percent)}));
    EXPECT_FALSE(truth(nat::nan_q, {F(inf)}));
    EXPECT_FALSE(truth(nat::nan_q, {I(0)}));
}

TEST_F(NativesMathTest, ComplementQReadsTheBitsetFlag) {
    Cell b = bitset("abc");
    EXPECT_FALSE(truth(nat::complement_q, {b}));
    Cell c = b;
    actions::complement(&c);
    EXPECT_TRUE(truth(nat::complement_q, {c}));
    EXPECT_RAISES(call(nat::complement_q, {I(1)}), err_cat::script, err_id::script::expect_arg);
}

// ---- shift --------------------------------------------------------------------------------

TEST_F(NativesMathTest, Shift) {
    constexpr int32_t left = 2, logical = 2;  // the positions a refinement without arguments gets
    struct Case {
        int32_t data, bits;
        Refs refs;
        int32_t want;
    } cases[] = {
        {-8, 1, {}, -4},
        {-8, 1, {-1, logical}, 2147483644},
        {1, 40, {}, 0},
        {-1, 40, {}, -1},
        {-1, 40, {-1, logical}, 0},
        {1, 31, {left, -1}, INT32_MIN},
        {1, 32, {left, -1}, 0},
        {1, 2, {left, logical}, 4},  // /left wins
        {12, -3, {}, 12},            // a negative count is 0
        {12, -3, {left, -1}, 12},
    };
    for (const Case& c : cases)
        EXPECT_EQ(whole(nat::shift, {I(c.data), I(c.bits)}, c.refs), c.want) << c.data << " " << c.bits;
}

// ---- Trigonometry -----------------------------------------------------------------------------

TEST_F(NativesMathTest, TrigonometryInDegreesAndRadians) {
    const Refs radians{1};
    EXPECT_EQ(real(nat::sine, {I(180)}), 0.0);  // cut below the machine epsilon
    EXPECT_EQ(real(nat::sine, {I(-360)}), 0.0);
    EXPECT_NEAR(real(nat::sine, {I(30)}), 0.5, 1e-15);
    EXPECT_NEAR(real(nat::sine, {I(150)}), 0.5, 1e-15);
    EXPECT_EQ(real(nat::cosine, {I(90)}), 0.0);
    EXPECT_EQ(real(nat::cosine, {I(180)}), -1.0);
    EXPECT_NEAR(real(nat::cosine, {F(pi / 3)}, radians), 0.5, 1e-15);
    EXPECT_EQ(real(nat::sine, {F(pi)}, radians), 0.0);

    EXPECT_EQ(real(nat::tangent, {F(pi / 2)}, radians), inf);
    EXPECT_EQ(real(nat::tangent, {F(-pi / 2)}, radians), -inf);
    EXPECT_EQ(real(nat::tangent, {I(90)}), inf);
    EXPECT_EQ(real(nat::tangent, {I(-90)}), -inf);
    EXPECT_NEAR(real(nat::tangent, {I(45)}), 1.0, 1e-15);
    EXPECT_NEAR(real(nat::tangent, {I(225)}), 1.0, 1e-15);

    EXPECT_EQ(real(nat::arcsine, {I(1)}), 90.0);
    EXPECT_EQ(real(nat::arcsine, {I(1)}, radians), pi / 2);
    EXPECT_EQ(real(nat::arccosine, {I(-1)}), 180.0);
    EXPECT_TRUE(std::isnan(real(nat::arccosine, {F(2.0)})));  // outside the domain: NaN, no error
    EXPECT_NEAR(real(nat::arctangent, {I(1)}), 45.0, 1e-13);
    EXPECT_NEAR(real(nat::arctangent2, {I(1), I(-1)}), 135.0, 1e-13);
    EXPECT_NEAR(real(nat::arctangent2, {F(-1.0), I(0)}, Refs{2}), -pi / 2, 1e-15);
    EXPECT_NEAR(real(nat::sine, {F(0.5, type_percent)}, radians), std::sin(0.5), 1e-15);
}

TEST_F(NativesMathTest, LogarithmsAndPowers) {
    EXPECT_EQ(real(nat::log_2, {I(8)}), 3.0);
    EXPECT_NEAR(real(nat::log_10, {I(1000)}), 3.0, 1e-15);
    EXPECT_EQ(real(nat::log_e, {I(1)}), 0.0);
    EXPECT_EQ(real(nat::log_e, {I(0)}), -inf);  // no domain checks
    EXPECT_TRUE(std::isnan(real(nat::log_10, {I(-1)})));
    EXPECT_TRUE(std::isnan(real(nat::square_root, {F(-4.0)})));
    EXPECT_EQ(real(nat::square_root, {I(16)}), 4.0);
    EXPECT_EQ(real(nat::square_root, {F(0.25, type_percent)}), 0.5);
    EXPECT_EQ(real(nat::exp, {I(0)}), 1.0);
    EXPECT_NEAR(real(nat::exp, {I(1)}), 2.718281828459045, 1e-15);
}

// ---- Set operations ----------------------------------------------------------------------------

TEST_F(NativesMathTest, SetOperationsOnBlocksAndStrings) {
    const Refs plain{-1, -1}, with_case{2, -1}, skip2{-1, 2};
    Cell ab = B({W("a"), W("b")}), bc = B({W("b"), W("c")});
    EXPECT_EQ(mold(call(nat::union_, {ab, bc}, plain)), "[a b c]");
    EXPECT_EQ(mold(call(nat::intersect, {ab, bc}, plain)), "[b]");
    EXPECT_EQ(mold(call(nat::exclude, {ab, bc}, plain)), "[a]");
    EXPECT_EQ(mold(call(nat::difference, {ab, bc}, plain)), "[a c]");
    EXPECT_EQ(mold(call(nat::union_, {B({I(1), I(2), I(3), I(4)}), B({I(1), I(2), I(5), I(6)}), I(2)}, skip2)),
              "[1 2 3 4 5 6]");
    // unique reads no second set: the cell after its set is its /skip size.
    EXPECT_EQ(mold(call(nat::unique, {B({I(1), I(1), I(2)}), none()}, {-1, -1})), "[1 2]");

    // block! and hash! go together; the result keeps the hash.
    Cell hashed = call(nat::union_, {ab, B({W("c")}, type_hash)}, plain);
    EXPECT_EQ(type_of(hashed), uint32_t(type_hash));
    EXPECT_EQ(chars_of(call(nat::union_, {S("abc"), S("BCD")}, plain)), "abcD");
    EXPECT_EQ(chars_of(call(nat::union_, {S("abc"), S("BCD")}, with_case)), "abcBCD");
    EXPECT_EQ(chars_of(call(nat::unique, {S("aAbb"), none()}, {1, -1})), "aAb");
}

TEST_F(NativesMathTest, SetOperationsOnBitsetsAndTypesets) {
    const Refs plain{-1, -1};
    Cell u = call(nat::union_, {bitset("ab"), bitset("bc")}, plain);
    Cell i = call(nat::intersect, {bitset("ab"), bitset("bc")}, plain);
    for (char ch : std::string("abcd")) {
        EXPECT_EQ(bitset_t::member_q(u, uint32_t(ch)), ch != 'd') << ch;
        EXPECT_EQ(bitset_t::member_q(i, uint32_t(ch)), ch == 'b') << ch;
    }
    Cell numbers = typeset_t::make_cell(), text = typeset_t::make_cell();
    typeset_t::set(numbers, type_integer);
    typeset_t::set(numbers, type_float);
    typeset_t::set(text, type_float);
    typeset_t::set(text, type_string);
    Cell d = call(nat::difference, {numbers, text}, plain);
    EXPECT_TRUE(typeset_t::has(d, type_integer));
    EXPECT_TRUE(typeset_t::has(d, type_string));
    EXPECT_FALSE(typeset_t::has(d, type_float));
}

TEST_F(NativesMathTest, SetOperationsCheckTheirSets) {
    const Refs plain{-1, -1};
    // Different kinds of set: "expected string! not file!".
    EXPECT_RAISES(call(nat::union_, {S("ab"), S(U"cd", 1, type_file)}, plain), err_cat::script,
                  err_id::script::expect_val);
    EXPECT_EQ(errors::last_error().args[0].w1, uint32_t(type_string));
    EXPECT_EQ(errors::last_error().args[1].w1, uint32_t(type_file));
    EXPECT_RAISES(call(nat::intersect, {B({}), bitset("a")}, plain), err_cat::script, err_id::script::expect_val);
    // Sets of one kind that has no set operations.
    EXPECT_RAISES(call(nat::union_, {S(U"ab", 1, type_file), S(U"cd", 1, type_file)}, plain), err_cat::script,
                  err_id::script::expect_arg);
    EXPECT_RAISES(call(nat::union_, {raw(type_date), raw(type_date)}, plain), err_cat::script,
                  err_id::script::expect_arg);
    // The difference of two dates is the time between them.
    EXPECT_EQ(type_of(call(nat::difference, {raw(type_date), raw(type_date)}, plain)), uint32_t(type_time));
}

}  // namespace
