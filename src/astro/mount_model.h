#pragma once

#include <array>
#include <string_view>

#include "astro/bisector.h"
#include "base/angles.h"

// The geometric error model of an azimuth-elevation mount: what direction the mirror normal
// truly faces for the angles the mount reports, and the angles to drive for a wanted
// direction. Conventions, order of rotations and a worked example: docs/mount-model.md.
// Plain C++, no Qt.
namespace heliostat::astro {

// The mount's own angles, as its encoders read them, in degrees.
using MountAngles = base::AzEl;

// Six small angles in degrees; all zero is the perfect mount.
struct MountModel {
    double azimuthOffset = 0;    // the azimuth encoder reads this much above the true turn
    double elevationOffset = 0;  // the elevation encoder reads this much above the true tilt
    double tiltNorth = 0;        // the azimuth axis' top leans this far toward north
    double tiltEast = 0;         // ... and this far toward east
    double axisSkew = 0;         // the elevation axis' right-hand end (seen from behind) is raised
    double mirrorCant = 0;       // the normal is turned this far to the right of the square

    bool IsZero() const;
};

inline constexpr std::size_t kMountParameterCount = 6;

// The parameters in a fixed order, with the names the model file uses.
inline constexpr std::array<std::string_view, kMountParameterCount> kMountParameterNames{
    "azimuth_offset", "elevation_offset", "tilt_north", "tilt_east", "axis_skew", "mirror_cant"};
std::array<double, kMountParameterCount> MountParameters(const MountModel& model);
MountModel MountModelFromParameters(const std::array<double, kMountParameterCount>& values);

// The direction the mirror normal faces for these mount angles: elevation up, azimuth from
// north through east in the range above 0 up to 360. The zero model gives the angles back
// unchanged. Throws HeliostatError for an angle that is not finite.
SkyDirection MountForward(const MountModel& model, const MountAngles& angles);

// The mount angles whose forward direction is `wanted`, by Newton steps to better than 1e-9°;
// azimuth above 0 up to 360. The zero model gives the direction back unchanged. Throws
// HeliostatError for an angle that is not finite or a direction the mount cannot face (closer
// to its azimuth axis than the mirror's cant lets it).
MountAngles MountInverse(const MountModel& model, const SkyDirection& wanted);

}  // namespace heliostat::astro
