#pragma once

#include <optional>

#include "astro/precise_sun.h"

// The sun's rising and setting from the precise sun. Plain C++, no Qt.
namespace heliostat::astro {

struct SunEvents {
    std::optional<UtcTime> rise;
    std::optional<UtcTime> set;
};

// The sun's rising and setting (upper limb, kPreciseRiseSetElevation) during one calendar date
// of Japan Standard Time (00:00 to 24:00 JST) at a site, to about a second; empty where the
// sun does not rise or set that date. Cheap to call again: the last few dates and places are
// remembered per thread, so a caller may call it every cycle or every row.
SunEvents SunEventsOnJstDate(int year, int month, int day, const Site& site);

}  // namespace heliostat::astro
