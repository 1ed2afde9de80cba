#include "controller.h"

#include "base/number_text.h"
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

QString Degrees(Angles angles) {
    return Degrees(angles.azimuth) + ',' + Degrees(angles.elevation);
}

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// A sender on an IPv6 socket that accepts IPv4 shows as ::ffff:a.b.c.d; --allow speaks IPv4.
QHostAddress Plain(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
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

std::optional<QByteArray> Payload(Angles angles, QString* error) {
    try {
        return QByteArray::fromStdString(link::ReplyPayload(angles.azimuth, angles.elevation));
    } catch (const std::exception& e) {
        *error = QStringLiteral("position %1 cannot be written: %2").arg(Degrees(angles), e.what());
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
    if (!base::ParseStrict(View(fields[1]))) {
        return QStringLiteral("azimuth is not a number");
    }
    if (!base::ParseStrict(View(fields[2]))) {
        return QStringLiteral("elevation is not a number");
    }
    return QStringLiteral("not a command");
}

Controller::Controller(std::unique_ptr<Mount> mount, RotatorWorker::Opener reopen, SessionLog& log,
                       Settings settings, QObject* parent)
    : QObject(parent),
      log_(log),
      settings_(std::move(settings)),
      limits_(mount->limits()),
      folder_(settings_.foldPeriod),
      csvRejections_(settings_.csvRejectionsPerSecond) {
    clock_.start();
    sinceReply_.start();
    connect(&socket_, &QUdpSocket::readyRead, this, &Controller::readPending);
    summaryTimer_.setInterval(std::min<qint64>(250, settings_.foldPeriod.count()));
    connect(&summaryTimer_, &QTimer::timeout, this, [this] { flushSummaries(false); });
    worker_ = std::make_unique<RotatorWorker>(
        std::move(mount), std::move(reopen), settings_.rotator, [this](RotatorReport report) {
            // From the rotator thread to this object's thread.
            QMetaObject::invokeMethod(
                this, [this, report = std::move(report)] { onReport(report); },
                Qt::QueuedConnection);
        });
}

Controller::~Controller() {
    if (worker_) {
        worker_.reset();
    }
}

bool Controller::listen(const QHostAddress& address, quint16 port, QString* error) {
    if (!socket_.bind(address, port)) {
        *error = socket_.errorString();
        return false;
    }
    if (!address.isLoopback() && settings_.allow.empty()) {
        log_.event(QStringLiteral("WARNING: listening on %1 without --allow: any host that can "
                                  "reach this port can steer the mount")
                       .arg(Endpoint(socket_.localAddress(), socket_.localPort())));
    }
    summaryTimer_.start();
    return true;
}

bool Controller::shutdown(std::chrono::milliseconds wait) {
    summaryTimer_.stop();
    socket_.close();
    flushSummaries(true);
    const bool closed = worker_->stop(wait);
    if (!closed) {
        // Its thread still uses the worker; the process is about to end anyway.
        (void)worker_.release();
    } else {
        worker_.reset();
    }
    return closed;
}

void Controller::readPending() {
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram();
        if (!datagram.isValid()) {
            // A refused earlier reply (ICMP port unreachable) surfaces here as a read error;
            // it concerns a client that has gone, not this socket.
            if (settings_.verbose) {
                log_.event(QStringLiteral("receive error: %1").arg(socket_.errorString()));
            }
            continue;
        }
        handle(datagram.data(),
               {datagram.senderAddress(), static_cast<quint16>(datagram.senderPort())});
    }
}

bool Controller::allowed(const QHostAddress& address) const {
    if (settings_.allow.empty()) {
        return true;
    }
    const QHostAddress plain = Plain(address);
    for (const auto& [network, prefix] : settings_.allow) {
        if (plain.isInSubnet(network, prefix)) {
            return true;
        }
    }
    return false;
}

void Controller::reject(const Client& sender, const QString& kind, const QString& line,
                        const QByteArray& shown, const QString& reason) {
    const qint64 now = clock_.elapsed();
    if (settings_.verbose || folder_.add(Plain(sender.address).toString(), kind, now)) {
        log_.event(line);
    }
    if (const auto held = csvRejections_.heldBack(now)) {
        log_.record({}, {},
                    QStringLiteral("rejected: %1 more datagrams in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    if (csvRejections_.take(now)) {
        log_.record(shown, {}, QStringLiteral("rejected: ") + reason);
    }
}

void Controller::handle(const QByteArray& payload, const Client& sender) {
    const QString from = Endpoint(sender.address, sender.port);
    const QByteArray shown = Printable(payload, 200);
    // A datagram that is no command for the mount: its size and a printable copy go in the log.
    const auto rejectDatagram = [&](const QString& kind, const QString& reason) {
        reject(sender, kind,
               QStringLiteral("rejected from %1 (%2 bytes): %3: %4")
                   .arg(from)
                   .arg(payload.size())
                   .arg(reason, QString::fromLatin1(Printable(payload))),
               shown, reason);
    };
    if (!allowed(sender.address)) {
        rejectDatagram(QStringLiteral("sender not allowed"),
                       QStringLiteral("sender not allowed by --allow"));
        return;
    }
    QString parseError;
    const std::optional<link::MountCommand> command = TryParse(payload, &parseError);
    if (!parseError.isEmpty()) {
        log_.event(QStringLiteral("parse error from %1: %2").arg(from, parseError));
    }
    if (!command) {
        rejectDatagram(QStringLiteral("not a command"), DescribeRejection(payload));
        return;
    }
    if (const QString reason = OutOfRange(*command, limits_); !reason.isEmpty()) {
        reject(sender, QStringLiteral("outside the rotator's range"),
               QStringLiteral("rejected from %1: %2: %3")
                   .arg(from, reason, QString::fromLatin1(shown)),
               shown, reason);
        return;
    }

    const qint64 now = clock_.elapsed();
    if (lastCommander_ && !(*lastCommander_ == sender) &&
        now - lastCommandAt_ < settings_.senderOverlap.count() && !warnedSenders_.contains(from)) {
        warnedSenders_.insert(from);
        log_.event(QStringLiteral("WARNING: %1 commands the mount while %2 sent a command %3 s "
                                  "ago; the newest command wins")
                       .arg(from, Endpoint(lastCommander_->address, lastCommander_->port))
                       .arg(double(now - lastCommandAt_) / 1000, 0, 'f', 1));
    }
    lastCommander_ = sender;
    lastCommandAt_ = now;
    if (!client_) {
        worker_->setPolling(true);
    }
    client_ = sender;

    const Angles target{command->azimuth, command->elevation};
    auto within = [&](const std::optional<Angles>& last) {
        return last && std::abs(target.azimuth - last->azimuth) <= settings_.deadband &&
               std::abs(target.elevation - last->elevation) <= settings_.deadband;
    };
    const bool withinDeadband = settings_.deadband > 0 && within(lastSent_);
    // A target is news for the log only when it differs by more than the deadband (any
    // difference at all without one): the window repeats the same angles for minutes.
    const bool news = !within(lastTarget_);
    QString note;
    if (withinDeadband) {
        note = QStringLiteral("within deadband of %1; not sent").arg(Degrees(*lastSent_));
    } else {
        note = QStringLiteral("moving to %1").arg(Degrees(target));
        if (!lastSent_ || lastSent_->azimuth != target.azimuth ||
            lastSent_->elevation != target.elevation) {
            if (arrived_ || !lastSent_) {
                movingSince_ = now;
            }
            arrived_ = false;
        }
        lastSent_ = target;
    }
    if (news || settings_.verbose) {
        log_.event(
            QStringLiteral("command from %1: %2: %3").arg(from, QString::fromLatin1(shown), note));
        lastTarget_ = target;
    }

    const quint64 seq = nextSeq_++;
    rows_.insert(seq, {shown, note});
    const std::optional<std::uint64_t> replaced =
        worker_->command(withinDeadband ? std::nullopt : std::optional(target), seq);
    if (replaced && rows_.contains(*replaced)) {
        const Row row = rows_.take(*replaced);
        log_.record(row.command, {},
                    row.note + QStringLiteral("; replaced by a newer command before the rotator "
                                              "answered"));
    }
}

void Controller::onReport(const RotatorReport& report) {
    switch (report.kind) {
        case RotatorReport::Kind::kLost:
            lostAt_ = clock_.elapsed();
            readFailing_ = false;
            log_.event(QStringLiteral("rotator lost: %1; reopening it (first try within 1 s, "
                                      "then at least every %2 s)")
                           .arg(QString::fromStdString(report.error))
                           .arg(settings_.rotator.maxRetry.count() / 1000.0));
            return;
        case RotatorReport::Kind::kBack:
            log_.event(
                QStringLiteral("rotator back after %1 s")
                    .arg(double(clock_.elapsed() - lostAt_.value_or(clock_.elapsed())) / 1000, 0,
                         'f', 1));
            lostAt_.reset();
            limits_ = report.limits;
            // A restarted rotator has forgotten its target: send the next command even if it
            // is within the deadband.
            lastSent_.reset();
            arrived_ = false;
            return;
        case RotatorReport::Kind::kAnswer:
        case RotatorReport::Kind::kPoll:
            onPosition(report);
            return;
    }
}

void Controller::onPosition(const RotatorReport& report) {
    const bool answer = report.kind == RotatorReport::Kind::kAnswer;
    std::optional<Row> row;
    if (answer) {
        // Older rows still open were replaced while the rotator was busy with this one's
        // predecessor; the thread only ever answers the newest.
        while (!rows_.isEmpty() && rows_.firstKey() < report.seq) {
            const Row old = rows_.take(rows_.firstKey());
            log_.record(old.command, {},
                        old.note + QStringLiteral("; replaced by a newer command before the "
                                                  "rotator answered"));
        }
        if (rows_.contains(report.seq)) {
            row = rows_.take(report.seq);
        }
        if (!report.moveError.empty()) {
            const QString error = QString::fromStdString(report.moveError);
            log_.event(QStringLiteral("rotator error: %1").arg(error));
            if (row) {
                row->note = QStringLiteral("rotator error: ") + error;
            }
            lastSent_.reset();  // try again with the next command
        }
    }

    QString error = QString::fromStdString(report.error);
    const std::optional<QByteArray> present =
        report.position ? Payload(*report.position, &error) : std::nullopt;
    if (!present) {
        // A lost rotator has a line of its own, which follows.
        if (!report.lost) {
            if (!readFailing_ || settings_.verbose) {
                log_.event(QStringLiteral("position unreadable, no reply: %1").arg(error));
            }
            readFailing_ = true;
        }
        if (row) {
            log_.record(row->command, {},
                        row->note +
                            (report.lost ? QStringLiteral("; rotator lost: ")
                                         : QStringLiteral("; position unreadable: ")) +
                            error);
        }
        return;
    }
    if (readFailing_) {
        log_.event(QStringLiteral("position readable again"));
        readFailing_ = false;
    }
    bool atTarget = true;
    if (lastSent_) {
        QString ignored;
        atTarget = Payload(*lastSent_, &ignored) == present;
    }
    const bool changed = *present != lastReply_;
    const bool due = !atTarget && sinceReply_.elapsed() >= settings_.heartbeat.count();
    if (answer || changed || due) {
        reply(*present);
        if (row) {
            log_.record(row->command, *present, row->note);
        } else {
            log_.record({}, *present, QStringLiteral("poll"));
        }
    }
    if (atTarget && lastSent_ && !arrived_) {
        arrived_ = true;
        // Tracking steps of a hundredth of a degree settle at once; only a real move (a slew
        // to the first target or to sunrise) is worth a line.
        const qint64 took = clock_.elapsed() - movingSince_;
        if (took >= 1000 || settings_.verbose) {
            log_.event(QStringLiteral("arrived at %1 after %2 s")
                           .arg(Degrees(*lastSent_))
                           .arg(double(took) / 1000, 0, 'f', 1));
        }
    }
}

void Controller::flushSummaries(bool all) {
    const qint64 now = clock_.elapsed();
    if (const auto held = csvRejections_.heldBack(now, all)) {
        log_.record({}, {},
                    QStringLiteral("rejected: %1 more datagrams in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    for (const QString& line : folder_.due(now, all)) {
        log_.event(line);
    }
}

void Controller::reply(const QByteArray& payload) {
    lastReply_ = payload;
    sinceReply_.restart();
    const bool sent =
        socket_.writeDatagram(payload, client_->address, client_->port) == payload.size();
    // Once per outage unless every line was asked for.
    if (!sent && (!replyFailing_ || settings_.verbose)) {
        log_.event(QStringLiteral("reply to %1 failed: %2")
                       .arg(Endpoint(client_->address, client_->port), socket_.errorString()));
    }
    replyFailing_ = !sent;
}

}  // namespace heliostat::antenna
