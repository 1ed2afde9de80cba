#include "ui/clock_sync.h"

#include <sys/timex.h>

#include <cstdio>

namespace heliostat::ui {

std::optional<ClockSync> ReadClockSync() {
    timex tx{};
    tx.modes = 0;  // read only: allowed without privileges
    const int state = ::adjtimex(&tx);
    if (state < 0) {
        return std::nullopt;
    }
    ClockSync sync;
    sync.synchronised = state != TIME_ERROR && (tx.status & STA_UNSYNC) == 0;
    sync.estimatedErrorSeconds = static_cast<double>(tx.esterror) / 1e6;
    return sync;
}

QString ClockSyncText(const std::optional<ClockSync>& sync) {
    if (!sync) {
        return QStringLiteral("時計の同期状態を調べられません");
    }
    if (!sync->synchronised) {
        return QStringLiteral(
            "時計は同期されていません（太陽の位置は時計の誤差1秒につき約0.004°ずれます）");
    }
    const QString error = QString::number(sync->estimatedErrorSeconds * 1000, 'f', 1);
    if (sync->estimatedErrorSeconds > kClockErrorLimitSeconds) {
        return QStringLiteral(
                   "時計は同期されていますが推定誤差が %1 ミリ秒あります（1秒につき約0.004°）")
            .arg(error);
    }
    return QStringLiteral("時計は同期されています（推定誤差 %1 ミリ秒）").arg(error);
}

std::string ClockTrouble(const std::optional<ClockSync>& sync) {
    if (!sync) {
        return "state=unknown";
    }
    if (!sync->synchronised) {
        return "state=unsynchronised";
    }
    if (sync->estimatedErrorSeconds > kClockErrorLimitSeconds) {
        char text[64];
        std::snprintf(text, sizeof text, "state=synchronised estimated_error=%.3f",
                      sync->estimatedErrorSeconds);
        return text;
    }
    return {};
}

}  // namespace heliostat::ui
