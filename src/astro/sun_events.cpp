#include "astro/sun_events.h"

#include <array>
#include <chrono>
#include <cstddef>

#include "astro/checked.h"
#include "base/errors.h"
#include "base/jst_clock.h"

namespace heliostat::astro {

namespace {

constexpr checked::Step kStep{"SunEventsOnJstDate", "日の出と日の入り", "ERFA"};

SunEvents FindEvents(int year, int month, int day, const Site& site) {
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
        throw HeliostatError("日付が正しくありません", "SunEventsOnJstDate");
    }
    RequireEphemerisYear(year);
    const SiteFrame frame = FrameOf(site);
    const double start = std::chrono::duration<double>(
                             base::JstToUtc({year, month, day, 0, 0, 0, 0}).time_since_epoch())
                             .count();
    const auto f = [&](double t) { return AirlessElevation(t, frame) - kPreciseRiseSetElevation; };

    SunEvents events;
    constexpr int kSteps = 48;  // half-hour brackets: the sun never crosses twice within one
    constexpr double kStepS = kDaySeconds / kSteps;
    double a = start;
    double fa = f(a);
    for (int i = 1; i <= kSteps && !(events.rise && events.set); ++i) {
        const double b = start + i * kStepS;
        const double fb = f(b);
        const bool rising = fa < 0 && fb >= 0;
        const bool setting = fa >= 0 && fb < 0;
        if ((rising && !events.rise) || (setting && !events.set)) {
            // Regula falsi with the Illinois change, to a tenth of a second.
            double lo = a, hi = b, flo = fa, fhi = fb;
            int side = 0;
            double t = lo;
            for (int n = 0; n < 100 && hi - lo > 0.1; ++n) {
                t = checked::Div(lo * fhi - hi * flo, fhi - flo, kStep);
                const double ft = f(t);
                if ((ft < 0) == (flo < 0)) {
                    lo = t;
                    flo = ft;
                    if (side == -1) {
                        fhi /= 2;
                    }
                    side = -1;
                } else {
                    hi = t;
                    fhi = ft;
                    if (side == 1) {
                        flo /= 2;
                    }
                    side = 1;
                }
            }
            (rising ? events.rise : events.set) = FromUnixSeconds((lo + hi) / 2);
        }
        a = b;
        fa = fb;
    }
    return events;
}

struct EventMemo {
    bool valid = false;
    int year = 0, month = 0, day = 0;
    Site site;
    SunEvents events;
};

}  // namespace

SunEvents SunEventsOnJstDate(int year, int month, int day, const Site& site) {
    thread_local std::array<EventMemo, 4> memo;
    thread_local std::size_t next = 0;
    for (const EventMemo& m : memo) {
        if (m.valid && m.year == year && m.month == month && m.day == day && m.site == site) {
            return m.events;
        }
    }
    const SunEvents events = FindEvents(year, month, day, site);
    memo[next] = EventMemo{true, year, month, day, site, events};
    next = (next + 1) % memo.size();
    return events;
}

}  // namespace heliostat::astro
