#pragma once

// Starts antenna-controller (or rotctld) as a child process on loopback for a test and makes
// sure it is gone when the test ends.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <optional>

#include <csignal>

namespace heliostat::test {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { kill(); }

    QProcess& process() { return process_; }

    bool start(const QString& program, const QStringList& args) {
        process_.start(program, args);
        return process_.waitForStarted(5000);
    }

    // SIGTERM, then the exit code; -1 if it did not end within the time.
    int terminate(int ms = 5000) {
        if (process_.state() == QProcess::NotRunning) {
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        }
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(ms)) {
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // All stderr so far.
    QByteArray errors() {
        errors_ += process_.readAllStandardError();
        return errors_;
    }

    // Waits until stderr holds a match of the pattern; the match, or nothing after the time.
    std::optional<QRegularExpressionMatch> waitForError(const QRegularExpression& pattern, int ms) {
        QDeadlineTimer deadline(ms);
        while (true) {
            const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(errors()));
            if (match.hasMatch()) {
                return match;
            }
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) {
                return std::nullopt;
            }
            process_.waitForReadyRead(50);
        }
    }

private:
    QProcess process_;
    QByteArray errors_;
};

// The controller on a port that it picks itself and announces in its start-up line, so no
// other program can take the port between choosing and binding.
class Controller : public ChildProcess {
public:
    bool start(QStringList args) {
        args << "--listen"
             << "127.0.0.1:0";
        if (!ChildProcess::start(QStringLiteral(ANTENNA_CONTROLLER_PATH), args)) {
            return false;
        }
        const auto match = waitForError(
            QRegularExpression(R"(started: .* listening on 127\.0\.0\.1:(\d+))"), 10000);
        if (!match) {
            return false;
        }
        port_ = static_cast<quint16>(match->captured(1).toUInt());
        return port_ != 0;
    }
    quint16 port() const { return port_; }

private:
    quint16 port_ = 0;
};

// A loopback TCP port that was free a moment ago, for programs that cannot pick their own.
inline quint16 FreeTcpPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return server.serverPort();
}

// rotctld with Hamlib's simulated rotator on a free loopback port, ready for connections.
class Rotctld : public ChildProcess {
public:
    // extra: further rotctld arguments, e.g. {"-C", "min_az=-180,max_az=180"}.
    bool start(const QStringList& extra = {}) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = FreeTcpPort();
            if (port_ == 0 ||
                !ChildProcess::start("rotctld", QStringList{"-m", "1", "-T", "127.0.0.1", "-t",
                                                            QString::number(port_)} +
                                                    extra)) {
                continue;
            }
            for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port_);
                if (probe.waitForConnected(200)) {
                    return true;
                }
                if (process().state() == QProcess::NotRunning) {
                    break;  // lost the port to someone else: try another
                }
                QTest::qWait(50);
            }
            kill();
        }
        return false;
    }
    quint16 port() const { return port_; }

    // Starts it again on the same port after kill(); false if that port is no longer free.
    bool restart() {
        if (!ChildProcess::start("rotctld",
                                 {"-m", "1", "-T", "127.0.0.1", "-t", QString::number(port_)})) {
            return false;
        }
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port_);
            if (probe.waitForConnected(200)) {
                return true;
            }
            if (process().state() == QProcess::NotRunning) {
                return false;
            }
            QTest::qWait(20);
        }
        return false;
    }

    // Asks rotctld itself for the rotator's position ("p").
    std::optional<std::pair<double, double>> position() {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (!socket.waitForConnected(2000)) {
            return std::nullopt;
        }
        socket.write("p\n");
        QByteArray answer;
        QDeadlineTimer deadline(2000);
        while (answer.count('\n') < 2 && !deadline.hasExpired()) {
            socket.waitForReadyRead(100);
            answer += socket.readAll();
        }
        const QList<QByteArray> lines = answer.split('\n');
        bool okAz = false;
        bool okEl = false;
        const double az = lines.value(0).toDouble(&okAz);
        const double el = lines.value(1).toDouble(&okEl);
        if (!okAz || !okEl) {
            return std::nullopt;
        }
        return std::pair{az, el};
    }

private:
    quint16 port_ = 0;
};

// Reads reply datagrams on a test socket until the time is up or one satisfies the predicate.
// Every datagram seen is appended to *seen.
template <typename Pred>
std::optional<QNetworkDatagram> WaitForDatagram(QUdpSocket& socket, int ms, Pred pred,
                                                QList<QNetworkDatagram>* seen = nullptr) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        while (socket.hasPendingDatagrams()) {
            QNetworkDatagram d = socket.receiveDatagram();
            if (seen) {
                seen->append(d);
            }
            if (pred(d)) {
                return d;
            }
        }
        socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return std::nullopt;
}

// "0,AZ,EL" (or with a fourth field) as two numbers.
inline std::optional<std::pair<double, double>> ReplyAngles(const QByteArray& payload) {
    const QList<QByteArray> fields = payload.split(',');
    if (fields.size() < 3 || fields.size() > 4 || fields[0] != "0") {
        return std::nullopt;
    }
    bool okAz = false;
    bool okEl = false;
    const double az = fields[1].toDouble(&okAz);
    const double el = fields[2].toDouble(&okEl);
    if (!okAz || !okEl) {
        return std::nullopt;
    }
    return std::pair{az, el};
}

}  // namespace heliostat::test
