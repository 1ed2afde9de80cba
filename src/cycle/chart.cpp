#include "cycle/chart.h"

#include <cmath>

#include "astro/solar.h"
#include "base/errors.h"

namespace heliostat::cycle {

namespace {

// The decimal text of a whole-valued number; throws for any other value.
std::string WholeNumber(double value, const char* what) {
    if (!std::isfinite(value) || value != std::floor(value) || std::fabs(value) > 1e15) {
        throw HeliostatError(std::string("時刻の値が整数ではありません（") + what + "）", what);
    }
    return std::to_string(static_cast<long long>(value));
}

// The chart shows a clock time of one day. Near the polar circles or far east of Japan the
// searches can put the next sunrise before midnight or the sunset after it; such a time is
// refused rather than printed as "-1時43分" or "24時5分".
std::string ChartTimeText(double hour, double minute, const char* event, const char* day) {
    const std::string text = TimeText(hour, minute);
    if (!(hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59)) {
        throw HeliostatError(std::string(event) + "（" + text + "）が" + day +
                                 "の 0時0分〜23時59分 に収まらないため表示できません。",
                             event);
    }
    return text;
}

}  // namespace

std::string TimeText(double hour, double minute) {
    const std::string hours = WholeNumber(hour, "時") + "時";  // the hour is checked first
    return hours + WholeNumber(minute, "分") + "分";
}

ChartPoint SunMarkerCentre(double sunElevation, double sunAzimuth) {
    const double r = kHorizonRadius - sunElevation * 10;
    const double theta = sunAzimuth * astro::kPi / 180 - astro::kPi / 2;
    const ChartPoint p{r * std::cos(theta) + kChartCenter, r * std::sin(theta) + kChartCenter};
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
        throw HeliostatError("太陽マーカーの位置を計算できません", "DRAWSUN");
    }
    return p;
}

void DRAWGRID(ChartSurface& chart) {
    chart.Circle(kChartCenter, kChartCenter, 900.0);
    chart.Circle(kChartCenter, kChartCenter, 600.0);
    chart.Circle(kChartCenter, kChartCenter, 300.0);
    chart.Line(0, 1200, 2400, 1200);
    chart.Line(1200, 0, 1200, 2400);
    chart.Print(1250, 0, "N");
    chart.Print(0, 1210, "W");
    chart.Print(2300, 1210, "E");
    chart.Print(1250, 2300, "S");
    chart.Print(2125, 1000, "0°");
    chart.Print(1825, 1000, "30°");
    chart.Print(1525, 1000, "60°");
}

void DRAWSUN(ChartSurface& chart, double sunElevation, double sunAzimuth) {
    const ChartPoint p = SunMarkerCentre(sunElevation, sunAzimuth);
    chart.SetFillStyle(FillStyle::Solid);
    chart.SetFillColor(kSunRed);
    // The drawing call takes single precision, as the chart always has.
    chart.Circle(static_cast<float>(p.x), static_cast<float>(p.y),
                 static_cast<float>(kSunMarkerRadius), kSunRed);
    // Back to transparent so that the next grid circles are not filled.
    chart.SetFillStyle(FillStyle::Transparent);
}

void PRINTSET(ChartSurface& chart, double sunsetHour, double sunsetMinute) {
    const std::string time = ChartTimeText(sunsetHour, sunsetMinute, "日没時刻", "その日");
    chart.Print(0, 0, "日の入りは");
    chart.Print(0, 200, time);
}

void PRINTRISE(ChartSurface& chart, double sunriseHour, double sunriseMinute) {
    const std::string time = ChartTimeText(sunriseHour, sunriseMinute, "日の出時刻", "翌日");
    chart.Print(0, 2100, "沈んでます。");
    chart.Print(1525, 2100, "次の日の出は");
    chart.Print(1525, 2300, time);
}

void DrawEmptyChart(ChartSurface& chart) {
    chart.SetAutoRedraw(true);
    DRAWGRID(chart);
}

void DrawChartBackground(ChartSurface& chart) {
    chart.Clear();
    chart.SetAutoRedraw(true);
    DRAWGRID(chart);
}

}  // namespace heliostat::cycle
