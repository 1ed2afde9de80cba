#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace heliostat::base {

// A reading of the local clock, which is Japan Standard Time (UTC + 9 hours) whatever time
// zone the operating system is set to.
struct JstDateTime {
    int year = 0;
    int month = 0;  // calendar month 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Japan Standard Time is UTC + 9 hours, whatever the operating system's time zone.
inline constexpr std::chrono::hours kJstOffset{9};

using UtcClock = std::function<std::chrono::system_clock::time_point()>;

// A UTC instant wide enough for any date of the years 1 to 9999: the system clock's own
// nanosecond count only reaches 1677 to 2262.
using UtcMillis = std::chrono::sys_time<std::chrono::milliseconds>;

// The system's UTC clock; tests and the table tool inject their own.
std::chrono::system_clock::time_point SystemUtcNow();

JstDateTime ToJst(UtcMillis utc);
// Any other system-clock instant (the live clock's nanoseconds, whole hours in tests), cut to
// milliseconds.
template <class Duration>
JstDateTime ToJst(std::chrono::sys_time<Duration> utc) {
    return ToJst(std::chrono::time_point_cast<std::chrono::milliseconds>(utc));
}

// The UTC instant of a JST date and time (the inverse of ToJst), for any date.
UtcMillis JstToUtc(const JstDateTime& jst);

// The same as a system-clock instant; only for dates the nanosecond clock can hold (1678 to
// 2261).
std::chrono::system_clock::time_point FromJst(const JstDateTime& jst);

// The dates the calculation holds for. Its day count puts a leap day in every fourth year,
// which matches the calendar only from 1 March 1900 to 28 February 2100 (1900 and 2100 have
// no 29 February); the sun formulas themselves are fitted to the present era.
inline constexpr JstDateTime kFirstSupportedJst{1900, 3, 1, 0, 0, 0, 0};
inline constexpr JstDateTime kLastSupportedJst{2100, 2, 28, 23, 59, 59, 999};
inline constexpr const char* kSupportedRangeText =
    "日本標準時 1900-03-01 00:00:00 から 2100-02-28 23:59:59 まで";

bool IsSupportedDate(const JstDateTime& jst);

// "YYYY-MM-DD HH:MM:SS": exactly that shape, ASCII digits only, a real calendar date of the
// years 0001 to 9999 and a time of 00:00:00 to 23:59:59. Nothing for any other text.
std::optional<JstDateTime> ParseJstDateTime(std::string_view text);

// A JST clock time in whole hours and minutes, the instant rounded to the nearest minute (so
// always 0:00 to 23:59): how an announced sunset or sunrise is shown.
struct ClockTime {
    int hour = 0;
    int minute = 0;
};
ClockTime JstClockTime(std::chrono::system_clock::time_point utc);

// A record's time stamp: JST with its offset and milliseconds, "2026-12-08T02:57:26.400+09:00",
// so that records of every program read on one time line.
std::string RecordStamp(UtcMillis utc);

}  // namespace heliostat::base
