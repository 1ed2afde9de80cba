#pragma once

namespace heliostat::astro {

// The constants are written out as the calculation has always used them; 2π is not computed.
inline constexpr double kPi = 3.14159265358979;
inline constexpr double kTwoPi = 6.28318530717958;

// Ordinal day of a 365-day year (no leap day) from the calendar month 1..12 and day.
// 29 February and 1 March both give 60. Throws HeliostatError for a month outside 1..12 or a
// day outside 1..31.
int DayOfYear(int calendarMonth, int day);

// The day number taken as an angle in degrees, in radians: a turn every 360 days.
double DayAngle(double dayNumber);
// The equation of time in hours and the declination in radians, Fourier series in the day angle.
double EquationOfTimeHours(double dayAngle);
double DeclinationRad(double dayAngle);

// Observed: the sun's elevation from the zenith angle. Sunrise: the elevation is taken as
// exactly 0 (the sun on the horizon) while everything else, the azimuth included, is computed
// the same way.
enum class SunForm { Observed, Sunrise };

struct SunPosition {
    double LocalMeanHours = 0;  // hours, written into the state record
    double LatitudeRad = 0;     // radians, written into the state record
    double SunElevation = 0;    // degrees
    double SunAzimuth = 0;      // degrees clockwise from north, above 0 up to 360
    // Intermediate values, kept for diagnostics and tests.
    double EquationOfTime = 0;  // hours
    double Declination = 0;     // radians
    double ZenithAngle = 0;     // degrees
};

// The sun's direction for a day number, Universal Time in hours and an observation point in
// degrees. Throws HeliostatError on any invalid operation, division by zero or overflow, and
// when the sun stands at the zenith or the nadir (no azimuth exists there).
SunPosition CALSUN(double dayOfYear, double universalHours, double latitude, double longitude,
                   SunForm form = SunForm::Observed);

}  // namespace heliostat::astro
