// The host's clock: the date and time of day now, and sleeping. Behind
// `now` and `wait`.
#pragma once

#include <cstdint>

namespace vyr::clock {

// UTC seconds since midnight; with `precise` the fraction of the second too.
double time_of_day(bool precise);
// Today's date packed as date! packs it (datatypes/date.h), without the
// has-time flag: year << 17 | month << 12 | day << 7 | zone. The zone is the
// local offset from UTC, or 0 with `utc` (and then the date is UTC's).
uint32_t date_now(bool utc);
// The zone bits of a UTC offset in minutes: hours (with 0x10 for a negative
// offset) << 2 | quarter hours.
uint32_t pack_zone(int offset_minutes);
// Sleeps for the seconds, at least 1 millisecond; a signal does not cut it short.
void sleep_seconds(double seconds);

}  // namespace vyr::clock
