#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdio>
#include <memory>
#include <mutex>

namespace heliostat::antenna {

// A received payload made safe for one log line: printable ASCII kept, every other byte as
// \xNN, cut after maxBytes with the full size noted.
QByteArray Printable(const QByteArray& payload, qsizetype maxBytes = 80);

// The event log (one line per event on a stream, normally stderr) and the optional CSV session
// record. Every line is flushed at once so that a crash or kill loses nothing. Safe to use from
// any thread (Hamlib talks from the rotator thread).
class SessionLog {
public:
    static constexpr const char* kHeader = "time,command,position,rotator,note\r\n";

    explicit SessionLog(std::FILE* events);

    // Opens the CSV file for appending, with the header only when it is new or empty;
    // HeliostatError with the reason if it cannot be opened or the header cannot be written.
    void openCsv(const QString& path);
    // The same on a device that is already open for writing (tests use a failing one).
    void attachCsv(std::unique_ptr<QIODevice> device, const QString& name);

    // One line: line breaks inside become blanks, an empty text writes nothing.
    void event(const QString& line);
    // One CSV row; nothing when no CSV file was asked for. A row that cannot be written is
    // counted: one event line says why, and once writing works again a row says how many
    // were lost.
    void record(const QByteArray& command, const QByteArray& position, const QString& rotator,
                const QString& note);

    // The rows that never reached the file.
    qint64 lostRows() const;

private:
    // With the lock held: the whole text or nothing (a partial row is cut off again);
    // HeliostatError with the reason.
    void write(const QByteArray& text);

    mutable std::mutex mutex_;
    std::FILE* events_;
    std::unique_ptr<QIODevice> csv_;
    QString csvName_;
    qint64 lost_ = 0;
    qint64 unreported_ = 0;  // lost since the last row that got through
};

}  // namespace heliostat::antenna
