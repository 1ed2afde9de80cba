#pragma once

#include "base/angles.h"

namespace heliostat::astro {

// A direction in the sky, degrees.
using SkyDirection = base::AzEl;

// The mirror normal that sends sunlight exactly to the target: the unit vector halfway between
// the unit vectors towards the sun and towards the target. Azimuth above 0 up to 360 (north is
// 360, as for the sun); when the normal stands vertical its azimuth is the sun's. Throws
// HeliostatError when an angle is not finite or when sun and target lie in opposite directions
// (the mirror would have to stand edge-on).
SkyDirection ExactBisector(const SkyDirection& sun, const SkyDirection& target);

// The angle in degrees between the target direction and the sunlight reflected by a flat mirror
// whose normal points at `mirror`. 0 for the exact bisector. The reflection is taken
// geometrically, so a sun behind the mirror still gives a number. Throws HeliostatError when an
// angle is not finite.
double BeamError(const SkyDirection& mirror, const SkyDirection& sun, const SkyDirection& target);

}  // namespace heliostat::astro
