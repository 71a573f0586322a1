#include "datatypes/date.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/number_support.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/fixed_words.h"
#include "runtime/numeric.h"
#include "runtime/series.h"

namespace vyr::date_t {

using namespace number_support;

// ---- The packed date --------------------------------------------------------------

int32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    uint32_t d = (uint32_t(year) & packed::year_bits) << packed::year_shift;
    d |= (uint32_t(month) & packed::month_mask) << packed::month_shift;
    d |= (uint32_t(day) & packed::day_mask) << packed::day_shift;
    d |= zone & packed::zone_mask;
    if (has_time) d |= packed::has_time;
    return int32_t(d);
}

uint32_t zone_bits(int32_t hours, int32_t minutes, bool west) {
    uint32_t z = (uint32_t(std::abs(hours)) & packed::zone_hours_mask) << packed::zone_hours_shift;
    z |= uint32_t(std::abs(minutes) / minutes_per_quarter) & packed::zone_quarters_mask;
    if (west) z |= packed::zone_sign;
    return z;
}

double zone_seconds(uint32_t zone) { return zone_hours(zone) * time_t::seconds_per_hour; }

double zone_hours(uint32_t zone) {
    double h = double((zone >> packed::zone_hours_shift) & packed::zone_hours_mask) +
               double(zone & packed::zone_quarters_mask) * minutes_per_quarter / 60.0;
    return (zone & packed::zone_sign) ? -h : h;
}

namespace {

// Day numbers are int32; sums that leave that range wrap rather than
// overflow (the routines promise right answers only within the 15-bit years).
int32_t wrap(int64_t n) { return int32_t(uint32_t(uint64_t(n))); }

// Division and remainder rounded toward minus infinity, so that the calendar
// runs on unchanged through year 0 into negative years.
int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}
int32_t floor_mod(int64_t a, int64_t b) { return int32_t(a - floor_div(a, b) * b); }

// Days from 1-Mar-0000 to 1 March of year y.
int64_t march_days(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

int32_t days_of(int32_t year, int32_t month, int32_t day) {
    int64_t m = (month + 9) % 12;  // March is 0, February 11
    int64_t y = int64_t(year) - m / 10;
    return wrap(march_days(y) + (306 * m + 5) / 10 + (day - 1));
}

Cell date_cell(int32_t d, double time) {
    Cell c{type_date, uint32_t(d), 0, 0};
    set_cell_float(c, time);
    return c;
}

// The cell's packed date rebuilt from a day number, zone and has-time kept.
void set_days(Cell* date, int32_t days) {
    int32_t d = packed_of(*date);
    date->w1 = uint32_t(from_days(days, zone_of(d), has_time_q(d)));
}

bool word_type_q(uint32_t t) {
    return t == type_word || t == type_lit_word || t == type_get_word || t == type_set_word ||
           t == type_refinement || t == type_issue;
}

}  // namespace

// ---- Calendar arithmetic --------------------------------------------------------

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t day_count(int32_t d) { return days_of(year_of(d), month_of(d), day_of(d)); }

// The inverse of day_count: the year estimated from the mean year length,
// corrected by one when the estimate overshoots; then the month of the
// March-based year from the 30.6-day month pattern.
int32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    auto y = int64_t(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    int64_t ddd = g - march_days(y);
    if (ddd < 0) {
        --y;
        ddd = g - march_days(y);
    }
    int64_t mi = (100 * ddd + 52) / 3060;
    auto month = int32_t((mi + 2) % 12 + 1);
    auto year = int32_t(y + (mi + 2) / 12);
    auto day = int32_t(ddd - (306 * mi + 5) / 10 + 1);
    return pack(year, month, day, zone, has_time);
}

int32_t year_start_days(int32_t d) { return days_of(year_of(d), 1, 1); }
int32_t yearday(int32_t d) { return day_count(d) - year_start_days(d) + 1; }
int32_t weekday(int32_t d) { return floor_mod(int64_t(day_count(d)) + 2, 7) + 1; }

