#pragma once

// A loopback peer standing in for the antenna controller, for the link's and the window's tests.

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace heliostat::link::test {

// A UDP socket on a loopback address that records what arrives and can answer.
class Peer {
public:
    explicit Peer(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")),
                  quint16 port = 0) {
        bound_ = socket_.bind(address, port);
        QObject::connect(&socket_, &QUdpSocket::readyRead, [this] {
            while (socket_.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = socket_.receiveDatagram();
                payloads_.push_back(datagram.data());
                if (echo) {
                    socket_.writeDatagram(datagram.makeReply(datagram.data()));
                }
            }
        });
    }
    bool echo = false;  // answers every datagram with its own bytes, as a mount on target
    bool Bound() const { return bound_; }
    quint16 Port() const { return socket_.localPort(); }
    const QList<QByteArray>& Payloads() const { return payloads_; }
    qsizetype Count() const { return payloads_.size(); }
    bool SendTo(const QByteArray& payload, quint16 port) {
        return socket_.writeDatagram(payload, QHostAddress(QStringLiteral("127.0.0.1")), port) ==
               payload.size();
    }
    // A loopback port nobody listens on: one the system just handed out and took back.
    static quint16 ClosedPort() { return Peer().Port(); }

private:
    QUdpSocket socket_;
    QList<QByteArray> payloads_;
    bool bound_ = false;
};

}  // namespace heliostat::link::test
