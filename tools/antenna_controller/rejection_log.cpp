#include "rejection_log.h"

namespace heliostat::antenna {

QString GroupedCount(qint64 count) {
    QString digits = QString::number(count < 0 ? -count : count);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, ',');
    }
    return count < 0 ? '-' + digits : digits;
}

bool RejectionFolder::add(const QString& sender, const QString& kind, qint64 now) {
    QString key = sender + '\n' + kind;
    auto it = entries_.find(key);
    if (it == entries_.end() && entries_.size() >= maxEntries_) {
        // A flood from ever new addresses is folded into one entry rather than remembered.
        const QString others = QStringLiteral("other senders");
        key = others + '\n' + kind;
        it = entries_.find(key);
        if (it == entries_.end()) {
            entries_.insert(key, {others, kind, now, 1});
            return false;
        }
    }
    if (it == entries_.end()) {
        entries_.insert(key, {sender, kind, now, 0});
        return true;
    }
    ++it->repeats;
    return false;
}

QStringList RejectionFolder::due(qint64 now, bool all) {
    QStringList lines;
    for (auto it = entries_.begin(); it != entries_.end();) {
        const qint64 elapsed = now - it->since;
        if (!all && elapsed < period_) {
            ++it;
            continue;
        }
        if (it->repeats == 0) {
            // Quiet for a whole period: the next one is news again.
            it = entries_.erase(it);
            continue;
        }
        lines << QStringLiteral("rejected %1 datagram%2 from %3 in the last %4 s: %5")
                     .arg(GroupedCount(it->repeats), it->repeats == 1 ? "" : "s", it->sender)
                     .arg((elapsed + 500) / 1000)
                     .arg(it->kind);
        it->since = now;
        it->repeats = 0;
        ++it;
    }
    lines.sort();
    return lines;
}

std::optional<qint64> RowLimiter::heldBack(qint64 now, bool all) {
    if (held_ == 0 || (!all && now - windowStart_ < windowMs_)) {
        return std::nullopt;
    }
    const qint64 held = held_;
    held_ = 0;
    return held;
}

bool RowLimiter::take(qint64 now) {
    if (windowStart_ < 0 || now - windowStart_ >= windowMs_) {
        windowStart_ = now;
        used_ = 0;
    }
    if (used_ < perWindow_) {
        ++used_;
        return true;
    }
    ++held_;
    return false;
}

}  // namespace heliostat::antenna
