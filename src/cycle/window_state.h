#pragma once

namespace heliostat::cycle {

// The window-level variables that carry values between the window's methods and from one
// calculation cycle to the next. Every field starts at zero and is never reset while the
// window lives, not even by a stop and start.
struct WindowState {
    // Curve coefficients and equation of time prepared by CALRISE.
    double DeclCoef3 = 0, DeclCoef2 = 0, DeclCoef1 = 0, DeclCoef0 = 0;
    double RaCoef3 = 0, RaCoef2 = 0, RaCoef1 = 0, RaCoef0 = 0;
    double RiseSetEquationOfTime = 0;

    double UniversalHours = 0;  // (Hour - 9) + minute/60 + second/3600; negative before 09:00
    double LocalMeanHours = 0;  // UniversalHours + Longitude / 15
    int SunMarkerPhase = 0;     // 0 or 1: the sun marker blinks on alternate day cycles
    int Year = 0;               // March-based: one less in January and February
    int Month = 0;              // March-based: 3..12, 13 for January, 14 for February
    int Day = 0;
    int Hour = 0;  // hour of the local (JST) clock
    double SunsetHour = 0;
    double SunriseHour = 0;
    double SunsetMinute = 0;
    double SunriseMinute = 0;
    double Latitude = 0;     // degrees, north positive
    double LatitudeRad = 0;  // radians
    double Longitude = 0;    // degrees, east positive
    double TargetElevation = 0;
    double TargetAzimuth = 0;
    double MirrorElevation = 0;
    double MirrorAzimuth = 0;
};

}  // namespace heliostat::cycle
