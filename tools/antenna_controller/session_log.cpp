#include "session_log.h"

#include "base/csv_writer.h"
#include "base/errors.h"

#include <QDateTime>
#include <QFile>

#include <string_view>

namespace heliostat::antenna {

namespace {

QByteArray Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
}

QByteArray Field(const QByteArray& text) {
    return QByteArray::fromStdString(
        base::CsvField(std::string_view(text.constData(), static_cast<size_t>(text.size()))));
}

}  // namespace

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

void SessionLog::openCsv(const QString& path) {
    // Appending: a restart (the packaged unit restarts on failure) keeps the earlier record.
    // Unbuffered, so that each row is one write whose failure is seen at once.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        throw HeliostatError(file->errorString().toStdString(), "log");
    }
    attachCsv(std::move(file), path);
}

void SessionLog::attachCsv(std::unique_ptr<QIODevice> device, const QString& name) {
    const std::lock_guard lock(mutex_);
    csv_ = std::move(device);
    csvName_ = name;
    if (csv_->size() == 0) {
        try {
            write(kHeader);
        } catch (const HeliostatError&) {
            csv_.reset();
            throw;
        }
    }
}

void SessionLog::write(const QByteArray& text) {
    auto* file = qobject_cast<QFileDevice*>(csv_.get());
    const qint64 start = file ? file->size() : -1;
    const qint64 written = csv_->write(text);
    if (written == text.size() && (!file || file->flush())) {
        return;
    }
    QString error = csv_->errorString();
    if (error.isEmpty() || error == QStringLiteral("Unknown error")) {
        error = QStringLiteral("%1 of %2 bytes written")
                    .arg(std::max<qint64>(written, 0))
                    .arg(text.size());
    }
    // A full disk takes part of a row; cut it off so that the next row starts a line.
    if (file && start >= 0 && file->size() > start) {
        file->resize(start);
    }
    throw HeliostatError(error.toStdString(), "log");
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
                        const QString& rotator, const QString& note) {
    const std::lock_guard lock(mutex_);
    if (!csv_) {
        return;
    }
    const QByteArray time = Now();
    if (unreported_ > 0) {
        const QByteArray lostRow =
            time + ",,,," +
            Field(QStringLiteral("log: %1 rows could not be written").arg(unreported_).toUtf8()) +
            "\r\n";
        try {
            write(lostRow);
        } catch (const HeliostatError&) {
            ++lost_;
            ++unreported_;
            return;
        }
        unreported_ = 0;
    }
    const QByteArray row = time + ',' + Field(command) + ',' + Field(position) + ',' +
                           Field(rotator.toUtf8()) + ',' + Field(note.toUtf8()) + "\r\n";
    try {
        write(row);
    } catch (const HeliostatError& e) {
        if (unreported_ == 0) {
            const QByteArray text = time + " cannot write the log " + csvName_.toUtf8() + ": " +
                                    e.what() + "; counting the rows lost\n";
            std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), events_);
            std::fflush(events_);
        }
        ++lost_;
        ++unreported_;
    }
}

qint64 SessionLog::lostRows() const {
    const std::lock_guard lock(mutex_);
    return lost_;
}

}  // namespace heliostat::antenna
