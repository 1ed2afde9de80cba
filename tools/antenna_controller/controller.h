#pragma once

#include "mount.h"
#include "rejection_log.h"
#include "rotator_worker.h"
#include "session_log.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace heliostat::antenna {

// Why ParseCommand refused a payload, in words for the log.
QString DescribeRejection(const QByteArray& payload);

// An operator's MIN:MAX for one axis.
using AxisRange = std::pair<double, double>;

// The rotator's limits narrowed to the operator's ranges. HeliostatError, naming the option,
// when a range reaches outside the rotator's own limits: it may narrow them, never widen them.
Limits NarrowLimits(const Limits& rotator, const std::optional<AxisRange>& azimuth,
                    const std::optional<AxisRange>& elevation);

// The cable-wrap rule: of the angles azimuth + k·360 inside [min, max], the one nearest to the
// rotator's present azimuth; nothing when none is inside.
std::optional<double> WrapAzimuth(double azimuth, double present, double min, double max);

// The reply "0,AZ,EL" of a direction, its azimuth brought into [0, 360) as the window expects.
QByteArray DirectionReply(AzEl direction);

// Receives command datagrams, hands the newest target to the rotator thread and answers the
// sender with the positions that thread reads. The UDP side runs on the event thread that owns
// the controller and never waits for the rotator.
class Controller : public QObject {
    Q_OBJECT

public:
    struct Settings {
        double deadband = 0;
        RotatorWorker::Timing rotator;
        // The operator's narrowing of the rotator's own limits.
        std::optional<AxisRange> azimuthRange;
        std::optional<AxisRange> elevationRange;
        MountGeometry geometry;
        // Where the watchdog parks the mirror; the watchdog is off when empty or zero.
        std::optional<AzEl> park;
        std::chrono::milliseconds watchdog{0};
        bool parkOnExit = false;
        // While the mount has not reached its target, a reply goes out at least this often
        // even when the position has not changed.
        std::chrono::milliseconds heartbeat{1000};
        // Repeated rejections of one sender and kind are summed up at most this often.
        std::chrono::milliseconds foldPeriod{60000};
        // A command from a new sender this soon after another sender's is worth a warning.
        std::chrono::milliseconds senderOverlap{10000};
        // A warned sender address is remembered this long, and at most this many of them.
        std::chrono::milliseconds senderMemory{600000};
        int maxSenders = 1000;
        int csvRejectionsPerSecond = 10;
        int csvCommandsPerSecond = 10;
        int repliesPerSecond = 10;
        // Empty: every sender may command. Otherwise network address and prefix length.
        std::vector<std::pair<QHostAddress, int>> allow;
        // A log line per datagram instead of per new target and state change.
        bool verbose = false;
    };

    // mount is open; reopen gives a fresh one after the rotator was lost.
    Controller(std::unique_ptr<Mount> mount, RotatorWorker::Opener reopen, SessionLog& log,
               Settings settings, QObject* parent = nullptr);
    ~Controller() override;

    // HeliostatError with the system's reason when the port cannot be bound.
    void listen(const QHostAddress& address, quint16 port);
    QHostAddress address() const { return socket_.localAddress(); }
    quint16 port() const { return socket_.localPort(); }
    // The limits in force: the rotator's, narrowed by the operator's ranges.
    Limits limits() const { return limits_; }

    // Closes the rotator on its thread (after commanding the park position, with parkOnExit);
    // false when it did not finish within the time (stuck in a rotator call), and the process
    // should then exit without waiting for it.
    bool shutdown(std::chrono::milliseconds wait);

private:
    struct Client {
        QHostAddress address;
        quint16 port = 0;
        bool operator==(const Client&) const = default;
    };
    // A command's CSV row, written once the rotator answered or a newer command replaced it.
    struct Row {
        QByteArray command;
        QString note;
    };

    void readPending();
    void handle(const QByteArray& payload, const Client& sender);
    void reject(const Client& sender, const QString& kind, const QString& line,
                const QByteArray& shown, const QString& reason);
    bool allowed(const QHostAddress& address) const;
    // The rotator angles for a commanded direction, or nothing with the reason.
    std::optional<AzEl> driveTarget(AzEl direction, QString* reason) const;
    // Hands a target (or, empty, a position request) to the rotator thread.
    void drive(std::optional<AzEl> target, const QByteArray& shown, const QString& note);
    void warnSecondSender(const Client& sender, qint64 now);
    void park();
    void onReport(const RotatorReport& report);
    void onPosition(const RotatorReport& report);
    void flushSummaries(bool all);
    void recordCommand(const Row& row, const QByteArray& position, const QString& rotator,
                       const QString& note);
    bool reply(const QByteArray& payload, const Client& to);

    SessionLog& log_;
    Settings settings_;
    Limits limits_;
    QUdpSocket socket_;
    QTimer summaryTimer_;
    QTimer watchdog_;
    QElapsedTimer clock_;
    RejectionFolder folder_;
    RowLimiter csvRejections_;
    RowLimiter csvCommands_;
    RowLimiter replies_;
    RowLimiter news_;
    qint64 heldReplies_ = 0;
    qint64 heldNews_ = 0;
    qint64 heldSince_ = 0;

    std::optional<Client> client_;
    std::optional<Client> lastCommander_;
    qint64 lastCommandAt_ = 0;
    QHash<QString, qint64> warnedSenders_;  // address -> when warned

    std::optional<AzEl> lastSent_;    // the last rotator target handed to the rotator
    std::optional<AzEl> lastTarget_;  // the last rotator target logged as new
    std::optional<AzEl> lastRead_;    // the rotator's angles as last read
    std::optional<qint64> lastLimitReply_;
    bool parked_ = false;
    quint64 nextSeq_ = 1;
    QMap<quint64, Row> rows_;
    QByteArray lastReply_;
    QElapsedTimer sinceReply_;
    bool readFailing_ = false;
    bool replyFailing_ = false;
    bool arrived_ = false;
    qint64 movingSince_ = 0;
    std::optional<qint64> lostAt_;

    // Last: its thread reports to the members above until it has stopped.
    std::unique_ptr<RotatorWorker> worker_;
};

}  // namespace heliostat::antenna
