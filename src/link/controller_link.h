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

    // Closes, resolves the host text (a dotted address, or a name looked up now), takes the
    // port by the port rule (1 to 65535) and binds. On a failure the endpoint stays closed.
    void Start(const QString& hostText, std::string_view portText);

    // The pieces of Start, for a caller that looks names up without waiting: the port by the
    // port rule, the address a text stands for without any lookup (nothing for a name), the
    // address to use from a finished lookup, and the bind itself.
    static quint16 PortFromText(std::string_view portText);
    static std::optional<QHostAddress> LiteralAddress(const QString& hostText);
    static QHostAddress AddressFromLookup(const QHostInfo& info, const QString& hostText);
    void Open(const QHostAddress& controller, quint16 port);

    // Releases the local port; harmless when already closed.
    void Close();
    bool IsOpen() const;

    QHostAddress ControllerAddress() const { return controller_; }
    quint16 ControllerPort() const { return port_; }
    quint16 LocalPort() const;

    // Sends one datagram to the controller. Throws when the link is closed or the send is
    // refused; a refusal caused by an ICMP error names it.
    void Send(std::string_view payload);

    // A datagram from the controller's address (any port), as received and as split.
    struct Arrival {
        QByteArray payload;
        std::optional<ReplyFields> fields;  // nothing when SplitReply dropped it
    };
    // Reads every pending datagram. Datagrams from elsewhere and unreadable ones are dropped
    // without reaching the splitter, whose remainder outlives the datagram.
    std::vector<Arrival> TakeArrivals();
    // The split replies of TakeArrivals alone.
    std::vector<ReplyFields> TakeReplies();

    // The reason of an ICMP error (port or host unreachable) that the system has reported
    // for this socket since the last call, in Japanese; nothing when there was none.
    std::optional<QString> TakeSocketError();

private:
    QUdpSocket* socket_;
    QHostAddress controller_;
    quint16 port_ = 0;
    std::optional<QString> pendingError_;  // found by a send, not yet taken
};

}  // namespace heliostat::link
