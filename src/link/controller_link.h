#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/wire.h"

class QHostInfo;
class QUdpSocket;

namespace heliostat::link {

// The window's UDP endpoint to the antenna controller. Started, it is bound to a fresh
// system-chosen port on all local addresses and holds the controller's address and port;
// stopped, it is closed. Failures are thrown as HeliostatError with a Japanese message.
class ControllerLink : public QObject {
    Q_OBJECT

public:
    explicit ControllerLink(QObject* parent = nullptr);

    // The socket itself (objectName "Winsock1"); its readyRead is the arrival event.
    QUdpSocket* Socket() const { return socket_; }

    // The steps of a start, for a caller that looks names up without waiting: the port by the
    // port rule (1 to 65535), the address a text stands for without any lookup (nothing for a
    // name), the address to use from a finished lookup, and the bind itself. On a failure the
    // endpoint stays closed.
    static quint16 PortFromText(std::string_view portText);
    static std::optional<QHostAddress> LiteralAddress(const QString& hostText);
    static QHostAddress AddressFromLookup(const QHostInfo& info, const QString& hostText);
    void Open(const QHostAddress& controller, quint16 port);

    // Releases the local port; harmless when already closed.
    void Close();
    bool IsOpen() const;

    quint16 LocalPort() const;

    // Sends one datagram to the controller. Throws when the link is closed or the send is
    // refused; a refusal caused by an ICMP error names it.
    void Send(std::string_view payload);

    // Replies count only from the controller's address and the port the commands go to;
    // `anyPort` accepts every port of that address, for a controller that answers from
    // another socket.
    void AcceptRepliesFromAnyPort(bool anyPort) { anyPort_ = anyPort; }

    // A datagram that arrived: from the controller (split, unless SplitReply dropped it), or
    // from anyone else (never split: the splitter's remainder outlives the datagram).
    struct Arrival {
        QByteArray payload;
        bool fromController = false;
        QString sender;                     // "ADDR:PORT"
        std::optional<ReplyFields> fields;  // nothing when SplitReply dropped it
    };
    // Reads every pending datagram and every pending ICMP error, however they interleave: a
    // peek that meets an error must not leave the data behind, or the socket is never told of
    // new data again. At most `limit` datagrams, so that a flood cannot hold the event loop;
    // the rest raise the next arrival event.
    std::vector<Arrival> TakeArrivals(int limit = 1000);

    // The reason of an ICMP error (port or host unreachable) that the system has reported
    // for this socket since the last call, in Japanese; nothing when there was none.
    std::optional<QString> TakeSocketError();

private:
    QUdpSocket* socket_;
    QHostAddress controller_;
    quint16 port_ = 0;
    bool anyPort_ = false;
    std::optional<QString> pendingError_;  // found by a send, not yet taken
};

}  // namespace heliostat::link
