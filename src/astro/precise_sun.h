#pragma once

#include <chrono>
#include <optional>

// The sun's apparent place from the IAU's SOFA routines (ERFA): for the exact pointing mode,
// for the beam error of the table and for the accuracy statement. Plain C++, no Qt.
namespace heliostat::astro {

using UtcTime = std::chrono::system_clock::time_point;

// An observation point: geodetic latitude and longitude in degrees (north and east positive),
// height above the WGS84 ellipsoid in metres.
struct Site {
    double latitude = 0;
    double longitude = 0;
    double height = 0;
};

// The air that bends the light: pressure in hPa, temperature in °C. The default is the standard
// atmosphere the refraction formula is normalised to.
struct Atmosphere {
    double pressure = 1010;
    double temperature = 10;
};

struct PreciseSunPosition {
    double elevation = 0;         // apparent, with refraction, degrees
    double azimuth = 0;           // degrees from north through east, above 0 up to 360
    double airlessElevation = 0;  // the same without refraction
};

// Apparent topocentric position of the sun's centre for a UTC instant. The clock is taken to
// run on UT1 (UTC stays within 0.9 s of it). Refraction follows the standard formula while the
// upper limb is above the horizon and is left out below, as in NREL's SPA. Throws
// HeliostatError for a latitude outside -90..90, a non-finite input or a failed computation.
PreciseSunPosition PreciseSun(UtcTime utc, const Site& site, const Atmosphere& air = {});

// Refraction in degrees for an airless elevation in degrees (Saemundsson's formula, scaled for
// pressure and temperature); 0 once the upper limb is below the horizon.
double Refraction(double airlessElevation, const Atmosphere& air = {});

// Geocentric apparent right ascension and declination, degrees, referred to the true equator
// and equinox of date, and the distance in au; for checks against published ephemerides.
struct ApparentPlace {
    double rightAscension = 0;
    double declination = 0;
    double distance = 0;
};
ApparentPlace ApparentSunOfDate(UtcTime utc);

// TT - UTC in seconds: from the leap-second table where it holds (1960 to its last year
// plus five), otherwise Espenak and Meeus's ΔT polynomials with UT1 taken as UTC.
double TtMinusUtcSeconds(UtcTime utc);

// Rising and setting: the sun's upper limb on the horizon with 34' of refraction and 16' of
// semidiameter, that is the centre at an airless elevation of -50'.
inline constexpr double kPreciseRiseSetElevation = -50.0 / 60.0;

// The sun's rising and setting during one calendar date of Japan Standard Time (00:00 to 24:00
// JST) at a site, to about a second; empty where the sun does not rise or set that date. Cheap
// to call again: the last few dates and places are remembered, so a caller may call it every
// cycle or every row.
struct SunEvents {
    std::optional<UtcTime> rise;
    std::optional<UtcTime> set;
};
SunEvents SunEventsOnJstDate(int year, int month, int day, const Site& site);

// A JST clock time in whole hours and minutes, the instant rounded to the nearest minute
// (so always 0:00 to 23:59).
struct ClockTime {
    int hour = 0;
    int minute = 0;
};
ClockTime JstClockTime(UtcTime utc);

}  // namespace heliostat::astro
