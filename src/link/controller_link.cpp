#include "link/controller_link.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/errors.h"
#include "base/number_text.h"

namespace heliostat::link {

namespace {

[[noreturn]] void Fail(const QString& message, const char* step) {
    throw HeliostatError(message.toStdString(), step);
}

// ICMP errors reach an unconnected UDP socket only when asked for; without them a controller
// that is not running looks exactly like one that does not answer.
void AskForIcmpErrors(qintptr fd) {
    const int on = 1;
    ::setsockopt(static_cast<int>(fd), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(static_cast<int>(fd), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
}

QString IcmpReason(const sock_extended_err& err) {
    const bool v4 = err.ee_origin == SO_EE_ORIGIN_ICMP;
    const bool v6 = err.ee_origin == SO_EE_ORIGIN_ICMP6;
    if ((v4 && err.ee_type == 3 && err.ee_code == 3) ||
        (v6 && err.ee_type == 1 && err.ee_code == 4)) {
        return QStringLiteral("コントローラのポートに届きません");
    }
    if (v4 || v6) {
        return QStringLiteral("コントローラに届きません（ICMP 種別 %1・コード %2）")
            .arg(err.ee_type)
            .arg(err.ee_code);
    }
    return QStringLiteral("アンテナコントローラへ送信できません（エラー番号 %1）")
        .arg(err.ee_errno);
}

}  // namespace

ControllerLink::ControllerLink(QObject* parent) : QObject(parent), socket_(new QUdpSocket(this)) {
    socket_->setObjectName(QStringLiteral("Winsock1"));
}

quint16 ControllerLink::PortFromText(std::string_view portText) {
    const std::optional<std::int32_t> port = base::ParsePort(portText);
    if (!port) {
        Fail(QStringLiteral("アンテナコントローラのポート「%1」が数値ではありません。")
                 .arg(QString::fromUtf8(portText.data(), static_cast<qsizetype>(portText.size()))),
             "parse port");
    }
    if (*port < 1 || *port > 65535) {
        Fail(
            QStringLiteral("アンテナコントローラのポート %1 は範囲外です（1～65535）。").arg(*port),
            "port range");
    }
    return static_cast<quint16>(*port);
}

std::optional<QHostAddress> ControllerLink::LiteralAddress(const QString& hostText) {
    QHostAddress address;
    if (address.setAddress(hostText)) {
        return address;
    }
    return std::nullopt;
}

// Prefers an IPv4 address, since controllers usually listen on IPv4 only.
QHostAddress ControllerLink::AddressFromLookup(const QHostInfo& info, const QString& hostText) {
    const QList<QHostAddress> found = info.addresses();
    for (const QHostAddress& candidate : found) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            return candidate;
        }
    }
    if (found.isEmpty()) {
        Fail(QStringLiteral("アンテナコントローラのIPアドレス「%1」が見つかりません。")
                 .arg(hostText),
             "resolve host");
    }
    return found.first();
}

void ControllerLink::Open(const QHostAddress& controller, quint16 port) {
    Close();
    if (!socket_->bind(QHostAddress::Any, 0)) {
        const QString reason = socket_->errorString();
        Close();
        Fail(QStringLiteral("UDPソケットを開けません（%1）。").arg(reason), "bind");
    }
    AskForIcmpErrors(socket_->socketDescriptor());
    controller_ = controller;
    port_ = port;
}

void ControllerLink::Close() {
    socket_->close();
    pendingError_.reset();
    controller_.clear();
    port_ = 0;
}

bool ControllerLink::IsOpen() const {
    return socket_->state() == QAbstractSocket::BoundState && !controller_.isNull();
}

quint16 ControllerLink::LocalPort() const {
    return socket_->localPort();
}

void ControllerLink::Send(std::string_view payload) {
    if (!IsOpen()) {
        Fail(QStringLiteral("アンテナコントローラへの通信が開始されていません。"), "send");
    }
    const QByteArray bytes(payload.data(), static_cast<qsizetype>(payload.size()));
    qint64 sent = socket_->writeDatagram(bytes, controller_, port_);
    if (sent != bytes.size()) {
        // The system refuses one send after an ICMP error about an earlier datagram. That
        // error is kept for TakeSocketError, and this datagram is tried once more: the
        // controller may be listening by now, and a stow must not be lost to old news.
        const std::optional<QString> icmp = TakeSocketError();
        if (icmp) {
            pendingError_ = icmp;
            sent = socket_->writeDatagram(bytes, controller_, port_);
        }
        if (sent != bytes.size()) {
            Fail(icmp ? *icmp
                      : QStringLiteral("アンテナコントローラへ送信できません（%1）。")
                            .arg(socket_->errorString()),
                 "send");
        }
    }
}

std::optional<QString> ControllerLink::TakeSocketError() {
    std::optional<QString> reason = std::exchange(pendingError_, std::nullopt);
    if (socket_->state() != QAbstractSocket::BoundState) {
        return reason;
    }
    const int fd = static_cast<int>(socket_->socketDescriptor());
    for (;;) {
        char data[512];
        alignas(cmsghdr) char control[512];
        iovec io{data, sizeof data};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            break;  // the queue is empty
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) {
                sock_extended_err err{};
                std::memcpy(&err, CMSG_DATA(c), sizeof err);
                reason = IcmpReason(err);
            }
        }
    }
    return reason;
}

std::vector<ControllerLink::Arrival> ControllerLink::TakeArrivals(int limit) {
    std::vector<Arrival> arrivals;
    if (socket_->state() != QAbstractSocket::BoundState) {
        return arrivals;
    }
    // readDatagram re-arms the socket's read notifier on every call, also when it fails; a loop
    // that stops at a peek refused by an ICMP error never reads, and the socket goes deaf.
    QByteArray buffer(65536, Qt::Uninitialized);
    int refusals = 0;
    while (static_cast<int>(arrivals.size()) < limit) {
        if (const auto icmp = TakeSocketError()) {
            pendingError_ = icmp;
        }
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = socket_->readDatagram(buffer.data(), buffer.size(), &from, &fromPort);
        if (size < 0) {
            // Nothing read: either nothing is left, or an error stood in place of the data
            // (the peek takes it), and the data behind it is read next time round.
            char probe = 0;
            const int fd = static_cast<int>(socket_->socketDescriptor());
            if (::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) < 0 &&
                (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            }
            if (++refusals > 64) {
                break;
            }
            continue;
        }
        Arrival arrival;
        arrival.payload = buffer.left(size);
        bool v4 = false;
        const quint32 v4Address = from.toIPv4Address(&v4);
        arrival.sender = v4 ? QHostAddress(v4Address).toString() + u':' + QString::number(fromPort)
                            : QStringLiteral("[%1]:%2").arg(from.toString()).arg(fromPort);
        arrival.fromController = !controller_.isNull() &&
                                 from.isEqual(controller_, QHostAddress::ConvertV4MappedToIPv4) &&
                                 (anyPort_ || fromPort == port_);
        if (arrival.fromController) {
            try {
                arrival.fields = SplitReply(std::string_view(
                    arrival.payload.constData(), static_cast<size_t>(arrival.payload.size())));
            } catch (const HeliostatError&) {
                // A reply that cannot be split is dropped silently.
            }
        }
        arrivals.push_back(std::move(arrival));
    }
    return arrivals;
}

}  // namespace heliostat::link
