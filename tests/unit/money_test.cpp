// money!: literals and their texts, currencies, conversions, arithmetic and
// its limits, rounding, comparison, field access and random, through the
// action entries with values made by the lexer.
#include "datatypes/money.h"

#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/fixed_words.h"
#include "tests/unit/entry_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {

class MoneyTest : public EntryTest {
protected:
    void SetUp() override {
        EntryTest::SetUp();
        install_system(2);
    }

    // A `system` object with what money! reads: locale/currencies/list and
    // options/money-digits.
    static void install_system(int32_t money_digits) {
        Cell list = load("[USD EUR GBP JPY CHF VYR]");
        Cell currencies, locale, options, system;
        object_t::construct(block_of({word_of("list", type_set_word), list}), nullptr, true, currencies);
        object_t::construct(block_of({word_of("currencies", type_set_word), none()}), nullptr, true, locale);
        *object_t::select_field(locale, word_of("currencies")) = currencies;
        object_t::construct(block_of({word_of("money-digits", type_set_word), integer(money_digits)}), nullptr, true,
                            options);
        object_t::construct(block_of({word_of("locale", type_set_word), none(), word_of("options", type_set_word),
                                      none()}),
                            nullptr, true, system);
        *object_t::select_field(system, word_of("locale")) = locale;
        *object_t::select_field(system, word_of("options")) = options;
        context_t::set_global_symbol_value(fixed::sym_system, system);
    }
    static void set_money_digits(const Cell& value) {
        Cell* system = context_t::global_symbol_value(fixed::sym_system);
        *object_t::select_field(*object_t::select_field(*system, word_of("options")), word_of("money-digits")) = value;
    }
    static Cell word_of(const char* text, uint32_t type = type_word) {
        Cell w = word_t::make_global(text);
        set_type(w, type);
        return w;
    }

    // "a op b" with op one of + - * / // (the values as literals): mold/all
    // of the answer, or the error raised.
    static std::string calc(const char* text) {
        Cell block = load(std::string("[") + text + "]");
        Cell a = *memory::cell_at(block.w2, 0), op = *memory::cell_at(block.w2, 1), b = *memory::cell_at(block.w2, 2);
        std::string name(symbol_t::name(int32_t(op.w2)));
        uint32_t slot = name == "+" ? slot_add : name == "-" ? slot_subtract : name == "*" ? slot_multiply
                      : name == "/" ? slot_divide : slot_remainder;
        return outcome([&] { return mold(call(slot, {a, b}), true); });
    }
    static std::string rounded(const char* value, std::vector<int32_t> refs, const char* scale = nullptr) {
        Cell v = load(value);
        return outcome([&] {
            if (!scale) return mold(call(slot_round, {v}, refs), true);
            refs.resize(7, -1);
            refs[0] = 1;
            return mold(call(slot_round, {v, load(scale)}, refs), true);
        });
    }
    static int32_t cmp(const char* a, const char* b, int32_t op) {
        Cell x = load(a), y = load(b);
        return actions::compare_cells(&x, &y, op);
    }
    static Cell datatype(uint32_t t) { return Cell{type_datatype, t, 0, 0}; }
};

}  // namespace

TEST_F(MoneyTest, LiteralsFormAndMold) {
    struct Case {
        const char* text;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {"$1.5", "$1.50", "$1.50", "$1.50000"},
        {"-USD$1234.5", "-USD$1'234.50", "-USD$1234.50", "-USD$1234.50000"},
        {"$1234567.891", "$1'234'567.89", "$1234567.89", "$1234567.89100"},
        {"usd$1", "USD$1.00", "USD$1.00", "USD$1.00000"},
        {"$0.5", "$0.50", "$0.50", "$0.50000"},
        {"-$0", "$0.00", "$0.00", "$0.00000"},
        {"$0.00001", "$0.00", "$0.00", "$0.00001"},
        {"$12'345'678'901'234'567.12345", "$12'345'678'901'234'567.12", "$12345678901234567.12",
         "$12345678901234567.12345"},
        {"$007.1", "$7.10", "$7.10", "$7.10000"},
    };
    for (const auto& c : cases) {
        Cell m = load(c.text);
        ASSERT_EQ(type_of(m), uint32_t(type_money)) << c.text;
        EXPECT_EQ(form(m), c.form) << c.text;
        EXPECT_EQ(mold(m), c.mold) << c.text;
        EXPECT_EQ(mold(m, true), c.mold_all) << c.text;
    }
    EXPECT_EQ(outcome([] { return mold(load("XYZ$1")); }), "error: syntax invalid");
    EXPECT_EQ(outcome([] { return mold(load("$1.123456")); }), "error: syntax invalid");
}

