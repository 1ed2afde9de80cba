#pragma once

namespace heliostat::base {

// A direction or a mount position: azimuth clockwise from north (east 90), elevation up from
// the horizon, both in degrees. The one az/el pair of every layer.
struct AzEl {
    double azimuth = 0;
    double elevation = 0;
    friend bool operator==(const AzEl&, const AzEl&) = default;
};

}  // namespace heliostat::base
