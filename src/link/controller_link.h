#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "link/wire.h"

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
    // Releases the local port; harmless when already closed.
    void Close();
    bool IsOpen() const;

    QHostAddress ControllerAddress() const { return controller_; }
    quint16 ControllerPort() const { return port_; }
    quint16 LocalPort() const;

    // Sends one datagram to the controller. Throws when the link is closed or the send is
    // refused.
    void Send(std::string_view payload);

    // Reads every pending datagram and splits those that come from the controller's address
    // (any port). Datagrams from elsewhere, unreadable ones and those SplitReply rejects are
    // dropped without touching the splitter's remainder more than SplitReply itself does.
    std::vector<ReplyFields> TakeReplies();

private:
    QUdpSocket* socket_;
    QHostAddress controller_;
    quint16 port_ = 0;
};

}  // namespace heliostat::link
