#include "astro/precise_sun.h"

#include <erfa.h>
#include <erfam.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "astro/checked.h"
#include "base/errors.h"

namespace heliostat::astro {

namespace {

constexpr double kUnixEpochJd = 2440587.5;
constexpr double kDayS = 86400.0;
constexpr double kDeg = ERFA_DR2D;
constexpr int kFirstYear = 1900;  // the span of ERFA's Earth ephemeris (EPV00)
constexpr int kLastYear = 2100;
constexpr checked::Step kStep{"PreciseSun", "精密な太陽位置", "ERFA"};

double UnixSeconds(UtcTime utc) {
    return std::chrono::duration<double>(utc.time_since_epoch()).count();
}

UtcTime FromUnixSeconds(double seconds) {
    return UtcTime(
        std::chrono::duration_cast<UtcTime::duration>(std::chrono::duration<double>(seconds)));
}

std::chrono::year_month_day CivilDate(std::int64_t dayIndex) {
    return std::chrono::year_month_day(std::chrono::sys_days(std::chrono::days(dayIndex)));
}

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

void RequireYear(int year) {
    if (year < kFirstYear || year > kLastYear) {
        throw HeliostatError("精密な太陽位置は" + std::to_string(kFirstYear) + "年から" +
                                 std::to_string(kLastYear) + "年までしか計算できません（" +
                                 std::to_string(year) + "年）",
                             "PreciseSun: year");
    }
}

double TtMinusUtcAt(double unixSeconds) {
    const auto dayIndex = static_cast<std::int64_t>(std::floor(unixSeconds / kDayS));
    const double fraction = unixSeconds / kDayS - static_cast<double>(dayIndex);
    const std::chrono::year_month_day date = CivilDate(dayIndex);
    const int year = static_cast<int>(date.year());
    RequireYear(year);
    double dat = 0;
    const int status = eraDat(year, static_cast<int>(static_cast<unsigned>(date.month())),
                              static_cast<int>(static_cast<unsigned>(date.day())), fraction, &dat);
    if (status == 0) {
        return dat + 32.184;  // TT - TAI is 32.184 s by definition
    }
    // Before UTC existed, or past the years the leap-second table vouches for.
    const double yearStart =
        static_cast<double>(std::chrono::sys_days(date.year() / 1 / 1).time_since_epoch().count());
    return DeltaT(year + (unixSeconds / kDayS - yearStart) / 365.25);
}

// The geocentric apparent sun, CIRS axes, as a vector in au: aberrated direction times the
// geometric distance (the distance only serves the topocentric parallax).
std::array<double, 3> GeocentricCirs(double unixSeconds, double* equationOfOrigins = nullptr) {
    const double tt = unixSeconds + TtMinusUtcAt(unixSeconds);
    const double whole = std::floor(tt / kDayS);
    eraASTROM astrom;
    double eo = 0;
    // TDB differs from TT by under 2 ms, far below what matters here.
    eraApci13(kUnixEpochJd + whole, tt / kDayS - whole, &astrom, &eo);
    double natural[3] = {-astrom.eh[0], -astrom.eh[1], -astrom.eh[2]};
    double aberrated[3];
    eraAb(natural, astrom.v, astrom.em, astrom.bm1, aberrated);
    double cirs[3];
    eraRxp(astrom.bpn, aberrated, cirs);
    if (equationOfOrigins != nullptr) {
        *equationOfOrigins = eo;
    }
    return {checked::Finite(cirs[0] * astrom.em, kStep),
            checked::Finite(cirs[1] * astrom.em, kStep),
            checked::Finite(cirs[2] * astrom.em, kStep)};
}

// The full ephemeris costs tens of microseconds (mostly nutation), so it is sampled five times
// per UTC day and interpolated; a quartic through the samples is good to far below a
// milliarcsecond. The last few days are kept per thread.
struct DaySamples {
    std::int64_t dayIndex = 0;
    bool valid = false;
    std::array<std::array<double, 3>, 5> at{};
};

const DaySamples& SamplesFor(std::int64_t dayIndex) {
    thread_local std::array<DaySamples, 4> cache;
    thread_local std::size_t next = 0;
    for (const DaySamples& d : cache) {
        if (d.valid && d.dayIndex == dayIndex) {
            return d;
        }
    }
    DaySamples& slot = cache[next];
    next = (next + 1) % cache.size();
    slot.valid = false;
    for (int k = 0; k < 5; ++k) {
        slot.at[k] = GeocentricCirs((static_cast<double>(dayIndex) + k / 4.0) * kDayS);
    }
    slot.dayIndex = dayIndex;
    slot.valid = true;
    return slot;
}

struct Horizontal {
    double elevation = 0;  // airless, degrees
    double azimuth = 0;    // degrees, above 0 up to 360
};

// The site in terrestrial axes, au, with the local east, north and up unit vectors.
struct SiteFrame {
    std::array<double, 3> position{};
    std::array<double, 3> east{}, north{}, up{};
    double longitudeRad = 0;
};

SiteFrame FrameOf(const Site& site) {
    if (!std::isfinite(site.latitude) || !std::isfinite(site.longitude) ||
        !std::isfinite(site.height)) {
        checked::Fail(kStep, "観測点の座標が数値ではありません。");
    }
    if (site.latitude < -90 || site.latitude > 90) {
        throw HeliostatError("観測点緯度は -90 度から 90 度の範囲で指定してください",
                             "PreciseSun: latitude");
    }
    SiteFrame f;
    const double phi = site.latitude / kDeg;
    const double lambda = site.longitude / kDeg;
    double xyz[3];
    if (eraGd2gc(ERFA_WGS84, lambda, phi, site.height, xyz) != 0) {
        checked::Fail(kStep, "観測点の地心座標を求められません。");
    }
    for (int i = 0; i < 3; ++i) {
        f.position[i] = xyz[i] / ERFA_DAU;
    }
    const double sp = std::sin(phi), cp = std::cos(phi);
    const double sl = std::sin(lambda), cl = std::cos(lambda);
    f.east = {-sl, cl, 0};
    f.north = {-sp * cl, -sp * sl, cp};
    f.up = {cp * cl, cp * sl, sp};
    f.longitudeRad = lambda;
    return f;
}

Horizontal AirlessAt(double unixSeconds, const SiteFrame& frame) {
    const double days = unixSeconds / kDayS;
    const auto dayIndex = static_cast<std::int64_t>(std::floor(days));
    const double x = days - static_cast<double>(dayIndex);
    const DaySamples& s = SamplesFor(dayIndex);

    // Lagrange weights for the nodes 0, 1/4, 1/2, 3/4, 1.
    std::array<double, 5> w{};
    for (int k = 0; k < 5; ++k) {
        double num = 1, den = 1;
        for (int j = 0; j < 5; ++j) {
            if (j != k) {
                num *= x - j / 4.0;
                den *= (k - j) / 4.0;
            }
        }
        w[k] = num / den;
    }
    std::array<double, 3> cirs{};
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; i < 3; ++i) {
            cirs[i] += w[k] * s.at[k][i];
        }
    }