int32_t iso_week_1(int32_t d, int32_t& jan1_weekday) {
    int32_t j = year_start_days(d);
    int32_t w = floor_mod(int64_t(j) + 2, 7);  // 0 for Monday
    jan1_weekday = w + 1;
    return j - w + (w >= 4 ? 7 : 0);
}

// A day before week 1 belongs to the last week of the year before: week 53
// when that year ended on a Thursday (1 January a Friday), or on a Friday of
// a leap year (1 January a Saturday); else week 52.
int32_t iso_week(int32_t d) {
    int32_t jan1 = 0;
    int32_t start = iso_week_1(d, jan1);
    int32_t day = day_count(d);
    if (day < start) {
        if (jan1 == 5) return 53;
        if (jan1 == 6) return leap_year_q(year_of(d) - 1) ? 53 : 52;
        return 52;
    }
    int32_t unused = 0;
    int32_t next = iso_week_1(pack(year_of(d) + 1, 1, 1, 0, false), unused);
    return day < next ? (day - start) / 7 + 1 : 1;
}

int32_t week(int32_t d) {
    int32_t e = floor_mod(int64_t(year_start_days(d)) + 3, 7);  // 0 when 1 January is a Sunday
    int32_t n = yearday(d);
    return n <= 7 - e ? 1 : (n + e - 1) / 7 + 1;
}

double to_local(double time, uint32_t zone) { return time + zone_seconds(zone); }
double to_utc(double time, uint32_t zone) { return time - zone_seconds(zone); }

int32_t carry_zone(int32_t days, double& time, uint32_t zone) {
    double z = zone_hours(zone);
    int32_t m = numeric::truncate_to_int32(time / time_t::seconds_per_hour + z) / 24;
    int64_t d = int64_t(days) + m;
    time -= double(m) * seconds_per_day;
    if (z * time_t::seconds_per_hour + time < 0.0) {
        d -= 1;
        time += seconds_per_day;
    }
    return wrap(d);
}

void normalize(Cell* date, double time, bool convert) {
    int32_t d = packed_of(*date);
    uint32_t zone = zone_of(d);
    if (convert) time = to_utc(time, zone);
    int32_t days = carry_zone(day_count(d), time, zone);
    date->w1 = uint32_t(from_days(days, zone, has_time_q(d)));
    set_cell_float(*date, time);
}

// An integer! counts hours modulo 16; a time! is taken modulo 16 hours and
// gives its whole hours and minutes. The sign of the value is the zone's
// direction, so -0:30 is west of UTC although its hour count is 0.
void set_zone(Cell* date, const Cell& value, bool keep_instant) {
    uint32_t zone;
    if (type_of(value) == type_integer) {
        int32_t h = integer_t::get(value) % 16;
        zone = zone_bits(h, 0, h < 0);
    } else if (type_of(value) == type_time) {
        double t = std::fmod(float_t::get(value), 16.0 * time_t::seconds_per_hour);
        zone = zone_bits(time_t::hours(t), time_t::minutes(t), t < 0.0);
    } else {
        raise_script(script::invalid_arg, value);
    }
    int32_t d = packed_of(*date);
    double time = time_of(*date);
    if (!keep_instant) time = to_utc(to_local(time, zone_of(d)), zone);
    date->w1 = (uint32_t(d) & ~packed::zone_mask) | zone | packed::has_time;
    normalize(date, time, false);
}

void set_month(Cell* date, int32_t n) {
    int32_t d = packed_of(*date);
    int64_t k = int64_t(n) - 1;
    auto year = int32_t(year_of(d) + floor_div(k, 12));
    int32_t month = floor_mod(k, 12) + 1;
    set_days(date, days_of(year, month, day_of(d)));
}

void set_iso_week(Cell* date, int32_t n) {
    int32_t jan1 = 0;
    set_days(date, wrap(iso_week_1(packed_of(*date), jan1) + 7 * (int64_t(n) - 1)));
}

