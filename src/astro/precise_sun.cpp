#include "astro/precise_sun.h"

#include <erfa.h>
#include <erfam.h>

#include <array>
#include <cmath>

#include "astro/azimuth.h"
#include "astro/checked.h"
#include "base/errors.h"

namespace heliostat::astro {

namespace {

constexpr checked::Step kStep{"PreciseSun", "精密な太陽位置", "ERFA"};

struct Horizontal {
    double elevation = 0;  // airless, degrees
    double azimuth = 0;    // radians from north through east, any turn
};

Horizontal AirlessAt(double unixSeconds, const SiteFrame& frame) {
    std::array<double, 3> cirs = ApparentSunCirs(unixSeconds);
    SiteFrame f = frame;  // ERFA's routines take no const arguments
    // CIRS to terrestrial axes by the Earth rotation angle (UT1 taken as UTC; polar motion,
    // under half an arcsecond, is left out), then from the site.
    const double days = unixSeconds / kDaySeconds;
    const double whole = std::floor(days);
    double rotation[3][3];
    eraIr(rotation);
    eraRz(eraEra00(kUnixEpochJd + whole, days - whole), rotation);
    double terrestrial[3], topo[3];
    eraRxp(rotation, cirs.data(), terrestrial);
    eraPmp(terrestrial, f.position, topo);
    // In the local axes (north, east, up) the spherical angles are the azimuth and elevation.
    double local[3] = {eraPdp(topo, f.north), eraPdp(topo, f.east), eraPdp(topo, f.up)};
    double azimuth = 0, elevation = 0;
    eraC2s(local, &azimuth, &elevation);
    return {checked::Finite(elevation * ERFA_DR2D, kStep), checked::Finite(azimuth, kStep)};
}

}  // namespace

SiteFrame FrameOf(const Site& site) {
    if (!std::isfinite(site.latitude) || !std::isfinite(site.longitude) ||
        !std::isfinite(site.height)) {
        checked::Fail(kStep, "観測点の座標が数値ではありません。");
    }
    if (site.latitude < -90 || site.latitude > 90) {
        throw HeliostatError("観測点緯度は -90 度から 90 度の範囲で指定してください",
                             "PreciseSun: latitude");
    }
    SiteFrame f;
    const double phi = site.latitude * ERFA_DD2R;
    const double lambda = site.longitude * ERFA_DD2R;
    double xyz[3];
    if (eraGd2gc(ERFA_WGS84, lambda, phi, site.height, xyz) != 0) {
        checked::Fail(kStep, "観測点の地心座標を求められません。");
    }
    eraSxp(1 / ERFA_DAU, xyz, f.position);
    eraS2c(lambda, phi, f.up);
    eraS2c(lambda, phi + ERFA_DPI / 2, f.north);
    eraS2c(lambda + ERFA_DPI / 2, 0, f.east);
    return f;
}

double AirlessElevation(double unixSeconds, const SiteFrame& frame) {
    return AirlessAt(unixSeconds, frame).elevation;
}

double Refraction(double airlessElevation, const Atmosphere& air) {
    // Below this the upper limb has set; SPA applies no refraction there either. The margin
    // (a quarter of a second of the sun's motion) keeps the sun at a computed rising or setting,
    // found to a tenth of a second, on the refracted side.
    if (airlessElevation < kPreciseRiseSetElevation - 1e-3) {
        return 0;
    }
    const double e = airlessElevation;
    const double arcmin = 1.02 / std::tan((e + 10.3 / (e + 5.11)) * ERFA_DD2R);
    return checked::Finite(
        (air.pressure / 1010.0) * (283.0 / (273.0 + air.temperature)) * arcmin / 60.0, kStep);
}

PreciseSunPosition PreciseSun(UtcTime utc, const Site& site, const Atmosphere& air) {
    const Horizontal h = AirlessAt(UnixSeconds(utc), FrameOf(site));
    PreciseSunPosition p;
    p.airlessElevation = h.elevation;
    p.elevation = h.elevation + Refraction(h.elevation, air);
    p.azimuth = AzimuthDegrees(h.azimuth);
    return p;
}

}  // namespace heliostat::astro
