// The link session with a real loopback peer as the antenna controller, no window: starts,
// replies and their checks, who may answer, health on a hand-moved monotonic clock, recovery
// from ICMP errors, the stow, the record and the beam error.
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "base/jst_clock.h"
#include "link/controller_link.h"
#include "link/controller_session.h"
#include "link/loopback_peer.h"

using namespace heliostat::link;
using heliostat::link::test::Peer;
using std::chrono::steady_clock;
Q_DECLARE_METATYPE(LinkHealth)

namespace {

const QHostAddress kLoopback(QStringLiteral("127.0.0.1"));

// 2026-06-21 12:00 JST at 35 N 135 E, target 10 / 200; the day's command is 188.82 / 44.21.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("session.csv"));
    std::chrono::system_clock::time_point utc =
        heliostat::base::FromJst({2026, 6, 21, 12, 0, 0, 0});
    steady_clock::time_point steady{std::chrono::hours(100)};
    bool realTime = false;  // the monotonic clock is the real one
    Peer peer;
    ControllerSession session{[this] { return utc; },
                              [this] { return realTime ? steady_clock::now() : steady; }};
    QString azimuth = QStringLiteral("old"), elevation = QStringLiteral("old"), tip, notice;
    int replies = 0;
    std::optional<LinkHealth> afterFirstReply;  // the health the first reply left
    SessionLog* log = nullptr;

    explicit Rig(const SessionOptions& options = {}) {
        auto opened = SessionLog::Open(path.toStdString());
        log = opened.get();
        session.Configure(options, std::move(opened));
        QObject::connect(&session, &ControllerSession::ReplyShown,
                         [this](const QString& a, const QString& e) {
                             azimuth = a, elevation = e;
                             ++replies;
                         });
        QObject::connect(&session, &ControllerSession::HealthChanged,
                         [this](LinkHealth health, const QString& t, const QString& n) {
                             tip = t, notice = n;
                             if (replies > 0 && !afterFirstReply) {
                                 afterFirstReply = health;
                             }
                         });
        session.SetBeamGeometry({35, 135, 10, 200});
    }
    void Start(quint16 port = 0) {
        session.Start(QStringLiteral("127.0.0.1"), std::to_string(port ? port : peer.Port()),
                      {"35", "135", " 10", "200"});
    }
    void Command() { session.SendCommand("188.82", "44.21"); }
    void Reply(Peer& from, const QByteArray& payload) {
        QVERIFY(from.SendTo(payload, session.LocalPort()));
        QTest::qWait(60);
    }
    // Moves the monotonic clock on, a command going out every 0.75 s when `sending`.
    void Advance(double seconds, bool sending = true) {
        for (double t = 0; t < seconds; t += 0.75) {
            steady +=
                std::chrono::milliseconds(static_cast<int>(std::min(0.75, seconds - t) * 1000));
            if (sending) {
                Command();
            }
        }
        session.UpdateHealth();
    }
    template <class Having = QString>
    QStringList Rows(const Having& having = {}) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll())
                         .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)
                         .filter(having)
                   : QStringList();
    }
};

}  // namespace

