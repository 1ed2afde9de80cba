#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace heliostat::antenna {

// 1204 as "1,204", for counts in log lines.
QString GroupedCount(qint64 count);

// Keeps a flood of rejected datagrams from drowning the log: the first rejection of each
// sender and kind is logged in full, the repeats are counted and summed up at most once a
// period. Times are milliseconds of one monotonic clock.
class RejectionFolder {
public:
    explicit RejectionFolder(std::chrono::milliseconds period, qsizetype maxEntries = 1000)
        : period_(period.count()), maxEntries_(maxEntries) {}

    // True when this rejection is the first of its sender and kind in a period: log it in full.
    bool add(const QString& sender, const QString& kind, qint64 now);
    // The summary lines that are due; all of them, however recent, when flushing at the end.
    QStringList due(qint64 now, bool all = false);

private:
    struct Entry {
        QString sender;
        QString kind;
        qint64 since = 0;
        qint64 repeats = 0;
    };
    qint64 period_;
    qsizetype maxEntries_;
    QHash<QString, Entry> entries_;
};

// At most `perSecond` rows a second; the rest are counted for one summary row.
class RowLimiter {
public:
    // At most `perWindow` rows in each window of `windowMs` milliseconds.
    explicit RowLimiter(int perWindow, qint64 windowMs = 1000)
        : perWindow_(perWindow), windowMs_(windowMs) {}

    // The number of rows held back in a window that has ended (or, with all, so far), once.
    std::optional<qint64> heldBack(qint64 now, bool all = false);
    // True when this row may be written; call heldBack first.
    bool take(qint64 now);

private:
    int perWindow_;
    qint64 windowMs_;
    qint64 windowStart_ = -1;
    int used_ = 0;
    qint64 held_ = 0;
};

}  // namespace heliostat::antenna
