#include "controller.h"

#include "cycle/number_text.h"
#include "link/wire.h"

#include <QNetworkDatagram>

#include <cmath>
#include <exception>
#include <string_view>

namespace heliostat::antenna {

namespace {

QString Endpoint(const QHostAddress& address, quint16 port) {
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(address.toString()).arg(port)
               : QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

QString Degrees(double value) {
    return QString::number(value, 'g', 10);
}

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// Empty when the angles are inside the limits, else the reason.
QString OutOfRange(const link::MountCommand& command, const Limits& limits) {
    if (command.azimuth < limits.minAzimuth || command.azimuth > limits.maxAzimuth) {
        return QStringLiteral("azimuth %1 outside the rotator's range [%2, %3]")
            .arg(Degrees(command.azimuth), Degrees(limits.minAzimuth), Degrees(limits.maxAzimuth));
    }
    if (command.elevation < limits.minElevation || command.elevation > limits.maxElevation) {
        return QStringLiteral("elevation %1 outside the rotator's range [%2, %3]")
            .arg(Degrees(command.elevation), Degrees(limits.minElevation),
                 Degrees(limits.maxElevation));
    }
    return {};
}

// The parser is not expected to throw; a payload must never end the program all the same.
std::optional<link::MountCommand> TryParse(const QByteArray& payload, QString* error) {
    try {
        return link::ParseCommand(View(payload));
    } catch (const std::exception& e) {
        *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

}  // namespace

QString DescribeRejection(const QByteArray& payload) {
    if (payload.isEmpty()) {
        return QStringLiteral("empty datagram");
    }
    const QList<QByteArray> fields = payload.split(',');
    if (fields.size() != 3) {
        return QStringLiteral("%1 fields, a command has 3").arg(fields.size());
    }
    if (fields[0] != "0") {
        return QStringLiteral("first field is not \"0\"");
    }
    if (!cycle::ParseStrict(View(fields[1]))) {
        return QStringLiteral("azimuth is not a number");
    }
    if (!cycle::ParseStrict(View(fields[2]))) {
        return QStringLiteral("elevation is not a number");
    }
    return QStringLiteral("not a command");
}

Controller::Controller(Mount& mount, SessionLog& log, Settings settings, QObject* parent)
    : QObject(parent), mount_(mount), log_(log), settings_(settings) {
    connect(&socket_, &QUdpSocket::readyRead, this, &Controller::readPending);
    pollTimer_.setInterval(settings_.pollInterval);
    connect(&pollTimer_, &QTimer::timeout, this, &Controller::poll);
    sinceReply_.start();
}

bool Controller::listen(const QHostAddress& address, quint16 port, QString* error) {
    if (!socket_.bind(address, port)) {
        *error = socket_.errorString();
        return false;
    }
    pollTimer_.start();
    return true;
}

void Controller::readPending() {
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram();
        if (!datagram.isValid()) {
            // A refused earlier reply (ICMP port unreachable) surfaces here as a read error;
            // it concerns a client that has gone, not this socket.
            log_.event(QStringLiteral("receive error: %1").arg(socket_.errorString()));
            continue;
        }
        handle(datagram.data(),
               {datagram.senderAddress(), static_cast<quint16>(datagram.senderPort())});
    }
}

void Controller::handle(const QByteArray& payload, const Client& sender) {
    const QString from = Endpoint(sender.address, sender.port);
    const QByteArray shown = Printable(payload, 200);
    QString parseError;
    const std::optional<link::MountCommand> command = TryParse(payload, &parseError);
    if (!parseError.isEmpty()) {
        log_.event(QStringLiteral("parse error from %1: %2").arg(from, parseError));
    }
    if (!command) {
        const QString reason = DescribeRejection(payload);
        log_.event(QStringLiteral("rejected from %1 (%2 bytes): %3: %4")
                       .arg(from)
                       .arg(payload.size())
                       .arg(reason, QString::fromLatin1(Printable(payload))));
        log_.record(shown, {}, QStringLiteral("rejected: ") + reason);
        return;
    }
    if (const QString reason = OutOfRange(*command, mount_.limits()); !reason.isEmpty()) {
        log_.event(QStringLiteral("rejected from %1: %2: %3")
                       .arg(from, reason, QString::fromLatin1(shown)));
        log_.record(shown, {}, QStringLiteral("rejected: ") + reason);
        return;
    }

    client_ = sender;
    const Angles target{command->azimuth, command->elevation};
    QString note;
    const bool withinDeadband =
        settings_.deadband > 0 && lastSent_ &&
        std::abs(target.azimuth - lastSent_->azimuth) <= settings_.deadband &&
        std::abs(target.elevation - lastSent_->elevation) <= settings_.deadband;
    if (withinDeadband) {
        note = QStringLiteral("within deadband of %1,%2; not sent")
                   .arg(Degrees(lastSent_->azimuth), Degrees(lastSent_->elevation));
    } else if (std::string error; !mount_.setPosition(target, &error)) {
        note = QStringLiteral("rotator error: ") + QString::fromStdString(error);
    } else {
        lastSent_ = target;
        note = QStringLiteral("moving to %1,%2")
                   .arg(Degrees(target.azimuth), Degrees(target.elevation));
    }
    log_.event(
        QStringLiteral("command from %1: %2: %3").arg(from, QString::fromLatin1(shown), note));

    QString error;
    const std::optional<QByteArray> present = presentPayload(&error);
    if (!present) {
        log_.event(QStringLiteral("position unreadable, no reply: %1").arg(error));
        log_.record(shown, {}, note + QStringLiteral("; position unreadable: ") + error);
        return;
    }
    reply(*present);
    log_.record(shown, *present, note);
}

void Controller::poll() {
    if (!client_) {
        return;
    }
    QString error;
    const std::optional<QByteArray> present = presentPayload(&error);
    if (!present) {
        // Once per outage, not at every poll.
        if (!pollFailing_) {
            log_.event(QStringLiteral("position unreadable, no reply: %1").arg(error));
            pollFailing_ = true;
        }
        return;
    }
    if (pollFailing_) {
        log_.event(QStringLiteral("position readable again"));
        pollFailing_ = false;
    }
    bool atTarget = true;
    if (lastSent_) {
        try {
            atTarget = *present == QByteArray::fromStdString(link::ReplyPayload(
                                       lastSent_->azimuth, lastSent_->elevation));
        } catch (const std::exception&) {
            atTarget = false;
        }
    }
    const bool changed = *present != lastReply_;
    const bool due = !atTarget && sinceReply_.elapsed() >= settings_.heartbeat.count();
    if (changed || due) {
        reply(*present);
        log_.record({}, *present, QStringLiteral("poll"));
    }
}

std::optional<QByteArray> Controller::presentPayload(QString* error) {
    Angles present;
    if (std::string why; !mount_.position(&present, &why)) {
        *error = QString::fromStdString(why);
        return std::nullopt;
    }
    try {
        return QByteArray::fromStdString(link::ReplyPayload(present.azimuth, present.elevation));
    } catch (const std::exception& e) {
        *error = QStringLiteral("position %1,%2 cannot be written: %3")
                     .arg(Degrees(present.azimuth), Degrees(present.elevation), e.what());
        return std::nullopt;
    }
}

void Controller::reply(const QByteArray& payload) {
    lastReply_ = payload;
    sinceReply_.restart();
    if (socket_.writeDatagram(payload, client_->address, client_->port) != payload.size()) {
        log_.event(QStringLiteral("reply to %1 failed: %2")
                       .arg(Endpoint(client_->address, client_->port), socket_.errorString()));
    }
}

}  // namespace heliostat::antenna
