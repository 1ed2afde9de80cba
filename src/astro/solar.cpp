#include "astro/solar.h"

#include <algorithm>
#include <cmath>

#include "astro/checked.h"

namespace heliostat::astro {

namespace {

using checked::Div;
using checked::Finite;
using checked::Sqrt;

checked::Step Step(const char* name) {
    return {"CALSUN", "太陽位置", name};
}

}  // namespace

int DayOfYear(int calendarMonth, int day) {
    const int m = calendarMonth;
    if (m < 1 || m > 12 || day < 1 || day > 31) {
        checked::Fail({"DayOfYear", "通日", "日付"}, "月または日が範囲外です。");
    }
    if (m <= 2) {
        return 31 * (m - 1) + day;
    }
    // Both halves of the year lose the days the short months lack; February counts as 28.
    if (m <= 8) {
        return 31 * (m - 1) - (m - 1) / 2 - 2 + day;
    }
    return 31 * (m - 1) - (m - 2) / 2 - 2 + day;
}

double DayAngle(double dayNumber) {
    return dayNumber * kTwoPi / 360;
}

double EquationOfTimeHours(double g) {
    return (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) -
            0.014615 * std::cos(2 * g) - 0.040849 * std::sin(2 * g)) *
           12 / kPi;
}

double DeclinationRad(double g) {
    return 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) - 0.006758 * std::cos(2 * g) +
           0.000907 * std::sin(2 * g) - 0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g);
}

SunPosition CALSUN(double dayOfYear, double universalHours, double latitude, double longitude,
                   SunForm form) {
    Finite(dayOfYear, Step("通日"));
    Finite(universalHours, Step("世界時"));
    Finite(longitude, Step("経度"));
    if (!(std::fabs(latitude) <= 90)) {
        checked::Fail(Step("緯度"), "緯度は -90 から 90 の範囲で指定してください。");
    }

    SunPosition p;
    const double g = Finite(DayAngle(dayOfYear), Step("日角"));
    p.LocalMeanHours = Finite(longitude / 15 + universalHours, Step("地方平均時"));
    p.EquationOfTime = EquationOfTimeHours(g);
    const double apparent = Finite(p.EquationOfTime + p.LocalMeanHours, Step("視太陽時"));
    const double h = Finite((apparent - 12) * 15 * kPi / 180, Step("時角"));
    const double d = DeclinationRad(g);
    p.Declination = d;
    const double phi = latitude * kTwoPi / 360;
    p.LatitudeRad = phi;

    const double s = std::sin(d) * std::sin(phi) + std::cos(phi) * std::cos(d) * std::cos(h);
    // At s = ±1 (or beyond, through rounding) the sun stands at the zenith or the nadir and
    // no azimuth exists; every later step would divide by sin Z = 0.
    if (!(std::fabs(s) < 1)) {
        checked::Fail(Step("天頂角"), "太陽が天頂または天底にあり、方位角が定まりません。");
    }
    const double root = Sqrt(1 - s * s, Step("天頂角"));
    const double z = (std::atan(Div(-s, root, Step("天頂角"))) + 2 * std::atan(1.0)) * 180 / kPi;
    p.ZenithAngle = z;
    p.SunElevation = form == SunForm::Sunrise ? 0.0 : 90 - z;

    const double x = std::clamp(
        Div(std::cos(d) * std::sin(h), std::sin(z * kPi / 180), Step("方位角")), -1.0, 1.0);
    double a = 0;
    if (x == 1) {
        a = kPi / 2;
    } else if (x == -1) {
        a = -kPi / 2;
    } else {
        a = std::atan(Div(x, Sqrt(1 - x * x, Step("方位角")), Step("方位角")));
    }
    // Only the sign of c is used; it tells the northern from the southern half of the sky.
    const double c = Div(std::cos(d) * std::sin(phi) * std::cos(h) - std::cos(phi) * std::sin(d),
                         std::sin(z * kTwoPi / 360), Step("方位角"));
    if (c < 0) {
        a = kPi - a;
    }
    if (c >= 0 && x <= 0) {
        a = a + kTwoPi;
    }
    a = a + kPi;
    if (a > kTwoPi) {
        a = a - kTwoPi;
    }
    p.SunAzimuth = a * 180 / kPi;
    return p;
}

}  // namespace heliostat::astro
