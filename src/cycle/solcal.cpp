#include "cycle/solcal.h"

#include <cmath>

#include "astro/bisector.h"
#include "astro/mirror.h"
#include "astro/precise_sun.h"
#include "astro/riseset.h"
#include "astro/solar.h"
#include "astro/sun_events.h"
#include "base/angles.h"
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

// A sun as the cycle uses it: where it stands, and whether the model counts it as risen.
struct Sun {
    double elevation = 0;
    double azimuth = 0;
    bool up = false;
};

// How one of the two models finds the sun, points the mirror and announces the next event.
// The cycle below keeps the order of the steps once for both.
class SunModel {
public:
    virtual ~SunModel() = default;
    // The sun at the cycle's instant; the model writes what it computes into the state record.
    virtual Sun Now(WindowState& state) = 0;
    virtual base::AzEl Mirror(const Sun& sun, double targetElevation, double targetAzimuth) = 0;
    // Writes the sunset (by day) or the next sunrise (at night) into the state record.
    virtual void Announce(WindowState& state, CycleHost& host, Branch branch) = 0;
    // The sun at the announced sunrise, once Announce has found it.
    virtual Sun Risen(WindowState& state) = 0;
};

// The long-standing model: its own sun formulas, each mirror angle the mean of the sun's and
// the target's, and CALRISE's sunset and sunrise.
class MeanSun final : public SunModel {
public:
    explicit MeanSun(const base::JstDateTime& now)
        : dayOfYear_(astro::DayOfYear(now.month, now.day)) {}

    Sun Now(WindowState& state) override {
        return Locate(state, dayOfYear_, astro::SunForm::Observed);
    }

    base::AzEl Mirror(const Sun& sun, double targetElevation, double targetAzimuth) override {
        return astro::CALMIRROR(sun.elevation, sun.azimuth, targetElevation, targetAzimuth);
    }

    // CALRISE's results enter the state record only when every search has succeeded.
    void Announce(WindowState& state, CycleHost& host, Branch) override {
        const astro::RiseSet r = host.Calrise(astro::RiseSetInput{
            state.Year, state.Month, state.Day, dayOfYear_, state.LatitudeRad, state.Longitude});
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

    // The next morning, and no wrap of the day number at the year's end.
    Sun Risen(WindowState& state) override {
        return Locate(state, dayOfYear_ + 1, astro::SunForm::Sunrise);
    }

private:
    static Sun Locate(WindowState& state, double dayOfYear, astro::SunForm form) {
        const astro::SunPosition sun =
            astro::CALSUN(dayOfYear, state.UniversalHours, state.Latitude, state.Longitude, form);
        state.LocalMeanHours = sun.LocalMeanHours;
        state.LatitudeRad = sun.LatitudeRad;
        return {sun.SunElevation, sun.SunAzimuth, sun.SunElevation > 0};
    }

    int dayOfYear_;
};

// The exact model: the sun's apparent place from the precise ephemeris, the mirror on the exact
// bisector, and sunset and sunrise of the upper limb. It is day while the upper limb stands
// above the horizon, so the switch to night comes at the announced sunset, not before it.
class ExactSun final : public SunModel {
public:
    ExactSun(const base::JstDateTime& now, base::UtcMillis utc) : now_(now), utc_(utc) {}

    Sun Now(WindowState& state) override {
        state.LocalMeanHours = state.Longitude / 15 + state.UniversalHours;
        state.LatitudeRad = state.Latitude * astro::kTwoPi / 360;
        site_ = astro::Site{state.Latitude, state.Longitude, 0};
        const astro::PreciseSunPosition sun = astro::PreciseSun(utc_, site_);
        return {sun.elevation, sun.azimuth, sun.airlessElevation > astro::kPreciseRiseSetElevation};
    }

    base::AzEl Mirror(const Sun& sun, double targetElevation, double targetAzimuth) override {
        return astro::ExactBisector({.azimuth = sun.azimuth, .elevation = sun.elevation},
                                    {.azimuth = targetAzimuth, .elevation = targetElevation});
    }

    void Announce(WindowState& state, CycleHost&, Branch branch) override {
        const bool day = branch == Branch::Day;
        const auto event = NextEvent(day ? &astro::SunEvents::set : &astro::SunEvents::rise);
        if (!event) {
            throw HeliostatError(day ? "日の入りが見つかりません（太陽が沈まない日です）"
                                     : "日の出が見つかりません（太陽が昇らない日です）",
                                 "SOLCAL");
        }
        const base::ClockTime at = base::JstClockTime(*event);
        (day ? state.SunsetHour : state.SunriseHour) = at.hour;
        (day ? state.SunsetMinute : state.SunriseMinute) = at.minute;
        announced_ = *event;
    }

