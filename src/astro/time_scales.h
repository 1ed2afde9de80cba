#pragma once

#include <chrono>

// The time scales of the precise sun: UTC instants, TT - UTC, and the years ERFA's Earth
// ephemeris spans. Plain C++, no Qt.
namespace heliostat::astro {

using UtcTime = std::chrono::system_clock::time_point;

inline constexpr double kDaySeconds = 86400.0;
inline constexpr double kUnixEpochJd = 2440587.5;  // 1970-01-01 00:00 UTC as a Julian date

// Seconds since 1970-01-01 00:00 UTC, as the ephemeris and the root finder count them.
double UnixSeconds(UtcTime utc);
UtcTime FromUnixSeconds(double seconds);

// Throws HeliostatError for a year outside the span of ERFA's Earth ephemeris (1900 to 2100).
void RequireEphemerisYear(int year);

// TT - UTC in seconds: from the leap-second table where it holds (1960 to its last year
// plus five), otherwise Espenak and Meeus's ΔT polynomials with UT1 taken as UTC. Throws
// HeliostatError outside the ephemeris years.
double TtMinusUtcSeconds(UtcTime utc);
double TtMinusUtcSeconds(double unixSeconds);

}  // namespace heliostat::astro
