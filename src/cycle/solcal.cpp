#include "cycle/solcal.h"

#include "astro/errors.h"
#include "astro/mirror.h"
#include "astro/riseset.h"
#include "astro/solar.h"
#include "cycle/jst_clock.h"
#include "cycle/number_text.h"

namespace heliostat::cycle {

namespace {

double ReadCoordinate(CycleHost& host, Field field, const char* name) {
    const std::string text = host.ReadText(field);
    if (const auto value = ParseStrict(text)) {
        return *value;
    }
    throw HeliostatError(std::string(name) + "「" + text + "」が数値ではありません", name);
}

void ShowSun(CycleHost& host, double elevation, double azimuth, std::string_view elevationPattern) {
    host.WriteText(Field::SettingElevation, FormatPattern(elevation, elevationPattern));
    host.WriteText(Field::SettingAzimuth, FormatPattern(azimuth, kAzimuthPattern));
}

void PointMirror(WindowState& state, CycleHost& host, double sunElevation, double sunAzimuth) {
    const astro::MirrorPointing mirror =
        astro::CALMIRROR(sunElevation, sunAzimuth, state.TargetElevation, state.TargetAzimuth);
    state.MirrorElevation = mirror.MirrorElevation;
    state.MirrorAzimuth = mirror.MirrorAzimuth;
    host.WriteText(Field::MirrorElevation, FormatPattern(state.MirrorElevation, kElevationPattern));
    host.WriteText(Field::MirrorAzimuth, FormatPattern(state.MirrorAzimuth, kAzimuthPattern));
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

}  // namespace

CycleReport SOLCAL(WindowState& state, CycleHost& host,
                   std::chrono::system_clock::time_point utcNow, Pointing pointing) {
    return SOLCAL(state, host, std::chrono::time_point_cast<std::chrono::milliseconds>(utcNow),
                  pointing);
}

CycleReport SOLCAL(WindowState& state, CycleHost& host, UtcMillis utcNow, Pointing pointing) {
    if (pointing == Pointing::Exact) {
        throw HeliostatError("精密モードはまだ使えません", "SOLCAL");
    }

    // One reading of the clock: every component below comes from it, so a cycle at
    // 09:59:59.999 cannot combine hour 9 with minute 0.
    const JstDateTime now = ToJst(utcNow);
    if (!IsSupportedDate(now)) {
        throw HeliostatError(
            std::string("日付が計算できる範囲（") + kSupportedRangeText + "）の外です", "SOLCAL");
    }

    // Date, with January and February as months 13 and 14 of the previous year.
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
    const int dayOfYear = astro::DayOfYear(now.month, now.day);

    const astro::SunPosition sun = LocateSun(state, dayOfYear, astro::SunForm::Observed);
    ShowSun(host, sun.SunElevation, sun.SunAzimuth, kSunElevationPattern);
    PointMirror(state, host, sun.SunElevation, sun.SunAzimuth);

    ChartSurface& chart = host.Chart();
    DrawChartBackground(chart);

    CycleReport report;
    report.sunElevation = sun.SunElevation;
    report.sunAzimuth = sun.SunAzimuth;
    if (sun.SunElevation > 0) {
        report.branch = Branch::Day;
        if (state.SunMarkerPhase != 1) {
            state.SunMarkerPhase = 1;
        } else {
            DRAWSUN(chart, sun.SunElevation, sun.SunAzimuth);
            report.marker = SunMarkerCentre(sun.SunElevation, sun.SunAzimuth);
            state.SunMarkerPhase = 0;
        }
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
        ShowSun(host, rise.SunElevation, rise.SunAzimuth, kElevationPattern);
        PointMirror(state, host, rise.SunElevation, rise.SunAzimuth);
        report.sunElevation = rise.SunElevation;
        report.sunAzimuth = rise.SunAzimuth;
    }

    host.SendMirrorCommand();
    return report;
}

}  // namespace heliostat::cycle
