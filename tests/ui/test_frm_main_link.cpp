// The window with a real loopback peer as the antenna controller: start and stop, the command
// of every cycle, replies, failed starts, failed cycles and the blinking sun marker.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "astro/errors.h"
#include "ui/chart_view.h"
#include "ui/frm_main.h"
#include "ui_test_support.h"

using heliostat::ui::ChartView;
using heliostat::ui::frmMain;
namespace support = heliostat::ui::test;
namespace cycle = heliostat::cycle;

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

// What the cycle itself writes and sends for the same inputs, over plain memory.
std::string ExpectedPayload(std::chrono::system_clock::time_point at) {
    support::MemoryHost host;
    host.texts[cycle::Field::ObserverLatitude] = "35";
    host.texts[cycle::Field::ObserverLongtitude] = "135";
    cycle::WindowState state;
    state.TargetElevation = 10;
    state.TargetAzimuth = 200;
    cycle::SOLCAL(state, host, at);
    return host.sent;
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
        QCOMPARE(night.toStdString(), ExpectedPayload(rig.clock.now));
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
        QTest::newRow("three fields") << QByteArray("0,180.02,45.66") << "180.02"
                                      << "45.66";
        QTest::newRow("two fields") << QByteArray("0,180.02") << "180.02"
                                    << "";
        QTest::newRow("no comma") << QByteArray("180.02") << ""
                                  << "";
        QTest::newRow("blank kept") << QByteArray("0,180.02 ,45.66") << "180.02 "
                                    << "45.66";
        QTest::newRow("line break kept") << QByteArray("0,1,2\r\n") << "1"
                                         << "2\r\n";
        QTest::newRow("more than five") << QByteArray("0,1,2,3,4,5,6,7") << "1"
                                        << "2";
        QTest::newRow("byte per character") << QByteArray("0,\xb0,\xe9") << "\u00b0"
                                            << "\u00e9";
    }

    void replies() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, azimuth);
        QFETCH(QString, elevation);
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.Edit("txtAntennaAzimuth")->setText("old");
        rig.Edit("txtAntennaElevation")->setText("old");
        rig.Reply(rig.peer, payload);
        QCOMPARE(rig.Edit("txtAntennaAzimuth")->text(), azimuth);
        QCOMPARE(rig.Edit("txtAntennaElevation")->text(), elevation);
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
        QCOMPARE(answer.boxes, 1);
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
        QVERIFY(rig.Running());
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
    }

    // A cycle that fails sends nothing, says why on the chart and the next tick tries again.
    void failedCycleRetries() {
        Rig rig;
        QTest::mouseClick(rig.Start(), Qt::LeftButton);
        rig.Edit("txtObserverLatitude")->setText("abc");
        rig.window.Timer_cal_Timer();

        support::MemoryHost host;
        host.texts[cycle::Field::ObserverLatitude] = "abc";
        host.texts[cycle::Field::ObserverLongtitude] = "135";
        cycle::WindowState state;
        QString expected;
        try {
            cycle::SOLCAL(state, host, rig.clock.now);
        } catch (const heliostat::HeliostatError& e) {
            expected = QString::fromUtf8(e.what());
        }
        QVERIFY(!expected.isEmpty());
        const auto& last = rig.Chart().Operations().back();
        QCOMPARE(last.kind, ChartView::Operation::Kind::Failure);
        QCOMPARE(last.text, expected);
        QVERIFY(rig.Running());
        QTest::qWait(200);
        QCOMPARE(rig.peer.Received().size(), 0);

        rig.Edit("txtObserverLatitude")->setText("35");
        rig.window.Timer_cal_Timer();
        QTRY_COMPARE(rig.peer.Received().size(), 1);
        QCOMPARE(rig.peer.Payloads().last(), QByteArray("0,188.82,44.21"));
        for (const auto& op : rig.Chart().Operations()) {
            QVERIFY(op.kind != ChartView::Operation::Kind::Failure);
        }
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
