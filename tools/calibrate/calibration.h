#pragma once

#include <array>
#include <string>
#include <vector>

#include "astro/bisector.h"
#include "astro/mount_model.h"
#include "astro/precise_sun.h"

// Fitting the mount model to calibration observations: moments when the light was centred on
// the target, with the mount's own angles at that moment.
namespace heliostat::calibrate {

inline constexpr std::size_t kMinimumObservations = 6;

struct Observation {
    std::string jst;  // "YYYY-MM-DD HH:MM:SS", as read
    astro::UtcTime utc;
    astro::MountAngles mount;
};

struct FitResult {
    astro::MountModel model;
    std::array<double, astro::kMountParameterCount> standardErrors{};  // degrees
    // Not pinned down by these observations: the parameter could move by more than
    // kPoorlyDetermined without the observations telling (at centring noise no better than
    // kNoiseFloorMrad), or it trades off exactly against others.
    std::array<bool, astro::kMountParameterCount> poorlyDetermined{};
    std::vector<double> beforeDeg;  // beam error of each observation, the mount taken at its word
    std::vector<double> afterDeg;   // ... and with the fitted model
    std::vector<bool> outlier;      // dropped from the final fit
    std::size_t used = 0;
    double rmsDeg = 0, maxDeg = 0;  // over the observations used
    bool singleDay = false;         // every observation on one JST date
};

inline constexpr double kPoorlyDetermined = 0.1;  // degrees
inline constexpr double kNoiseFloorMrad = 0.1;
// An observation is an outlier when its beam error after the robust fit exceeds five robust
// standard deviations of all of them, and at least this much.
inline constexpr double kOutlierFloorDeg = 0.02;

// The site's precise sun at each observation and the fixed target. Throws HeliostatError
// (with a Japanese message) for fewer than kMinimumObservations observations or a sun the
// precise ephemeris refuses.
FitResult FitMountModel(const std::vector<Observation>& observations, const astro::Site& site,
                        const astro::SkyDirection& target);

}  // namespace heliostat::calibrate