TEST_F(MoneyTest, MoneyDigitsSetTheDecimalsShown) {
    struct Case {
        Cell digits;
        const char* mold;
    } cases[] = {{integer(0), "$1234"}, {integer(3), "$1234.567"}, {integer(7), "$1234.56789"},
                 {integer(-1), "$1234"}, {none(), "$1234.56"}};
    for (const auto& c : cases) {
        set_money_digits(c.digits);
        EXPECT_EQ(mold(load("$1234.56789")), c.mold);
    }
    EXPECT_EQ(mold(load("$1234.56789"), true), "$1234.56789");
}

TEST_F(MoneyTest, ArithmeticIsExact) {
    struct Case {
        const char* text;
        const char* result;
    } cases[] = {
        {"$0.1 + $0.2", "$0.30000"},
        {"$1 - $3", "-$2.00000"},
        {"-$1 - -$3", "$2.00000"},
        {"$5 - $5", "$0.00000"},
        {"-$5 + $2", "-$3.00000"},
        {"$2 + -$5", "-$3.00000"},
        {"-$2 - $3", "-$5.00000"},
        {"$1.5 * 3", "$4.50000"},
        {"3 * $2", "$6.00000"},
        {"$2 * -3", "-$6.00000"},
        {"$1 / 3", "$0.33333"},
        {"-$2 / 3", "-$0.66666"},
        {"$1 / $3", "0.33333"},
        {"$10 / $4", "2.5"},
        {"-$7 // $2", "-$1.00000"},
        {"$7 // -$2", "$1.00000"},
        {"$7.5 // $2", "$1.50000"},
        {"$1 + 0.123456", "$1.12345"},
        {"1.5 + $1", "$2.50000"},
        {"10 - $2", "$8.00000"},
        {"USD$1 + $1", "USD$2.00000"},
        {"$1 + EUR$1", "EUR$2.00000"},
        {"$0 * $0", "error: script invalid-type"},
        {"$0 - $1", "-$1.00000"},
        {"$99999999999999999 - -$0.00001", "$99999999999999999.00001"},
    };
    for (const auto& c : cases) EXPECT_EQ(calc(c.text), c.result) << c.text;
    Cell half{type_percent, 0, 0, 0};  // 50%
    set_cell_float(half, 0.5);
    EXPECT_EQ(mold(call(slot_add, {load("$1"), half}), true), "$1.50000");
}

TEST_F(MoneyTest, ArithmeticErrors) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"$99999999999999999.99999 + $0.00001", "error: script type-limit"},  // carry out of the top digit
        {"$50000000000000000 + $50000000000000000", "error: script type-limit"},
        {"-$90000000000000000 - $10000000000000000", "error: script type-limit"},
        {"$0.001 * 0.001", "error: script type-limit"},                      // below 0.00001
        {"$10000000000 * 10000000", "error: script type-limit"},
        {"$0.00001 / 3", "error: script type-limit"},
        {"$10000000000000000 / $0.9", "error: script type-limit"},
        {"$2 / $0", "error: math zero-divide"},
        {"$2 // 0", "error: math zero-divide"},
        {"10 / $2", "error: script invalid-type"},
        {"10 // $2", "error: script invalid-type"},
        {"$2 * $3", "error: script invalid-type"},
        {"$2 + a", "error: script invalid-type"},
        {"USD$1 + EUR$1", "error: script wrong-denom"},
        {"$1 + 1.0e20", "error: script bad-make-arg"},
    };
    for (const auto& c : cases) EXPECT_EQ(calc(c.text), c.error) << c.text;
    // The invalid-type error names the first operand's type.
    calc("10 / $2");
    EXPECT_EQ(errors::last_error().args[0].w1, uint32_t(type_integer));
    calc("$2 * $3");
    EXPECT_EQ(errors::last_error().args[0].w1, uint32_t(type_money));
}