void set_weekday(Cell* date, int32_t n) {
    int32_t d = packed_of(*date);
    set_days(date, wrap(int64_t(day_count(d)) - (weekday(d) - 1) + (int64_t(n) - 1)));
}

void set_yearday(Cell* date, int32_t n) {
    set_days(date, wrap(int64_t(year_start_days(packed_of(*date))) + n - 1));
}

void set_week(Cell* date, int32_t n) {
    int32_t jan1 = year_start_days(packed_of(*date));
    int32_t e = floor_mod(int64_t(jan1) + 3, 7);
    set_days(date, n < 2 ? jan1 : wrap(int64_t(jan1) + 7 * int64_t(n) - e - 7));
}

Cell* do_math(Cell* a, const Cell& b, int32_t op) {
    int32_t days = 0;
    double secs = 0.0;
    bool gives_time = false;
    switch (type_of(b)) {
        case type_integer: days = integer_t::get(b); break;
        case type_time:
            secs = float_t::get(b);
            gives_time = true;
            break;
        case type_date:
            if (op != integer_t::op_subtract) raise_not_related(word_arg("add"), type_date);
            days = day_count(packed_of(b));
            secs = time_of(b);
            break;
        default: raise_invalid_type(b);
    }
    int32_t d = packed_of(*a);
    bool add = op == integer_t::op_add;
    int32_t day = wrap(int64_t(day_count(d)) + (add ? int64_t(days) : -int64_t(days)));
    double time = add ? time_of(*a) + secs : time_of(*a) - secs;
    day = carry_zone(day, time, zone_of(d));
    if (type_of(b) == type_date) {
        *a = Cell{type_integer, 0, uint32_t(day), 0};
        return a;
    }
    *a = date_cell(from_days(day, zone_of(d), has_time_q(d) || gives_time), time);
    return a;
}

Cell* difference(Cell* a, const Cell& b) {
    double days = double(day_count(packed_of(*a))) - double(day_count(packed_of(b)));
    double secs = days * seconds_per_day + time_of(*a) - time_of(b);
    *a = Cell{type_time, 0, 0, 0};
    set_cell_float(*a, secs);
    return a;
}

int32_t to_epoch(const Cell& date) {
    double days = double(day_count(packed_of(date))) - epoch_days;
    double secs = days * seconds_per_day + std::trunc(time_of(date) + 0.5);
    if (!(secs >= -2147483648.0 && secs <= 2147483647.0))
        raise_script(script::type_limit, datatype_t::value_of(type_integer));
    return int32_t(secs);
}

double seconds(int32_t d, double time) { return double(day_count(d)) * seconds_per_day + time; }

// ---- Making dates -----------------------------------------------------------------

Cell* from_parts(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                 int32_t zone_minutes, bool has_time) {
    uint32_t zone = zone_bits(zone_hours, zone_minutes, zone_hours < 0);
    *cell = date_cell(pack(year, month, day, zone, has_time), has_time ? to_utc(time, zone) : 0.0);
    return cell;
}

Cell* from_parts_utc(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                     int32_t second, int32_t nanoseconds) {
    double time = 3600.0 * hour + 60.0 * minute + second + nanoseconds * 1e-9;
    *cell = date_cell(pack(year, month, day, 0, true), time);
    return cell;
}

Cell* push(int32_t d, double time) { return stack::push_copy(date_cell(d, time)); }

Cell* load(const Cell& block, int32_t d, uint32_t time_high, uint32_t time_low) {
    Cell* c = series::append_cell(block);
    *c = Cell{type_date, uint32_t(d), time_low, time_high};
    return c;
}

void bad_spec(const Cell& spec) { raise_bad_to_arg(type_date, spec); }

