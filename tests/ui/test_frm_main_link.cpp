// The window over the link session with a real loopback peer as the antenna controller: start
// and stop, the command of every cycle, targets, failed starts and cycles, the health's colours
// and tooltips. The link's own behaviour is tested without a window, in the session's test.
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include "base/errors.h"
#include "ui/chart_view.h"
#include "ui/clock_sync.h"
#include "ui/frm_main.h"
#include "ui_test_support.h"

using heliostat::link::LinkHealth;
using heliostat::ui::ChartView;
namespace support = heliostat::ui::test;
using Kind = ChartView::Operation::Kind;

namespace {

// The window at latitude 35, longitude 135 with targets 10 / 200, talking to `peer`.
struct Rig {
    support::ManualClock clock;
    std::chrono::steady_clock::time_point steady{std::chrono::hours(100)};
    support::Peer peer;
    heliostat::ui::frmMain window{clock.Function(), [this] { return steady; }};

    Rig() {
        for (const auto& [name, text] : {std::pair{"txtObserverLatitude", QStringLiteral("35")},
                                         {"txtObserverLongtitude", QStringLiteral("135")},
                                         {"txtTargetElevation", QStringLiteral("10")},
                                         {"txtTargetAzimuth", QStringLiteral("200")},
                                         {"txtACTLR_Port", QString::number(peer.Port())}}) {
            Edit(name)->setText(text);
        }
    }
    QLineEdit* Edit(const char* name) const {
        return window.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    void Press() const {
        QTest::mouseClick(window.findChild<QPushButton*>("cmdStart"), Qt::LeftButton);
    }
    const ChartView& Chart() const { return *window.findChild<ChartView*>("picView"); }
    // Running: the cycle's timer, the button's caption and the socket agree.
    bool Running(bool running = true) const {
        return window.findChild<QTimer*>("Timer_cal")->isActive() == running &&
               window.findChild<QPushButton*>("cmdStart")->text() ==
                   (running ? QStringLiteral("計算停止") : QStringLiteral("計算開始")) &&
               window.findChild<QUdpSocket*>("Winsock1")->state() ==
                   (running ? QAbstractSocket::BoundState : QAbstractSocket::UnconnectedState);
    }
    void Cycle(qsizetype sent) {
        window.Timer_cal_Timer();
        QTRY_COMPARE(peer.Count(), sent);
    }
};

}  // namespace

class TestFrmMainLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    // The first command about 750 ms after the press, on the real timer; a stop press and a
    // confirmed close each end the sending.
    void startSendsUntilStoppedOrClosed() {
        Rig rig;
        rig.window.show();
        QVERIFY(rig.peer.Bound() && QTest::qWaitForWindowExposed(&rig.window));
        rig.Press();
        QVERIFY(rig.Running());
        QCOMPARE(rig.window.findChild<QTimer*>("Timer_cal")->timerType(), Qt::PreciseTimer);
        QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Count(), 1, 3000);
        QCOMPARE(rig.peer.Payloads().first(), QByteArray("0,188.82,44.21"));
        QCOMPARE(rig.Edit("txtSettingElevation")->text(), QStringLiteral(" 78.43"));
        QCOMPARE(rig.Edit("txtSettingAzimuth")->text(), QStringLiteral("177.63"));
        rig.Press();
        QVERIFY(rig.Running(false));
        rig.Press();
        auto no = support::ModalAnswerer::Pressing(QMessageBox::No);
        QVERIFY(!rig.window.close());
        QCOMPARE(no.boxes, 1);
        QVERIFY(rig.Running());
        auto yes = support::ModalAnswerer::Pressing(QMessageBox::Yes);
        QVERIFY(rig.window.close());
        QCOMPARE(yes.boxes, 1);
        QVERIFY(!rig.window.isVisible());
        const auto count = rig.peer.Count();
        QTest::qWait(1000);
        QCOMPARE(rig.peer.Count(), count);
    }

    // Targets are read at every press and only there; a stop press stops whatever they hold.
    void targetsTakenAtThePress() {
        Rig rig;
        rig.Press();
        QCOMPARE(rig.Edit("txtTargetAzimuth")->toolTip(), QString());
        rig.Edit("txtTargetAzimuth")->setText("20");
        for (const char* name : {"txtTargetElevation", "txtTargetAzimuth"}) {
            QCOMPARE(rig.Edit(name)->toolTip(), QStringLiteral("計算停止→計算開始で反映されます"));
        }
        rig.Cycle(1);
        QCOMPARE(rig.peer.Payloads().last(), QByteArray("0,188.82,44.21"));
        rig.Press();  // stop
        rig.Press();  // start with the new target
        QVERIFY(rig.Running());
        QCOMPARE(rig.window.State().TargetAzimuth, 20.0);
        QCOMPARE(rig.Edit("txtTargetAzimuth")->toolTip(), QString());
        rig.Cycle(2);
        QVERIFY(rig.peer.Payloads().last() != QByteArray("0,188.82,44.21"));
        rig.Edit("txtTargetElevation")->setText("1e999");
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Ok);
        rig.Press();
        QCOMPARE(answer.boxes, 1);
        QVERIFY(rig.Running(false));
    }

    // The session's refusals (the port rule, a failed lookup) and the window's own (a target
    // beyond the zenith or nadir, read by the lenient rule) end in one warning naming the text;
    // the mended fields start.
    void startOrWarning_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("target");
        QTest::addColumn<double>("value");   // the target elevation taken
        QTest::addColumn<QString>("named");  // in the warning; none: the link starts
        // clang-format off
        QTest::newRow("port 70000") << "127.0.0.1" << "70000" << "10" << 10.0 << "70000";
        QTest::newRow("unknown host")
            << "no-such-host.invalid" << "10006" << "10" << 10.0 << "no-such-host.invalid";
        QTest::newRow("target too large") << "127.0.0.1" << "" << "1e999" << 0.0 << "大きすぎます";
        QTest::newRow("trailing letters") << "127.0.0.1" << "" << "12abc" << 12.0 << "";
        QTest::newRow("nadir") << "127.0.0.1" << "" << "-90" << -90.0 << "";
        QTest::newRow("zenith") << "127.0.0.1" << "" << "90" << 90.0 << "";
        QTest::newRow("beyond the zenith") << "127.0.0.1" << "" << "90.01" << 90.01 << "90.01";
        QTest::newRow("below the nadir") << "127.0.0.1" << "" << "-91" << -91.0 << "-91";
        // clang-format on
    }

    void startOrWarning() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, target);
        QFETCH(double, value);
        QFETCH(QString, named);
        Rig rig;
        rig.Edit("txtACTLR_IP")->setText(host);
        if (!port.isEmpty()) {
            rig.Edit("txtACTLR_Port")->setText(port);
        }
        rig.Edit("txtTargetElevation")->setText(target);
        auto answer = support::ModalAnswerer::Pressing(QMessageBox::Ok);
        rig.Press();
        if (named.isEmpty()) {
            QVERIFY(rig.Running());
            QCOMPARE(answer.boxes, 0);
            QCOMPARE(rig.window.State().TargetElevation, value);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(answer.boxes, 1, 10000);
        QCOMPARE(answer.icon, QMessageBox::Warning);
        QVERIFY2(answer.text.contains(named), qPrintable(answer.text));
        QVERIFY(rig.Running(false));
        rig.Edit("txtACTLR_IP")->setText("127.0.0.1");
        rig.Edit("txtACTLR_Port")->setText(QString::number(rig.peer.Port()));
        rig.Edit("txtTargetElevation")->setText("10");
        rig.Press();
        QVERIFY(rig.Running());
    }

    void failedCycleRetries_data() {
        QTest::addColumn<int>("goodHour");  // the last good cycle before the failure
        QTest::addColumn<QString>("goodText");
        // clang-format off
        QTest::newRow("after a day cycle") << 12 << "日の入りは";
        QTest::newRow("after a night cycle") << 23 << "沈んでます。";
        // clang-format on
    }

    // A cycle that fails sends nothing, says why on the chart clear of every label, leaves no
    // sunset or sunrise text standing, greys the computed fields, and the next tick tries again.
    void failedCycleRetries() {
        QFETCH(int, goodHour);
        QFETCH(QString, goodText);
        Rig rig;
        const QColor normal = rig.Edit("txtSettingAzimuth")->palette().color(QPalette::Text);
        // Never started, the link has no destination: that cycle fails too.
        rig.window.Timer_cal_Timer();
        QCOMPARE(rig.Chart().Operations().back().kind, Kind::Failure);
        QVERIFY_THROWS_EXCEPTION(heliostat::HeliostatError, rig.window.SendMirrorCommand());
        rig.clock.now = support::Jst(2026, 6, 21, goodHour, 0);
        rig.Press();
        rig.Cycle(1);
        rig.Edit("txtObserverLatitude")->setText("abc");
        rig.window.Timer_cal_Timer();
        const auto& ops = rig.Chart().Operations();
        QCOMPARE(ops.back().kind, Kind::Failure);
        QCOMPARE(ops.back().text, QStringLiteral("観測点緯度「abc」が数値ではありません"));
        QVERIFY(ops.back().lines.size() >= 1 && ops.back().lines.size() <= 2);
        int labels = 0;
        for (const auto& op : ops) {
            if (op.kind == Kind::Text) {
                ++labels;
                QVERIFY2(op.text != goodText && !op.box.intersects(ops.back().box),
                         qPrintable(op.text));
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
        QCOMPARE(rig.peer.Count(), 1);
        QCOMPARE(rig.Chart().Notice(), QString());
        rig.Edit("txtObserverLatitude")->setText("35");
        rig.Cycle(2);
        for (const auto& op : rig.Chart().Operations()) {
            QVERIFY(op.kind != Kind::Failure);
        }
        QCOMPARE(rig.Edit("txtSettingAzimuth")->palette().color(QPalette::Text), normal);
    }

    // The health's colours and words on the 現在 fields and the chart; the tooltip changes
    // while it is shown.
    void healthShown_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<QColor>("tint");
        // clang-format off
        QTest::newRow("no reply, 1 s") << QByteArray() << 1 << QColor(255, 235, 110);
        QTest::newRow("no reply, 5 s") << QByteArray() << 5 << QColor(255, 150, 150);
        QTest::newRow("echo") << QByteArray("0,188.82,44.21") << 1 << QColor(150, 230, 150);
        QTest::newRow("0.2 off") << QByteArray("0,189.02,44.21") << 1 << QColor(255, 235, 110);
        QTest::newRow("limit") << QByteArray("0,188.82,44.21,limit") << 1 << QColor(255, 150, 150);
        // clang-format on
    }

    void healthShown() {
        QFETCH(QByteArray, reply);
        QFETCH(int, secondsLater);
        QFETCH(QColor, tint);
        Rig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        rig.Press();
        rig.Cycle(1);
        QLineEdit* field = rig.Edit("txtAntennaAzimuth");
        QTest::mouseMove(field);
        QToolTip::showText(field->mapToGlobal(QPoint(2, 2)), field->toolTip(), field);
        if (!reply.isEmpty()) {
            QVERIFY(rig.peer.SendTo(reply, rig.window.findChild<QUdpSocket*>()->localPort()));
            QTest::qWait(100);
        }
        for (int s = 0; s < secondsLater; ++s) {
            rig.steady += std::chrono::seconds(1);
            rig.window.Timer_cal_Timer();
        }
        QTRY_COMPARE(QToolTip::text(), field->toolTip());
        QCOMPARE(rig.Edit("txtAntennaElevation")->palette().color(QPalette::Base), tint);
        QCOMPARE(rig.Chart().Notice().isEmpty(), tint != QColor(255, 150, 150));
        for (const auto& op : rig.Chart().Operations()) {
            QVERIFY(!op.box.intersects(rig.Chart().NoticeBox()));
        }
        rig.Press();  // stopped: the normal background
        QCOMPARE(field->palette().color(QPalette::Base),
                 rig.window.palette().color(QPalette::Base));
        QCOMPARE(rig.Chart().Notice(), QString());
    }

    // The command line reaches the session: the record's start row, and the reply timeout. An
    // untrustworthy system clock is recorded once in each run.
    void optionsReachTheSession() {
        Rig rig;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("session.csv"));
        heliostat::ui::WindowOptions options;
        options.replyTimeoutSeconds = 10;
        options.pointing = heliostat::cycle::Pointing::Exact;
        rig.window.Configure(options, heliostat::link::SessionLog::Open(path.toStdString()));
        rig.Press();
        rig.Cycle(1);
        rig.steady += std::chrono::seconds(5);
        rig.Cycle(2);  // unanswered for 5 s: waiting, not silent
        QCOMPARE(rig.Edit("txtAntennaElevation")->palette().color(QPalette::Base),
                 QColor(255, 235, 110));
        // Three runs (this one and two restarts), each ticking twice.
        for (int restart = 0; restart <= 2; ++restart) {
            rig.window.tmrTime_Timer();
            rig.window.tmrTime_Timer();
            if (restart < 2) {
                rig.Press();  // stop, then start again
                rig.Press();
            }
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray record = file.readAll();
        QVERIFY(record.contains(" pointing=exact reply_timeout=10"));
        // The kernel's own clock state decides whether there is anything to record.
        const bool trouble = !heliostat::ui::ClockTrouble(heliostat::ui::ReadClockSync()).empty();
        QCOMPARE(record.count(",clock,"), trouble ? 3 : 0);
    }
};

QTEST_MAIN(TestFrmMainLink)
#include "test_frm_main_link.moc"
