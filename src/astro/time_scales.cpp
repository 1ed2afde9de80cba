#include "astro/time_scales.h"

#include <erfa.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "base/errors.h"

namespace heliostat::astro {

namespace {

constexpr int kFirstYear = 1900;  // the span of ERFA's Earth ephemeris (EPV00)
constexpr int kLastYear = 2100;

// Espenak and Meeus's polynomials for ΔT = TT - UT1, seconds, for a decimal year.
double DeltaT(double y) {
    if (y >= 1941 && y < 1961) {
        const double t = y - 1950;
        return 29.07 + 0.407 * t - t * t / 233 + t * t * t / 2547;
    }
    if (y >= 1961 && y < 1986) {
        const double t = y - 1975;
        return 45.45 + 1.067 * t - t * t / 260 - t * t * t / 718;
    }
    if (y >= 1986 && y < 2005) {
        const double t = y - 2000;
        return 63.86 + 0.3345 * t - 0.060374 * t * t + 0.0017275 * t * t * t +
               0.000651814 * t * t * t * t + 0.00002373599 * t * t * t * t * t;
    }
    if (y >= 2005 && y < 2050) {
        const double t = y - 2000;
        return 62.92 + 0.32217 * t + 0.005589 * t * t;
    }
    const double u = (y - 1820) / 100;
    if (y >= 2050 && y < 2150) {
        return -20 + 32 * u * u - 0.5628 * (2150 - y);
    }
    if (y >= 1920 && y < 1941) {
        const double t = y - 1920;
        return 21.20 + 0.84493 * t - 0.076100 * t * t + 0.0020936 * t * t * t;
    }
    if (y >= 1900 && y < 1920) {
        const double t = y - 1900;
        return -2.79 + 1.494119 * t - 0.0598939 * t * t + 0.0061966 * t * t * t -
               0.000197 * t * t * t * t;
    }
    return -20 + 32 * u * u;
}

}  // namespace

double UnixSeconds(UtcTime utc) {
    return std::chrono::duration<double>(utc.time_since_epoch()).count();
}

UtcTime FromUnixSeconds(double seconds) {
    return UtcTime(
        std::chrono::duration_cast<UtcTime::duration>(std::chrono::duration<double>(seconds)));
}

void RequireEphemerisYear(int year) {
    if (year < kFirstYear || year > kLastYear) {
        throw HeliostatError("精密な太陽位置は" + std::to_string(kFirstYear) + "年から" +
                                 std::to_string(kLastYear) + "年までしか計算できません（" +
                                 std::to_string(year) + "年）",
                             "PreciseSun: year");
    }
}

double TtMinusUtcSeconds(UtcTime utc) {
    return TtMinusUtcSeconds(UnixSeconds(utc));
}

double TtMinusUtcSeconds(double unixSeconds) {
    const auto dayIndex = static_cast<std::int64_t>(std::floor(unixSeconds / kDaySeconds));
    const double fraction = unixSeconds / kDaySeconds - static_cast<double>(dayIndex);
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(dayIndex))};
    const int year = static_cast<int>(date.year());
    RequireEphemerisYear(year);
    double dat = 0;
    const int status = eraDat(year, static_cast<int>(static_cast<unsigned>(date.month())),
                              static_cast<int>(static_cast<unsigned>(date.day())), fraction, &dat);
    if (status == 0) {
        return dat + 32.184;  // TT - TAI is 32.184 s by definition
    }
    // Before UTC existed, or past the years the leap-second table vouches for.
    const double yearStart =
        static_cast<double>(std::chrono::sys_days(date.year() / 1 / 1).time_since_epoch().count());
    return DeltaT(year + (unixSeconds / kDaySeconds - yearStart) / 365.25);
}

}  // namespace heliostat::astro
