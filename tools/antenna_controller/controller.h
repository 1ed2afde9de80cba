#pragma once

#include "mount.h"
#include "session_log.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <optional>

namespace heliostat::antenna {

// Why ParseCommand refused a payload, in words for the log.
QString DescribeRejection(const QByteArray& payload);

// Receives command datagrams, drives the mount and answers each sender with the present
// position. Everything runs on the event thread that owns it.
class Controller : public QObject {
    Q_OBJECT

public:
    struct Settings {
        double deadband = 0;
        std::chrono::milliseconds pollInterval{250};
        // While the mount has not reached its target, a reply goes out at least this often
        // even when the position has not changed.
        std::chrono::milliseconds heartbeat{1000};
    };

    Controller(Mount& mount, SessionLog& log, Settings settings, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const { return socket_.localAddress(); }
    quint16 port() const { return socket_.localPort(); }

private:
    struct Client {
        QHostAddress address;
        quint16 port = 0;
    };

    void readPending();
    void handle(const QByteArray& payload, const Client& sender);
    void poll();
    // The present position as reply text, or nothing (with *error) when it cannot be read.
    std::optional<QByteArray> presentPayload(QString* error);
    void reply(const QByteArray& payload);

    Mount& mount_;
    SessionLog& log_;
    Settings settings_;
    QUdpSocket socket_;
    QTimer pollTimer_;
    std::optional<Client> client_;
    std::optional<Angles> lastSent_;
    QByteArray lastReply_;
    QElapsedTimer sinceReply_;
    bool pollFailing_ = false;
};

}  // namespace heliostat::antenna
