#include "astro/bisector.h"

#include <erfa.h>
#include <erfam.h>

#include <cmath>

#include "astro/azimuth.h"
#include "astro/checked.h"
#include "base/errors.h"

namespace heliostat::astro {

namespace {

constexpr checked::Step kBisector{"ExactBisector", "反射鏡角度", "二等分方向"};
constexpr checked::Step kBeam{"BeamError", "反射光のずれ", "反射方向"};

// The unit vector of a direction in local axes (north, east, up): azimuth and elevation are
// its spherical angles there.
void Unit(const SkyDirection& d, const checked::Step& step, double v[3]) {
    eraS2c(checked::Finite(d.azimuth, step) * ERFA_DD2R,
           checked::Finite(d.elevation, step) * ERFA_DD2R, v);
}

}  // namespace

SkyDirection ExactBisector(const SkyDirection& sun, const SkyDirection& target) {
    double s[3], t[3], sum[3];
    Unit(sun, kBisector, s);
    Unit(target, kBisector, t);
    eraPpp(s, t, sum);
    const double length = eraPm(sum);
    // Within a hundredth of a degree of opposite the mirror would stand edge-on to both.
    if (length < 1e-4) {
        throw HeliostatError("太陽と反射目標が正反対の方向にあるため、反射鏡の向きが決まりません",
                             "ExactBisector");
    }
    double azimuth = 0, elevation = 0;
    eraC2s(sum, &azimuth, &elevation);
    SkyDirection mirror;
    mirror.elevation = checked::Finite(elevation * ERFA_DR2D, kBisector);
    if (std::hypot(sum[0], sum[1]) < 1e-12 * length) {
        mirror.azimuth = sun.azimuth;  // any azimuth will do; the mount need not turn
    } else {
        mirror.azimuth = checked::Finite(AzimuthDegrees(azimuth), kBisector);
    }
    return mirror;
}

double BeamError(const SkyDirection& mirror, const SkyDirection& sun, const SkyDirection& target) {
    double n[3], s[3], t[3];
    Unit(mirror, kBeam, n);
    Unit(sun, kBeam, s);
    Unit(target, kBeam, t);
    // The light arrives along -s and leaves along 2(s.n)n - s.
    double twice[3], r[3];
    eraSxp(2 * eraPdp(s, n), n, twice);
    eraPmp(twice, s, r);
    // eraSepp takes the angle by atan2, which keeps small angles exact where acos would not.
    return checked::Finite(eraSepp(r, t) * ERFA_DR2D, kBeam);
}

}  // namespace heliostat::astro