class TestControllerSession : public QObject {
    Q_OBJECT

private slots:
    // A start that cannot begin names the text at fault, records it and leaves the link closed.
    void failedStart_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        // clang-format off
        QTest::newRow("port not a number") << "127.0.0.1" << "abc";
        QTest::newRow("port 0") << "127.0.0.1" << "0";
        QTest::newRow("port 65536") << "127.0.0.1" << "65536";
        QTest::newRow("port beyond 32 bits") << "127.0.0.1" << "1e10";
        QTest::newRow("unknown host") << "no-such-host.invalid" << "10006";
        // clang-format on
    }

    void failedStart() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        Rig rig;
        QString message;
        QObject::connect(&rig.session, &ControllerSession::StartFailed,
                         [&message](const QString& m) { message = m; });
        rig.session.Start(host, port.toStdString(), {});
        QTRY_VERIFY_WITH_TIMEOUT(!message.isEmpty(), 10000);
        QVERIFY2(
            message.contains(QStringLiteral("「%1」").arg(host == "127.0.0.1" ? port : host)) ||
                message.contains(QStringLiteral("ポート %1 は範囲外").arg(port)),
            qPrintable(message));
        QVERIFY(!rig.session.IsRunning() && !rig.session.IsStarting());
        QCOMPARE(rig.Rows(QStringLiteral(",failure,,")).size(), 1);
        rig.Start();
        QVERIFY(rig.session.IsRunning());
    }

    // Replies count only from the controller's address and port; others are recorded with
    // their source and never reach the splitter.
    void whoMayAnswer_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("anyPort");
        QTest::addColumn<bool>("counted");
        // clang-format off
        QTest::newRow("the controller's socket") << "controller" << false << true;
        QTest::newRow("another port of its address") << "127.0.0.1" << false << false;
        QTest::newRow("another port, --reply-from-any-port") << "127.0.0.1" << true << true;
        QTest::newRow("another address") << "127.0.0.2" << false << false;
        QTest::newRow("another address, --reply-from-any-port") << "127.0.0.2" << true << false;
        // clang-format on
    }

    void whoMayAnswer() {
        QFETCH(QString, from);
        QFETCH(bool, anyPort);
        QFETCH(bool, counted);
        SessionOptions options;
        options.replyFromAnyPort = anyPort;
        Rig rig(options);
        rig.Start();
        rig.Command();
        Peer other{from == "controller" ? kLoopback : QHostAddress(from)};
        Peer& sender = from == "controller" ? rig.peer : other;
        rig.Reply(sender, "0,1,2,3,4,5,6,7,8");  // a long one: its rest must not stay behind
        rig.Reply(rig.peer, "0,188.82,44.21");
        QCOMPARE(rig.azimuth, QStringLiteral("188.82"));
        rig.Reply(sender, "0,180.02,45.66");
        QCOMPARE(rig.azimuth, counted ? QStringLiteral("180.02") : QStringLiteral("188.82"));
        QCOMPARE(rig.session.ForeignDatagrams(), counted ? 0 : 2);
        const QString foreign =
            QStringLiteral(",foreign,\"0,180.02,45.66\",from=%1:%2").arg(from).arg(other.Port());
        QCOMPARE(rig.Rows(foreign).size(), counted ? 0 : 1);
    }

    // The health, its chart line and the reply shown (fields 2 and 3 unchanged), on the
    // monotonic clock.
    void health_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<double>("later");      // seconds on the monotonic clock
        QTest::addColumn<bool>("sending");      // commands go out meanwhile
        QTest::addColumn<double>("timeout");
        QTest::addColumn<LinkHealth>("health");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("shown");  // "AZ|EL"
        const QByteArray echo("0,188.82,44.21"), none;
        const QString old = QStringLiteral("old|old"), shown = QStringLiteral("188.82|44.21");
        QTest::newRow("no reply, 5 s") << none << 5.0 << true << 3.0 << LinkHealth::Silent
                                       << "コントローラから応答なし（5秒）" << old;
        QTest::newRow("no reply, 5 s, --reply-timeout 10")
            << none << 5.0 << true << 10.0 << LinkHealth::Waiting << "" << old;
        QTest::newRow("cycles fail, nothing sent")
            << none << 9.0 << false << 3.0 << LinkHealth::Waiting << "" << old;
        QTest::newRow("echo with blank and line break, 1 s")
            << QByteArray("0,188.82 ,44.21\r\n") << 1.0 << true << 3.0 << LinkHealth::OnTarget << ""
            << "188.82 |44.21\r\n";
        QTest::newRow("echo, 4 s old") << echo << 4.0 << true << 3.0 << LinkHealth::Silent
                                       << "コントローラから応答なし（4秒）" << shown;
        QTest::newRow("echo, 4 s old, --reply-timeout 10")
            << echo << 4.0 << true << 10.0 << LinkHealth::OnTarget << "" << shown;
        // Anything but a finite number is not shown, and counted.
        QTest::newRow("invalid reply only")
            << QByteArray("0,nan,-Infinity") << 4.0 << true << 3.0 << LinkHealth::Silent
            << "コントローラから応答なし（4秒）" << old;
        QTest::newRow("limit")
            << QByteArray("0,180.00,10.00,limit") << 1.0 << true << 3.0 << LinkHealth::Refused
            << "コントローラが範囲外の指令を拒否しました（方位角 188.82 仰角 44.21）"
            << "180.00|10.00";
        QTest::newRow("parked") << QByteArray("0,180.00,.00,parked\r\n") << 1.0 << true << 3.0
                                << LinkHealth::Parked
                                << "コントローラが反射鏡を退避させました（指令が途絶えたため）"
                                << "180.00|.00";
        QTest::newRow("unknown word: tooltip only")
            << QByteArray("0,188.82,44.21,stuck") << 1.0 << true << 3.0 << LinkHealth::OnTarget
            << "" << shown;
    }

    void health() {
        QFETCH(QByteArray, reply);
        QFETCH(double, later);
        QFETCH(bool, sending);
        QFETCH(double, timeout);
        QFETCH(LinkHealth, health);
        QFETCH(QString, notice);
        QFETCH(QString, shown);
        SessionOptions options;
        options.replyTimeoutSeconds = timeout;
        Rig rig(options);
        rig.Start();
        rig.Command();
        if (!reply.isEmpty()) {
            rig.Reply(rig.peer, reply);
        }
        // A system clock stepped back an hour neither ages nor freshens anything.
        rig.utc -= std::chrono::hours(1);
        rig.Advance(later, sending);
        QCOMPARE(rig.session.Health(), health);
        QCOMPARE(rig.notice, notice);
        QCOMPARE(rig.azimuth + u'|' + rig.elevation, shown);
        const bool invalid = !reply.isEmpty() && shown == QStringLiteral("old|old");
        QCOMPARE(rig.session.InvalidReplies(), invalid ? 1 : 0);
        QCOMPARE(rig.tip.contains(QStringLiteral("数値でない応答 1 件")), invalid);
        // Silence is a state change: one row, not one per update; nothing here recovers.
        QCOMPARE(rig.Rows(QStringLiteral(",silent,")).size(), health == LinkHealth::Silent ? 1 : 0);
        QCOMPARE(rig.Rows(QStringLiteral(",recovered,")).size(), 0);
        const bool stuck = reply.endsWith("stuck");
        QCOMPARE(rig.tip.contains(QStringLiteral("「stuck」")), stuck);
        QCOMPARE(rig.Rows(QStringLiteral(" flag=stuck")).size(), stuck ? 1 : 0);
        // A new start forgets the last run's reply and silence.
        rig.session.Stop();
        QCOMPARE(rig.session.Health(), LinkHealth::Stopped);
        QCOMPARE(rig.notice, QString());
        rig.Start();
        rig.Command();
        rig.Advance(1);
        QCOMPARE(rig.session.Health(), LinkHealth::Waiting);
    }

    // Commands to a port nobody listens on bring ICMP errors; then a controller binds that
    // port and echoes. An error standing before the data must not stop the reading, or the
    // socket is never told of data again: the first reply leaves red, green within 2 s. On
    // loopback an error comes back within its send, where the session takes it; from a remote
    // controller it comes between two cycles, as sends past the session make it here.
    void heardAfterIcmpErrors() {
        const quint16 closed = Peer::ClosedPort();
        Rig rig;
        rig.realTime = true;
        rig.Start(closed);
        QTimer cycle;
        QObject::connect(&cycle, &QTimer::timeout, [&rig] { rig.Command(); });
        cycle.start(250);
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.Health(), LinkHealth::Silent, 3000);
        QCOMPARE(rig.notice, QStringLiteral("コントローラのポートに届きません"));
        QVERIFY2(!rig.tip.contains(QStringLiteral("port")), qPrintable(rig.tip));
        cycle.stop();
        auto* link = rig.session.findChild<ControllerLink*>(QStringLiteral("ControllerLink"));
        QVERIFY(link);
        link->Send("0,188.82,44.21");
        QTest::qWait(100);             // the late error is noticed
        link->Send("0,188.82,44.21");  // and another, not yet
        Peer controller(kLoopback, closed);
        QVERIFY(controller.Bound());
        controller.echo = true;
        // The system refuses the first send after an error; the link sends it again.
        link->Send("0,188.82,44.21");
        QTRY_COMPARE(controller.Payloads().value(0), QByteArray("0,188.82,44.21"));
        cycle.start(250);
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.Health(), LinkHealth::OnTarget, 2000);
        QCOMPARE(rig.afterFirstReply, std::optional<LinkHealth>(LinkHealth::OnTarget));
        QTRY_VERIFY(rig.replies >= 3);
        QCOMPARE(rig.notice, QString());
        QCOMPARE(rig.Rows(QStringLiteral(",silent,")).size(), 1);
        QCOMPARE(rig.Rows(QStringLiteral(",recovered,")).size(), 1);
        // A new start forgets an error the last run had not yet taken.
        rig.Start(Peer::ClosedPort());
        link->Send("0,1,2");
        link->Send("0,1,2");  // refused for the first one's error, sent again
        rig.Start();
        QCOMPARE(rig.session.Health(), LinkHealth::Waiting);
    }

    // The record of a run with --stow: what was sent and received, the start row explaining the
    // run, the beam error of the reply. By hand: with the mirror facing the target the light
    // leaves at the sun-target angle, cos = sin 78.43 sin 10 + cos 78.43 cos 10 cos 22.4, 69.35°.
    void record() {
        SessionOptions options;
        options.stow = heliostat::base::AzEl{180, 0};
        options.beamAlarmDegrees = 0.5;
        Rig rig(options);
        rig.Start();
        const quint16 local = rig.session.LocalPort();
        rig.Command();
        rig.Reply(rig.peer, "0,200.00,10.00\n");
        rig.Reply(rig.peer, "0,1\"2,3\n\x7f");
        rig.session.Exit();
        QTRY_COMPARE(rig.peer.Payloads().last(), QByteArray("0,180.00,.00"));
        QStringList rows = rig.Rows();
        QCOMPARE(rows.size(), 8);
        const double beam = QRegularExpression(QStringLiteral("beam_error=(\\d+\\.\\d{4})$"))
                                .match(rows[3])
                                .captured(1)
                                .toDouble();
        QVERIFY2(qAbs(beam - 69.35) < 0.1, qPrintable(rows[3]));
        rows[3].replace(QRegularExpression(QStringLiteral("=\\d+\\.\\d{4}$")),
                        QStringLiteral("=X"));
        const QString at = QStringLiteral("2026-06-21T12:00:00.000+09:00,");
        QCOMPARE(
            rows,
            (QStringList{
                QStringLiteral("time,event,datagram,detail"),
                at + QStringLiteral("start,,\"controller=127.0.0.1:%1 local=%2 lat=35 lon=135 "
                                    "target_el=10 target_az=200 "
                                    "pointing=mean reply_timeout=3 stow=180,0 beam_alarm=0.5\"")
                         .arg(rig.peer.Port())
                         .arg(local),
                at + QStringLiteral("command,\"0,188.82,44.21\","),
                at + QStringLiteral("reply,\"0,200.00,10.00\\n\",beam_error=X"),
                at + QStringLiteral(
                         "invalid-reply,\"0,1\"\"2,3\\n\\x7F\",方位角か仰角が数値ではありません"),
                at + QStringLiteral("stow,\"0,180.00,.00\","),
                at + QStringLiteral("stop,,"),
                at + QStringLiteral("exit,,"),
            }));
    }

    // The light 69° off the target for 5 s raises the alarm; back within, it is lifted.
    void beamAlarm() {
        SessionOptions options;
        options.beamAlarmDegrees = 0.5;
        Rig rig(options);
        rig.Start();
        rig.Command();
        rig.Reply(rig.peer, "0,200.00,10.00");
        QVERIFY2(rig.tip.contains(QRegularExpression(
                     QStringLiteral("光の誤差 69\\.3\\d°（12(09|10)\\.\\d mrad）"))),
                 qPrintable(rig.tip));
        rig.Advance(4.5);
        rig.Reply(rig.peer, "0,200.00,10.00");
        QCOMPARE(rig.notice, QString());
        rig.Advance(0.6);
        QVERIFY2(rig.notice.startsWith(QStringLiteral("光が目標から 69.")), qPrintable(rig.notice));
        QVERIFY(rig.notice.endsWith(QStringLiteral("° 外れています")));
        QCOMPARE(rig.Rows(QStringLiteral(",beam-alarm,,beam_error=69.")).size(), 1);
        // By hand: the normal halfway between the sun (78.43 / 177.63) and the target.
        rig.Reply(rig.peer, "0,196.27,44.52");
        QCOMPARE(rig.notice, QString());
        const QRegularExpression ok(
            QStringLiteral(",beam-ok,,beam_error=0\\.\\d{4} threshold=0.5$"));
        QCOMPARE(rig.Rows(ok).size(), 1);
    }

    // A refused write shows at once; commands keep going out; once writing works again a `lost`
    // row counts what is missing.
    void recordFailureIsTold() {
        Rig rig;
        rig.Start();
        const int logFd = rig.log->Descriptor();
        const int fd = ::dup(logFd);
        const int full = ::open("/dev/full", O_WRONLY);
        QVERIFY(::dup2(full, logFd) == logFd);
        rig.Command();
        QCOMPARE(rig.notice, QStringLiteral("記録できません：ディスクに空きがありません"));
        rig.Command();
        QTRY_COMPARE(rig.peer.Count(), 2);
        QVERIFY(::dup2(fd, logFd) == logFd);
        rig.Command();
        QCOMPARE(rig.notice, QString());
        rig.Command();
        const QStringList rows = rig.Rows();
        const QString at = QStringLiteral("2026-06-21T12:00:00.000+09:00");
        const QString command = at + QStringLiteral(",command,\"0,188.82,44.21\",");
        QCOMPARE(rows.mid(rows.size() - 3),
                 (QStringList{at + QStringLiteral(",lost,,count=2"), command, command}));
        ::close(full);
        ::close(fd);
    }
};

QTEST_MAIN(TestControllerSession)
#include "test_controller_session.moc"