namespace {

// What a date block gave, element by element.
struct BlockParts {
    int32_t day = 0, month = 0, year = 0;
    int32_t hour = 0, minute = 0;
    double second = 0.0;
    bool clock = false;  // hour (minute, second) given as numbers
    double time = 0.0;
    bool time_given = false;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_west = false;
    uint32_t count = 0;
};

// States of the reader: what the next element may be. After a zone the
// reader stops; elements after it are not read.
enum State : int32_t {
    want_day, want_month, want_year, date_done, after_time, zone_done_time, want_zone_minutes,
    zone_done, want_minute, want_second, after_second, zone_done_time2, want_zone_minutes2, zone_done2,
};

bool end_state(int32_t s) { return s == zone_done_time || s == zone_done || s == zone_done_time2 || s == zone_done2; }

void zone_from_time(BlockParts& p, double t) {
    p.zone_hours = time_t::hours(t);
    p.zone_minutes = time_t::minutes(t);
    p.zone_west = t < 0.0;
}

// One element in one state; answers the next state, or -1 when the element
// is not allowed there.
int32_t read_element(BlockParts& p, int32_t state, const Cell& c) {
    uint32_t t = type_of(c);
    bool i = t == type_integer, tm = t == type_time, f = t == type_float;
    int32_t n = i ? integer_t::get(c) : 0;
    switch (state) {
        case want_day: if (i) { p.day = n; return want_month; } break;
        case want_month: if (i) { p.month = n; return want_year; } break;
        case want_year: if (i) { p.year = n; return date_done; } break;
        case date_done:
            if (i) { p.hour = n; p.clock = true; return want_minute; }
            if (tm) { p.time = float_t::get(c); p.time_given = true; return after_time; }
            break;
        case after_time:
        case after_second:
            if (i) { p.zone_hours = n; p.zone_west = n < 0; return state == after_time ? want_zone_minutes : want_zone_minutes2; }
            if (tm) { zone_from_time(p, float_t::get(c)); return state == after_time ? zone_done_time : zone_done_time2; }
            break;
        case want_zone_minutes: if (i) { p.zone_minutes = n; return zone_done; } break;
        case want_zone_minutes2: if (i) { p.zone_minutes = n; return zone_done2; } break;
        case want_minute: if (i) { p.minute = n; return want_second; } break;
        case want_second:
            if (i || f) { p.second = i ? double(n) : float_t::get(c); return after_second; }
            break;
        default: break;
    }
    return -1;
}

}  // namespace

Cell* make_from_block(Cell* out, const Cell& block, bool strict) {
    CellView v = cells_from_index(block);
    if (v.length < 3) bad_spec(block);
    BlockParts p;
    int32_t state = want_day;
    for (uint32_t k = 0; k < v.length && !end_state(state); ++k) {
        state = read_element(p, state, v.cells[k]);
        if (state < 0) bad_spec(block);
        ++p.count;
    }
    if (p.day > 99 && p.year < p.day) std::swap(p.day, p.year);  // year-month-day order
    double time = p.time_given ? p.time : p.hour * 3600.0 + p.minute * 60.0 + p.second;
    bool has_time = p.count > 3;

    Cell date = date_cell(pack(p.year, 1, 1, 0, has_time), 0.0);
    set_month(&date, p.month);
    set_days(&date, wrap(int64_t(day_count(packed_of(date))) - 1 + p.day));
    if (strict) {
        int32_t d = packed_of(date);
        bool same_date = day_of(d) == p.day && month_of(d) == p.month && year_of(d) == p.year;
        int32_t h = time_t::hours(time);
        bool clock_kept = !has_time || (time >= 0.0 && h <= 23 && (!p.clock || time_t::minutes(time) == p.minute));
        if (!same_date || !clock_kept) bad_spec(block);
    }
    date.w1 |= zone_bits(p.zone_hours, p.zone_minutes, p.zone_west);
    normalize(&date, time, true);
    *out = date;
    return out;
}

// ---- Fields -------------------------------------------------------------------------