TEST_F(MoneyTest, RoundByMode) {
    // Refinement order: /to /even /down /half-down /floor /ceiling /half-ceiling.
    enum { to, even, down, half_down, floor_, ceiling, half_ceiling };
    auto with = [](int r) {
        std::vector<int32_t> refs(7, -1);
        refs[r] = 1;
        return refs;
    };
    struct Case {
        const char* value;
        std::vector<int32_t> refs;
        const char* scale;
        const char* result;
    } cases[] = {
        {"$2.5", {}, nullptr, "$3.00000"},
        {"-$2.5", {}, nullptr, "-$3.00000"},
        {"$2.4", {}, nullptr, "$2.00000"},
        {"$2.5", with(even), nullptr, "$2.00000"},
        {"$3.5", with(even), nullptr, "$4.00000"},
        {"$2.6", with(even), nullptr, "$3.00000"},
        {"-$2.7", with(down), nullptr, "-$2.00000"},
        {"-$2.1", with(floor_), nullptr, "-$3.00000"},
        {"$2.9", with(floor_), nullptr, "$2.00000"},
        {"$2.1", with(ceiling), nullptr, "$3.00000"},
        {"-$2.9", with(ceiling), nullptr, "-$2.00000"},
        {"$2.5", with(half_down), nullptr, "$2.00000"},
        {"$2.51", with(half_down), nullptr, "$3.00000"},
        {"-$2.5", with(half_ceiling), nullptr, "-$2.00000"},
        {"$2.5", with(half_ceiling), nullptr, "$3.00000"},
        {"$1.234", {}, "$0.05", "$1.25000"},
        {"$1.225", {}, "$0.05", "$1.25000"},
        {"$1.225", with(half_down), "$0.05", "$1.20000"},
        {"$1234", {}, "100", "$1200.00000"},
        {"-$1234", {}, "-100", "-$1200.00000"},
        {"EUR$1.5", {}, "USD$1", "EUR$2.00000"},
        {"$0.4", {}, nullptr, "$0.00000"},
        {"$0", {}, nullptr, "$0.00000"},
        {"$5", {}, "$0", "$5.00000"},
        {"$99999999999999999", {}, nullptr, "$99999999999999999.00000"},
        {"$99999999999999999.4", with(down), nullptr, "$99999999999999999.00000"},
        {"$99999999999999999.5", {}, nullptr, "error: script type-limit"},
        {"$1", {}, "\"a\"", "error: script not-related"},
        {"$1", {}, "0.123456", "error: script bad-make-arg"},
    };
    for (const auto& c : cases) {
        std::vector<int32_t> refs = c.refs;
        refs.resize(7, -1);
        EXPECT_EQ(rounded(c.value, refs, c.scale), c.result) << c.value << " " << (c.scale ? c.scale : "");
    }
}

TEST_F(MoneyTest, Comparison) {
    EXPECT_EQ(cmp("$1", "$2", op_lesser), -1);
    EXPECT_EQ(cmp("-$1", "-$2", op_lesser), 1);
    EXPECT_EQ(cmp("-$1", "$0", op_lesser), -1);
    EXPECT_EQ(cmp("-$0", "$0", op_equal), 0);
    EXPECT_EQ(cmp("$1", "1", op_equal), 0);
    EXPECT_EQ(cmp("$1.5", "1.5", op_equal), 0);
    EXPECT_EQ(cmp("$1", "1", op_strict_equal), 1);
    EXPECT_EQ(cmp("$1", "\"1\"", op_equal), not_comparable);
    EXPECT_EQ(cmp("USD$1", "$1", op_equal), 0);
    EXPECT_EQ(cmp("USD$1", "$1", op_strict_equal), 1);
    EXPECT_EQ(cmp("USD$1", "$1", op_find), 0);
    EXPECT_EQ(cmp("$1", "USD$1", op_find), 1);
    EXPECT_EQ(cmp("USD$1", "EUR$1", op_equal), 1);
    EXPECT_EQ(cmp("USD$1", "EUR$2", op_sort), 1);  // by code first: EUR before USD
    EXPECT_EQ(cmp("$5", "EUR$2", op_sort), -1);    // no currency before any
    EXPECT_EQ(cmp("EUR$5", "EUR$2", op_sort), 1);
    EXPECT_RAISES(cmp("USD$1", "EUR$1", op_lesser), err_cat::script, err_id::script::wrong_denom);
    // Floats beyond what an amount holds compare by their size.
    EXPECT_EQ(cmp("$1", "1e20", op_lesser), -1);
    EXPECT_EQ(cmp("$1", "-1e20", op_lesser), 1);
    EXPECT_EQ(cmp("$0", "1e-9", op_lesser), -1);
    EXPECT_EQ(cmp("-$1", "1e-9", op_lesser), -1);
    EXPECT_NE(cmp("$0", "1e-9", op_equal), 0);
    // integer! and float! on the left.
    EXPECT_EQ(cmp("1", "$2", op_lesser), -1);
    EXPECT_EQ(cmp("2.5", "$2", op_lesser), 1);
    EXPECT_EQ(cmp("2", "$2", op_equal), 0);
    EXPECT_EQ(cmp("2", "$2", op_strict_equal), 1);
}

