#include "astro/riseset.h"

#include <cmath>
#include <string>

#include "astro/checked.h"
#include "astro/solar.h"

namespace heliostat::astro {

namespace {

using checked::Div;
using checked::Finite;

checked::Step Step(const char* name) {
    return {"CALRISE", "日没・日の出時刻", name};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// "While above 360, subtract 360", in closed form. Each subtraction is exact for every value a
// real date can produce, so the remainder is the same number the loop would reach, and an
// absurd year cannot make the loop run for ever.
double ReduceAbove360(double v) {
    if (v > 360) {
        v = std::fmod(v, 360.0);
        if (v == 0) {
            v = 360;
        }
    }
    return v;
}

struct Cubic {
    double c3, c2, c1, c0;
};

// The cubic through samples at t = -1, 0, 1, 2.
Cubic Fit(const double (&y)[4]) {
    return {(3 * y[1] - y[0] - 3 * y[2] + y[3]) / 6, (y[0] - 2 * y[1] + y[2]) / 2,
            (-2 * y[0] - 3 * y[1] + 6 * y[2] - y[3]) / 6, y[1]};
}

double HourAngleRad(const RiseSetCurves& k, double longitude, double t) {
    return (longitude / 15 + 24 * t + k.RiseSetEquationOfTime - 12) * 15 * kPi / 180;
}

double DeclinationAtRad(const RiseSetCurves& k, double t) {
    return (k.DeclCoef3 * (t * t * t) + k.DeclCoef2 * (t * t) + k.DeclCoef1 * t + k.DeclCoef0) *
           kPi / 180;
}

// A root refined from the bracket [a, b]; refused when the refinement leaves the bracket.
RootSearch RootWithin(const std::function<double(double)>& g, double a, double b,
                      const char* what) {
    const RootSearch found = RefineRoot(g, a, b, what);
    if (!(found.root >= a && found.root <= b)) {
        checked::Fail(Step(what), std::string(what) + "の探索が範囲外の値になりました。");
    }
    return found;
}

}  // namespace

double DayCount(std::int64_t year, int month, std::int64_t day) {
    using checked::Add;
    using checked::Mul;
    const auto step = Step("通算日数");
    const std::int64_t y = Add(year, -2000, step);
    const std::int64_t m = month;
    const std::int64_t days = Add(Add(Mul(365, y, step), Mul(30, m, step), step), day, step);
    return Finite(static_cast<double>(FloorDiv(Mul(3, m + 1, step), 5)) +
                      (static_cast<double>(days) - 33.875 + 1) +
                      static_cast<double>(FloorDiv(y, 4)),
                  step);
}

double CALF(const RiseSetCurves& curves, double latitudeRad, double longitude, double t) {
    const double d = DeclinationAtRad(curves, t);
    const double h = HourAngleRad(curves, longitude, t);
    return Finite(std::sin(d) * std::sin(latitudeRad) +
                      std::cos(latitudeRad) * std::cos(d) * std::cos(h) -
                      std::sin(kRiseSetAltitudeRad),
                  Step("高度関数"));
}

double CALFDif(const RiseSetCurves& curves, double latitudeRad, double longitude, double t) {
    const RiseSetCurves& k = curves;
    const double d = DeclinationAtRad(k, t);
    const double h = HourAngleRad(k, longitude, t);
    const double dRate =
        (3 * k.DeclCoef3 * (t * t) + 2 * k.DeclCoef2 * t + k.DeclCoef1) * kPi / 180;
    const double hRate =
        (360.9856474 - (3 * k.RaCoef3 * (t * t) + 2 * k.RaCoef2 * t + k.RaCoef1)) * kPi / 180;
    const double phi = latitudeRad;
    return Finite(
        (std::sin(phi) * std::cos(d) - std::cos(phi) * std::sin(d) * std::cos(h)) * dRate -
            std::cos(d) * hRate * std::cos(phi) * std::sin(h),
        Step("高度変化率"));
}

RootSearch RefineRoot(const std::function<double(double)>& g, double a, double b,
                      const std::string& what) {
    const checked::Step step{"RefineRoot", what.c_str(), what.c_str()};

    std::array<double, 16> history{};
    double x0 = a;
    double x2 = b;
    double x1 = (a + b) / 2;
    history[0] = 0;
    int n = 0;
    for (;;) {
        ++n;
        if (n == static_cast<int>(history.size())) {
            checked::Fail(step, "15 回の反復で収束しませんでした。");
        }
        const double g0 = Finite(g(x0), step);
        const double g1 = Finite(g(x1), step);
        const double g2 = Finite(g(x2), step);
        // Inverse quadratic interpolation: the quadratic x(g) through the three points at g = 0.
        const double x = Finite(Div(g2 * g1 * x0, (g0 - g2) * (g0 - g1), step) +
                                    Div(g2 * g0 * x1, (g1 - g2) * (g1 - g0), step) +
                                    Div(g1 * g0 * x2, (g2 - g1) * (g2 - g0), step),
                                step);
        history[n] = x;
        x0 = x1;
        x2 = x;
        x1 = (x0 + x2) / 2;
        if (!(std::fabs(history[n] - history[n - 1]) > 5e-05)) {
            return {history[n], n};
        }
    }
}

RiseSet CALRISE(const RiseSetInput& in) {
    if (in.Month < 3 || in.Month > 14 || in.Day < 1 || in.Day > 31 || in.DayOfYear < 1 ||
        in.DayOfYear > 365) {
        checked::Fail(Step("日付"), "日付が範囲外です。");
    }
    const double phi = Finite(in.LatitudeRad, Step("緯度"));
    const double lambda = Finite(in.Longitude, Step("経度"));

    RiseSet r;
    RiseSetCurves& k = r.curves;
    r.UniversalHours = 0;
    r.LocalMeanHours = lambda / 15;

    double decl[4];
    double ra[4];
    const auto tStep = Step("恒星時");
    const double deltaT = static_cast<double>(checked::Add(in.Year, -1935, tStep)) / 86400;
    for (int i = 0; i < 4; ++i) {
        const int d = i - 1;
        const double g = DayAngle(static_cast<double>(in.DayOfYear + d));
        const double eot = EquationOfTimeHours(g);
        decl[i] = DeclinationRad(g) * 180 / kPi;
        if (d == 0) {
            k.RiseSetEquationOfTime = eot;
        }
        const double hourAngle = (r.LocalMeanHours + eot - 12) * 15;
        const double kd = DayCount(in.Year, in.Month, static_cast<std::int64_t>(in.Day) + d);
        const double t = (kd + deltaT) / 365.25;
        const double theta = Finite(
            ReduceAbove360(325.4606 + 360.007700536 * t + 0.00000003879 * (t * t) + lambda), tStep);
        ra[i] = Finite(ReduceAbove360(theta - hourAngle), Step("赤経"));
    }
    const Cubic dc = Fit(decl);
    const Cubic rc = Fit(ra);
    k.DeclCoef3 = dc.c3, k.DeclCoef2 = dc.c2, k.DeclCoef1 = dc.c1, k.DeclCoef0 = dc.c0;
    k.RaCoef3 = rc.c3, k.RaCoef2 = rc.c2, k.RaCoef1 = rc.c1, k.RaCoef0 = rc.c0;

    const auto f = [&](double t) { return CALF(k, phi, lambda, t); };
    const auto fDif = [&](double t) { return CALFDif(k, phi, lambda, t); };

    auto& s = r.slopeSamples;
    for (int j = 0; j < 5; ++j) {
        s[j] = fDif(0.25 * j);
    }

    // Outside Japan's longitudes or beyond the polar circles the assumed order of the day's
    // events (noon, sunset, midnight, sunrise before 09:00 of the next date) breaks down; such
    // runs are refused rather than allowed to return a meaningless time.
    const char* farWest = "観測地点が日本から西に離れすぎているため計算できません。";
    int up = 0;
    int down = 0;
    for (int j = 1; j <= 4; ++j) {
        if (up == 0 && s[j - 1] > 0 && s[j] < 0) {
            up = j;
        }
        if (down == 0 && s[j - 1] < 0 && s[j] > 0) {
            down = j;
        }
    }
    if (up == 0) {
        checked::Fail(Step("南中時刻"), "この日の南中時刻が見つかりません。");
    }
    const RootSearch noon = RootWithin(fDif, 0.25 * (up - 1), 0.25 * up, "南中時刻");
    if (down == 0) {
        checked::Fail(Step("下方正中時刻"),
                      "この日の下方正中時刻（太陽が最も低い時刻）が見つかりません。");
    }
    const RootSearch midnight = RootWithin(fDif, 0.25 * (down - 1), 0.25 * down, "下方正中時刻");
    r.tMax = noon.root;
    r.tMin = midnight.root;
    if (!(r.tMax < r.tMin)) {
        checked::Fail(Step("南中時刻"), farWest);
    }
    if (!(f(r.tMax) > 0)) {
        checked::Fail(Step("日没時刻"),
                      "太陽が一日中昇らないため（極夜）、日没・日の出時刻はありません。");
    }
    if (!(f(r.tMin) < 0)) {
        checked::Fail(Step("日没時刻"),
                      "太陽が一日中沈まないため（白夜）、日没・日の出時刻はありません。");
    }
    if (!(f(1) > 0)) {
        checked::Fail(Step("日の出時刻"), farWest);
    }

    const RootSearch set = RootWithin(f, r.tMax, r.tMin, "日没時刻");
    const RootSearch rise = RootWithin(f, r.tMin, 1, "日の出時刻");
    r.tSet = set.root;
    r.tRise = rise.root;
    r.passes = {noon.passes, midnight.passes, set.passes, rise.passes};

    // Truncated, never rounded: a sunset at 18 h 59 min 59 s is announced as 18:59.
    r.SunsetHour = std::floor(24 * r.tSet + 9);
    r.SunsetMinute = std::floor((24 * r.tSet + 9 - r.SunsetHour) * 60);
    r.SunriseHour = std::floor(24 * r.tRise + 9 - 24);
    r.SunriseMinute = std::floor((24 * r.tRise + 9 - 24 - r.SunriseHour) * 60);

    // The chart announces a time of one day. Near the polar circles, or east of Japan, the
    // sunrise can fall before midnight (or the sunset after it); there is no such time to show.
    const auto outsideTheDay = [](double hour, double minute) {
        return !(hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59);
    };
    const auto clock = [](double hour, double minute) {
        return std::to_string(static_cast<long long>(hour)) + "時" +
               std::to_string(static_cast<long long>(minute)) + "分";
    };
    if (outsideTheDay(r.SunsetHour, r.SunsetMinute)) {
        checked::Fail(Step("日没時刻"), "日没がその日の 23時59分 より後（" +
                                            clock(r.SunsetHour, r.SunsetMinute) +
                                            "）になるため、時刻を表示できません。");
    }
    if (outsideTheDay(r.SunriseHour, r.SunriseMinute)) {
        checked::Fail(Step("日の出時刻"), "日の出が翌日の 0時0分 より前（" +
                                              clock(r.SunriseHour, r.SunriseMinute) +
                                              "）になるため、時刻を表示できません。");
    }
    return r;
}

}  // namespace heliostat::astro
