#pragma once

#include <chrono>
#include <functional>

namespace heliostat::cycle {

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

using UtcClock = std::function<std::chrono::system_clock::time_point()>;

// The system's UTC clock; tests and the table tool inject their own.
std::chrono::system_clock::time_point SystemUtcNow();

JstDateTime ToJst(std::chrono::system_clock::time_point utc);

// The UTC instant of a JST date and time (the inverse of ToJst).
std::chrono::system_clock::time_point FromJst(const JstDateTime& jst);

}  // namespace heliostat::cycle
