#pragma once

#include <array>

#include "astro/time_scales.h"

// The geocentric apparent sun from the IAU's SOFA routines (ERFA). Plain C++, no Qt.
namespace heliostat::astro {

// Geocentric apparent right ascension and declination, degrees, referred to the true equator
// and equinox of date, and the distance in au; for checks against published ephemerides.
struct ApparentPlace {
    double rightAscension = 0;
    double declination = 0;
    double distance = 0;
};
ApparentPlace ApparentSunOfDate(UtcTime utc);

// The geocentric apparent sun in CIRS axes, in au (aberrated direction times the geometric
// distance, which only serves the topocentric parallax), at seconds since 1970 UTC. The full
// ephemeris costs tens of microseconds, so it is sampled five times per UTC day and a quartic
// interpolates between (good to far below a milliarcsecond); the last few days are kept per
// thread. Throws HeliostatError outside the ephemeris years or on a failed computation.
std::array<double, 3> ApparentSunCirs(double unixSeconds);

}  // namespace heliostat::astro
