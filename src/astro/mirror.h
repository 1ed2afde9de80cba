#pragma once

#include "base/angles.h"

namespace heliostat::astro {

// The mirror points halfway between the sun and the target, elevation and azimuth each
// averaged. When the two azimuths lie more than 180° apart (opposite sides of north) the
// target azimuth is first shifted by ±360° toward the sun, and the result is given in the
// range above 0 up to 360. Throws HeliostatError when a value is not finite.
base::AzEl CALMIRROR(double sunElevation, double sunAzimuth, double targetElevation,
                     double targetAzimuth);

}  // namespace heliostat::astro
