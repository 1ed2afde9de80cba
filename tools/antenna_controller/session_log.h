#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <memory>
#include <mutex>

namespace heliostat::antenna {

// One CSV field by RFC 4180: quoted when it holds a comma, a quote, CR or LF (quotes doubled).
QByteArray CsvField(const QByteArray& text);

// A received payload made safe for one log line: printable ASCII kept, every other byte as
// \xNN, cut after maxBytes with the full size noted.
QByteArray Printable(const QByteArray& payload, qsizetype maxBytes = 80);

// The event log (one line per event on a stream, normally stderr) and the optional CSV session
// record. Every line is flushed at once so that a crash or kill loses nothing. Safe to use from
// any thread (Hamlib talks from the rotator thread).
class SessionLog {
public:
    explicit SessionLog(std::FILE* events);

    // Opens (truncates) the CSV file and writes its header; false with *error if it cannot.
    bool openCsv(const QString& path, QString* error);

    // One line: line breaks inside become blanks, an empty text writes nothing.
    void event(const QString& line);
    // One CSV row; nothing when no CSV file was asked for.
    void record(const QByteArray& command, const QByteArray& position, const QString& note);

private:
    std::mutex mutex_;
    std::FILE* events_;
    std::unique_ptr<QFile> csv_;
};

}  // namespace heliostat::antenna
