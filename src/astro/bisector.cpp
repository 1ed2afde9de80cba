#include "astro/bisector.h"

#include <array>
#include <cmath>

#include "astro/checked.h"
#include "base/errors.h"

namespace heliostat::astro {

namespace {

using Vec = std::array<double, 3>;  // east, north, up

constexpr double kDeg = 180.0 / 3.14159265358979323846;
constexpr checked::Step kBisector{"ExactBisector", "反射鏡角度", "二等分方向"};
constexpr checked::Step kBeam{"BeamError", "反射光のずれ", "反射方向"};

Vec Unit(const SkyDirection& d, const checked::Step& step) {
    checked::Finite(d.elevation, step);
    checked::Finite(d.azimuth, step);
    const double el = d.elevation / kDeg, az = d.azimuth / kDeg;
    return {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
}

double Dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

SkyDirection ExactBisector(const SkyDirection& sun, const SkyDirection& target) {
    const Vec s = Unit(sun, kBisector);
    const Vec t = Unit(target, kBisector);
    const Vec sum{s[0] + t[0], s[1] + t[1], s[2] + t[2]};
    const double length = std::sqrt(Dot(sum, sum));
    // Within a hundredth of a degree of opposite the mirror would stand edge-on to both.
    if (length < 1e-4) {
        throw HeliostatError("太陽と反射目標が正反対の方向にあるため、反射鏡の向きが決まりません",
                             "ExactBisector");
    }
    const double horizontal = std::hypot(sum[0], sum[1]);
    SkyDirection mirror;
    mirror.elevation = checked::Finite(std::atan2(sum[2], horizontal) * kDeg, kBisector);
    if (horizontal < 1e-12 * length) {
        mirror.azimuth = sun.azimuth;  // any azimuth will do; the mount need not turn
    } else {
        double az = std::atan2(sum[0], sum[1]) * kDeg;
        if (az <= 0) {
            az += 360;
        }
        mirror.azimuth = checked::Finite(az, kBisector);
    }
    return mirror;
}

double BeamError(const SkyDirection& mirror, const SkyDirection& sun, const SkyDirection& target) {
    const Vec n = Unit(mirror, kBeam);
    const Vec s = Unit(sun, kBeam);
    const Vec t = Unit(target, kBeam);
    // The light arrives along -s and leaves along 2(s.n)n - s.
    const double sn = Dot(s, n);
    const Vec r{2 * sn * n[0] - s[0], 2 * sn * n[1] - s[1], 2 * sn * n[2] - s[2]};
    const Vec cross{r[1] * t[2] - r[2] * t[1], r[2] * t[0] - r[0] * t[2],
                    r[0] * t[1] - r[1] * t[0]};
    // atan2 keeps small angles exact where acos of the dot product would lose them.
    return checked::Finite(std::atan2(std::sqrt(Dot(cross, cross)), Dot(r, t)) * kDeg, kBeam);
}

}  // namespace heliostat::astro
