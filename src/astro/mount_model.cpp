#include "astro/mount_model.h"

#include <erfa.h>

#include <cmath>

#include "astro/checked.h"
#include "base/errors.h"

namespace heliostat::astro {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;
constexpr checked::Step kForward{"MountForward", "反射鏡の向き", "架台モデル"};
constexpr checked::Step kInverse{"MountInverse", "架台角度", "架台モデル"};

// Vectors are in the horizon frame x north, y west, z up, where ERFA's longitude is minus the
// azimuth and eraRz(a) turns a vector by a toward larger azimuth.
void Direction(double azimuth, double elevation, double v[3]) {
    eraS2c(-azimuth, elevation, v);
}

// The mirror normal for the true turns about the two axes, radians.
void Normal(const MountModel& m, double turn, double tilt, double n[3]) {
    double r[3][3];
    eraIr(r);
    // Each call multiplies from the left: the first rotation acts first on the normal.
    eraRz(m.mirrorCant * kRad, r);
    eraRy(tilt, r);
    eraRx(m.axisSkew * kRad, r);
    eraRz(turn, r);
    eraRy(-m.tiltNorth * kRad, r);
    eraRx(-m.tiltEast * kRad, r);
    double forward[3] = {1, 0, 0};
    eraRxp(r, forward, n);
}

void MountNormal(const MountModel& m, double azimuth, double elevation, double n[3]) {
    Normal(m, (azimuth - m.azimuthOffset) * kRad, (elevation - m.elevationOffset) * kRad, n);
}

// Degrees brought into the range above 0 up to 360.
double Azimuth(double degrees) {
    double az = std::fmod(degrees, 360.0);
    if (az <= 0) {
        az += 360;
    }
    return az;
}

}  // namespace

bool MountModel::IsZero() const {
    for (const double value : MountParameters(*this)) {
        if (value != 0) {
            return false;
        }
    }
    return true;
}

std::array<double, kMountParameterCount> MountParameters(const MountModel& m) {
    return {m.azimuthOffset, m.elevationOffset, m.tiltNorth, m.tiltEast, m.axisSkew, m.mirrorCant};
}

MountModel MountModelFromParameters(const std::array<double, kMountParameterCount>& v) {
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

SkyDirection MountForward(const MountModel& model, const MountAngles& angles) {
    checked::Finite(angles.azimuth, kForward);
    checked::Finite(angles.elevation, kForward);
    for (const double value : MountParameters(model)) {
        checked::Finite(value, kForward);
    }
    if (model.IsZero()) {
        return {angles.elevation, angles.azimuth};
    }
    double n[3];
    MountNormal(model, angles.azimuth, angles.elevation, n);
    double longitude = 0, latitude = 0;
    eraC2s(n, &longitude, &latitude);
    return {checked::Finite(latitude / kRad, kForward), Azimuth(-longitude / kRad)};
}

MountAngles MountInverse(const MountModel& model, const SkyDirection& wanted) {
    checked::Finite(wanted.azimuth, kInverse);
    checked::Finite(wanted.elevation, kInverse);
    for (const double value : MountParameters(model)) {
        checked::Finite(value, kInverse);
    }
    if (model.IsZero()) {
        return {wanted.azimuth, wanted.elevation};
    }
    const double az = wanted.azimuth * kRad, el = wanted.elevation * kRad;
    double t[3];
    Direction(az, el, t);
    // Unit vectors along growing azimuth and growing elevation at the wanted direction; the
    // normal's components along them are the two errors Newton drives to zero.
    double eAz[3] = {-std::sin(az), -std::cos(az), 0};
    double eEl[3] = {-std::sin(el) * std::cos(az), std::sin(el) * std::sin(az), std::cos(el)};
    const auto errors = [&](double turn, double tilt, double out[2]) {
        double n[3];
        Normal(model, turn, tilt, n);
        out[0] = eraPdp(n, eAz);
        out[1] = eraPdp(n, eEl);
    };
    double turn = (wanted.azimuth - model.azimuthOffset) * kRad;
    double tilt = (wanted.elevation - model.elevationOffset) * kRad;
    constexpr double h = 1e-6;
    for (int i = 0; i < 30; ++i) {
        double f[2], fa[2], fb[2], fc[2], fd[2];
        errors(turn, tilt, f);
        errors(turn + h, tilt, fa);
        errors(turn - h, tilt, fb);
        errors(turn, tilt + h, fc);
        errors(turn, tilt - h, fd);
        const double j00 = (fa[0] - fb[0]) / (2 * h), j10 = (fa[1] - fb[1]) / (2 * h);
        const double j01 = (fc[0] - fd[0]) / (2 * h), j11 = (fc[1] - fd[1]) / (2 * h);
        const double det = j00 * j11 - j01 * j10;
        if (!std::isfinite(det) || std::abs(det) < 1e-12) {
            break;
        }
        const double dTurn = (j11 * f[0] - j01 * f[1]) / det;
        const double dTilt = (j00 * f[1] - j10 * f[0]) / det;
        turn -= dTurn;
        tilt -= dTilt;
        if (std::abs(dTurn) + std::abs(dTilt) < 1e-14) {
            break;
        }
    }
    double n[3];
    Normal(model, turn, tilt, n);
    // 1e-11 rad is well inside the promised 1e-9°; a failure to get there means no mount
    // angles face that way (or Newton ran onto the opposite direction).
    if (!std::isfinite(turn) || !std::isfinite(tilt) || eraSepp(n, t) > 1e-11) {
        throw HeliostatError("架台がこの向きに反射鏡を向けられません（仰角 " +
                                 std::to_string(wanted.elevation) + "°、方位角 " +
                                 std::to_string(wanted.azimuth) + "°）",
                             "MountInverse");
    }
    return {Azimuth(turn / kRad + model.azimuthOffset),
            checked::Finite(tilt / kRad + model.elevationOffset, kInverse)};
}

}  // namespace heliostat::astro
