#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace heliostat::astro {

// The sun's altitude at rising and setting, radians (refraction plus semidiameter less
// parallax): -0.850107082 degrees.
inline constexpr double kRiseSetAltitudeRad = -2.6706901635758533 / 180;

// Cubic fits of the declination and right-ascension angle over the sample days, degrees with
// t in days from 0h UT of the cycle's local date, and the equation of time of that date.
struct RiseSetCurves {
    double DeclCoef3 = 0, DeclCoef2 = 0, DeclCoef1 = 0, DeclCoef0 = 0;
    double RaCoef3 = 0, RaCoef2 = 0, RaCoef1 = 0, RaCoef0 = 0;
    double RiseSetEquationOfTime = 0;
};

struct RiseSetInput {
    std::int64_t Year = 0;  // March-based: one less in January and February
    int Month = 0;          // March-based: 3..14
    int Day = 0;            // 1..31
    int DayOfYear = 0;      // day number of the calendar date
    double LatitudeRad = 0;
    double Longitude = 0;  // degrees, east positive
};

// Day count K from 2000 January 1, 12h UT, to 0h local time of the date that follows the given
// one, for the March-based year and month and a day of the month that may run past the month's
// end (day + sample offset). 64-bit throughout; throws HeliostatError on integer overflow.
double DayCount(std::int64_t year, int month, std::int64_t day);

// f(t): sine of the sun's altitude less the sine of the rising/setting altitude.
double CALF(const RiseSetCurves& curves, double latitudeRad, double longitude, double t);
// f'(t): its rate of change per day.
double CALFDif(const RiseSetCurves& curves, double latitudeRad, double longitude, double t);

struct RootSearch {
    double root = 0;
    int passes = 0;
};

// Three-point inverse quadratic refinement from the bracket [a, b]; stops when two successive
// estimates agree within 5e-05 day. Throws HeliostatError (naming `what`) after 15 passes or
// on a floating-point failure.
RootSearch RefineRoot(const std::function<double(double)>& g, double a, double b,
                      const std::string& what);

struct RiseSet {
    RiseSetCurves curves;
    double UniversalHours = 0;  // CALRISE leaves 0 here
    double LocalMeanHours = 0;  // and Longitude / 15 here
    double SunsetHour = 0, SunsetMinute = 0;
    double SunriseHour = 0, SunriseMinute = 0;
    // Diagnostics of the run.
    std::array<double, 5> slopeSamples{};
    double tMax = 0, tMin = 0, tSet = 0, tRise = 0;
    std::array<int, 4> passes{};  // upper culmination, lower culmination, sunset, sunrise
};

// The day's sunset and the next morning's sunrise, local clock time (JST), truncated to whole
// hours and minutes. Throws HeliostatError with a clear message when the searches have nothing
// to find (polar day or night, points far west of Japan) or fail numerically.
RiseSet CALRISE(const RiseSetInput& input);

}  // namespace heliostat::astro