    // CIRS to terrestrial axes by the Earth rotation angle (UT1 taken as UTC; polar motion,
    // under half an arcsecond, is left out), then from the site.
    const double era = eraEra00(kUnixEpochJd + static_cast<double>(dayIndex), x);
    const double ce = std::cos(era), se = std::sin(era);
    const std::array<double, 3> terrestrial{ce * cirs[0] + se * cirs[1],
                                            -se * cirs[0] + ce * cirs[1], cirs[2]};
    std::array<double, 3> topo{};
    for (int i = 0; i < 3; ++i) {
        topo[i] = terrestrial[i] - frame.position[i];
    }
    double e = 0, n = 0, u = 0;
    for (int i = 0; i < 3; ++i) {
        e += topo[i] * frame.east[i];
        n += topo[i] * frame.north[i];
        u += topo[i] * frame.up[i];
    }
    Horizontal h;
    h.elevation = checked::Finite(std::atan2(u, std::hypot(e, n)) * kDeg, kStep);
    double az = checked::Finite(std::atan2(e, n) * kDeg, kStep);
    if (az <= 0) {
        az += 360;  // north is 360, as everywhere in the program
    }
    h.azimuth = az;
    return h;
}

}  // namespace

double TtMinusUtcSeconds(UtcTime utc) {
    return TtMinusUtcAt(UnixSeconds(utc));
}