    // The sun at the announced sunrise instant itself.
    Sun Risen(WindowState&) override {
        const astro::PreciseSunPosition sun = astro::PreciseSun(announced_, site_);
        return {sun.elevation, sun.azimuth, false};
    }

private:
    // The first event after the cycle's instant: the one of its date, else the next date's.
    std::optional<astro::UtcTime> NextEvent(
        std::optional<astro::UtcTime> astro::SunEvents::*which) {
        const astro::SunEvents today =
            astro::SunEventsOnJstDate(now_.year, now_.month, now_.day, site_);
        if ((today.*which) && *(today.*which) > utc_) {
            return today.*which;
        }
        const base::JstDateTime next =
            base::ToJst(base::JstToUtc({now_.year, now_.month, now_.day}) + std::chrono::days(1));
        return astro::SunEventsOnJstDate(next.year, next.month, next.day, site_).*which;
    }

    base::JstDateTime now_;
    base::UtcMillis utc_;
    astro::Site site_;
    astro::UtcTime announced_;  // the last event Announce found
};

void ShowSun(CycleHost& host, const Sun& sun, std::string_view elevationPattern) {
    host.WriteText(Field::SettingElevation, base::FormatPattern(sun.elevation, elevationPattern));
    host.WriteText(Field::SettingAzimuth, base::FormatPattern(sun.azimuth, base::kAzimuthPattern));
}

// The target azimuth within one turn, [0, 360): 720.5 and 0.5 name one direction, but the
// mean of the plain numbers would put them half a turn apart.
double TargetAzimuth(const WindowState& state) {
    double az = std::fmod(state.TargetAzimuth, 360.0);
    if (az < 0) {
        az += 360;
    }
    return az < 360 ? az : 0;  // -1e-20 + 360 rounds to 360
}

void PointMirror(WindowState& state, CycleHost& host, SunModel& model, const Sun& sun) {
    const base::AzEl mirror = model.Mirror(sun, state.TargetElevation, TargetAzimuth(state));
    state.MirrorElevation = mirror.elevation;
    state.MirrorAzimuth = mirror.azimuth;
    host.WriteText(Field::MirrorElevation,
                   base::FormatPattern(state.MirrorElevation, base::kElevationPattern));
    host.WriteText(Field::MirrorAzimuth,
                   base::FormatPattern(state.MirrorAzimuth, base::kAzimuthPattern));
}

// The start of every cycle: one reading of the clock (every component below comes from it, so
// a cycle at 09:59:59.999 cannot combine hour 9 with minute 0), the date with January and
// February as months 13 and 14 of the previous year, the observation point and the time of day.
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
void BlinkSunMarker(WindowState& state, ChartSurface& chart, CycleReport& report, const Sun& sun) {
    if (state.SunMarkerPhase != 1) {
        state.SunMarkerPhase = 1;
    } else {
        DRAWSUN(chart, sun.elevation, sun.azimuth);
        report.marker = SunMarkerCentre(sun.elevation, sun.azimuth);
        state.SunMarkerPhase = 0;
    }
}

CycleReport RunCycle(WindowState& state, CycleHost& host, SunModel& model) {
    const Sun sun = model.Now(state);
    ShowSun(host, sun, base::kSunElevationPattern);
    PointMirror(state, host, model, sun);

    ChartSurface& chart = host.Chart();
    DrawChartBackground(chart);

    CycleReport report;
    report.sunElevation = sun.elevation;
    report.sunAzimuth = sun.azimuth;
    if (sun.up) {
        report.branch = Branch::Day;
        BlinkSunMarker(state, chart, report, sun);
        model.Announce(state, host, Branch::Day);
        PRINTSET(chart, state.SunsetHour, state.SunsetMinute);
        report.chartTime = TimeText(state.SunsetHour, state.SunsetMinute);
    } else {
        report.branch = Branch::Night;
        model.Announce(state, host, Branch::Night);
        PRINTRISE(chart, state.SunriseHour, state.SunriseMinute);
        report.chartTime = TimeText(state.SunriseHour, state.SunriseMinute);

        // The mirror waits where the sun will rise: at the announced sunrise, no seconds.
        state.UniversalHours = (state.SunriseHour - 9) + state.SunriseMinute / 60;
        const Sun risen = model.Risen(state);
        ShowSun(host, risen, base::kElevationPattern);
        PointMirror(state, host, model, risen);
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
    const base::JstDateTime now = ReadClockAndPlace(state, host, utcNow);
    if (pointing == Pointing::Exact) {
        // The same supported dates as the mean model, although the ephemeris would reach further.
        ExactSun model(now, utcNow);
        return RunCycle(state, host, model);
    }
    MeanSun model(now);
    return RunCycle(state, host, model);
}

}  // namespace heliostat::cycle
