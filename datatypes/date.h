// date!: a calendar date with an optional time of day and zone offset, and
// the calendar arithmetic every date calculation goes through.
//
// Cell: payload word 1 the packed date (below); words 2-3 the time in
// seconds as a double. The year, month and day are those of the local date
// (in the date's zone), while the time is kept in UTC, so it may lie outside
// 0..24 hours by up to the zone offset. Without the has-time flag the time is
// 0 and neither time nor zone is shown.
//
// The calendar is the proleptic Gregorian one with a year 0 and negative
// years. Day numbers count days from 1-Mar-0000 (day 0; 1-Jan-1970 is day
// 719468), so consecutive dates have consecutive numbers. Every setter
// rebuilds the packed date from a day number, so an impossible combination
// (31-Feb) carries into the next month or year instead of being stored.
//
// Invariant: a date built by these routines has its local time of day
// (stored time + zone offset) in 0 up to, not including, 24 hours.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::date_t {

// ---- The packed date --------------------------------------------------------------
// bits 17-31 year (signed, 15 bits), 16 has-time, 12-15 month, 7-11 day,
// 6 zone sign (west of UTC), 2-5 zone hours, 0-1 zone quarter hours.
namespace packed {
inline constexpr uint32_t year_shift = 17;
inline constexpr uint32_t year_bits = 0x7FFF;
inline constexpr uint32_t has_time = 1u << 16;
inline constexpr uint32_t month_shift = 12;
inline constexpr uint32_t month_mask = 0xF;
inline constexpr uint32_t day_shift = 7;
inline constexpr uint32_t day_mask = 0x1F;
inline constexpr uint32_t zone_mask = 0x7F;
inline constexpr uint32_t zone_sign = 1u << 6;
inline constexpr uint32_t zone_hours_shift = 2;
inline constexpr uint32_t zone_hours_mask = 0xF;
inline constexpr uint32_t zone_quarters_mask = 0x3;
// The date part that orders dates: year, month and day once shifted.
inline constexpr uint32_t key_shift = 7;
}  // namespace packed

inline constexpr int32_t minutes_per_quarter = 15;
inline constexpr double seconds_per_day = 86400.0;
// Day numbers of two fixed dates.
inline constexpr int32_t epoch_days = 719468;  // 1-Jan-1970

// Field numbers of path access and pick.
enum Field : int32_t {
    field_date = 1, field_year, field_month, field_day, field_zone, field_time, field_hour, field_minute,
    field_second, field_weekday, field_yearday, field_timezone, field_week, field_isoweek,
};

// Reading a packed date.
inline int32_t year_of(int32_t d) { return d >> packed::year_shift; }
inline int32_t month_of(int32_t d) { return int32_t((uint32_t(d) >> packed::month_shift) & packed::month_mask); }
inline int32_t day_of(int32_t d) { return int32_t((uint32_t(d) >> packed::day_shift) & packed::day_mask); }
inline uint32_t zone_of(int32_t d) { return uint32_t(d) & packed::zone_mask; }
inline bool has_time_q(int32_t d) { return (uint32_t(d) & packed::has_time) != 0; }
// A packed date of the parts as given (no validation; each field keeps its bits).
int32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time);

// Zone bits from hours and minutes; negative (west) when `west`.
uint32_t zone_bits(int32_t hours, int32_t minutes, bool west);
// The zone offset in seconds and in hours (negative west of UTC).
double zone_seconds(uint32_t zone);
double zone_hours(uint32_t zone);

// The date and time of a date! cell.
inline int32_t packed_of(const Cell& c) { return int32_t(c.w1); }
inline double time_of(const Cell& c) { return cell_float(c); }

// ---- Calendar arithmetic --------------------------------------------------------

bool leap_year_q(int32_t year);
// The day number of the packed date's year, month and day.
int32_t day_count(int32_t d);
// The packed date of a day number, with the zone bits and has-time flag.
int32_t from_days(int32_t days, uint32_t zone, bool has_time);
// Day number of 1 January of the date's year; day of its year (1-based).
int32_t year_start_days(int32_t d);
int32_t yearday(int32_t d);
// 1 Monday .. 7 Sunday.
int32_t weekday(int32_t d);
// Day number of the Monday of ISO week 1 of the date's year; `jan1_weekday`
// receives the ISO weekday of 1 January.
int32_t iso_week_1(int32_t d, int32_t& jan1_weekday);
int32_t iso_week(int32_t d);
// The week of the year with weeks beginning on Sunday (week 1 is the partial
// week holding 1 January).
int32_t week(int32_t d);
// The local time of a UTC time in the zone, and back.
double to_local(double time, uint32_t zone);
double to_utc(double time, uint32_t zone);
// Moves whole days between the UTC time and the day number so that the local
// time of day lies in 0 up to 24 hours; answers the new day number.
int32_t carry_zone(int32_t days, double& time, uint32_t zone);
// Stores `time` into the cell (taken as local and converted to UTC first
// when `convert`), carries days and rebuilds the packed date with its zone
// and has-time flag.
void normalize(Cell* date, double time, bool convert);
// A new zone from an integer! (hours) or a time!; with `keep_instant` the
// UTC time is kept, else the local clock time. Sets has-time. Any other
// value raises script `invalid-arg`.
void set_zone(Cell* date, const Cell& value, bool keep_instant);
// Month n of the date's year; n outside 1..12 moves into other years.
void set_month(Cell* date, int32_t n);
// The Monday of ISO week n; the day with ISO weekday n in the date's
// Monday-based week; day n of the year; the Sunday that begins week n.
void set_iso_week(Cell* date, int32_t n);
void set_weekday(Cell* date, int32_t n);
void set_yearday(Cell* date, int32_t n);
void set_week(Cell* date, int32_t n);
// date + or - an integer! (days), a time! or (subtract only) a date!; the
// answer replaces `a`: a date!, or an integer! of days for date - date.
Cell* do_math(Cell* a, const Cell& b, int32_t op);
// Turns a into the time! between the two dates' instants.
Cell* difference(Cell* a, const Cell& b);
// Seconds since 1-Jan-1970 (the time rounded to whole seconds). Outside the
// 32-bit range raises script `type-limit` with integer!.
int32_t to_epoch(const Cell& date);
double seconds(int32_t d, double time);

// ---- Making dates -----------------------------------------------------------------

// The cell becomes a date! of those parts, packed as given; with `has_time`
// the local time is stored converted to UTC (no day carry), else time 0.
Cell* from_parts(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                 int32_t zone_minutes, bool has_time);
// A date! in UTC with a time (file dates).
Cell* from_parts_utc(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                     int32_t second, int32_t nanoseconds);
Cell* push(int32_t d, double time);
// Appends a date! whose time is given as its high and low 32-bit words.
Cell* load(const Cell& block, int32_t d, uint32_t time_high, uint32_t time_low);
// [day month year hour minute second zone ...] into `out`; `strict` (make)
// refuses values that do not name an existing date and time.
Cell* make_from_block(Cell* out, const Cell& block, bool strict);
[[noreturn]] void bad_spec(const Cell& spec);

// ---- Fields -------------------------------------------------------------------------

// Field 1..14 of a word (julian is yearday), or -1.
int32_t field_index(const Cell& word);
// Writes field n of the date into `out` (which may be the date's cell).
Cell* get_field(Cell* out, const Cell& date, int32_t n);
// Pushes field n of the date.
Cell* push_field(const Cell& date, int32_t n);

// ---- Actions --------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* add();
Cell* subtract();
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

void init();

}  // namespace vyr::date_t
