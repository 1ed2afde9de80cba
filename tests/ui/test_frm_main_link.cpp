// The window with a real loopback peer as the antenna controller: start and stop, the command
// of every cycle, replies, failed starts, failed cycles and the blinking sun marker.
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "base/errors.h"
#include "link/session_log.h"
#include "ui/chart_view.h"
#include "ui/frm_main.h"
#include "ui_test_support.h"

using heliostat::link::LinkHealth;
using heliostat::ui::ChartView;
using heliostat::ui::frmMain;
namespace support = heliostat::ui::test;
namespace base = heliostat::base;

namespace {

// The window at latitude 35, longitude 135 with targets 10 / 200, talking to `peer`.
struct Rig {
    support::ManualClock clock;
    support::Peer peer;
    frmMain window{clock.Function()};

    Rig() {
        Edit("txtObserverLatitude")->setText("35");
        Edit("txtObserverLongtitude")->setText("135");
        Edit("txtTargetElevation")->setText("10");
        Edit("txtTargetAzimuth")->setText("200");
        Edit("txtACTLR_Port")->setText(QString::number(peer.Port()));
    }
    QLineEdit* Edit(const char* name) const {
        return window.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    QPushButton* Start() const { return window.findChild<QPushButton*>("cmdStart"); }
    QTimer* Timer() const { return window.findChild<QTimer*>("Timer_cal"); }
    QUdpSocket* Socket() const { return window.findChild<QUdpSocket*>("Winsock1"); }
    QColor Tint(const char* name) const { return Edit(name)->palette().color(QPalette::Base); }
    const ChartView& Chart() const { return *window.findChild<ChartView*>("picView"); }
    bool Running() const {
        return Timer()->isActive() && Start()->text() == QStringLiteral("計算停止") &&
               Socket()->state() == QAbstractSocket::BoundState;
    }
    bool Stopped() const {
        return !Timer()->isActive() && Start()->text() == QStringLiteral("計算開始") &&
               Socket()->state() == QAbstractSocket::UnconnectedState;
    }
    // Sends `payload` to the window from `from` and gives the event loop time to deliver it.
    void Reply(support::Peer& from, const QByteArray& payload) {
        QVERIFY(from.SendTo(payload, Socket()->localPort()));
        QTest::qWait(100);
    }
};

bool Reddish(const QColor& c) {
    return c.red() > c.green() + 60 && c.red() > c.blue() + 60;
}
bool Greenish(const QColor& c) {
    return c.green() > c.red() + 40 && c.green() > c.blue() + 40;
}
bool Yellowish(const QColor& c) {
    return c.red() > 200 && c.green() > 200 && c.blue() < 160;
}

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

}  // namespace

class TestFrmMainLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startSendsEveryCycleAndStopCloses() {
        Rig rig;
        QVERIFY(rig.peer.Bound());
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.Running());
        QCOMPARE(rig.Timer()->timerType(), Qt::PreciseTimer);