TEST_F(MoneyTest, Conversions) {
    struct Case {
        uint32_t type;
        const char* spec;
        const char* result;
    } cases[] = {
        {type_money, "12", "$12.00000"},
        {type_money, "-2147483648", "-$2147483648.00000"},
        {type_money, "0.1", "$0.10000"},
        {type_money, "-1.25", "-$1.25000"},
        {type_money, "0.123456", "error: script bad-make-arg"},
        {type_money, "1e17", "error: script bad-make-arg"},
        {type_money, "1e-6", "error: script bad-make-arg"},
        {type_money, "\"USD$1'000.5\"", "USD$1000.50000"},
        {type_money, "\"-1.5\"", "-$1.50000"},
        {type_money, "\"XYZ$1\"", "error: script bad-to-arg"},
        {type_money, "\"abc\"", "error: script bad-to-arg"},
        {type_money, "#{01}", "error: script bad-to-arg"},
        {type_money, "USD$5", "USD$5.00000"},
        {type_integer, "-$2147483648.99", "-2147483648"},
        {type_integer, "$2147483647.99", "2147483647"},
        {type_integer, "$2147483648", "error: script type-limit"},
        {type_integer, "-$12.7", "-12"},
        {type_integer, "$0.5", "0"},
        {type_float, "$1.5", "1.5"},
        {type_float, "-$0.25", "-0.25"},
        {type_float, "$0", "0.0"},
    };
    for (const auto& c : cases) {
        Cell spec = load(c.spec);
        std::string got = outcome([&] { return mold(call(slot_to, {datatype(c.type), spec}), true); });
        EXPECT_EQ(got, c.result) << c.spec;
    }
}

TEST_F(MoneyTest, MakeFromWordsAndBlocks) {
    struct Case {
        const char* spec;
        const char* result;
    } cases[] = {
        {"[USD 12 345]", "USD$12.00345"},
        {"[12 5]", "$12.00005"},
        {"[-12 5]", "-$12.00005"},
        {"[EUR 1.5]", "EUR$1.50000"},
        {"[7]", "$7.00000"},
        {"[USD]", "error: script bad-make-arg"},
        {"[12.5 3]", "error: script bad-make-arg"},
        {"[12 100000]", "error: script bad-make-arg"},
        {"[12 -1]", "error: script bad-make-arg"},
        {"[USD 1 2 3]", "error: script bad-make-arg"},
        {"[XYZ 1]", "error: script bad-make-arg"},
        {"[1.123456]", "error: script bad-make-arg"},
        {"[]", "error: script bad-make-arg"},
        {"GBP", "GBP$0.00000"},
        {"XYZ", "error: script bad-make-arg"},
        {"3", "$3.00000"},
    };
    for (const auto& c : cases) {
        Cell spec = load(c.spec);
        std::string got = outcome([&] { return mold(call(slot_make, {datatype(type_money), spec}), true); });
        EXPECT_EQ(got, c.result) << c.spec;
    }
    // The error names the whole block.
    outcome([&] { return mold(call(slot_make, {datatype(type_money), load("[12.5 3]")})); });
    EXPECT_EQ(type_of(errors::last_error().args[1]), uint32_t(type_block));
}

