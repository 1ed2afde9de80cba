#pragma once

// A misaligned mount and a sun built for the tests alone, independently of the program's own
// model and ephemeris: Rodrigues rotations in an east-north-up frame, and the Astronomical
// Almanac's low-precision solar formula (good to about 0.01° in this century).

#include <array>
#include <chrono>
#include <cmath>

namespace heliostat::testing {

using V3 = std::array<double, 3>;  // east, north, up

constexpr double kD = M_PI / 180;

inline V3 Dir(double azDeg, double elDeg) {
    const double az = azDeg * kD, el = elDeg * kD;
    return {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
}
inline double Dot(const V3& a, const V3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline V3 Cross(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline V3 Add(const V3& a, const V3& b, double s = 1) {
    return {a[0] + s * b[0], a[1] + s * b[1], a[2] + s * b[2]};
}
inline V3 Scale(const V3& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
inline V3 Norm(const V3& a) {
    return Scale(a, 1 / std::sqrt(Dot(a, a)));
}
// Right-handed turn of v about the unit axis k.
inline V3 Rotate(const V3& v, const V3& k, double angleDeg) {
    const double a = angleDeg * kD;
    return Add(Add(Scale(v, std::cos(a)), Scale(Cross(k, v), std::sin(a))), k,
               Dot(k, v) * (1 - std::cos(a)));
}
inline double AngleDeg(const V3& a, const V3& b) {
    return std::atan2(std::sqrt(Dot(Cross(a, b), Cross(a, b))), Dot(a, b)) / kD;
}

struct TrueMount {
    double azOffset = 0, elOffset = 0;  // encoders read high by this much
    double tilt = 0, tiltToward = 0;    // the azimuth axis' top leans `tilt` toward that azimuth
    double skew = 0;                    // elevation axis' right-hand end raised
    double cant = 0;                    // normal turned right of square to the elevation axis

    V3 Normal(double mountAz, double mountEl) const {
        const double turn = mountAz - azOffset, lift = mountEl - elOffset;
        const V3 up{0, 0, 1};
        const V3 h = Dir(turn, 0);  // facing
        const V3 right = Dir(turn + 90, 0);
        const V3 axis = Add(Scale(right, std::cos(skew * kD)), up, std::sin(skew * kD));
        const V3 n0 = Add(Scale(h, std::cos(cant * kD)), axis, std::sin(cant * kD));
        const V3 n = Rotate(n0, axis, lift);  // about the facing-right axis, up is positive
        const V3 leanAxis = Cross(up, Dir(tiltToward, 0));
        return Rotate(n, leanAxis, tilt);
    }
};

// Mount angles that make the true normal face `wanted`, by Newton steps on the angles.
inline std::array<double, 2> TrueMountAngles(const TrueMount& m, const V3& wanted) {
    const double wantedAz = std::atan2(wanted[0], wanted[1]) / kD;
    std::array<double, 2> x{wantedAz, std::asin(wanted[2]) / kD};
    const V3 eAz = Norm(Cross(V3{0, 0, 1}, wanted)), eEl = Cross(wanted, eAz);
    for (int i = 0; i < 20; ++i) {
        const auto f = [&](double a, double e) {
            const V3 n = m.Normal(a, e);
            return std::array<double, 2>{Dot(n, eAz), Dot(n, eEl)};
        };
        const double h = 1e-5;
        const auto f0 = f(x[0], x[1]), fa = f(x[0] + h, x[1]), fe = f(x[0], x[1] + h);
        const double j00 = (fa[0] - f0[0]) / h, j10 = (fa[1] - f0[1]) / h;
        const double j01 = (fe[0] - f0[0]) / h, j11 = (fe[1] - f0[1]) / h;
        const double det = j00 * j11 - j01 * j10;
        x[0] -= (j11 * f0[0] - j01 * f0[1]) / det;
        x[1] -= (j00 * f0[1] - j10 * f0[0]) / det;
    }
    return x;
}

// The sun's apparent direction (east-north-up) with refraction, for a UTC instant.
inline V3 LowPrecisionSun(std::chrono::system_clock::time_point utc, double latDeg, double lonDeg) {
    const double unixDays = std::chrono::duration<double>(utc.time_since_epoch()).count() / 86400.0;
    const double n = unixDays + 2440587.5 - 2451545.0;
    const double L = 280.460 + 0.9856474 * n, g = (357.528 + 0.9856003 * n) * kD;
    const double lambda = (L + 1.915 * std::sin(g) + 0.020 * std::sin(2 * g)) * kD;
    const double eps = (23.439 - 0.0000004 * n) * kD;
    const double ra = std::atan2(std::cos(eps) * std::sin(lambda), std::cos(lambda));
    const double dec = std::asin(std::sin(eps) * std::sin(lambda));
    const double gmstDeg = 280.46061837 + 360.98564736629 * n;
    const double ha = gmstDeg * kD + lonDeg * kD - ra, lat = latDeg * kD;
    const double el =
        std::asin(std::sin(lat) * std::sin(dec) + std::cos(lat) * std::cos(dec) * std::cos(ha));
    const double az =
        std::atan2(-std::cos(dec) * std::sin(ha),
                   std::sin(dec) * std::cos(lat) - std::cos(dec) * std::cos(ha) * std::sin(lat));
    // Saemundsson's refraction for the standard 1010 hPa, 10 °C, in arcminutes.
    const double elDeg = el / kD;
    const double refraction = 1.02 / std::tan((elDeg + 10.3 / (elDeg + 5.11)) * kD) / 60;
    return Dir(az / kD, elDeg + refraction);
}

// The angle between the target and the sunlight a mirror with normal n reflects.
inline double BeamErrorDeg(const V3& sun, const V3& n, const V3& target) {
    const V3 reflected = Add(Scale(n, 2 * Dot(sun, n)), sun, -1);
    return AngleDeg(reflected, target);
}

}  // namespace heliostat::testing
