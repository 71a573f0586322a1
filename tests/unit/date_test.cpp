// date!: the calendar (day numbers, weekdays, week numbers, zones), the
// literal's mold, construction from blocks and integers, arithmetic, field
// access and comparison.
#include <gtest/gtest.h>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/time.h"
#include "runtime/stack.h"
#include "runtime/error_catalog.h"
#include "tests/unit/literal_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace dt = vyr::date_t;

namespace {

namespace script = err_id::script;

class DateTest : public LiteralTest {
protected:
    static int32_t packed(const char* text) { return dt::packed_of(value(text)); }
    static Cell block(std::string_view text) {
        std::string t = "[" + std::string(text) + "]";
        return value(t);
    }
    // make or to date! of a block, molded.
    static std::string made(std::string_view spec, bool strict = true) {
        Cell proto{type_datatype, type_date, 0, 0}, s = block(spec);
        return mold(strict ? *actions::make(&proto, &s) : *actions::to(&proto, &s));
    }
    static Cell math(Cell* (*fn)(), const Cell& a, const Cell& b) {
        Cell* base = stack::push_copy(a);
        stack::push_copy(b);
        stack::set_arg_base(base);
        Cell r = *fn();
        stack::stack_reset();
        return r;
    }
    static Cell get(const Cell& date, const char* field) {
        Cell d = date, e = unbound_word(field);
        return *actions::path_access(&d, &e, nullptr, nullptr, nullptr, nullptr, -1, false, true, true, false);
    }
    static Cell set(const Cell& date, const char* field, const Cell& v) {
        Cell d = date, e = unbound_word(field), x = v;
        actions::path_access(&d, &e, &x, &e, nullptr, nullptr, -1, false, false, true, false);
        return d;
    }
};

TEST_F(DateTest, DayNumbersRunOnThroughYearZero) {
    EXPECT_EQ(dt::day_count(packed("1-Jan-1970")), dt::epoch_days);
    EXPECT_EQ(dt::day_count(dt::pack(0, 3, 1, 0, false)), 0);
    EXPECT_EQ(dt::weekday(packed("1-Jan-1970")), 4);
    // Consecutive day numbers give consecutive dates and back, across
    // negative years, leap days of year 0 and centuries.
    for (int32_t g = -800000; g <= 800000; g += 7) {
        int32_t d = dt::from_days(g, 0, false);
        ASSERT_EQ(dt::day_count(d), g) << g;
        int32_t day = dt::day_of(d), month = dt::month_of(d);
        ASSERT_TRUE(day >= 1 && day <= 31 && month >= 1 && month <= 12) << g;
    }
    EXPECT_EQ(dt::day_count(dt::pack(0, 2, 29, 0, false)) + 1, dt::day_count(dt::pack(0, 3, 1, 0, false)));
    EXPECT_EQ(dt::day_count(dt::pack(-1, 3, 1, 0, false)), -366);  // year 0 is a leap year
}

TEST_F(DateTest, WeekdaysYeardaysAndWeeks) {
    struct Case {
        const char* date;
        int32_t weekday, yearday, week, isoweek;
    } cases[] = {
        {"1-Jan-1970", 4, 1, 1, 1},    {"31-Dec-2024", 2, 366, 53, 1},   {"1-Mar-2023", 3, 60, 9, 9},
        {"1-Jan-2021", 5, 1, 1, 53},   {"1-Jan-2022", 6, 1, 1, 52},      {"1-Jan-2017", 7, 1, 1, 52},
        {"4-Jan-2021", 1, 4, 2, 1},    {"1-Jan-2016", 5, 1, 1, 53},      {"2-Jan-2016", 6, 2, 1, 53},
        {"3-Jan-2016", 7, 3, 2, 53},   {"29-Dec-2025", 1, 363, 53, 1},   {"28-Dec-2025", 7, 362, 53, 52},
        {"31-Dec-2026", 4, 365, 53, 53},
    };
    for (const auto& c : cases) {
        int32_t d = packed(c.date);
        EXPECT_EQ(dt::weekday(d), c.weekday) << c.date;
        EXPECT_EQ(dt::yearday(d), c.yearday) << c.date;
        EXPECT_EQ(dt::week(d), c.week) << c.date;
        EXPECT_EQ(dt::iso_week(d), c.isoweek) << c.date;
    }
    EXPECT_TRUE(dt::leap_year_q(2000));
    EXPECT_FALSE(dt::leap_year_q(1900));
    EXPECT_TRUE(dt::leap_year_q(2024));
    EXPECT_TRUE(dt::leap_year_q(0));
}

TEST_F(DateTest, MoldTexts) {
    struct Case {
        const char* text;
        const char* mold;
    } cases[] = {
        {"1-Jan-2024", "1-Jan-2024"},
        {"1-Jan-2024/10:00", "1-Jan-2024/10:00:00"},
        {"1-Jan-2024/10:00+01:00", "1-Jan-2024/10:00:00+01:00"},
        {"15-Mar-2024/23:30:00-05:30", "15-Mar-2024/23:30:00-05:30"},
        {"2024-03-15T08:45:30.25+05:45", "15-Mar-2024/8:45:30.25+05:45"},
        {"1-Jan-2024/0:30+01:00", "1-Jan-2024/0:30:00+01:00"},
        {"2-Sep-1999/0:00", "2-Sep-1999/0:00:00"},
        {"2021-W01-1", "4-Jan-2021"},
        {"2024-060", "29-Feb-2024"},
    };
    for (const auto& c : cases) EXPECT_EQ(remold(c.text), c.mold) << c.text;

    Cell d{};
    struct Year {
        int32_t year, day;
        const char* mold;
    } years[] = {{99, 5, "5-Mar-0099"}, {100, 5, "5-Mar-100"}, {-44, 15, "15/Mar/-0044"},
                 {12345, 1, "1-Mar-12345"}, {0, 1, "1-Mar-0000"}, {7, 1, "1-Mar-0007"}};
    for (const auto& y : years) {
        dt::from_parts(&d, y.year, 3, y.day, 0, 0, 0, false);
        EXPECT_EQ(mold(d), y.mold);
        EXPECT_EQ(form(d), y.mold);
    }
    // The budget goes down by the characters written.
    Cell buffer{};
    string_t::make_at(buffer, 16);
    Cell v = value("15-Mar-2024/23:30-05:30");
    EXPECT_EQ(dt::mold(&v, &buffer, false, false, false, nullptr, 100, 0), 100 - 26);
}

TEST_F(DateTest, MoldTakesTheMonthNamesFromTheLocale) {
    Cell d = value("1-Jun-2024");
    install_month_names({"enero", "febrero", "marzo", "abril", "mayo", "junio"});
    EXPECT_EQ(mold(d), "1-jun-2024");
    install_month_names({"Jan", "Feb"});
    EXPECT_RAISES(mold(d), err_cat::script, script::invalid_months);
    context_t::set_global_symbol_value(fixed::sym_system, Cell{type_none, 0, 0, 0});
    EXPECT_RAISES(mold(d), err_cat::script, script::invalid_months);
}

TEST_F(DateTest, ZonesStoreUtcAndShowLocal) {
    Cell d = value("1-Jan-2024/10:00+01:00");
    EXPECT_EQ(dt::time_of(d), 9 * 3600.0);
    EXPECT_EQ(mold(get(d, "time")), "10:00:00");
    EXPECT_EQ(mold(get(d, "zone")), "1:00:00");
    EXPECT_EQ(mold(get(d, "timezone")), "1:00:00");
    EXPECT_EQ(mold(get(d, "hour")), "10");

    Cell two{type_integer, 0, 2, 0};
    EXPECT_EQ(mold(set(d, "zone", two)), "1-Jan-2024/10:00:00+02:00");
    EXPECT_EQ(mold(set(d, "timezone", two)), "1-Jan-2024/11:00:00+02:00");
    Cell west = value("-5:30");
    EXPECT_EQ(mold(set(d, "timezone", west)), "1-Jan-2024/3:30:00-05:30");
    EXPECT_EQ(mold(set(value("1-Jan-2024/1:00"), "timezone", west)), "31-Dec-2023/19:30:00-05:30");
    EXPECT_EQ(mold(set(d, "zone", value("-0:30"))), "1-Jan-2024/10:00:00-00:30");
    EXPECT_EQ(mold(set(value("1-Jan-2024"), "zone", two)), "1-Jan-2024/0:00:00+02:00");
    EXPECT_RAISES(set(d, "zone", value("1.5")), err_cat::script, script::invalid_arg);

    Cell none{type_none, 0, 0, 0};
    Cell plain = value("1-Jan-2024");
    EXPECT_EQ(type_of(get(plain, "zone")), uint32_t(type_none));
    EXPECT_EQ(type_of(get(plain, "time")), uint32_t(type_none));
    EXPECT_EQ(mold(set(d, "time", none)), "1-Jan-2024");
}

TEST_F(DateTest, FieldsReadAndSet) {
    Cell d = value("15-Jan-2024/10:20:30.5+05:30");
    struct Read {
        const char* field;
        const char* mold;
    } reads[] = {{"date", "15-Jan-2024"}, {"year", "2024"}, {"month", "1"},       {"day", "15"},
                 {"hour", "10"},          {"minute", "20"}, {"second", "30.5"},   {"weekday", "1"},
                 {"yearday", "15"},       {"julian", "15"}, {"week", "3"},        {"isoweek", "3"}};
    for (const auto& r : reads) EXPECT_EQ(mold(get(d, r.field)), r.mold) << r.field;

    struct Write {
        const char* date;
        const char* field;
        const char* value;
        const char* mold;
    } writes[] = {
        {"29-Feb-2024", "year", "2023", "1-Mar-2023"},
        {"15-Jan-2024", "month", "13", "15-Jan-2025"},
        {"15-Jan-2024", "month", "0", "15-Dec-2023"},
        {"31-Jan-2024", "month", "2", "2-Mar-2024"},
        {"15-Jan-2024", "day", "0", "31-Dec-2023"},
        {"15-Jan-2024", "day", "32", "1-Feb-2024"},
        {"17-Jan-2024", "weekday", "7", "21-Jan-2024"},
        {"17-Jan-2024", "yearday", "60", "29-Feb-2024"},
        {"17-Jan-2024", "week", "2", "7-Jan-2024"},
        {"17-Jan-2024", "week", "1", "1-Jan-2024"},
        {"17-Jan-2024", "isoweek", "10", "4-Mar-2024"},
        {"1-Jan-2024/10:00+05:30", "hour", "11", "1-Jan-2024/11:00:00+05:30"},
        {"1-Jan-2024/10:00+05:30", "minute", "15", "1-Jan-2024/10:15:00+05:30"},
        {"1-Jan-2024/10:00+05:30", "second", "7.5", "1-Jan-2024/10:00:07.5+05:30"},
        {"1-Jan-2024/10:00", "hour", "25", "2-Jan-2024/1:00:00"},
        {"1-Jan-2024", "hour", "3", "1-Jan-2024/3:00:00"},
        {"1-Jan-2024/10:00+01:00", "time", "23:30", "1-Jan-2024/23:30:00+01:00"},
        {"1-Jan-2024/10:00+01:00", "time", "25:00", "2-Jan-2024/1:00:00+01:00"},
        {"1-Jan-2024/10:00+01:00", "date", "5-May-2020", "5-May-2020"},
        {"1-Jan-2024/10:00+01:00", "date", "5-May-2020/1:00", "5-May-2020/10:00:00+01:00"},
    };
    for (const auto& w : writes)
        EXPECT_EQ(mold(set(value(w.date), w.field, value(w.value))), w.mold) << w.date << " " << w.field;

    Cell before = value("15-Jan-2024");
    for (const char* field : {"year", "month", "day", "weekday", "week"})
        EXPECT_RAISES(set(before, field, value("1.0")), err_cat::script, script::invalid_arg);
    EXPECT_RAISES(set(before, "date", value("1")), err_cat::script, script::invalid_arg);
    EXPECT_RAISES(set(before, "time", value("1")), err_cat::script, script::invalid_arg);
    EXPECT_RAISES(get(before, "fortnight"), err_cat::script, script::invalid_path);
    Cell e{type_integer, 0, 15, 0};
    EXPECT_RAISES(actions::path_access(&before, &e, nullptr, &e, nullptr, nullptr, -1, false, true, true, false),
                  err_cat::script, script::invalid_path);
}

TEST_F(DateTest, FailedAssignmentLeavesTheDate) {
    Cell d = value("15-Jan-2024/10:00");
    Cell saved = d, e = unbound_word("minute"), v = value("1.5");
    EXPECT_RAISES(actions::path_access(&d, &e, &v, &e, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, script::invalid_arg);
    EXPECT_EQ(d.w1, saved.w1);
    EXPECT_EQ(dt::time_of(d), dt::time_of(saved));
}

TEST_F(DateTest, PickByIndexOrWord) {
    Cell d = value("15-Jan-2024/10:00");
    for (int32_t i = 1; i <= 14; ++i) {
        Cell v = d, index{type_integer, 0, uint32_t(i), 0};
        Cell expected = d;
        dt::get_field(&expected, d, i);
        Cell* r = actions::pick(&v, i, &index);
        EXPECT_EQ(mold(*r), mold(expected)) << i;
    }
    Cell v = d, w = unbound_word("julian");
    EXPECT_EQ(mold(*actions::pick(&v, 0, &w)), "15");
    Cell fifteen{type_integer, 0, 15, 0}, zero{type_integer, 0, 0, 0}, bad = unbound_word("fortnight");
    v = d;
    EXPECT_RAISES(actions::pick(&v, 15, &fifteen), err_cat::script, script::out_of_range);
    EXPECT_RAISES(actions::pick(&v, 0, &zero), err_cat::script, script::out_of_range);
    EXPECT_RAISES(actions::pick(&v, 0, &bad), err_cat::script, script::out_of_range);
}

TEST_F(DateTest, MakeAndToFromBlocks) {
    struct Case {
        const char* spec;
        const char* make;  // null: bad-to-arg
        const char* to;
    } cases[] = {
        {"15 1 2024", "15-Jan-2024", "15-Jan-2024"},
        {"2024 1 15", "15-Jan-2024", "15-Jan-2024"},
        {"15 1 2024 10 30 0", "15-Jan-2024/10:30:00", "15-Jan-2024/10:30:00"},
        {"15 1 2024 10 30 5.5 -5 30", "15-Jan-2024/10:30:05.5-05:30", "15-Jan-2024/10:30:05.5-05:30"},
        {"15 1 2024 10:30 2", "15-Jan-2024/10:30:00+02:00", "15-Jan-2024/10:30:00+02:00"},
        {"15 1 2024 10:30 2 45", "15-Jan-2024/10:30:00+02:45", "15-Jan-2024/10:30:00+02:45"},
        {"15 1 2024 10:30 -3:30", "15-Jan-2024/10:30:00-03:30", "15-Jan-2024/10:30:00-03:30"},
        {"15 1 2024 10", "15-Jan-2024/10:00:00", "15-Jan-2024/10:00:00"},
        {"31 2 2024", nullptr, "2-Mar-2024"},
        {"32 1 2024", nullptr, "1-Feb-2024"},
        {"1 13 2024", nullptr, "1-Jan-2025"},
        {"1 1 2024 24 0 0", nullptr, "2-Jan-2024/0:00:00"},
        {"1 1 2024 10 75 0", nullptr, "1-Jan-2024/11:15:00"},
        {"15 1", nullptr, nullptr},
        {"15 1 2024.0", nullptr, nullptr},
        {"15 1 2024 10:00 1:00 2:00", "15-Jan-2024/10:00:00+01:00", "15-Jan-2024/10:00:00+01:00"},
        {"15 1 2024 10:00 a", nullptr, nullptr},
        {"15 1 2024 10 30 0 1:00 5", "15-Jan-2024/10:30:00+01:00", "15-Jan-2024/10:30:00+01:00"},
    };
    for (const auto& c : cases) {
        if (c.make) EXPECT_EQ(made(c.spec), c.make) << c.spec;
        else EXPECT_RAISES(made(c.spec), err_cat::script, script::bad_to_arg);
        if (c.to) EXPECT_EQ(made(c.spec, false), c.to) << c.spec;
        else EXPECT_RAISES(made(c.spec, false), err_cat::script, script::bad_to_arg);
    }
    Cell proto{type_datatype, type_date, 0, 0}, text = text_value("1-Jan-2024");
    EXPECT_RAISES(actions::to(&proto, &text), err_cat::script, script::bad_to_arg);
    Cell date = value("1-Jan-2024");
    EXPECT_RAISES(actions::make(&proto, &date), err_cat::script, script::bad_to_arg);
    EXPECT_EQ(mold(*actions::to(&proto, &date)), "1-Jan-2024");
}

TEST_F(DateTest, UnixSecondsBothWays) {
    struct Case {
        int32_t seconds;
        const char* date;
    } cases[] = {{0, "1-Jan-1970/0:00:00"},         {-1, "31-Dec-1969/23:59:59"},
                 {86401, "2-Jan-1970/0:00:01"},     {-86400, "31-Dec-1969/0:00:00"},
                 {1700000000, "14-Nov-2023/22:13:20"}, {-2147483647 - 1, "13-Dec-1901/20:45:52"}};
    for (const auto& c : cases) {
        Cell proto{type_datatype, type_date, 0, 0}, n{type_integer, 0, uint32_t(c.seconds), 0};
        Cell d = *actions::to(&proto, &n);
        EXPECT_EQ(mold(d), c.date) << c.seconds;
        EXPECT_EQ(dt::to_epoch(d), c.seconds) << c.date;
    }
    EXPECT_EQ(dt::to_epoch(value("2-Jan-1970/0:00:00.6")), 86401);
    EXPECT_EQ(dt::to_epoch(value("1-Jan-1970/1:00+01:00")), 0);
    Cell proto{type_datatype, type_integer, 0, 0}, late = value("1-Jan-2100");
    EXPECT_RAISES(actions::to(&proto, &late), err_cat::script, script::type_limit);
    Cell d = value("1-Jan-2000");
    EXPECT_EQ(integer_t::get(*actions::to(&proto, &d)), 946684800);
}

TEST_F(DateTest, Arithmetic) {
    struct Case {
        const char* a;
        bool add;
        const char* b;
        const char* result;
    } cases[] = {
        {"31-Dec-2024", true, "1", "1-Jan-2025"},
        {"1-Mar-2024", false, "1", "29-Feb-2024"},
        {"1-Jan-2024", true, "-365", "1-Jan-2023"},
        {"1-Jan-2024", true, "10:00", "1-Jan-2024/10:00:00"},
        {"1-Jan-2024/23:00", true, "2:00", "2-Jan-2024/1:00:00"},
        {"1-Jan-2024/1:00+02:00", false, "2:00", "31-Dec-2023/23:00:00+02:00"},
        {"2-Jan-2024/1:00", false, "1-Jan-2024/2:00", "0"},
        {"2-Jan-2024", false, "1-Jan-2024", "1"},
        {"1-Jan-2024", false, "1-Jan-2025", "-366"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mold(math(c.add ? dt::add : dt::subtract, value(c.a), value(c.b))), c.result) << c.a << " " << c.b;
    // The number or time may come first in an addition.
    EXPECT_EQ(mold(math(integer_t::add, value("2"), value("30-Dec-2024"))), "1-Jan-2025");
    EXPECT_EQ(mold(math(time_t::add, value("1:00"), value("1-Jan-2024"))), "1-Jan-2024/1:00:00");
    EXPECT_RAISES(math(dt::add, value("1-Jan-2024"), value("1-Jan-2024")), err_cat::script, script::not_related);
    EXPECT_RAISES(math(dt::add, value("1-Jan-2024"), value("1.5")), err_cat::script, script::invalid_type);
    EXPECT_RAISES(math(integer_t::subtract, value("1"), value("1-Jan-2024")), err_cat::script, script::not_related);
    Cell a = value("2-Jan-2024/1:00");
    dt::difference(&a, value("1-Jan-2024/2:00"));
    EXPECT_EQ(mold(a), "23:00:00");
}

TEST_F(DateTest, Comparison) {
    Cell a = value("1-Jan-2024/10:00"), b = a;
    set_cell_float(b, dt::time_of(a) * (1 + 1e-15));
    EXPECT_EQ(dt::compare(&a, &b, registry::op_equal), 0);
    EXPECT_EQ(dt::compare(&a, &b, registry::op_strict_equal), 0);
    EXPECT_EQ(dt::compare(&a, &b, registry::op_same), 1);
    Cell c = a;
    EXPECT_EQ(dt::compare(&a, &c, registry::op_same), 0);
    struct Case {
        const char* a;
        const char* b;
        int32_t order;
    } cases[] = {{"1-Jan-2024", "2-Jan-2024", -1},           {"1-Jan-2025", "2-Jan-2024", 1},
                 {"1-Jan-2024/10:00", "1-Jan-2024/9:00", 1}, {"1-Jan-2024", "1-Jan-2024/0:00", 0}};
    for (const auto& k : cases) {
        Cell x = value(k.a), y = value(k.b);
        EXPECT_EQ(dt::compare(&x, &y, registry::op_lesser), k.order) << k.a << " " << k.b;
    }
    Cell bc{}, ad{};
    dt::from_parts(&bc, -44, 3, 15, 0, 0, 0, false);
    dt::from_parts(&ad, 10, 1, 1, 0, 0, 0, false);
    EXPECT_EQ(dt::compare(&bc, &ad, registry::op_lesser), -1);
    Cell n{type_integer, 0, 1, 0};
    EXPECT_EQ(dt::compare(&a, &n, registry::op_equal), registry::not_comparable);
}

TEST_F(DateTest, RandomStaysInRange) {
    Cell seed = value("1-Jan-2024");
    dt::random(&seed, true, false, false);
    EXPECT_EQ(type_of(seed), uint32_t(type_unset));
    int32_t top = dt::day_count(packed("1-Jan-2024"));
    for (int i = 0; i < 200; ++i) {
        Cell d = value("1-Jan-2024/10:00+01:00");
        dt::random(&d, false, false, false);
        ASSERT_EQ(type_of(d), uint32_t(type_date));
        int32_t g = dt::day_count(dt::packed_of(d));
        EXPECT_TRUE(g >= -1 && g <= top) << g;
        double local = dt::to_local(dt::time_of(d), dt::zone_of(dt::packed_of(d)));
        EXPECT_TRUE(local >= 0 && local < 86400) << local;
    }
}

}  // namespace
