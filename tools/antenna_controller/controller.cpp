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

QString Degrees(AzEl angles) {
    return Degrees(angles.azimuth) + ',' + Degrees(angles.elevation);
}

// Two decimals, as the operator reads a position in the log.
QString Fixed(AzEl angles) {
    return QStringLiteral("%1,%2").arg(angles.azimuth, 0, 'f', 2).arg(angles.elevation, 0, 'f', 2);
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

// The parser is not expected to throw; a payload must never end the program all the same.
std::optional<base::AzEl> TryParse(const QByteArray& payload, QString* error) {
    try {
        return link::ParseCommand(View(payload));
    } catch (const std::exception& e) {
        *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

// The rotator's angles in the window's formats, unchanged: equal texts mean it has arrived.
std::optional<QByteArray> RawPayload(AzEl angles, QString* error) {
    try {
        return QByteArray::fromStdString(link::ReplyPayload(angles.azimuth, angles.elevation));
    } catch (const std::exception& e) {
        *error = QStringLiteral("position %1 cannot be written: %2").arg(Degrees(angles), e.what());
        return std::nullopt;
    }
}

// The reply for the rotator's angles: the direction the geometry says they face.
std::optional<QByteArray> SafeDirectionReply(const MountGeometry& geometry, AzEl rotator,
                                             QString* error) {
    try {
        return DirectionReply(geometry.toSky(rotator));
    } catch (const std::exception& e) {
        *error =
            QStringLiteral("position %1 cannot be written: %2").arg(Degrees(rotator), e.what());
        return std::nullopt;
    }
}

}  // namespace

Limits NarrowLimits(const Limits& rotator, const std::optional<AxisRange>& azimuth,
                    const std::optional<AxisRange>& elevation) {
    Limits limits = rotator;
    const auto narrow = [](const char* option, const std::optional<AxisRange>& range, double* min,
                           double* max) {
        if (!range) {
            return;
        }
        if (range->first < *min || range->second > *max) {
            throw HeliostatError(
                QStringLiteral("--%1 %2:%3 はローテータの範囲 [%4, %5] を超えています")
                    .arg(QLatin1String(option), Degrees(range->first), Degrees(range->second),
                         Degrees(*min), Degrees(*max))
                    .toStdString(),
                option);
        }
        *min = range->first;
        *max = range->second;
    };
    narrow("az-range", azimuth, &limits.minAzimuth, &limits.maxAzimuth);
    narrow("el-range", elevation, &limits.minElevation, &limits.maxElevation);
    return limits;
}

namespace {

// The operator's ranges on a rotator whose limits changed (a reopened one): its own limits
// where a range no longer fits.
Limits NarrowedOrOwn(const Limits& rotator, const std::optional<AxisRange>& azimuth,
                     const std::optional<AxisRange>& elevation) {
    try {
        return NarrowLimits(rotator, azimuth, elevation);
    } catch (const HeliostatError&) {
        return rotator;
    }
}

}  // namespace

std::optional<double> WrapAzimuth(double azimuth, double present, double min, double max) {
    if (!std::isfinite(azimuth) || !(min <= max)) {
        return std::nullopt;
    }
    // Every turn that could land inside, with one to spare on each side for rounding.
    const double first = std::ceil((min - azimuth) / 360) - 1;
    const double last = std::floor((max - azimuth) / 360) + 1;
    std::optional<double> best;
    for (double k = first; k <= last; ++k) {
        const double candidate = azimuth + k * 360;
        if (candidate < min || candidate > max) {
            continue;
        }
        if (!best || std::abs(candidate - present) < std::abs(*best - present)) {
            best = candidate;
        }
    }
    return best;
}

QByteArray DirectionReply(AzEl direction) {
    double azimuth = std::fmod(direction.azimuth, 360.0);
    if (azimuth < 0) {
        azimuth += 360;
    }
    QByteArray payload =
        QByteArray::fromStdString(link::ReplyPayload(azimuth, direction.elevation));
    // Just below a full turn rounds up to 360.00, which is north again.
    if (payload.startsWith("0,360.00,")) {
        payload.replace(2, 6, "000.00");
    }
    return payload;
}

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
      folder_(settings_.foldPeriod),
      csvRejections_(settings_.csvRejectionsPerSecond),
      csvCommands_(settings_.csvCommandsPerSecond),
      replies_(settings_.repliesPerSecond),
      // New targets on stderr: ten a minute keeps a flood of changing commands to a few lines
      // (the rest counted once a fold period), and normal tracking near its own rate.
      news_(10, 60000) {
    // main() refuses ranges wider than the rotator's before it gets here.
    limits_ = NarrowedOrOwn(mount->limits(), settings_.azimuthRange, settings_.elevationRange);
    clock_.start();
    sinceReply_.start();
    connect(&socket_, &QUdpSocket::readyRead, this, &Controller::readPending);
    summaryTimer_.setInterval(std::min<qint64>(250, settings_.foldPeriod.count()));
    connect(&summaryTimer_, &QTimer::timeout, this, [this] { flushSummaries(false); });
    watchdog_.setSingleShot(true);
    watchdog_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5 % early
    connect(&watchdog_, &QTimer::timeout, this, &Controller::park);
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

void Controller::listen(const QHostAddress& address, quint16 port) {
    if (!socket_.bind(address, port)) {
        throw HeliostatError(socket_.errorString().toStdString(), "listen");
    }
    if (!address.isLoopback()) {
        const QString endpoint = Endpoint(socket_.localAddress(), socket_.localPort());
        if (settings_.allow.empty()) {
            log_.event(QStringLiteral("WARNING: listening on %1 without --allow: any host that "
                                      "can reach this port can steer the mount")
                           .arg(endpoint));
        }
        for (const auto& [network, prefix] : settings_.allow) {
            if (prefix == 0) {
                log_.event(QStringLiteral("WARNING: listening on %1 with --allow %2/0, which "
                                          "admits every sender: any host that can reach this "
                                          "port can steer the mount")
                               .arg(endpoint, network.toString()));
            }
        }
    }
    summaryTimer_.start();
    if (settings_.park && settings_.watchdog.count() > 0) {
        // From the start: a controller that is never commanded still parks the mirror.
        watchdog_.start(settings_.watchdog);
    }
}

bool Controller::shutdown(std::chrono::milliseconds wait) {
    summaryTimer_.stop();
    watchdog_.stop();
    socket_.close();
    std::optional<AzEl> last;
    if (settings_.parkOnExit && settings_.park) {
        QString reason;
        last = driveTarget(*settings_.park, &reason);
        log_.event(QStringLiteral("parking at %1 before exit").arg(Fixed(*settings_.park)));
        log_.record({}, {}, {}, QStringLiteral("exit: parking at %1").arg(Fixed(*settings_.park)));
    }
    flushSummaries(true);
    const bool closed = worker_->stop(wait, last);
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

std::optional<AzEl> Controller::driveTarget(AzEl direction, QString* reason) const {
    AzEl mount;
    try {
        mount = settings_.geometry.toMount(direction);
    } catch (const std::exception& e) {
        // A mount model has no angles that face there (too near its azimuth axis).
        *reason = QStringLiteral("no mount angles face %1: %2").arg(Degrees(direction), e.what());
        return std::nullopt;
    }
    if (!(mount.elevation >= limits_.minElevation && mount.elevation <= limits_.maxElevation)) {
        *reason = QStringLiteral("elevation %1 outside the rotator's range [%2, %3]")
                      .arg(Degrees(mount.elevation), Degrees(limits_.minElevation),
                           Degrees(limits_.maxElevation));
        return std::nullopt;
    }
    // Nearest to where the rotator is; before the first read, to where it was sent, else to
    // the middle of its range.
    const double present = lastRead_   ? lastRead_->azimuth
                           : lastSent_ ? lastSent_->azimuth
                                       : (limits_.minAzimuth + limits_.maxAzimuth) / 2;
    const std::optional<double> azimuth =
        WrapAzimuth(mount.azimuth, present, limits_.minAzimuth, limits_.maxAzimuth);
    if (!azimuth) {
        *reason = QStringLiteral("azimuth %1 outside the rotator's range [%2, %3]")
                      .arg(Degrees(mount.azimuth), Degrees(limits_.minAzimuth),
                           Degrees(limits_.maxAzimuth));
        return std::nullopt;
    }
    return AzEl{.azimuth = *azimuth, .elevation = mount.elevation};
}

void Controller::reject(const Client& sender, const QString& kind, const QString& line,
                        const QByteArray& shown, const QString& reason) {
    const qint64 now = clock_.elapsed();
    if (settings_.verbose || folder_.add(Plain(sender.address).toString(), kind, now)) {
        log_.event(line);
    }
    if (const auto held = csvRejections_.heldBack(now)) {
        log_.record({}, {}, {},
                    QStringLiteral("rejected: %1 more datagrams in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    if (csvRejections_.take(now)) {
        log_.record(shown, {}, {}, QStringLiteral("rejected: ") + reason);
    }
}

void Controller::warnSecondSender(const Client& sender, qint64 now) {
    if (!lastCommander_ || *lastCommander_ == sender ||
        now - lastCommandAt_ >= settings_.senderOverlap.count()) {
        return;
    }
    // Keyed by address: a sender that comes from ever new ports is one sender.
    const QString key = Plain(sender.address).toString();
    const auto it = warnedSenders_.constFind(key);
    if (it != warnedSenders_.constEnd() && now - *it < settings_.senderMemory.count()) {
        return;
    }
    if (it == warnedSenders_.constEnd() && warnedSenders_.size() >= settings_.maxSenders) {
        for (auto old = warnedSenders_.begin(); old != warnedSenders_.end();) {
            old = now - *old >= settings_.senderMemory.count() ? warnedSenders_.erase(old)
                                                               : std::next(old);
        }
        if (warnedSenders_.size() >= settings_.maxSenders) {
            auto oldest = warnedSenders_.begin();
            for (auto at = warnedSenders_.begin(); at != warnedSenders_.end(); ++at) {
                if (*at < *oldest) {
                    oldest = at;
                }
            }
            warnedSenders_.erase(oldest);
        }
    }
    warnedSenders_.insert(key, now);
    log_.event(QStringLiteral("WARNING: %1 commands the mount while %2 sent a command %3 s "
                              "ago; the newest command wins")
                   .arg(Endpoint(sender.address, sender.port),
                        Endpoint(lastCommander_->address, lastCommander_->port))
                   .arg(double(now - lastCommandAt_) / 1000, 0, 'f', 1));
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
    const std::optional<base::AzEl> command = TryParse(payload, &parseError);
    if (!parseError.isEmpty()) {
        log_.event(QStringLiteral("parse error from %1: %2").arg(from, parseError));
    }
    if (!command) {
        rejectDatagram(QStringLiteral("not a command"), DescribeRejection(payload));
        return;
    }
    QString reason;
    const std::optional<AzEl> target =
        driveTarget({.azimuth = command->azimuth, .elevation = command->elevation}, &reason);
    const qint64 now = clock_.elapsed();
    if (!target) {
        reject(sender, QStringLiteral("outside the rotator's range"),
               QStringLiteral("rejected from %1: %2: %3")
                   .arg(from, reason, QString::fromLatin1(shown)),
               shown, reason);
        // The window learns that the mount did not obey: where it is, marked, once a second.
        if (lastRead_ && (!lastLimitReply_ || now - *lastLimitReply_ >= 1000)) {
            QString ignored;
            if (const auto present = SafeDirectionReply(settings_.geometry, *lastRead_, &ignored)) {
                lastLimitReply_ = now;
                reply(*present + ",limit", sender);
            }
        }
        return;
    }

    warnSecondSender(sender, now);
    lastCommander_ = sender;
    lastCommandAt_ = now;
    if (!client_) {
        worker_->setPolling(true);
    }
    client_ = sender;
    if (settings_.park && settings_.watchdog.count() > 0) {
        watchdog_.start(settings_.watchdog);
    }
    if (parked_) {
        parked_ = false;
        log_.event(QStringLiteral("command from %1: tracking again after parking").arg(from));
    }

    auto within = [&](const std::optional<AzEl>& last) {
        return last && std::abs(target->azimuth - last->azimuth) <= settings_.deadband &&
               std::abs(target->elevation - last->elevation) <= settings_.deadband;
    };
    // The rotator already drives to this target (or one within the deadband): sending it
    // again would restart the move and, at the window's rate, keep a ramping mount still.
    const bool skip = within(lastSent_);
    // A target is news for the log only when it differs by more than the deadband (any
    // difference at all without one): the window repeats the same angles for minutes.
    const bool news = !within(lastTarget_);
    QString note;
    bool longWay = false;
    if (skip) {
        note = (settings_.deadband > 0 ? QStringLiteral("within deadband of %1; not sent")
                                       : QStringLiteral("already moving to %1; not sent"))
                   .arg(Degrees(*lastSent_));
    } else {
        note = QStringLiteral("moving to %1").arg(Degrees(*target));
        // No short way inside the range (a 0..360 rotator crossing north): said once, when
        // the target jumps across, not at every command of the slow swing that follows.
        if (lastRead_ && std::abs(target->azimuth - lastRead_->azimuth) > 180 &&
            (!lastSent_ || std::abs(target->azimuth - lastSent_->azimuth) > 180)) {
            const QString longWayNote =
                QStringLiteral(
                    "the long way round: %1° from azimuth %2, no shorter way within "
                    "[%3, %4]")
                    .arg(std::abs(target->azimuth - lastRead_->azimuth), 0, 'f', 2)
                    .arg(Degrees(lastRead_->azimuth), Degrees(limits_.minAzimuth),
                         Degrees(limits_.maxAzimuth));
            note += QStringLiteral("; ") + longWayNote;
            longWay = true;
        }
        if (!lastSent_ || !(*lastSent_ == *target)) {
            if (arrived_ || !lastSent_) {
                movingSince_ = now;
            }
            arrived_ = false;
        }
        lastSent_ = target;
    }
    if (news || longWay || settings_.verbose) {
        if (settings_.verbose || longWay || news_.take(now)) {
            log_.event(QStringLiteral("command from %1: %2: %3")
                           .arg(from, QString::fromLatin1(shown), note));
        }
        lastTarget_ = target;
    }

    const quint64 seq = nextSeq_++;
    rows_.insert(seq, {shown, note});
    const std::optional<std::uint64_t> replaced =
        worker_->command(skip ? std::nullopt : target, seq);
    if (replaced && rows_.contains(*replaced)) {
        const Row row = rows_.take(*replaced);
        recordCommand(row, {}, {},
                      row.note + QStringLiteral("; replaced by a newer command before the "
                                                "rotator answered"));
    }
}

void Controller::park() {
    const QString line =
        QStringLiteral("watchdog: no command for %1 s, parking at %2")
            .arg(QString::number(settings_.watchdog.count() / 1000.0), Fixed(*settings_.park));
    log_.event(line);
    QString reason;
    const std::optional<AzEl> target = driveTarget(*settings_.park, &reason);
    if (!target) {
        // Checked at start; only a reopened rotator with other limits gets here.
        log_.event(QStringLiteral("cannot park: ") + reason);
        return;
    }
    parked_ = true;
    if (!lastSent_ || !(*lastSent_ == *target)) {
        movingSince_ = clock_.elapsed();
        arrived_ = false;
    }
    lastSent_ = target;
    lastTarget_ = target;
    const quint64 seq = nextSeq_++;
    rows_.insert(seq, {QByteArray(), line});
    const std::optional<std::uint64_t> replaced = worker_->command(target, seq);
    if (replaced && rows_.contains(*replaced)) {
        const Row row = rows_.take(*replaced);
        recordCommand(row, {}, {},
                      row.note + QStringLiteral("; replaced by parking before the rotator "
                                                "answered"));
    }
    worker_->setPolling(true);
}

void Controller::onReport(const RotatorReport& report) {
    switch (report.kind) {
        case RotatorReport::Kind::kLost:
            lostAt_ = clock_.elapsed();
            readFailing_ = false;
            lastRead_.reset();
            log_.event(QStringLiteral("rotator lost: %1; reopening it (first try within %2 s, "
                                      "then at least every %3 s)")
                           .arg(QString::fromStdString(report.error))
                           .arg(settings_.rotator.firstRetry.count() / 1000.0)
                           .arg(settings_.rotator.maxRetry.count() / 1000.0));
            return;
        case RotatorReport::Kind::kBack: {
            log_.event(
                QStringLiteral("rotator back after %1 s")
                    .arg(double(clock_.elapsed() - lostAt_.value_or(clock_.elapsed())) / 1000, 0,
                         'f', 1));
            lostAt_.reset();
            limits_ =
                NarrowedOrOwn(report.limits, settings_.azimuthRange, settings_.elevationRange);
            // A restarted rotator has forgotten its target: the thread drives it there again,
            // and the next command is sent even if it is within the deadband.
            lastSent_.reset();
            arrived_ = false;
            return;
        }
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
            recordCommand(old, {}, {},
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
    if (report.position) {
        lastRead_ = *report.position;
    }

    QString error = QString::fromStdString(report.error);
    const std::optional<QByteArray> present =
        report.position ? SafeDirectionReply(settings_.geometry, *report.position, &error)
                        : std::nullopt;
    if (!present) {
        // A lost rotator has a line of its own, which follows.
        if (!report.lost) {
            if (!readFailing_ || settings_.verbose) {
                log_.event(QStringLiteral("position unreadable, no reply: %1").arg(error));
            }
            readFailing_ = true;
        }
        if (row) {
            recordCommand(*row, {}, {},
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
        atTarget = RawPayload(*lastSent_, &ignored) == RawPayload(*report.position, &ignored);
    }
    const QByteArray payload = *present + (parked_ ? QByteArray(",parked") : QByteArray());
    const QString rotator = Degrees(*report.position);
    const bool changed = payload != lastReply_;
    const bool due = !atTarget && sinceReply_.elapsed() >= settings_.heartbeat.count();
    if (client_ && (answer || changed || due)) {
        const bool sent = reply(payload, *client_);
        if (row) {
            recordCommand(*row, payload, rotator, row->note);
        } else if (sent) {
            log_.record({}, payload, rotator, QStringLiteral("poll"));
        }
    } else if (row) {
        recordCommand(*row, payload, rotator, row->note);
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

void Controller::recordCommand(const Row& row, const QByteArray& position, const QString& rotator,
                               const QString& note) {
    const qint64 now = clock_.elapsed();
    if (const auto held = csvCommands_.heldBack(now)) {
        log_.record({}, {}, {},
                    QStringLiteral("accepted: %1 more commands in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    if (csvCommands_.take(now)) {
        log_.record(row.command, position, rotator, note);
    }
}

void Controller::flushSummaries(bool all) {
    const qint64 now = clock_.elapsed();
    if (const auto held = csvRejections_.heldBack(now, all)) {
        log_.record({}, {}, {},
                    QStringLiteral("rejected: %1 more datagrams in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    if (const auto held = csvCommands_.heldBack(now, all)) {
        log_.record({}, {}, {},
                    QStringLiteral("accepted: %1 more commands in that second, not recorded")
                        .arg(GroupedCount(*held)));
    }
    heldReplies_ += replies_.heldBack(now, all).value_or(0);
    heldNews_ += news_.heldBack(now, all).value_or(0);
    if (all || now - heldSince_ >= settings_.foldPeriod.count()) {
        const qint64 seconds = (now - heldSince_ + 500) / 1000;
        if (heldNews_ > 0) {
            log_.event(QStringLiteral("%1 more new targets in the last %2 s, not logged")
                           .arg(GroupedCount(heldNews_))
                           .arg(seconds));
        }
        if (heldReplies_ > 0) {
            log_.event(QStringLiteral("%1 replies not sent in the last %2 s (at most %3 a "
                                      "second)")
                           .arg(GroupedCount(heldReplies_))
                           .arg(seconds)
                           .arg(settings_.repliesPerSecond));
        }
        heldNews_ = 0;
        heldReplies_ = 0;
        heldSince_ = now;
    }
    for (const QString& line : folder_.due(now, all)) {
        log_.event(line);
    }
}

bool Controller::reply(const QByteArray& payload, const Client& to) {
    if (!replies_.take(clock_.elapsed())) {
        return false;  // a flood of commands gets no flood of replies
    }
    const bool toClient = client_ && *client_ == to && !payload.endsWith(",limit");
    if (toClient) {
        lastReply_ = payload;
        sinceReply_.restart();
    }
    const bool sent = socket_.writeDatagram(payload, to.address, to.port) == payload.size();
    // Once per outage unless every line was asked for.
    if (!sent && (!replyFailing_ || settings_.verbose)) {
        log_.event(QStringLiteral("reply to %1 failed: %2")
                       .arg(Endpoint(to.address, to.port), socket_.errorString()));
    }
    replyFailing_ = !sent;
    return true;
}

}  // namespace heliostat::antenna
