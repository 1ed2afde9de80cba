#include "astro/mirror.h"

#include <cmath>

#include "astro/checked.h"

namespace heliostat::astro {

namespace {

checked::Step Step(const char* name) {
    return {"CALMIRROR", "反射鏡角度", name};
}

}  // namespace

base::AzEl CALMIRROR(double sunElevation, double sunAzimuth, double targetElevation,
                     double targetAzimuth) {
    using checked::Finite;
    Finite(sunElevation, Step("太陽高度"));
    Finite(sunAzimuth, Step("太陽方位角"));
    Finite(targetElevation, Step("目標高度"));
    Finite(targetAzimuth, Step("目標方位角"));

    base::AzEl m;
    m.elevation = Finite((sunElevation + targetElevation) * 0.5, Step("高度"));

    const double apart = Finite(sunAzimuth - targetAzimuth, Step("方位角"));
    if (std::fabs(apart) <= 180) {
        m.azimuth = Finite((sunAzimuth + targetAzimuth) * 0.5, Step("方位角"));
        return m;
    }
    // The two directions lie on opposite sides of north: averaging the plain numbers would
    // point the mirror to the far side of the sky. Bring the target a turn closer first.
    const double target = apart > 0 ? targetAzimuth + 360 : targetAzimuth - 360;
    double az = Finite((sunAzimuth + target) * 0.5, Step("方位角"));
    az = std::fmod(az, 360.0);
    if (az <= 0) {
        az += 360;
    }
    m.azimuth = az;
    return m;
}

}  // namespace heliostat::astro
