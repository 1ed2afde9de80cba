#include "astro/ephemeris.h"

#include <erfa.h>
#include <erfam.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "astro/checked.h"

namespace heliostat::astro {

namespace {

constexpr checked::Step kStep{"PreciseSun", "精密な太陽位置", "ERFA"};

// The full ephemeris at one instant, and the equation of the origins there.
std::array<double, 3> FullCirs(double unixSeconds, double* equationOfOrigins = nullptr) {
    const double tt = unixSeconds + TtMinusUtcSeconds(unixSeconds);
    const double whole = std::floor(tt / kDaySeconds);
    eraASTROM astrom;
    double eo = 0;
    // TDB differs from TT by under 2 ms, far below what matters here.
    eraApci13(kUnixEpochJd + whole, tt / kDaySeconds - whole, &astrom, &eo);
    double natural[3];
    eraSxp(-1, astrom.eh, natural);
    double aberrated[3];
    eraAb(natural, astrom.v, astrom.em, astrom.bm1, aberrated);
    double cirs[3];
    eraRxp(astrom.bpn, aberrated, cirs);
    if (equationOfOrigins != nullptr) {
        *equationOfOrigins = eo;
    }
    return {checked::Finite(cirs[0] * astrom.em, kStep),
            checked::Finite(cirs[1] * astrom.em, kStep),
            checked::Finite(cirs[2] * astrom.em, kStep)};
}

struct DaySamples {
    std::int64_t dayIndex = 0;
    bool valid = false;
    std::array<std::array<double, 3>, 5> at{};
};

const DaySamples& SamplesFor(std::int64_t dayIndex) {
    thread_local std::array<DaySamples, 4> cache;
    thread_local std::size_t next = 0;
    for (const DaySamples& d : cache) {
        if (d.valid && d.dayIndex == dayIndex) {
            return d;
        }
    }
    DaySamples& slot = cache[next];
    next = (next + 1) % cache.size();
    slot.valid = false;
    for (int k = 0; k < 5; ++k) {
        slot.at[k] = FullCirs((static_cast<double>(dayIndex) + k / 4.0) * kDaySeconds);
    }
    slot.dayIndex = dayIndex;
    slot.valid = true;
    return slot;
}

}  // namespace

std::array<double, 3> ApparentSunCirs(double unixSeconds) {
    const double days = unixSeconds / kDaySeconds;
    const auto dayIndex = static_cast<std::int64_t>(std::floor(days));
    const double x = days - static_cast<double>(dayIndex);
    const DaySamples& s = SamplesFor(dayIndex);

    // Lagrange weights for the nodes 0, 1/4, 1/2, 3/4, 1.
    std::array<double, 5> w{};
    for (int k = 0; k < 5; ++k) {
        double num = 1, den = 1;
        for (int j = 0; j < 5; ++j) {
            if (j != k) {
                num *= x - j / 4.0;
                den *= (k - j) / 4.0;
            }
        }
        w[k] = num / den;
    }
    std::array<double, 3> cirs{};
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; i < 3; ++i) {
            cirs[i] += w[k] * s.at[k][i];
        }
    }
    return cirs;
}

ApparentPlace ApparentSunOfDate(UtcTime utc) {
    double eo = 0;
    std::array<double, 3> v = FullCirs(UnixSeconds(utc), &eo);
    double ri = 0, di = 0;
    eraC2s(v.data(), &ri, &di);
    ApparentPlace place;
    place.rightAscension = eraAnp(ri - eo) * ERFA_DR2D;  // from the origin to the equinox
    place.declination = di * ERFA_DR2D;
    place.distance = eraPm(v.data());
    return place;
}

}  // namespace heliostat::astro