        // The real timer: the first command about 750 ms after the press.
        QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received().size(), 1, 3000);
        QCOMPARE(rig.peer.Payloads().first(), QByteArray("0,188.82,44.21"));
        QCOMPARE(rig.Edit("txtSettingElevation")->text(), QStringLiteral(" 78.43"));
        QCOMPARE(rig.Edit("txtSettingAzimuth")->text(), QStringLiteral("177.63"));

        // By night the command still goes out, pointed for the next sunrise.
        rig.clock.now = support::Jst(2026, 6, 21, 23, 0);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 2);
        const QByteArray night = rig.peer.Payloads().last();
        // By hand: at sunrise the sun stands on the horizon at about azimuth 61 degrees
        // (cos A = sin 23.44 / cos 35); the mirror takes the mean with the target (10, 200).
        QVERIFY2(night.startsWith("0,1") && night.endsWith(",5.00"), night.constData());
        QVERIFY2(qAbs(night.mid(2, 6).toDouble() - 130.5) < 0.75, night.constData());
        QCOMPARE(rig.Edit("txtSettingElevation")->text(), QStringLiteral(".00"));
        QVERIFY(!night.endsWith('\n') && !night.endsWith('\r') && !night.endsWith('\0'));

        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.Stopped());
        const auto count = rig.peer.Received().size();
        QTest::qWait(1000);
        QCOMPARE(rig.peer.Received().size(), count);
    }

    // Targets are read at every press and only there.
    void targetsTakenAtThePress() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.Edit("txtTargetAzimuth")->setText("20");
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        QCOMPARE(rig.peer.Payloads().last(), QByteArray("0,188.82,44.21"));

        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // stop
        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // start with the new target
        QVERIFY(rig.Running());
        QVERIFY(rig.Socket()->localPort() != 0);
        QCOMPARE(rig.window.State().TargetAzimuth, 20.0);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 2);
        QVERIFY(rig.peer.Payloads().last() != QByteArray("0,188.82,44.21"));
    }

    void lenientTargets_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("trailing letters") << "12abc" << 12.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("inner blank") << "1 2" << 12.0;
    }

    void lenientTargets() {
        QFETCH(QString, text);
        QFETCH(double, value);
        Rig rig;
        rig.Edit("txtTargetElevation")->setText(text);
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.Running());
        QCOMPARE(rig.window.State().TargetElevation, value);
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("azimuth");
        QTest::addColumn<QString>("elevation");
        QTest::addColumn<int>("invalid");
        QTest::newRow("three fields") << QByteArray("0,180.02,45.66") << "180.02"
                                      << "45.66" << 0;
        QTest::newRow("two fields") << QByteArray("0,180.02") << "180.02"
                                    << "" << 0;
        QTest::newRow("no comma") << QByteArray("180.02") << ""
                                  << "" << 0;
        QTest::newRow("blank kept") << QByteArray("0,180.02 ,45.66") << "180.02 "
                                    << "45.66" << 0;
        QTest::newRow("line break kept") << QByteArray("0,1,2\r\n") << "1"
                                         << "2\r\n"
                                         << 0;
        QTest::newRow("more than five") << QByteArray("0,1,2,3,4,5,6,7") << "1"
                                        << "2" << 0;
        // Anything but a finite number (or nothing) is not shown, and counted.
        QTest::newRow("nan and -Infinity") << QByteArray("0,nan,-Infinity") << "old"
                                           << "old" << 1;
        QTest::newRow("inf") << QByteArray("0,180.02,inf") << "old"
                             << "old" << 1;
        QTest::newRow("letters") << QByteArray("0,abc,45.66") << "old"
                                 << "old" << 1;
        QTest::newRow("control character") << QByteArray("0,180.02,\x07") << "old"
                                           << "old" << 1;
        QTest::newRow("bytes outside ASCII") << QByteArray("0,\xb0,\xe9") << "old"
                                             << "old" << 1;
        QTest::newRow("32000 characters") << QByteArray("0,") + QByteArray(32000, '1') << "old"
                                          << "old" << 1;
    }

    void replies() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, azimuth);
        QFETCH(QString, elevation);
        QFETCH(int, invalid);
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.Edit("txtAntennaAzimuth")->setText("old");
        rig.Edit("txtAntennaElevation")->setText("old");
        rig.Reply(rig.peer, payload);
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), azimuth);
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), elevation);
        QCOMPARE(rig.window.InvalidReplies(), invalid);
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->toolTip().contains(QStringLiteral("1 件")),
                 invalid == 1);
    }

    void emptyReplyAfterLongReplyIsDropped() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.Reply(rig.peer, "0,1,2,3,4,5,6,7,8");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("1"));
        rig.Reply(rig.peer, QByteArray());
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("1"));
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), QStringLiteral("2"));
        rig.Reply(rig.peer, "0,8,9");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("8"));
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), QStringLiteral("9"));
    }

    void twoRepliesBetweenCyclesLaterStays() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.peer.SendTo("0,1,2", rig.Socket()->localPort()));
        rig.Reply(rig.peer, "0,3,4");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("3"));
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), QStringLiteral("4"));
    }

    // Only the controller's address counts; its port does not.
    void repliesFromElsewhereIgnored() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        support::Peer stranger(QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(stranger.Bound());
        rig.Reply(stranger, "0,666,66");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QString());
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), QString());

        support::Peer otherPort;  // 127.0.0.1, another port
        rig.Reply(otherPort, "0,180.02,45.66");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("180.02"));

        // A stranger's long reply must not leave its rest in the splitter either.
        rig.Reply(stranger, "0,1,2,3,4,5,6,7,8");
        rig.Reply(otherPort, "0,5,6");
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), QStringLiteral("5"));
    }

    void failedStart_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("named");
        QTest::newRow("port not a number") << "127.0.0.1"
                                           << "abc"
                                           << "10"
                                           << "abc";
        QTest::newRow("port 0") << "127.0.0.1"
                                << "0"
                                << "10"
                                << "0";
        QTest::newRow("port 70000") << "127.0.0.1"
                                    << "70000"
                                    << "10"
                                    << "70000";
        QTest::newRow("port beyond 32 bits") << "127.0.0.1"
                                             << "1e10"
                                             << "10"
                                             << "1e10";
        QTest::newRow("unknown host") << "no-such-host.invalid"
                                      << "10006"
                                      << "10"
                                      << "no-such-host.invalid";
        QTest::newRow("target too large") << "127.0.0.1"
                                          << "10006"
                                          << "1e999"
                                          << "";
    }

    void failedStart() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, target);
        QFETCH(QString, named);
        Rig rig;
        rig.Edit("txtACTLR_IP")->setText(host);
        rig.Edit("txtACTLR_Port")->setText(port);
        rig.Edit("txtTargetElevation")->setText(target);
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Ok);
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        // A host name is looked up in the background; its failure comes a little later.
        QTRY_COMPARE_WITH_TIMEOUT(answer.boxes, 1, 10000);
        QCOMPARE(answer.icon, QMessageBox::Warning);
        QVERIFY(!answer.text.isEmpty());
        QVERIFY2(answer.text.contains(named), qPrintable(answer.text));
        QVERIFY(rig.Stopped());

        // The operator mends the fields and starts.
        rig.Edit("txtACTLR_IP")->setText("127.0.0.1");
        rig.Edit("txtACTLR_Port")->setText(QString::number(rig.peer.Port()));
        rig.Edit("txtTargetElevation")->setText("10");
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.Running());
    }

    void hostNameResolves() {
        Rig rig;
        rig.Edit("txtACTLR_IP")->setText("localhost");
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.Running(), 10000);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
    }

    void failedCycleRetries_data() {
        QTest::addColumn<int>("goodHour");  // the last good cycle before the failure
        QTest::addColumn<QString>("goodText");
        QTest::newRow("after a day cycle") << 12 << "日の入りは";
        QTest::newRow("after a night cycle") << 23 << "沈んでます。";
    }

    // A cycle that fails sends nothing, says why on the chart clear of every label, leaves no
    // sunset or sunrise text standing, greys the computed fields, and the next tick tries again.
    void failedCycleRetries() {
        QFETCH(int, goodHour);
        QFETCH(QString, goodText);
        Rig rig;
        rig.clock.now = support::Jst(2026, 6, 21, goodHour, 0);
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        const QColor normal = rig.Edit("txtSettingAzimuth")->palette().color(QPalette::Text);

        rig.Edit("txtObserverLatitude")->setText("abc");
        rig.window.Timer_cal_Timer();
        const auto& ops = rig.Chart().Operations();
        const auto& last = ops.back();
        QCOMPARE(last.kind, ChartView::Operation::Kind::Failure);
        QCOMPARE(last.text, QStringLiteral("観測点緯度「abc」が数値ではありません"));
        QVERIFY(last.lines.size() >= 1 && last.lines.size() <= 2);
        int labels = 0;
        for (const auto& op : ops) {
            if (op.kind == ChartView::Operation::Kind::Text) {
                ++labels;
                QVERIFY2(op.text != goodText, qPrintable(op.text));
                QVERIFY2(!op.box.intersects(last.box), qPrintable(op.text));
            }
        }
        QCOMPARE(labels, 7);  // N W E S and the three rings
        for (const char* name : {"txtSettingElevation", "txtSettingAzimuth", "txtMirrorElevation",
                                 "txtMirrorAzimuth"}) {
            QCOMPARE(rig.Edit(name)->palette().color(QPalette::Text), QColor(128, 128, 128));
        }
        QVERIFY(rig.Running());
        QTest::qWait(200);
        QCOMPARE(rig.peer.Received().size(), 1);

        rig.Edit("txtObserverLatitude")->setText("35");
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 2);
        for (const auto& op : rig.Chart().Operations()) {
            QVERIFY(op.kind != ChartView::Operation::Kind::Failure);
        }
        QCOMPARE(rig.Edit("txtSettingAzimuth")->palette().color(QPalette::Text), normal);
    }

    // The pressed stop ends the run even when the target texts cannot be read.
    void stopWithUnreadableTargetStops() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QVERIFY(rig.Running());
        rig.Edit("txtTargetElevation")->setText("1e999");
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Ok);
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QCOMPARE(answer.boxes, 1);
        QVERIFY(!rig.Timer()->isActive());
        QVERIFY(rig.Stopped());
    }

    // A controller on another machine answers to whatever address the commands came from, so
    // the socket must listen on all of them, not on loopback alone.
    void boundToTheAnyAddress() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QCOMPARE(rig.Socket()->localAddress(), QHostAddress(QHostAddress::Any));
    }

    void linkHealth_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<LinkHealth>("health");
        // The day cycle commands 188.82 / 44.21; the timeout is 3 s.
        QTest::newRow("no reply, 1 s") << QByteArray() << 1 << LinkHealth::Waiting;
        QTest::newRow("no reply, 5 s") << QByteArray() << 5 << LinkHealth::Silent;
        QTest::newRow("echo, 1 s") << QByteArray("0,188.82,44.21") << 1 << LinkHealth::OnTarget;
        QTest::newRow("0.1 off") << QByteArray("0,188.92,44.31") << 1 << LinkHealth::OnTarget;
        QTest::newRow("0.2 off") << QByteArray("0,189.02,44.21") << 1 << LinkHealth::Moving;
        QTest::newRow("echo, 4 s old") << QByteArray("0,188.82,44.21") << 4 << LinkHealth::Silent;
        QTest::newRow("invalid reply only") << QByteArray("0,nan,nan") << 4 << LinkHealth::Silent;
    }

    void linkHealth() {
        QFETCH(QByteArray, reply);
        QFETCH(int, secondsLater);
        QFETCH(LinkHealth, health);
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        if (!reply.isEmpty()) {
            rig.Reply(rig.peer, reply);
        }
        rig.clock.now += std::chrono::seconds(secondsLater);
        QTRY_COMPARE_WITH_TIMEOUT(rig.window.Health(), health, 1000);
        for (const char* name : {"txtAntennaAzimuth", "txtAntennaElevation"}) {
            const QColor tint = rig.Tint(name);
            QVERIFY(health != LinkHealth::Silent || Reddish(tint));
            QVERIFY(health != LinkHealth::OnTarget || Greenish(tint));
            QVERIFY((health != LinkHealth::Moving && health != LinkHealth::Waiting) ||
                    Yellowish(tint));
            QVERIFY(!rig.Edit(name)->toolTip().isEmpty());
        }
        if (health == LinkHealth::Silent) {
            QVERIFY2(rig.Chart().Notice().contains(QStringLiteral("応答なし")),
                     qPrintable(rig.Chart().Notice()));
            QVERIFY2(rig.Edit("txtAntennaAzimuth")->toolTip().contains(QStringLiteral("応答")),
                     qPrintable(rig.Edit("txtAntennaAzimuth")->toolTip()));
            for (const auto& op : rig.Chart().Operations()) {
                QVERIFY(!op.box.intersects(rig.Chart().NoticeBox()));
            }
        } else {
            QCOMPARE(rig.Chart().Notice(), QString());
        }

        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // stopped: the normal background
        QCOMPARE(rig.Tint("txtAntennaAzimuth"), rig.window.palette().color(QPalette::Base));
        QCOMPARE(rig.Chart().Notice(), QString());
    }

    // Silence and recovery are state changes: one record line each, not one per tick.
    void recoveryAfterSilence() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("session.csv"));
        std::string error;
        Rig rig;
        rig.window.Configure({}, heliostat::link::SessionLog::Open(path.toStdString(), error));
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        rig.clock.now += std::chrono::seconds(12);
        QTRY_COMPARE(rig.window.Health(), LinkHealth::Silent);
        QTRY_COMPARE(rig.Chart().Notice(), QStringLiteral("コントローラから応答なし（12秒）"));
        QTest::qWait(600);
        rig.Reply(rig.peer, "0,188.50,44.21");
        QCOMPARE(rig.window.Health(), LinkHealth::Moving);
        QVERIFY(Yellowish(rig.Tint("txtAntennaElevation")));
        // The clock stands still, so every command since the jump is the same; echo it.
        rig.Reply(rig.peer, rig.peer.Payloads().last());
        QCOMPARE(rig.window.Health(), LinkHealth::OnTarget);
        QVERIFY(Greenish(rig.Tint("txtAntennaElevation")));
        QCOMPARE(rig.Chart().Notice(), QString());
        const QStringList lines = FileLines(path);
        QCOMPARE(lines.filter(QStringLiteral(",silent,")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral(",recovered,")).size(), 1);
    }

    // Nothing listens on the port: the system reports the ICMP error, shown like silence.
    void refusedSendShownAsSilence() {
        Rig rig;
        quint16 closed = 0;
        {
            support::Peer gone;
            closed = gone.Port();
        }
        rig.Edit("txtACTLR_Port")->setText(QString::number(closed));
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.window.Health(), LinkHealth::Silent, 5000);
        QVERIFY(Reddish(rig.Tint("txtAntennaAzimuth")));
        QCOMPARE(rig.Chart().Notice(), QStringLiteral("コントローラのポートに届きません"));
        QVERIFY2(rig.Edit("txtAntennaAzimuth")->toolTip().contains("port unreachable"),
                 qPrintable(rig.Edit("txtAntennaAzimuth")->toolTip()));
    }

    void stowAndSessionRecord_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("stowed");
        QTest::newRow("stop press") << "stop" << true;
        QTest::newRow("exit confirmed") << "yes" << true;
        QTest::newRow("exit declined") << "no" << false;
    }

    // With --stow the mirror is parked before the link closes; the record tells every step,
    // with the reply's comma, quote and line break kept on one line.
    void stowAndSessionRecord() {
        QFETCH(QString, how);
        QFETCH(bool, stowed);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("session.csv"));
        std::string error;
        auto log = heliostat::link::SessionLog::Open(path.toStdString(), error);
        QVERIFY(log);
        Rig rig;
        heliostat::ui::WindowOptions options;
        options.stow = heliostat::ui::StowPosition{180, 0};
        rig.window.Configure(options, std::move(log));
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        const quint16 local = rig.Socket()->localPort();
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        rig.Reply(rig.peer, "0,1\"2,3\n");

        if (how == "stop") {
            QTest::mouseClick(rig.Start(), Qt::LeftButton);
        } else {
            auto answer =
                support::ModalAnswerer::Pressing(how == "yes" ? QMessageBox::Yes : QMessageBox::No);
            rig.window.close();
            QCOMPARE(answer.boxes, 1);
        }
        QTest::qWait(200);
        QCOMPARE(rig.peer.Payloads().last() == QByteArray("0,180.00,.00"), stowed);
        QCOMPARE(rig.peer.Received().size(), stowed ? 2 : 1);

        const QString at = QStringLiteral("2026-06-21 12:00:00.000,");
        QStringList expected = {
            QStringLiteral("time_jst,event,datagram,detail"),
            at + QStringLiteral("start,,127.0.0.1:%1 local %2").arg(rig.peer.Port()).arg(local),
            at + QStringLiteral("command,\"0,188.82,44.21\","),
            at + QStringLiteral("reply,\"0,1\"\"2,3\\n\","),
            at + QStringLiteral("invalid-reply,\"0,1\"\"2,3\\n\",方位角か仰角が数値ではありません"),
        };
        if (how == "stop") {
            expected << at + QStringLiteral("stow,\"0,180.00,.00\",")
                     << at + QStringLiteral("stop,,");
        } else if (how == "yes") {
            expected << at + QStringLiteral("stow,\"0,180.00,.00\",")
                     << at + QStringLiteral("exit,,");
        }
        QCOMPARE(FileLines(path), expected);
    }

    void refusedSendIsAFailedCycle() {
        Rig rig;  // never started: the link has no destination
        rig.window.Timer_cal_Timer();
        QCOMPARE(rig.Chart().Operations().back().kind, ChartView::Operation::Kind::Failure);
        QVERIFY_THROWS_EXCEPTION(heliostat::HeliostatError, rig.window.SendMirrorCommand());
    }

    // Day cycles alternate the marker starting with none; night cycles leave the phase.
    void markerBlinks() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        const auto day = support::Jst(2026, 6, 21, 12, 0);
        const auto night = support::Jst(2026, 6, 21, 23, 0);
        const struct {
            bool isDay;
            bool marker;
        } steps[] = {{true, false},  {true, true},   {false, false}, {true, false},
                     {false, false}, {false, false}, {true, true},   {true, false}};
        int step = 0;
        for (const auto& s : steps) {
            rig.clock.now = s.isDay ? day : night;
            const int phaseBefore = rig.window.State().SunMarkerPhase;
            rig.window.Timer_cal_Timer();
            const auto marker = support::FilledCircles(rig.Chart());
            QVERIFY2(marker.size() == (s.marker ? 1 : 0), qPrintable(QString::number(step)));
            if (s.marker) {
                QVERIFY(support::IsSunRed(rig.Chart().PixelAtTwips(marker[0].x, marker[0].y)));
            } else {
                QCOMPARE(support::RedPixelCount(rig.Chart().Image()), 0);
            }
            if (!s.isDay) {
                QCOMPARE(rig.window.State().SunMarkerPhase, phaseBefore);
            }
            ++step;
        }
        QTRY_COMPARE(rig.peer.Received().size(), int(std::size(steps)));
    }

    void closeWhileRunning() {
        Rig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QTest::mouseClick(rig.Start(), Qt::LeftButton);

        auto no = support::ModalAnswerer::Pressing(QMessageBox::No);
        QVERIFY(!rig.window.close());
        QCOMPARE(no.boxes, 1);
        QVERIFY(rig.Running());

        auto yes = support::ModalAnswerer::Pressing(QMessageBox::Yes);
        QVERIFY(rig.window.close());
        QCOMPARE(yes.boxes, 1);
        QVERIFY(!rig.window.isVisible());
        const auto count = rig.peer.Received().size();
        QTest::qWait(1000);
        QCOMPARE(rig.peer.Received().size(), count);
    }
};

QTEST_MAIN(TestFrmMainLink)
#include "test_frm_main_link.moc"
