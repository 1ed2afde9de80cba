#include "base/jst_clock.h"

#include <cstdio>

namespace heliostat::base {

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::chrono::year_month_day DateOf(const JstDateTime& t) {
    return {std::chrono::year{t.year}, std::chrono::month{static_cast<unsigned>(t.month)},
            std::chrono::day{static_cast<unsigned>(t.day)}};
}

}  // namespace

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
    const auto local = sys_days{DateOf(jst)} + hours{jst.hour} + minutes{jst.minute} +
                       seconds{jst.second} + milliseconds{jst.millisecond};
    return local - kJstOffset;
}

std::chrono::system_clock::time_point FromJst(const JstDateTime& jst) {
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(JstToUtc(jst));
}

bool IsSupportedDate(const JstDateTime& jst) {
    return DateOf(kFirstSupportedJst) <= DateOf(jst) && DateOf(jst) <= DateOf(kLastSupportedJst);
}

std::optional<JstDateTime> ParseJstDateTime(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    JstDateTime t;
    if (!Digits(text, 0, 4, t.year) || !Digits(text, 5, 2, t.month) || !Digits(text, 8, 2, t.day) ||
        !Digits(text, 11, 2, t.hour) || !Digits(text, 14, 2, t.minute) ||
        !Digits(text, 17, 2, t.second)) {
        return std::nullopt;
    }
    if (t.year < 1 || !DateOf(t).ok() || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

ClockTime JstClockTime(std::chrono::system_clock::time_point utc) {
    // Floored, not truncated: instants before 1970 round the same way.
    const JstDateTime t =
        ToJst(std::chrono::floor<std::chrono::milliseconds>(utc + std::chrono::seconds(30)));
    return ClockTime{t.hour, t.minute};
}

std::string RecordStamp(UtcMillis utc) {
    const JstDateTime t = ToJst(utc);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+09:00", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return text;
}

}  // namespace heliostat::base