TEST_F(MoneyTest, FieldsByPickAndPath) {
    Cell m = load("-USD$5.25");
    EXPECT_EQ(mold(call(slot_pick, {m, integer(1)})), "USD");
    EXPECT_EQ(mold(call(slot_pick, {m, integer(2)}), true), "-$5.25000");
    EXPECT_EQ(mold(call(slot_pick, {m, word_of("code")})), "USD");
    EXPECT_EQ(mold(call(slot_pick, {load("$5"), integer(1)})), "none");
    EXPECT_EQ(outcome([&] { return mold(call(slot_pick, {m, integer(3)})); }), "error: script out-of-range");
    EXPECT_EQ(outcome([&] { return mold(call(slot_pick, {m, word_of("other")})); }), "error: script out-of-range");

    Cell path = load("m/amount");
    Cell amount = word_of("AMOUNT"), code = word_of("code"), three = integer(3);
    EXPECT_EQ(mold(*money_t::path_access(&m, &amount, nullptr, &path, nullptr, nullptr, 1, false, true, false, false),
                   true),
              "-$5.25000");
    EXPECT_EQ(mold(*money_t::path_access(&m, &code, nullptr, &path, nullptr, nullptr, 1, false, true, false, false)),
              "USD");
    EXPECT_RAISES(money_t::path_access(&m, &three, nullptr, &path, nullptr, nullptr, 1, false, true, false, false),
                  err_cat::script, err_id::script::invalid_path);
    Cell one = integer(1);
    EXPECT_RAISES(money_t::path_access(&m, &code, &one, &path, nullptr, nullptr, 1, false, true, false, false),
                  err_cat::script, err_id::script::bad_path_set);
}

TEST_F(MoneyTest, SingleValueActions) {
    EXPECT_EQ(mold(call(slot_negate, {load("$5")}), true), "-$5.00000");
    EXPECT_EQ(mold(call(slot_absolute, {load("-USD$5")}), true), "USD$5.00000");
    EXPECT_EQ(call(slot_odd_q, {load("$3.2")}).w1, 1u);
    EXPECT_EQ(call(slot_even_q, {load("$3.2")}).w1, 0u);
    EXPECT_EQ(call(slot_even_q, {load("$10.9")}).w1, 1u);
    EXPECT_EQ(money_t::sign_of(load("-$0")), 0);
    EXPECT_TRUE(money_t::negative_q(load("-$0.00001")));
    EXPECT_EQ(money_t::digit_count(money_t::digits(load("$0.00012"))), 2u);
    EXPECT_EQ(money_t::digit_count(money_t::digits(load("$0"))), 1u);
    EXPECT_EQ(money_t::digit_count(money_t::digits(load("$10"))), 7u);
    // Shifting by digits, as the digit runs are laid out.
    Cell m = load("$1.5");
    money_t::shift_left(money_t::digits(m), money_t::digit_bytes, 2);
    EXPECT_EQ(mold(m, true), "$150.00000");
    money_t::shift_right(money_t::digits(m), money_t::digit_bytes, 7);
    EXPECT_EQ(mold(m, true), "$0.00001");
    // The layout other modules read.
    Cell n = load("-EUR$12.5");
    EXPECT_EQ(money_t::sign(n), 1u);
    EXPECT_EQ(money_t::currency(n), 2u);
    EXPECT_EQ(money_t::get_digit(money_t::digits(n), 16), 1u);
    EXPECT_EQ(money_t::get_digit(money_t::digits(n), 17), 2u);
    EXPECT_EQ(money_t::get_digit(money_t::digits(n), 18), 5u);
}

TEST_F(MoneyTest, RandomStaysWithinTheAmount) {
    for (const char* text : {"$0.50", "-USD$123.45", "$99999999999999999.99999", "$0"}) {
        Cell limit = load(text);
        for (int i = 0; i < 40; ++i) {
            Cell r = call(slot_random, {limit});
            EXPECT_EQ(money_t::currency(r), money_t::currency(limit));
            EXPECT_LE(money_t::units_of(r), money_t::units_of(limit)) << text;
            EXPECT_EQ(money_t::sign(r), money_t::sign(limit));
        }
    }
    EXPECT_EQ(type_of(call(slot_random, {load("$5")}, {0})), uint32_t(type_unset));
}

TEST_F(MoneyTest, CurrencyLookupFollowsTheList) {
    EXPECT_EQ(money_t::currency_index(symbol_t::make("VYR")), 6);
    EXPECT_EQ(money_t::currency_index(symbol_t::make("chf")), 5);
    EXPECT_EQ(money_t::currency_index(symbol_t::make("ABC")), -1);
    // Without a `system` object no code is known and the defaults hold.
    context_t::set_global_symbol_value(fixed::sym_system, none());
    EXPECT_EQ(money_t::currency_index(symbol_t::make("USD")), -1);
    EXPECT_EQ(money_t::money_digits(), 2);
    EXPECT_EQ(outcome([] { return mold(load("USD$1")); }), "error: syntax invalid");
}
