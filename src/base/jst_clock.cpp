#include "base/jst_clock.h"

#include <cstdio>

namespace heliostat::base {

namespace {
constexpr std::chrono::hours kJstOffset{9};
}

std::chrono::system_clock::time_point SystemUtcNow() {
    return std::chrono::system_clock::now();
}

JstDateTime ToJst(UtcMillis utc) {
    using namespace std::chrono;
    // system_clock counts UTC; the offset is applied arithmetically so that the operating
    // system's time zone never enters.
    const auto local = utc + kJstOffset;
    const auto days = floor<std::chrono::days>(local);
    const year_month_day date{days};
    const hh_mm_ss<milliseconds> time{local - days};
    return JstDateTime{static_cast<int>(date.year()),
                       static_cast<int>(static_cast<unsigned>(date.month())),
                       static_cast<int>(static_cast<unsigned>(date.day())),
                       static_cast<int>(time.hours().count()),
                       static_cast<int>(time.minutes().count()),
                       static_cast<int>(time.seconds().count()),
                       static_cast<int>(time.subseconds().count())};
}

UtcMillis JstToUtc(const JstDateTime& jst) {
    using namespace std::chrono;
    const year_month_day date{year{jst.year}, month{static_cast<unsigned>(jst.month)},
                              day{static_cast<unsigned>(jst.day)}};
    const auto local = sys_days{date} + hours{jst.hour} + minutes{jst.minute} +
                       seconds{jst.second} + milliseconds{jst.millisecond};
    return local - kJstOffset;
}

std::chrono::system_clock::time_point FromJst(const JstDateTime& jst) {
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(JstToUtc(jst));
}

bool IsSupportedDate(const JstDateTime& jst) {
    const auto key = [](const JstDateTime& t) {
        return std::chrono::year_month_day{std::chrono::year{t.year},
                                           std::chrono::month{static_cast<unsigned>(t.month)},
                                           std::chrono::day{static_cast<unsigned>(t.day)}};
    };
    return key(kFirstSupportedJst) <= key(jst) && key(jst) <= key(kLastSupportedJst);
}

std::string RecordStamp(UtcMillis utc) {
    const JstDateTime t = ToJst(utc);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+09:00", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return text;
}

}  // namespace heliostat::base
