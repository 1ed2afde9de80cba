#pragma once

#include <erfa.h>
#include <erfam.h>

namespace heliostat::astro {

// An azimuth in radians, of any turn, as the program shows it: degrees above 0 up to 360, north
// being 360. A direction computed as north may come out a rounding residue (1e-15°) either side
// of it; that residue is north too, not 0.
inline double AzimuthDegrees(double radians) {
    const double degrees = eraAnp(radians) * ERFA_DR2D;
    return degrees < 1e-9 ? degrees + 360 : degrees;
}

}  // namespace heliostat::astro
