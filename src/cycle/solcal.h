#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "astro/riseset.h"
#include "base/jst_clock.h"
#include "cycle/chart.h"
#include "cycle/window_state.h"

namespace heliostat::cycle {

// The window fields the cycle reads and writes.
enum class Field {
    ObserverLatitude,    // txtObserverLatitude (read)
    ObserverLongtitude,  // txtObserverLongtitude (read)
    SettingElevation,    // txtSettingElevation (sun elevation, written)
    SettingAzimuth,      // txtSettingAzimuth (sun azimuth, written)
    MirrorElevation,     // txtMirrorElevation (written)
    MirrorAzimuth,       // txtMirrorAzimuth (written)
};

// What the cycle needs from its surroundings. The window implements it over its widgets and
// socket; the table tool and the tests implement it over plain memory.
class CycleHost {
public:
    virtual ~CycleHost() = default;
    virtual std::string ReadText(Field field) = 0;  // UTF-8
    virtual void WriteText(Field field, std::string_view text) = 0;
    virtual ChartSurface& Chart() = 0;
    // Sends the command built from the texts now standing in the two mirror fields. Throws
    // HeliostatError when the link refuses the send.
    virtual void SendMirrorCommand() = 0;
    // Runs CALRISE for the cycle. The window computes it afresh every cycle; a host stepping
    // through many cycles of one day may return the result of identical inputs again.
    virtual astro::RiseSet Calrise(const astro::RiseSetInput& input) {
        return astro::CALRISE(input);
    }
};

enum class Branch { Day, Night };

// How the cycle finds the sun and points the mirror. Mean is the long-standing method (its own
// sun formulas, each mirror angle the mean of the sun's and the target's); Exact takes the sun's
// apparent position from a precise ephemeris and points the mirror along the exact bisector.
enum class Pointing { Mean, Exact };

// What one completed cycle did, for the table tool and the tests.
struct CycleReport {
    Branch branch = Branch::Day;
    double sunElevation = 0;           // as shown at the end of the cycle (0 at night)
    double sunAzimuth = 0;             // at night: the azimuth of the announced sunrise
    std::string chartTime;             // the time text printed on the chart ("17時5分")
    std::optional<ChartPoint> marker;  // centre of the sun marker when it was drawn
};

// One calculation cycle for the clock reading `utcNow` (a single reading: every date and time
// component comes from it, converted to Japan Standard Time). Throws HeliostatError at the
// failing step; what was written before stays, and nothing is sent.
CycleReport SOLCAL(WindowState& state, CycleHost& host,
                   std::chrono::system_clock::time_point utcNow,
                   Pointing pointing = Pointing::Mean);
// The same for a clock reading of any year (the table tool's stepped clock). A date outside
// kFirstSupportedJst..kLastSupportedJst fails the cycle.
CycleReport SOLCAL(WindowState& state, CycleHost& host, base::UtcMillis utcNow,
                   Pointing pointing = Pointing::Mean);

}  // namespace heliostat::cycle
