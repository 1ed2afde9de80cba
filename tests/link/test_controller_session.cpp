// The link session with a real loopback peer as the antenna controller, no window: replies and
// their checks, who may answer, health on a hand-moved monotonic clock, recovery from ICMP
// errors, the stow, the record and the beam error.
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "base/jst_clock.h"
#include "link/controller_link.h"
#include "link/controller_session.h"
#include "link/loopback_peer.h"

using namespace heliostat::link;
using heliostat::link::test::Peer;
Q_DECLARE_METATYPE(LinkHealth)

namespace {

// 2026-06-21 12:00 JST at 35 N 135 E, target 10 / 200; the day's command is 188.82 / 44.21.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("session.csv"));
    std::chrono::system_clock::time_point utc =
        heliostat::base::FromJst({2026, 6, 21, 12, 0, 0, 0});
    std::chrono::steady_clock::time_point steady{std::chrono::hours(100)};
    Peer peer;
    ControllerSession session{[this] { return utc; }, [this] { return steady; }};
    QString azimuth = QStringLiteral("old"), elevation = QStringLiteral("old"), tip, notice;
    SessionLog* log = nullptr;

    explicit Rig(const SessionOptions& options = {}) {
        std::string error;
        auto opened = SessionLog::Open(path.toStdString(), error);
        log = opened.get();
        session.Configure(options, std::move(opened));
        QObject::connect(
            &session, &ControllerSession::ReplyShown,
            [this](const QString& a, const QString& e) { azimuth = a, elevation = e; });
        QObject::connect(
            &session, &ControllerSession::HealthChanged,
            [this](LinkHealth, const QString& t, const QString& n) { tip = t, notice = n; });
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
    QStringList Rows() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll())
                         .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)
                   : QStringList();
    }
};

}  // namespace

