// The host's clock (see clock.h).
#include "io/clock.h"

#include <time.h>

#include <cerrno>
#include <cmath>

namespace vyr::clock {

namespace {
constexpr long seconds_per_day = 86400;
constexpr uint32_t year_shift = 17;
constexpr uint32_t month_shift = 12;
constexpr uint32_t day_shift = 7;
constexpr uint32_t zone_west = 0x10;  // in the hours field
constexpr uint32_t zone_hours_shift = 2;
constexpr int minutes_per_quarter = 15;
}  // namespace

double time_of_day(bool precise) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    double secs = double(ts.tv_sec % seconds_per_day);
    if (precise) secs += double(ts.tv_nsec) / 1e9;
    return secs;
}

uint32_t pack_zone(int offset_minutes) {
    if (offset_minutes == 0) return 0;
    int hours = offset_minutes / 60;                  // toward zero
    int minutes = ((offset_minutes % 60) + 60) % 60;  // floored modulo
    uint32_t h = hours < 0 ? (zone_west | uint32_t(-hours)) : uint32_t(hours);
    return (h << zone_hours_shift) | uint32_t(minutes / minutes_per_quarter);
}

uint32_t date_now(bool utc) {
    time_t now = time(nullptr);
    struct tm t {};
    uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &t);
    } else {
        localtime_r(&now, &t);
        zone = pack_zone(int(t.tm_gmtoff / 60));
    }
    return (uint32_t(t.tm_year + 1900) << year_shift) | (uint32_t(t.tm_mon + 1) << month_shift) |
           (uint32_t(t.tm_mday) << day_shift) | zone;
}

void sleep_seconds(double seconds) {
    double ms = seconds * 1000.0;
    long long whole = ms >= 1.0 && std::isfinite(ms) ? (long long)ms : 1;
    struct timespec ts {
        time_t(whole / 1000), long((whole % 1000) * 1000000)
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

}  // namespace vyr::clock