double Refraction(double airlessElevation, const Atmosphere& air) {
    // Below this the upper limb has set; SPA applies no refraction there either. The margin
    // (a quarter of a second of the sun's motion) keeps the sun at a computed rising or setting,
    // found to a tenth of a second, on the refracted side.
    if (airlessElevation < kPreciseRiseSetElevation - 1e-3) {
        return 0;
    }
    const double e = airlessElevation;
    const double arcmin = 1.02 / std::tan((e + 10.3 / (e + 5.11)) / kDeg);
    return checked::Finite(
        (air.pressure / 1010.0) * (283.0 / (273.0 + air.temperature)) * arcmin / 60.0, kStep);
}

PreciseSunPosition PreciseSun(UtcTime utc, const Site& site, const Atmosphere& air) {
    const SiteFrame frame = FrameOf(site);
    const Horizontal h = AirlessAt(UnixSeconds(utc), frame);
    PreciseSunPosition p;
    p.airlessElevation = h.elevation;
    p.elevation = h.elevation + Refraction(h.elevation, air);
    p.azimuth = h.azimuth;
    return p;
}

ApparentPlace ApparentSunOfDate(UtcTime utc) {
    double eo = 0;
    std::array<double, 3> v = GeocentricCirs(UnixSeconds(utc), &eo);
    double p[3] = {v[0], v[1], v[2]};
    double ri = 0, di = 0;
    eraC2s(p, &ri, &di);
    ApparentPlace place;
    place.rightAscension = eraAnp(ri - eo) * kDeg;  // from the origin to the equinox
    place.declination = di * kDeg;
    place.distance = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return place;
}

namespace {

SunEvents FindEvents(int year, int month, int day, const Site& site) {
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
        throw HeliostatError("日付が正しくありません", "SunEventsOnJstDate");
    }
    RequireYear(year);
    const SiteFrame frame = FrameOf(site);
    // JST midnight is 15:00 UTC of the day before.
    const double start =
        static_cast<double>(std::chrono::sys_days(date).time_since_epoch().count()) * kDayS -
        9 * 3600.0;
    const auto f = [&](double t) {
        return AirlessAt(t, frame).elevation - kPreciseRiseSetElevation;
    };

    SunEvents events;
    constexpr int kSteps = 48;  // half-hour brackets: the sun never crosses twice within one
    constexpr double kStepS = kDayS / kSteps;
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
            const UtcTime when = FromUnixSeconds((lo + hi) / 2);
            (rising ? events.rise : events.set) = when;
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
        if (m.valid && m.year == year && m.month == month && m.day == day &&
            m.site.latitude == site.latitude && m.site.longitude == site.longitude &&
            m.site.height == site.height) {
            return m.events;
        }
    }
    const SunEvents events = FindEvents(year, month, day, site);
    memo[next] = EventMemo{true, year, month, day, site, events};
    next = (next + 1) % memo.size();
    return events;
}

ClockTime JstClockTime(UtcTime utc) {
    const double minutes = std::floor((UnixSeconds(utc) + 9 * 3600.0) / 60.0 + 0.5);
    const auto ofDay = static_cast<std::int64_t>(minutes - 1440.0 * std::floor(minutes / 1440.0));
    return ClockTime{static_cast<int>(ofDay / 60), static_cast<int>(ofDay % 60)};
}

}  // namespace heliostat::astro
