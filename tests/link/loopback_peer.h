#pragma once

// A loopback peer standing in for the antenna controller, for the link's and the window's tests.

#include <QList>
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
                received_.push_back(socket_.receiveDatagram());
                if (echo) {
                    socket_.writeDatagram(received_.back().makeReply(received_.back().data()));
                }
            }
        });
    }
    bool echo = false;  // answers every datagram with its own bytes, as a mount on target
    bool Bound() const { return bound_; }
    quint16 Port() const { return socket_.localPort(); }
    QList<QNetworkDatagram>& Received() { return received_; }
    QList<QByteArray> Payloads() const {
        QList<QByteArray> payloads;
        for (const QNetworkDatagram& d : received_) {
            payloads.push_back(d.data());
        }
        return payloads;
    }
    bool SendTo(const QByteArray& payload, quint16 port) {
        return socket_.writeDatagram(payload, QHostAddress(QStringLiteral("127.0.0.1")), port) ==
               payload.size();
    }

private:
    QUdpSocket socket_;
    QList<QNetworkDatagram> received_;
    bool bound_ = false;
};

}  // namespace heliostat::link::test
