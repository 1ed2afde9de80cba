#pragma once

#include "mount.h"
#include "rejection_log.h"
#include "rotator_worker.h"
#include "session_log.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QSet>
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

// Receives command datagrams, hands the newest target to the rotator thread and answers the
// sender with the positions that thread reads. The UDP side runs on the event thread that owns
// the controller and never waits for the rotator.
class Controller : public QObject {
    Q_OBJECT

public:
    struct Settings {
        double deadband = 0;
        RotatorWorker::Timing rotator;
        // While the mount has not reached its target, a reply goes out at least this often
        // even when the position has not changed.
        std::chrono::milliseconds heartbeat{1000};
        // Repeated rejections of one sender and kind are summed up at most this often.
        std::chrono::milliseconds foldPeriod{60000};
        // A command from a new sender this soon after another sender's is worth a warning.
        std::chrono::milliseconds senderOverlap{10000};
        int csvRejectionsPerSecond = 10;
        // Empty: every sender may command. Otherwise address and prefix length.
        std::vector<std::pair<QHostAddress, int>> allow;
        // A log line per datagram instead of per new target and state change.
        bool verbose = false;
    };

    // mount is open; reopen gives a fresh one after the rotator was lost.
    Controller(std::unique_ptr<Mount> mount, RotatorWorker::Opener reopen, SessionLog& log,
               Settings settings, QObject* parent = nullptr);
    ~Controller() override;

    bool listen(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const { return socket_.localAddress(); }
    quint16 port() const { return socket_.localPort(); }

    // Closes the rotator on its thread; false when it did not finish within the time (stuck in
    // a rotator call), and the process should then exit without waiting for it.
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
    void onReport(const RotatorReport& report);
    void onPosition(const RotatorReport& report);
    void flushSummaries(bool all);
    void reply(const QByteArray& payload);

    SessionLog& log_;
    Settings settings_;
    Limits limits_;
    QUdpSocket socket_;
    QTimer summaryTimer_;
    QElapsedTimer clock_;
    RejectionFolder folder_;
    RowLimiter csvRejections_;

    std::optional<Client> client_;
    std::optional<Client> lastCommander_;
    qint64 lastCommandAt_ = 0;
    QSet<QString> warnedSenders_;

    std::optional<Angles> lastSent_;    // the last target handed to the rotator
    std::optional<Angles> lastTarget_;  // the last target logged as new
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
