#pragma once

#include "astro/ephemeris.h"
#include "astro/time_scales.h"

// The sun's apparent place as seen from a site, with refraction: for the exact pointing mode,
// for the beam error of the table and for the accuracy statement. Plain C++, no Qt.
namespace heliostat::astro {

// An observation point: geodetic latitude and longitude in degrees (north and east positive),
// height above the WGS84 ellipsoid in metres.
struct Site {
    double latitude = 0;
    double longitude = 0;
    double height = 0;
    friend bool operator==(const Site&, const Site&) = default;
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

// Rising and setting: the sun's upper limb on the horizon with 34' of refraction and 16' of
// semidiameter, that is the centre at an airless elevation of -50'.
inline constexpr double kPreciseRiseSetElevation = -50.0 / 60.0;

// A site made ready for many instants: its place in terrestrial axes (au) and its local
// north, east and up. Throws HeliostatError as PreciseSun does for a bad site.
struct SiteFrame {
    double position[3]{};
    double north[3]{}, east[3]{}, up[3]{};
};
SiteFrame FrameOf(const Site& site);

// The sun's airless elevation in degrees at seconds since 1970 UTC, the root finder's variable.
double AirlessElevation(double unixSeconds, const SiteFrame& frame);

}  // namespace heliostat::astro
