#include "session_log.h"

#include <QDateTime>

namespace heliostat::antenna {

namespace {

QByteArray Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
}

}  // namespace

QByteArray CsvField(const QByteArray& text) {
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') &&
        !text.contains('\n')) {
        return text;
    }
    QByteArray quoted = text;
    quoted.replace("\"", "\"\"");
    return '"' + quoted + '"';
}

QByteArray Printable(const QByteArray& payload, qsizetype maxBytes) {
    QByteArray out;
    const qsizetype shown = std::min(payload.size(), maxBytes);
    for (qsizetype i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(payload[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += QByteArray("\\x") + QByteArray::number(c, 16).rightJustified(2, '0');
        }
    }
    if (shown < payload.size()) {
        out += "...(" + QByteArray::number(payload.size()) + " bytes)";
    }
    return out;
}

SessionLog::SessionLog(std::FILE* events) : events_(events) {}

bool SessionLog::openCsv(const QString& path, QString* error) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file->errorString();
        return false;
    }
    file->write("time,command,position,note\r\n");
    file->flush();
    csv_ = std::move(file);
    return true;
}

void SessionLog::event(const QString& line) {
    QByteArray body = line.toUtf8().trimmed();
    if (body.isEmpty()) {
        return;
    }
    body.replace('\r', ' ').replace('\n', ' ');
    const QByteArray text = Now() + ' ' + body + '\n';
    const std::lock_guard lock(mutex_);
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), events_);
    std::fflush(events_);
}

void SessionLog::record(const QByteArray& command, const QByteArray& position,
                        const QString& note) {
    const std::lock_guard lock(mutex_);
    if (!csv_) {
        return;
    }
    csv_->write(Now() + ',' + CsvField(command) + ',' + CsvField(position) + ',' +
                CsvField(note.toUtf8()) + "\r\n");
    csv_->flush();
}

}  // namespace heliostat::antenna
