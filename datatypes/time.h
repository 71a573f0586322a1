// time!: a duration or time of day held as seconds in a double (payload
// words 2-3, negative times allowed). It inherits random, compare, absolute,
// negate and remainder from float!; its arithmetic runs through float!'s
// core, which makes the result a time! whenever one side is a time!.
//
// Its text, "h:mm:ss" with the seconds' fraction ("-1:30:00", "0:00:05.25"),
// is also written by date! for a date with a time.
//
// Inside namespace vyr the C library's type is spelled ::time_t.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace vyr::time_t {

inline constexpr double seconds_per_hour = 3600.0;
inline constexpr double seconds_per_minute = 60.0;
// The smallest seconds part that is written, and the nudge of even?/odd?.
inline constexpr double smallest_seconds = 1e-06;

// Field numbers of hour, minute and second.
enum Field : int32_t { field_hour = 1, field_minute = 2, field_second = 3 };

// x / 3600 truncated toward zero.
int32_t hours(double x);
// The minutes within the hour of |x|, 0-59.
int32_t minutes(double x);
// Writes field 1 (hours, integer!), 2 (minutes, integer!) or 3 (seconds
// with their fraction and sign, float!) of x into the cell.
Cell* get_field(Cell* out, double x, int32_t field);

Cell* make_at(Cell* cell, double seconds);
Cell* load_in(const Cell& block, double seconds);
Cell* push(double seconds);

// The text of a time: "-" for a negative one, the hours, ":", two digits of
// minutes, ":", the seconds with their fraction (at least two digits before
// the point; "00" below 1e-06).
struct Text {
    char chars[96];
    uint32_t length;
    std::string_view view() const { return {chars, length}; }
};
Text to_text(double seconds);
// Appends that text to the mold buffer; answers the budget left.
int32_t form_text(double seconds, Cell* buffer, int32_t budget);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // also to
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
Cell* add();
Cell* divide();
Cell* multiply();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

void init();

}  // namespace vyr::time_t