int32_t field_index(const Cell& word) {
    static const int32_t* const symbols[] = {
        &fixed::sym_date,   &fixed::sym_year,    &fixed::sym_month,   &fixed::sym_day,     &fixed::sym_zone,
        &fixed::sym_time,   &fixed::sym_hour,    &fixed::sym_minute,  &fixed::sym_second,  &fixed::sym_weekday,
        &fixed::sym_yearday, &fixed::sym_timezone, &fixed::sym_week, &fixed::sym_isoweek,
    };
    int32_t id = symbol_t::resolve_alias(int32_t(word.w2));
    if (id == symbol_t::resolve_alias(fixed::sym_julian)) return field_yearday;
    for (int32_t i = 0; i < int32_t(std::size(symbols)); ++i)
        if (id == symbol_t::resolve_alias(*symbols[i])) return i + 1;
    return -1;
}

Cell* get_field(Cell* out, const Cell& date, int32_t n) {
    int32_t d = packed_of(date);
    double local = to_local(time_of(date), zone_of(d));
    auto integer = [out](int32_t v) { *out = Cell{type_integer, 0, uint32_t(v), 0}; };
    switch (n) {
        case field_date:
            *out = date_cell(int32_t(uint32_t(d) & ~(packed::zone_mask | packed::has_time)), 0.0);
            break;
        case field_year: integer(year_of(d)); break;
        case field_month: integer(month_of(d)); break;
        case field_day: integer(day_of(d)); break;
        case field_zone:
        case field_timezone:
            if (has_time_q(d)) time_t::make_at(out, zone_seconds(zone_of(d)));
            else none_t::make_at(out);
            break;
        case field_time:
            if (has_time_q(d)) time_t::make_at(out, local);
            else none_t::make_at(out);
            break;
        case field_hour: time_t::get_field(out, local, time_t::field_hour); break;
        case field_minute: time_t::get_field(out, local, time_t::field_minute); break;
        case field_second: time_t::get_field(out, local, time_t::field_second); break;
        case field_weekday: integer(weekday(d)); break;
        case field_yearday: integer(yearday(d)); break;
        case field_week: integer(week(d)); break;
        default: integer(iso_week(d)); break;
    }
    return out;
}

Cell* push_field(const Cell& date, int32_t n) {
    Cell d = date;
    return get_field(stack::push_cell(), d, n);
}

