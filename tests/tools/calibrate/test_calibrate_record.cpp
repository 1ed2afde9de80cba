#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// heliostat-calibrate record on a pseudo-terminal, against a controller that answers every
// command with the command itself (a mount that is always exactly where it was sent).
class TestCalibrateRecord : public QObject {
    Q_OBJECT

    int udp_ = -1;
    int master_ = -1;
    pid_t child_ = -1;
    QByteArray screen_;
    QStringList commands_;
    bool echo_ = true;

    // Runs the peer and collects the screen until `done` holds for the latest screen, or 10 s.
    bool Pump(const std::function<bool(const QString&)>& done) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            if (done(Screen())) {
                return true;
            }
            pollfd fds[2] = {{master_, POLLIN, 0}, {udp_, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0) {
                continue;
            }
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                char buffer[4096];
                const ssize_t n = read(master_, buffer, sizeof buffer);
                if (n <= 0) {
                    return done(Screen());
                }
                screen_.append(buffer, n);
            }
            if (fds[1].revents & POLLIN) {
                char buffer[512];
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t n = recvfrom(udp_, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&from), &length);
                if (n > 0 && echo_) {
                    commands_ << QString::fromLatin1(buffer, n);
                    sendto(udp_, buffer, static_cast<size_t>(n), 0,
                           reinterpret_cast<sockaddr*>(&from), length);
                }
            }
        }
        return false;
    }

    // What the terminal shows now: everything after the last clear.
    QString Screen() const {
        const qsizetype at = screen_.lastIndexOf("\x1b[H\x1b[J");
        return QString::fromUtf8(at < 0 ? screen_ : screen_.mid(at));
    }

    void Keys(const char* keys) { QVERIFY(write(master_, keys, strlen(keys)) > 0); }

    // The command shown and the last reply shown agree: the echo of the latest move is in.
    static bool Settled(const QString& screen) {
        static const QRegularExpression command(
            QStringLiteral("指令  方位角 (\\S+)°  仰角 (\\S+)°"));
        static const QRegularExpression reply(QStringLiteral("返信  方位角 (\\S+)°  仰角 (\\S+)°"));
        const auto c = command.match(screen), r = reply.match(screen);
        return c.hasMatch() && r.hasMatch() && c.captured(1) == r.captured(1) &&
               c.captured(2) == r.captured(2);
    }

private slots:
    void jogRecordUndoQuit() {
        udp_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(bind(udp_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        socklen_t length = sizeof address;
        QVERIFY(getsockname(udp_, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        const QByteArray controller = "127.0.0.1:" + QByteArray::number(ntohs(address.sin_port));

        QTemporaryDir dir;
        const QByteArray output = dir.filePath("obs.csv").toUtf8();
        child_ = forkpty(&master_, nullptr, nullptr, nullptr);
        QVERIFY(child_ >= 0);
        if (child_ == 0) {
            execl(HELIOSTAT_CALIBRATE_PATH, HELIOSTAT_CALIBRATE_PATH, "record", "--controller",
                  controller.constData(), "--output", output.constData(), "--preset", "東京",
                  "--target-el", "10", "--target-az", "200", static_cast<char*>(nullptr));
            _exit(127);
        }

        QVERIFY2(Pump(Settled), qPrintable(Screen()));
        QVERIFY(Screen().contains(QStringLiteral("刻み  0.10°")));
        QVERIFY(Screen().contains(QStringLiteral("記録  0 件")));
        Keys("\r");
        QVERIFY2(Pump([](const QString& s) { return s.contains(QStringLiteral("記録  1 件")); }),
                 qPrintable(Screen()));
        // Step 0.2, then right arrow and k: the command moves by 0.2 in both.
        Keys("+\x1b[Ck");
        QVERIFY(Pump([](const QString& s) {
            return s.contains(QStringLiteral("刻み  0.20°")) && Settled(s);
        }));
        Keys("\r");
        QVERIFY(Pump([](const QString& s) { return s.contains(QStringLiteral("記録  2 件")); }));
        Keys("u");
        QVERIFY(Pump([](const QString& s) {
            return s.contains(QStringLiteral("記録  1 件")) &&
                   s.contains(QStringLiteral("取り消しました"));
        }));
        Keys("\n");
        QVERIFY(Pump([](const QString& s) { return s.contains(QStringLiteral("記録  2 件")); }));
        // A controller that has gone quiet: its last reply is not recorded.
        echo_ = false;
        QTest::qWait(3500);
        Keys("\r");
        QVERIFY(Pump([](const QString& s) {
            return s.contains(QStringLiteral("返信が 3 秒以上ないので記録できません"));
        }));
        QVERIFY(Screen().contains(QStringLiteral("記録  2 件")));
        echo_ = true;
        // The step stays between 0.01 and 1.
        Keys("----------");
        QVERIFY(Pump([](const QString& s) { return s.contains(QStringLiteral("刻み  0.01°")); }));
        Keys("++++++++++");
        QVERIFY(Pump([](const QString& s) { return s.contains(QStringLiteral("刻み  1.00°")); }));
        Keys("q");
        Pump([](const QString&) { return false; });  // drains until the child closes the terminal
        int status = 0;
        QCOMPARE(waitpid(child_, &status, 0), child_);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        close(master_);
        close(udp_);

        // Every datagram is a command of the wire protocol.
        static const QRegularExpression wire(QStringLiteral("^0,\\d{3}\\.\\d\\d,-?\\d*\\.\\d\\d$"));
        QVERIFY(!commands_.isEmpty());
        for (const QString& c : commands_) {
            QVERIFY2(wire.match(c).hasMatch(), qPrintable(c));
        }
        QFile file(QString::fromUtf8(output));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("jst,mount_azimuth,mount_elevation"));
        static const QRegularExpression row(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,(\\d+\\.\\d\\d),(-?\\d*\\.\\d\\d)$"));
        const auto first = row.match(lines[1]), second = row.match(lines[2]);
        QVERIFY2(first.hasMatch() && second.hasMatch(), qPrintable(lines.join('|')));
        const double dAz = second.captured(1).toDouble() - first.captured(1).toDouble();
        const double dEl = second.captured(2).toDouble() - first.captured(2).toDouble();
        QVERIFY2(std::abs(std::remainder(dAz, 360.0) - 0.2) < 1e-9, qPrintable(lines.join('|')));
        QVERIFY2(std::abs(dEl - 0.2) < 1e-9, qPrintable(lines.join('|')));
    }
};

QTEST_GUILESS_MAIN(TestCalibrateRecord)
#include "test_calibrate_record.moc"