class TestControllerSession : public QObject {
    Q_OBJECT

private slots:
    void replies_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("shown");  // "AZ|EL"
        QTest::addColumn<int>("invalid");
        QTest::newRow("three fields") << QByteArray("0,180.02,45.66") << "180.02|45.66" << 0;
        QTest::newRow("two fields") << QByteArray("0,180.02") << "180.02|" << 0;
        QTest::newRow("line break kept, not trimmed") << QByteArray("0,1 ,2\r\n") << "1 |2\r\n"
                                                      << 0;
        QTest::newRow("fourth field: fields 2 and 3 still shown")
            << QByteArray("0,1,2,limit") << "1|2" << 0;
        // Anything but a finite number (or nothing) is not shown, and counted; the splitting
        // and the number rule themselves are the wire test's.
        QTest::newRow("nan and -Infinity") << QByteArray("0,nan,-Infinity") << "old|old" << 1;
        QTest::newRow("bytes outside ASCII") << QByteArray("0,\xb0,\xe9") << "old|old" << 1;
        QTest::newRow("32000 characters")
            << QByteArray("0,") + QByteArray(32000, '1') << "old|old" << 1;
    }

    void replies() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, shown);
        QFETCH(int, invalid);
        Rig rig;
        rig.Start();
        rig.Reply(rig.peer, payload);
        QCOMPARE(rig.azimuth + u'|' + rig.elevation, shown);
        QCOMPARE(rig.session.InvalidReplies(), invalid);
        QCOMPARE(rig.tip.contains(QStringLiteral("数値でない応答 1 件")), invalid == 1);
    }

    // An empty datagram would continue an older reply's remainder; two replies between two
    // cycles are both shown, the later one last.
    void splitterRemainder() {
        Rig rig;
        rig.Start();
        rig.Reply(rig.peer, "0,1,2,3,4,5,6,7,8");
        rig.Reply(rig.peer, QByteArray());
        QCOMPARE(rig.azimuth + u'|' + rig.elevation, QStringLiteral("1|2"));
        QVERIFY(rig.peer.SendTo("0,1,2", rig.session.LocalPort()));
        rig.Reply(rig.peer, "0,8,9");
        QCOMPARE(rig.azimuth + u'|' + rig.elevation, QStringLiteral("8|9"));
    }

    // Replies count only from the controller's address and port; others are recorded with
    // their source and never reach the splitter.
    void whoMayAnswer_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("anyPort");
        QTest::addColumn<bool>("counted");
        QTest::newRow("the controller's socket") << "controller" << false << true;
        QTest::newRow("another port of its address") << "127.0.0.1" << false << false;
        QTest::newRow("another port, --reply-from-any-port") << "127.0.0.1" << true << true;
        QTest::newRow("another address") << "127.0.0.2" << false << false;
        QTest::newRow("another address, --reply-from-any-port") << "127.0.0.2" << true << false;
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
        Peer other{QHostAddress(from == "controller" ? QStringLiteral("127.0.0.1") : from)};
        Peer& sender = from == "controller" ? rig.peer : other;
        rig.Reply(sender, "0,1,2,3,4,5,6,7,8");  // a long one: its rest must not stay behind
        rig.Reply(rig.peer, "0,188.82,44.21");
        QCOMPARE(rig.azimuth, QStringLiteral("188.82"));
        rig.Reply(sender, "0,180.02,45.66");
        QCOMPARE(rig.azimuth, counted ? QStringLiteral("180.02") : QStringLiteral("188.82"));
        QCOMPARE(rig.session.ForeignDatagrams(), counted ? 0 : 2);
        const QString foreign =
            QStringLiteral(",foreign,\"0,180.02,45.66\",from=%1:%2").arg(from).arg(other.Port());
        QCOMPARE(rig.Rows().filter(foreign).size(), counted ? 0 : 1);
    }

    void health_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<double>("later");      // seconds on the monotonic clock
        QTest::addColumn<bool>("sending");      // commands go out meanwhile
        QTest::addColumn<double>("timeout");
        QTest::addColumn<LinkHealth>("health");
        QTest::addColumn<QString>("notice");
        QTest::newRow("no reply, 1 s")
            << QByteArray() << 1.0 << true << 3.0 << LinkHealth::Waiting << "";
        QTest::newRow("no reply, 5 s") << QByteArray() << 5.0 << true << 3.0 << LinkHealth::Silent
                                       << "コントローラから応答なし（5秒）";
        QTest::newRow("no reply, 5 s, --reply-timeout 10")
            << QByteArray() << 5.0 << true << 10.0 << LinkHealth::Waiting << "";
        QTest::newRow("cycles fail, nothing sent")
            << QByteArray() << 9.0 << false << 3.0 << LinkHealth::Waiting << "";
        QTest::newRow("echo, 1 s")
            << QByteArray("0,188.82,44.21") << 1.0 << true << 3.0 << LinkHealth::OnTarget << "";
        QTest::newRow("0.1 off") << QByteArray("0,188.92,44.31") << 1.0 << true << 3.0
                                 << LinkHealth::OnTarget << "";
        QTest::newRow("0.2 off") << QByteArray("0,189.02,44.21") << 1.0 << true << 3.0
                                 << LinkHealth::Moving << "";
        QTest::newRow("echo, 4 s old") << QByteArray("0,188.82,44.21") << 4.0 << true << 3.0
                                       << LinkHealth::Silent << "コントローラから応答なし（4秒）";
        QTest::newRow("invalid reply only")
            << QByteArray("0,nan,nan") << 4.0 << true << 3.0 << LinkHealth::Silent
            << "コントローラから応答なし（4秒）";
        QTest::newRow("limit")
            << QByteArray("0,180.00,10.00,limit") << 1.0 << true << 3.0 << LinkHealth::Refused
            << "コントローラが範囲外の指令を拒否しました（方位角 188.82 仰角 44.21）";
        QTest::newRow("parked") << QByteArray("0,180.00,.00,parked\r\n") << 1.0 << true << 3.0
                                << LinkHealth::Parked
                                << "コントローラが反射鏡を退避させました（指令が途絶えたため）";
        QTest::newRow("unknown word: tooltip only") << QByteArray("0,188.82,44.21,stuck") << 1.0
                                                    << true << 3.0 << LinkHealth::OnTarget << "";
    }

    void health() {
        QFETCH(QByteArray, reply);
        QFETCH(double, later);
        QFETCH(bool, sending);
        QFETCH(double, timeout);
        QFETCH(LinkHealth, health);
        QFETCH(QString, notice);
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
        QCOMPARE(rig.tip.contains(QStringLiteral("「stuck」")), reply.endsWith("stuck"));
        QCOMPARE(rig.Rows().filter(QStringLiteral(" flag=stuck")).size(),
                 reply.endsWith("stuck") ? 1 : 0);
        rig.session.Stop();
        QCOMPARE(rig.session.Health(), LinkHealth::Stopped);
        QCOMPARE(rig.notice, QString());
    }

    // Silence and recovery are state changes: one row each, not one per update.
    void recoveryAfterSilence() {
        Rig rig;
        rig.Start();
        rig.Command();
        rig.Advance(12);
        QCOMPARE(rig.notice, QStringLiteral("コントローラから応答なし（12秒）"));
        rig.Advance(1);
        rig.Reply(rig.peer, "0,188.50,44.21");
        QCOMPARE(rig.session.Health(), LinkHealth::Moving);
        rig.Reply(rig.peer, "0,188.82,44.21");
        QCOMPARE(rig.session.Health(), LinkHealth::OnTarget);
        QCOMPARE(rig.notice, QString());
        QCOMPARE(rig.Rows().filter(QStringLiteral(",silent,")).size(), 1);
        QCOMPARE(rig.Rows().filter(QStringLiteral(",recovered,")).size(), 1);
    }

    // A reply of an earlier run says nothing about this one.
    void newStartForgetsTheLastReply() {
        Rig rig;
        rig.Start();
        rig.Command();
        rig.Reply(rig.peer, "0,188.82,44.21");
        QCOMPARE(rig.session.Health(), LinkHealth::OnTarget);
        rig.session.Stop();
        rig.Start();
        rig.Command();
        rig.session.UpdateHealth();
        QCOMPARE(rig.session.Health(), LinkHealth::Waiting);
    }

    // Nothing listens: the ICMP error shows as red; then a controller starts on that port and
    // the link must hear it, on the real clock, within 2 s.
    void icmpErrorThenRecovery() {
        quint16 closed = 0;
        {
            Peer gone;
            closed = gone.Port();
        }
        Rig rig;
        rig.steady = std::chrono::steady_clock::now();
        rig.Start(closed);
        QTimer cycle;
        QObject::connect(&cycle, &QTimer::timeout, [&rig] {
            rig.steady = std::chrono::steady_clock::now();
            rig.Command();
        });
        cycle.start(250);
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.Health(), LinkHealth::Silent, 3000);
        QCOMPARE(rig.notice, QStringLiteral("コントローラのポートに届きません"));
        QVERIFY2(!rig.tip.contains(QStringLiteral("port")), qPrintable(rig.tip));
        QTest::qWait(500);  // more errors queued while nobody listens
        Peer controller(QHostAddress(QStringLiteral("127.0.0.1")), closed);
        QVERIFY(controller.Bound());
        controller.echo = true;
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.Health(), LinkHealth::OnTarget, 2000);
        QCOMPARE(rig.notice, QString());
    }

    // The system refuses the first send after an ICMP error; the link sends that command again.
    void commandAfterIcmpErrorIsResent() {
        quint16 closed = 0;
        {
            Peer gone;
            closed = gone.Port();
        }
        ControllerLink link;
        link.Open(QHostAddress(QStringLiteral("127.0.0.1")), closed);
        link.Send("0,1.00,2.00");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the error arrives
        Peer controller(QHostAddress(QStringLiteral("127.0.0.1")), closed);
        link.Send("0,188.82,44.21");
        QTRY_COMPARE(controller.Received().size(), 1);
        QCOMPARE(controller.Payloads().first(), QByteArray("0,188.82,44.21"));
        QCOMPARE(link.TakeSocketError(),
                 std::optional<QString>(QStringLiteral("コントローラのポートに届きません")));
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
        QCOMPARE(rig.Rows().filter(QStringLiteral(",beam-alarm,,beam_error=69.")).size(), 1);
        // By hand: the normal halfway between the sun (78.43 / 177.63) and the target.
        rig.Reply(rig.peer, "0,196.27,44.52");
        QCOMPARE(rig.notice, QString());
        QCOMPARE(rig.Rows()
                     .filter(QRegularExpression(
                         QStringLiteral(",beam-ok,,beam_error=0\\.\\d{4} threshold=0.5$")))
                     .size(),
                 1);
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
        QTRY_COMPARE(rig.peer.Received().size(), 2);
        QVERIFY(::dup2(fd, logFd) == logFd);
        rig.Command();
        QCOMPARE(rig.notice, QString());
        const QStringList rows = rig.Rows();
        QCOMPARE(rows.mid(rows.size() - 2).join(u'|'),
                 QStringLiteral("2026-06-21T12:00:00.000+09:00,lost,,count=2|"
                                "2026-06-21T12:00:00.000+09:00,command,\"0,188.82,44.21\","));
        ::close(full);
        ::close(fd);
    }
};

QTEST_MAIN(TestControllerSession)
#include "test_controller_session.moc"