namespace {

int32_t integer_arg(const Cell& value) {
    if (type_of(value) != type_integer) raise_script(script::invalid_arg, value);
    return integer_t::get(value);
}

// The hour, minute or second of the local time replaced through time!'s
// path assignment (which checks the value), then stored back as UTC. Working
// on the local time keeps a zone of 30 or 45 minutes out of the result.
void set_clock_field(Cell* date, int32_t field, const Cell& value) {
    int32_t d = packed_of(*date);
    Cell local{};
    time_t::make_at(&local, to_local(time_of(*date), zone_of(d)));
    Cell element{type_integer, 0, uint32_t(field), 0};
    Cell v = value;
    time_t::path_access(&local, &element, &v, &element, nullptr, nullptr, -1, false, false, true, false);
    date->w1 = uint32_t(d) | packed::has_time;
    normalize(date, float_t::get(local), true);
}

void set_field(Cell* date, int32_t field, const Cell& value) {
    int32_t d = packed_of(*date);
    switch (field) {
        case field_date: {
            if (type_of(value) != type_date) raise_script(script::invalid_arg, value);
            int32_t from = packed_of(value);
            uint32_t keep = packed::zone_mask;
            uint32_t take = ~keep;
            date->w1 = (uint32_t(from) & take) | (uint32_t(d) & keep);
            // A date without a time has time 0.
            normalize(date, has_time_q(from) ? time_of(*date) : 0.0, false);
            break;
        }
        case field_year:
            set_days(date, days_of(integer_arg(value), month_of(d), day_of(d)));
            break;
        case field_month: set_month(date, integer_arg(value)); break;
        case field_day:
            set_days(date, wrap(int64_t(days_of(year_of(d), month_of(d), 1)) - 1 + integer_arg(value)));
            break;
        case field_zone: set_zone(date, value, false); break;
        case field_timezone: set_zone(date, value, true); break;
        case field_time:
            if (type_of(value) == type_none) {
                date->w1 = uint32_t(d) & ~packed::has_time;
                set_cell_float(*date, 0.0);
            } else if (type_of(value) == type_time) {
                date->w1 = uint32_t(d) | packed::has_time;
                normalize(date, float_t::get(value), true);
            } else {
                raise_script(script::invalid_arg, value);
            }
            break;
        case field_hour: set_clock_field(date, time_t::field_hour, value); break;
        case field_minute: set_clock_field(date, time_t::field_minute, value); break;
        case field_second: set_clock_field(date, time_t::field_second, value); break;
        case field_weekday: set_weekday(date, integer_arg(value)); break;
        case field_yearday: set_yearday(date, integer_arg(value)); break;
        case field_week: set_week(date, integer_arg(value)); break;
        default: set_iso_week(date, integer_arg(value)); break;
    }
}

// The field a path element names: integer! 1..14 or a field word.
int32_t path_field(const Cell& element, const Cell& path) {
    uint32_t t = type_of(element);
    if (t == type_integer) {
        int32_t n = integer_t::get(element);
        if (n >= field_date && n <= field_isoweek) return n;
    } else if (word_type_q(t)) {
        int32_t n = field_index(element);
        if (n > 0) return n;
    }
    raise_script(script::invalid_path, path, element);
}

}  // namespace

// ---- Text ------------------------------------------------------------------------------

namespace {

// Entry n of system/locale/months, which must be a string!.
Cell month_name(int32_t month) {
    const Cell* found = object_t::system_field({"locale", "months"});
    Cell months = found ? *found : none_t::value;
    if (type_of(months) != type_block || month < 1 || int32_t(block_t::length_at(months)) < month)
        raise_error(err_cat::script, err_id::script::invalid_months);
    Cell name = *block_t::cell_at(months, months.w1 + uint32_t(month - 1));
    if (type_of(name) != type_string) raise_error(err_cat::script, err_id::script::invalid_months);
    return name;
}

// day, separator, month, separator, year; then "/" and the local time, and
// the zone when it is not zero.
int32_t write_date(const Cell& date, Cell* buffer, int32_t budget) {
    int32_t d = packed_of(date);
    Cell name = month_name(month_of(d));
    const char* separator = d < 0 ? "/" : "-";
    std::string head(integer_t::to_text(day_of(d)).view());
    head += separator;
    budget = append_ascii(*buffer, head, budget);
    uint32_t name_length = string_t::length_at(name);
    string_t::append_string(*buffer, name, 3, false);
    budget -= int32_t(name_length < 3 ? name_length : 3);

    std::string tail = separator;
    int32_t year = year_of(d);
    if (year < 0) tail += '-';
    std::string digits(integer_t::to_text(std::abs(year)).view());
    if (std::abs(year) < 100) digits.insert(0, 4 - digits.size(), '0');
    tail += digits;
    if (has_time_q(d)) {
        tail += '/';
        tail += time_t::to_text(to_local(time_of(date), zone_of(d))).view();
        uint32_t zone = zone_of(d);
        if (zone != 0) {
            uint32_t hours = (zone >> packed::zone_hours_shift) & packed::zone_hours_mask;
            uint32_t minutes = (zone & packed::zone_quarters_mask) * minutes_per_quarter;
            tail += (zone & packed::zone_sign) ? '-' : '+';
            tail += char('0' + hours / 10);
            tail += char('0' + hours % 10);
            tail += ':';
            tail += char('0' + minutes / 10);
            tail += char('0' + minutes % 10);
        }
    }
    return append_ascii(*buffer, tail, budget);
}

}  // namespace

