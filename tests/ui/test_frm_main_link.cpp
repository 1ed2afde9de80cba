// The window over the link session with a real loopback peer as the antenna controller: start
// and stop, the command of every cycle, targets, failed starts and cycles, the health's colours
// and tooltips, and the blinking sun marker. The link's own behaviour is tested without a
// window, in the link session's test.
#include <QLineEdit>
#include <QPushButton>
#include <QToolTip>
#include <QtTest>

#include "base/errors.h"
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
    std::chrono::steady_clock::time_point steady{std::chrono::hours(100)};
    support::Peer peer;
    frmMain window{clock.Function(), [this] { return steady; }};

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
        QCOMPARE(rig.Edit("txtTargetAzimuth")->toolTip(), QString());
        rig.Edit("txtTargetAzimuth")->setText("20");
        for (const char* name : {"txtTargetElevation", "txtTargetAzimuth"}) {
            QCOMPARE(rig.Edit(name)->toolTip(), QStringLiteral("計算停止→計算開始で反映されます"));
        }
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        QCOMPARE(rig.peer.Payloads().last(), QByteArray("0,188.82,44.21"));

        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // stop
        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // start with the new target
        QVERIFY(rig.Running());
        QVERIFY(rig.Socket()->localPort() != 0);
        QCOMPARE(rig.window.State().TargetAzimuth, 20.0);
        QCOMPARE(rig.Edit("txtTargetAzimuth")->toolTip(), QString());
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 2);
        QVERIFY(rig.peer.Payloads().last() != QByteArray("0,188.82,44.21"));
    }

    void lenientTargets_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("starts");
        QTest::newRow("trailing letters") << "12abc" << 12.0 << true;
        QTest::newRow("empty") << "" << 0.0 << true;
        QTest::newRow("inner blank") << "1 2" << 12.0 << true;
        QTest::newRow("nadir") << "-90" << -90.0 << true;
        QTest::newRow("zenith") << "90" << 90.0 << true;
        QTest::newRow("beyond the zenith") << "90.01" << 90.01 << false;
        QTest::newRow("below the nadir") << "-91" << -91.0 << false;
    }

    void lenientTargets() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(bool, starts);
        Rig rig;
        rig.Edit("txtTargetElevation")->setText(text);
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Ok);
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        QCOMPARE(rig.Running(), starts);
        QCOMPARE(answer.boxes, starts ? 0 : 1);
        QCOMPARE(rig.window.State().TargetElevation, value);
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
        // Failed cycles send nothing, so the silence is not the controller's.
        rig.steady += std::chrono::seconds(5);
        rig.window.Timer_cal_Timer();
        QTest::qWait(300);
        QCOMPARE(rig.peer.Received().size(), 1);
        QCOMPARE(rig.Chart().Notice(), QString());

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

    // The health's colours and words on the 現在 fields and the chart; the tooltip changes
    // while it is shown.
    void healthShown_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<QString>("colour");
        QTest::newRow("no reply, 1 s") << QByteArray() << 1 << "yellow";
        QTest::newRow("no reply, 5 s") << QByteArray() << 5 << "red";
        QTest::newRow("echo") << QByteArray("0,188.82,44.21") << 1 << "green";
        QTest::newRow("limit") << QByteArray("0,188.82,44.21,limit") << 1 << "red";
    }

    void healthShown() {
        QFETCH(QByteArray, reply);
        QFETCH(int, secondsLater);
        QFETCH(QString, colour);
        Rig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        QLineEdit* field = rig.Edit("txtAntennaAzimuth");
        QTest::mouseMove(field);
        QToolTip::showText(field->mapToGlobal(QPoint(2, 2)), field->toolTip(), field);
        if (!reply.isEmpty()) {
            rig.Reply(rig.peer, reply);
        }
        for (int s = 0; s < secondsLater; ++s) {
            rig.steady += std::chrono::seconds(1);
            rig.window.Timer_cal_Timer();
        }
        QTRY_COMPARE(QToolTip::text(), field->toolTip());
        const QColor tint = rig.Tint("txtAntennaElevation");
        QCOMPARE(Reddish(tint), colour == "red");
        QCOMPARE(Greenish(tint), colour == "green");
        QCOMPARE(Yellowish(tint), colour == "yellow");
        QCOMPARE(rig.Chart().Notice().isEmpty(), colour != "red");
        for (const auto& op : rig.Chart().Operations()) {
            QVERIFY(!op.box.intersects(rig.Chart().NoticeBox()));
        }
        QTest::mouseClick(rig.Start(), Qt::LeftButton);  // stopped: the normal background
        QCOMPARE(rig.Tint("txtAntennaAzimuth"), rig.window.palette().color(QPalette::Base));
        QCOMPARE(rig.Chart().Notice(), QString());
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
