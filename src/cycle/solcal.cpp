#include "cycle/solcal.h"

#include "astro/bisector.h"
#include "astro/mirror.h"
#include "astro/precise_sun.h"
#include "astro/riseset.h"
#include "astro/solar.h"
#include "base/errors.h"
#include "base/jst_clock.h"
#include "base/number_text.h"

namespace heliostat::cycle {

namespace {

double ReadCoordinate(CycleHost& host, Field field, const char* name) {
    const std::string text = host.ReadText(field);
    if (const auto value = base::ParseStrict(text)) {
        return *value;
    }
    throw HeliostatError(std::string(name) + "「" + text + "」が数値ではありません", name);
}

void ShowSun(CycleHost& host, double elevation, double azimuth, std::string_view elevationPattern) {
    host.WriteText(Field::SettingElevation, base::FormatPattern(elevation, elevationPattern));
    host.WriteText(Field::SettingAzimuth, base::FormatPattern(azimuth, base::kAzimuthPattern));
}

void PointMirror(WindowState& state, CycleHost& host, double sunElevation, double sunAzimuth) {
    const astro::MirrorPointing mirror =
        astro::CALMIRROR(sunElevation, sunAzimuth, state.TargetElevation, state.TargetAzimuth);
    state.MirrorElevation = mirror.MirrorElevation;
    state.MirrorAzimuth = mirror.MirrorAzimuth;
    host.WriteText(Field::MirrorElevation,
                   base::FormatPattern(state.MirrorElevation, base::kElevationPattern));
    host.WriteText(Field::MirrorAzimuth,
                   base::FormatPattern(state.MirrorAzimuth, base::kAzimuthPattern));
}

astro::SunPosition LocateSun(WindowState& state, double dayOfYear, astro::SunForm form) {
    const astro::SunPosition sun =
        astro::CALSUN(dayOfYear, state.UniversalHours, state.Latitude, state.Longitude, form);
    state.LocalMeanHours = sun.LocalMeanHours;
    state.LatitudeRad = sun.LatitudeRad;
    return sun;
}

// CALRISE as the cycle calls it: its results enter the state record only when every search
// has succeeded.
void RunCalrise(WindowState& state, CycleHost& host, int dayOfYear) {
    const astro::RiseSet r = host.Calrise(astro::RiseSetInput{
        state.Year, state.Month, state.Day, dayOfYear, state.LatitudeRad, state.Longitude});
    state.DeclCoef3 = r.curves.DeclCoef3;
    state.DeclCoef2 = r.curves.DeclCoef2;
    state.DeclCoef1 = r.curves.DeclCoef1;
    state.DeclCoef0 = r.curves.DeclCoef0;
    state.RaCoef3 = r.curves.RaCoef3;
    state.RaCoef2 = r.curves.RaCoef2;
    state.RaCoef1 = r.curves.RaCoef1;
    state.RaCoef0 = r.curves.RaCoef0;
    state.RiseSetEquationOfTime = r.curves.RiseSetEquationOfTime;
    state.UniversalHours = r.UniversalHours;
    state.LocalMeanHours = r.LocalMeanHours;
    state.SunsetHour = r.SunsetHour;
    state.SunsetMinute = r.SunsetMinute;
    state.SunriseHour = r.SunriseHour;
    state.SunriseMinute = r.SunriseMinute;
}

// The start of every cycle, in both modes: one reading of the clock (every component below comes
// from it, so a cycle at 09:59:59.999 cannot combine hour 9 with minute 0), the date with
// January and February as months 13 and 14 of the previous year, the observation point and
// the time of day.
base::JstDateTime ReadClockAndPlace(WindowState& state, CycleHost& host, base::UtcMillis utcNow) {
    const base::JstDateTime now = base::ToJst(utcNow);
    if (!base::IsSupportedDate(now)) {
        throw HeliostatError(
            std::string("日付が計算できる範囲（") + base::kSupportedRangeText + "）の外です",
            "SOLCAL");
    }
    state.Year = now.year;
    state.Month = now.month;
    if (now.month < 3) {
        state.Year = state.Year - 1;
        state.Month = state.Month + 12;
    }
    state.Day = now.day;
    state.Hour = now.hour;

    state.Latitude = ReadCoordinate(host, Field::ObserverLatitude, "観測点緯度");
    state.Longitude = ReadCoordinate(host, Field::ObserverLongtitude, "観測点経度");

    state.UniversalHours = (state.Hour - 9) + now.minute / 60.0 + now.second / 3600.0;
    return now;
}

// The sun marker blinks: drawn on every second day cycle.
void BlinkSunMarker(WindowState& state, ChartSurface& chart, CycleReport& report,
                    double sunElevation, double sunAzimuth) {
    if (state.SunMarkerPhase != 1) {
        state.SunMarkerPhase = 1;
    } else {
        DRAWSUN(chart, sunElevation, sunAzimuth);
        report.marker = SunMarkerCentre(sunElevation, sunAzimuth);
        state.SunMarkerPhase = 0;
    }
}

// The exact mode's mirror: on the bisector of the sun and target directions.
void PointMirrorExact(WindowState& state, CycleHost& host, double sunElevation, double sunAzimuth) {
    const astro::SkyDirection mirror = astro::ExactBisector(
        {sunElevation, sunAzimuth}, {state.TargetElevation, state.TargetAzimuth});
    state.MirrorElevation = mirror.elevation;
    state.MirrorAzimuth = mirror.azimuth;
    host.WriteText(Field::MirrorElevation,
                   base::FormatPattern(state.MirrorElevation, base::kElevationPattern));
    host.WriteText(Field::MirrorAzimuth,
                   base::FormatPattern(state.MirrorAzimuth, base::kAzimuthPattern));
}

// The first event after `now`: the one of the cycle's date, else the next date's.
std::optional<astro::UtcTime> NextEvent(std::optional<astro::UtcTime> astro::SunEvents::*which,
                                        const base::JstDateTime& date, const astro::Site& site,
                                        astro::UtcTime now) {
    const astro::SunEvents today = astro::SunEventsOnJstDate(date.year, date.month, date.day, site);
    if ((today.*which) && *(today.*which) > now) {
        return today.*which;
    }
    const std::chrono::year_month_day next{
        std::chrono::sys_days(std::chrono::year(date.year) / static_cast<unsigned>(date.month) /
                              static_cast<unsigned>(date.day)) +
        std::chrono::days(1)};
    const astro::SunEvents tomorrow = astro::SunEventsOnJstDate(
        static_cast<int>(next.year()), static_cast<int>(static_cast<unsigned>(next.month())),
        static_cast<int>(static_cast<unsigned>(next.day())), site);
    return tomorrow.*which;
}

// The exact mode: the same cycle, fields, chart and command, with the sun's apparent place from
// the precise ephemeris, the mirror on the exact bisector, and sunset and sunrise of the upper
// limb. It is day while the upper limb stands above the horizon, so the switch to night comes
// at the announced sunset, not a few minutes before it.
CycleReport ExactCycle(WindowState& state, CycleHost& host, base::UtcMillis utcNow) {
    // The same supported dates as the default mode, although the ephemeris would reach further.
    const base::JstDateTime now = ReadClockAndPlace(state, host, utcNow);
    const astro::UtcTime utc = utcNow;
    state.LocalMeanHours = state.Longitude / 15 + state.UniversalHours;
    state.LatitudeRad = state.Latitude * astro::kTwoPi / 360;
    const astro::Site site{state.Latitude, state.Longitude, 0};

    const astro::PreciseSunPosition sun = astro::PreciseSun(utc, site);
    ShowSun(host, sun.elevation, sun.azimuth, base::kSunElevationPattern);
    PointMirrorExact(state, host, sun.elevation, sun.azimuth);

    ChartSurface& chart = host.Chart();
    DrawChartBackground(chart);

    CycleReport report;
    report.sunElevation = sun.elevation;
    report.sunAzimuth = sun.azimuth;
    if (sun.airlessElevation > astro::kPreciseRiseSetElevation) {
        report.branch = Branch::Day;
        BlinkSunMarker(state, chart, report, sun.elevation, sun.azimuth);
        const auto set = NextEvent(&astro::SunEvents::set, now, site, utc);
        if (!set) {
            throw HeliostatError("日の入りが見つかりません（太陽が沈まない日です）", "SOLCAL");
        }
        const astro::ClockTime at = astro::JstClockTime(*set);
        state.SunsetHour = at.hour;
        state.SunsetMinute = at.minute;
        PRINTSET(chart, state.SunsetHour, state.SunsetMinute);
        report.chartTime = TimeText(state.SunsetHour, state.SunsetMinute);
    } else {
        report.branch = Branch::Night;
        const auto rise = NextEvent(&astro::SunEvents::rise, now, site, utc);
        if (!rise) {
            throw HeliostatError("日の出が見つかりません（太陽が昇らない日です）", "SOLCAL");
        }
        const astro::ClockTime at = astro::JstClockTime(*rise);
        state.SunriseHour = at.hour;
        state.SunriseMinute = at.minute;
        PRINTRISE(chart, state.SunriseHour, state.SunriseMinute);
        report.chartTime = TimeText(state.SunriseHour, state.SunriseMinute);

        // The mirror waits where the sun will rise: its place at the announced sunrise.
        state.UniversalHours = (state.SunriseHour - 9) + state.SunriseMinute / 60;
        const astro::PreciseSunPosition risen = astro::PreciseSun(*rise, site);
        ShowSun(host, risen.elevation, risen.azimuth, base::kElevationPattern);
        PointMirrorExact(state, host, risen.elevation, risen.azimuth);
        report.sunElevation = risen.elevation;
        report.sunAzimuth = risen.azimuth;
    }

    host.SendMirrorCommand();
    return report;
}

}  // namespace

CycleReport SOLCAL(WindowState& state, CycleHost& host,
                   std::chrono::system_clock::time_point utcNow, Pointing pointing) {
    return SOLCAL(state, host, std::chrono::time_point_cast<std::chrono::milliseconds>(utcNow),
                  pointing);
}

CycleReport SOLCAL(WindowState& state, CycleHost& host, base::UtcMillis utcNow, Pointing pointing) {
    if (pointing == Pointing::Exact) {
        return ExactCycle(state, host, utcNow);
    }

    const base::JstDateTime now = ReadClockAndPlace(state, host, utcNow);
    const int dayOfYear = astro::DayOfYear(now.month, now.day);

    const astro::SunPosition sun = LocateSun(state, dayOfYear, astro::SunForm::Observed);
    ShowSun(host, sun.SunElevation, sun.SunAzimuth, base::kSunElevationPattern);
    PointMirror(state, host, sun.SunElevation, sun.SunAzimuth);

    ChartSurface& chart = host.Chart();
    DrawChartBackground(chart);

    CycleReport report;
    report.sunElevation = sun.SunElevation;
    report.sunAzimuth = sun.SunAzimuth;
    if (sun.SunElevation > 0) {
        report.branch = Branch::Day;
        BlinkSunMarker(state, chart, report, sun.SunElevation, sun.SunAzimuth);
        RunCalrise(state, host, dayOfYear);
        PRINTSET(chart, state.SunsetHour, state.SunsetMinute);
        report.chartTime = TimeText(state.SunsetHour, state.SunsetMinute);
    } else {
        report.branch = Branch::Night;
        RunCalrise(state, host, dayOfYear);
        PRINTRISE(chart, state.SunriseHour, state.SunriseMinute);
        report.chartTime = TimeText(state.SunriseHour, state.SunriseMinute);

        // Point the mirror where the sun will rise: the next morning, no seconds, and no wrap
        // of the day number at the year's end.
        state.UniversalHours = (state.SunriseHour - 9) + state.SunriseMinute / 60;
        const astro::SunPosition rise = LocateSun(state, dayOfYear + 1, astro::SunForm::Sunrise);
        ShowSun(host, rise.SunElevation, rise.SunAzimuth, base::kElevationPattern);
        PointMirror(state, host, rise.SunElevation, rise.SunAzimuth);
        report.sunElevation = rise.SunElevation;
        report.sunAzimuth = rise.SunAzimuth;
    }

    host.SendMirrorCommand();
    return report;
}

}  // namespace heliostat::cycle