// ---- Actions --------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    uint32_t t = type_of(*spec);
    if (t != type_block && t != type_paren && t != type_hash) bad_spec(*spec);
    Cell block = *spec;
    return make_from_block(proto, block, true);
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    switch (type_of(*spec)) {
        case type_block:
        case type_paren:
        case type_hash: {
            Cell block = *spec;
            return make_from_block(proto, block, false);
        }
        case type_date: *proto = *spec; return proto;
        case type_integer: {
            int32_t n = integer_t::get(*spec);
            Cell date = date_cell(pack(1970, 1, 1, 0, true), double(n % 86400));
            set_days(&date, epoch_days + n / 86400);
            normalize(&date, time_of(date), false);
            *proto = date;
            return proto;
        }
        default: bad_spec(*spec);
    }
}

// The day is drawn from 1 .. the date's day number and becomes day r - 1;
// a date with a time also gets a random zone and a random whole second of
// the day, taken as local time.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    int32_t d = packed_of(*value);
    if (seed) {
        random::random_seed(wrap(int64_t(d) + numeric::truncate_to_int32(time_of(*value))));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    int32_t r = random::random_int(secure, day_count(d));
    Cell date = date_cell(d, time_of(*value));
    set_days(&date, wrap(int64_t(r) - 1));
    if (has_time_q(d)) {
        uint32_t zone = uint32_t(random::random_int(secure, 128) - 1) & packed::zone_mask;
        date.w1 = (date.w1 & ~packed::zone_mask) | zone;
        normalize(&date, double(random::random_int(secure, 86400) - 1), true);
    }
    *value = date;
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return write_date(*value, buffer, budget); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return write_date(*value, buffer, budget);
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    Cell where = path != nullptr ? *path : *element;
    int32_t field = path_field(*element, where);
    if (value == nullptr) return push_field(*parent, field);
    Cell date = *parent;
    set_field(&date, field, *value);  // raises before the date is touched
    *parent = date;
    return value;
}

// Dates order by their local date (year, month, day), then by their time;
// equal means the same local date and nearly the same time.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_date) return registry::not_comparable;
    auto key = [](const Cell& c) { return int32_t(uint32_t(packed_of(c)) & ~packed::has_time) >> packed::key_shift; };
    int32_t ka = key(*a), kb = key(*b);
    double ta = time_of(*a), tb = time_of(*b);
    if (op == registry::op_same) return ka == kb && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    bool equal = ka == kb && float_t::almost_equal_q(ta, tb);
    if (op == registry::op_equal || op == registry::op_not_equal || op == registry::op_strict_equal ||
        op == registry::op_find)
        return equal ? 0 : 1;
    if (equal) return 0;
    if (ka != kb) return ka < kb ? -1 : 1;
    return ta < tb ? -1 : 1;
}

Cell* add() {
    Cell* a = stack::arg_base();
    return do_math(a, a[1], integer_t::op_add);
}

Cell* subtract() {
    Cell* a = stack::arg_base();
    return do_math(a, a[1], integer_t::op_subtract);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    uint32_t t = index_cell != nullptr ? type_of(*index_cell) : type_integer;
    int32_t field = -1;
    if (word_type_q(t)) field = field_index(*index_cell);
    else if (t == type_integer && index >= field_date && index <= field_isoweek) field = index;
    if (field < 0) {
        Cell i = index_cell != nullptr ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0};
        raise_script(script::out_of_range, i);
    }
    Cell date = *value;
    return get_field(value, date, field);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make).set(slot_random, random).set(slot_to, to);
    row.set(slot_form, form).set(slot_mold, mold).set(slot_path_access, path_access).set(slot_compare, compare);
    row.set(slot_add, add).set(slot_subtract, subtract);
    row.set(slot_pick, pick);
    row.register_as(type_date, 0, "date!");
}

}  // namespace vyr::date_t
