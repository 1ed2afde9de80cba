#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace heliostat::cycle {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kSunRed{255, 0, 0};

enum class FillStyle { Transparent, Solid };

// The drawing surface of the sky chart, in twips with the origin at the top-left corner of the
// drawing area and y growing downward. Everything drawn persists until the next Clear().
class ChartSurface {
public:
    virtual ~ChartSurface() = default;
    virtual void Clear() = 0;
    virtual void SetAutoRedraw(bool persistent) = 0;
    virtual void SetFillStyle(FillStyle style) = 0;
    virtual void SetFillColor(Rgb color) = 0;
    // Outline in the foreground color, no fill.
    virtual void Circle(double cx, double cy, double radius) = 0;
    // Outline in the given color, filled with the current fill style and fill color.
    virtual void Circle(float cx, float cy, float radius, Rgb outline) = 0;
    virtual void Line(double x1, double y1, double x2, double y2) = 0;
    // Text (UTF-8) with its top-left corner at (x, y).
    virtual void Print(double x, double y, std::string_view text) = 0;
};

// A surface that draws nothing, for hosts of the cycle that need no picture (the table tool,
// benchmarks, tests that only look at texts).
class NullChart final : public ChartSurface {
public:
    void Clear() override {}
    void SetAutoRedraw(bool) override {}
    void SetFillStyle(FillStyle) override {}
    void SetFillColor(Rgb) override {}
    void Circle(double, double, double) override {}
    void Circle(float, float, float, Rgb) override {}
    void Line(double, double, double, double) override {}
    void Print(double, double, std::string_view) override {}
};

// The chart's fixed geometry.
inline constexpr double kChartCenter = 1200;
inline constexpr double kHorizonRadius = 900;
inline constexpr double kSunMarkerRadius = 80;

// "17時5分": hour and minute as whole numbers without leading zeros.
std::string TimeText(double hour, double minute);

// Where DRAWSUN centres the marker for a sun direction in degrees.
struct ChartPoint {
    double x = 0, y = 0;
};
ChartPoint SunMarkerCentre(double sunElevation, double sunAzimuth);

// Circles of 900, 600 and 300 about the centre, the two axes and the seven labels.
void DRAWGRID(ChartSurface& chart);
// Solid red disc of radius 80 at the sun's place; leaves the fill style transparent.
void DRAWSUN(ChartSurface& chart, double sunElevation, double sunAzimuth);
// "日の入りは" and the sunset time below it. Throws HeliostatError, printing nothing, when the
// time is not one of 0:00 to 23:59 (likewise PRINTRISE).
void PRINTSET(ChartSurface& chart, double sunsetHour, double sunsetMinute);
// "沈んでます。", "次の日の出は" and the next sunrise time below the latter.
void PRINTRISE(ChartSurface& chart, double sunriseHour, double sunriseMinute);
// Start-up drawing: persistent drawing on, then the grid; no clearing.
void DrawEmptyChart(ChartSurface& chart);
// Cycle background: clear, persistent drawing on, grid.
void DrawChartBackground(ChartSurface& chart);

}  // namespace heliostat::cycle
