#include "link/controller_link.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include "astro/errors.h"
#include "cycle/number_text.h"

namespace heliostat::link {

namespace {

[[noreturn]] void Fail(const QString& message, const char* step) {
    throw HeliostatError(message.toStdString(), step);
}

// A dotted address is taken as it is; a name is looked up, preferring an IPv4 address since
// controllers usually listen on IPv4 only.
QHostAddress Resolve(const QString& hostText) {
    QHostAddress address;
    if (address.setAddress(hostText)) {
        return address;
    }
    const QHostInfo info = QHostInfo::fromName(hostText);
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

}  // namespace

ControllerLink::ControllerLink(QObject* parent) : QObject(parent), socket_(new QUdpSocket(this)) {
    socket_->setObjectName(QStringLiteral("Winsock1"));
}

void ControllerLink::Start(const QString& hostText, std::string_view portText) {
    Close();
    const QHostAddress controller = Resolve(hostText);
    const std::optional<std::int32_t> port = cycle::ParsePort(portText);
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
    if (!socket_->bind(QHostAddress::Any, 0)) {
        const QString reason = socket_->errorString();
        Close();
        Fail(QStringLiteral("UDPソケットを開けません（%1）。").arg(reason), "bind");
    }
    controller_ = controller;
    port_ = static_cast<quint16>(*port);
}

void ControllerLink::Close() {
    socket_->close();
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
    const qint64 sent = socket_->writeDatagram(bytes, controller_, port_);
    if (sent != bytes.size()) {
        Fail(QStringLiteral("アンテナコントローラへ送信できません（%1）。")
                 .arg(socket_->errorString()),
             "send");
    }
}

std::vector<ReplyFields> ControllerLink::TakeReplies() {
    std::vector<ReplyFields> replies;
    while (socket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_->receiveDatagram();
        if (!datagram.isValid()) {
            break;  // nothing readable is left; hasPendingDatagrams would repeat forever
        }
        // Only the controller's address counts, whatever port it answers from; a stray sender
        // must not reach the splitter, whose remainder outlives the datagram.
        if (controller_.isNull() ||
            !datagram.senderAddress().isEqual(controller_, QHostAddress::ConvertV4MappedToIPv4)) {
            continue;
        }
        const QByteArray data = datagram.data();
        try {
            if (auto fields = SplitReply(
                    std::string_view(data.constData(), static_cast<size_t>(data.size())))) {
                replies.push_back(std::move(*fields));
            }
        } catch (const HeliostatError&) {
            // A reply that cannot be split is dropped silently.
        }
    }
    return replies;
}

}  // namespace heliostat::link
