#pragma once

#include <QString>
#include <optional>
#include <string>

namespace heliostat::ui {

// What the kernel knows about the system clock's discipline (adjtimex, read only).
struct ClockSync {
    bool synchronised = false;
    double estimatedErrorSeconds = 0;
};

// Nothing when the kernel cannot be asked.
std::optional<ClockSync> ReadClockSync();

// 1 s of clock error is 0.004° of sun; more is worth telling.
inline constexpr double kClockErrorLimitSeconds = 1;

// The clock label's tooltip line, in Japanese.
QString ClockSyncText(const std::optional<ClockSync>& sync);
// The `clock` row's detail when the clock is not to be trusted; empty when it is.
std::string ClockTrouble(const std::optional<ClockSync>& sync);

}  // namespace heliostat::ui
