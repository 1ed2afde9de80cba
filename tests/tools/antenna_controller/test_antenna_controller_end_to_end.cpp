// The operator's window driving the real antenna-controller process over loopback.
#include "controller_process.h"

#include "base/jst_clock.h"
#include "ui/frm_main.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>

using heliostat::test::Controller;

namespace {

double Number(const QLineEdit* edit, bool* ok) {
    return edit->text().toDouble(ok);
}

// A daytime clock that runs at real speed from 2024-05-10 11:00 JST (Tokyo, sun high in the
// south-east), so the commands change slowly as they would in use.
heliostat::base::UtcClock DaytimeClock() {
    const auto base = heliostat::base::FromJst({2024, 5, 10, 11, 0, 0, 0});
    const auto start = std::chrono::steady_clock::now();
    return [base, start] {
        return base + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          std::chrono::steady_clock::now() - start);
    };
}

}  // namespace

class TestAntennaControllerEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void windowSteersTheMountAndStops();
};

void TestAntennaControllerEndToEnd::windowSteersTheMountAndStops() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Controller controller;
    QVERIFY2(controller.start({"--log", dir.filePath("session.csv")}),
             controller.errors().constData());

    heliostat::ui::frmMain window(DaytimeClock());
    window.show();
    auto* port = window.findChild<QLineEdit*>("txtACTLR_Port");
    auto* address = window.findChild<QLineEdit*>("txtACTLR_IP");
    auto* start = window.findChild<QPushButton*>("cmdStart");
    auto* mirrorAz = window.findChild<QLineEdit*>("txtMirrorAzimuth");
    auto* mirrorEl = window.findChild<QLineEdit*>("txtMirrorElevation");
    auto* antennaAz = window.findChild<QLineEdit*>("txtAntennaAzimuth");
    auto* antennaEl = window.findChild<QLineEdit*>("txtAntennaElevation");
    QVERIFY(port && address && start && mirrorAz && mirrorEl && antennaAz && antennaEl);
    QCOMPARE(address->text(), QStringLiteral("127.0.0.1"));
    port->setText(QString::number(controller.port()));

    QElapsedTimer clock;
    clock.start();
    start->click();
    QCOMPARE(start->text(), QStringLiteral("計算停止"));

    // Sample once per cycle: the distance between commanded and reported angles must shrink
    // cycle after cycle until both axes are within 0.5 degrees.
    double previous = INFINITY;
    int samples = 0;
    int shrinking = 0;
    qint64 within = -1;
    QString last;
    for (QDeadlineTimer deadline(120000); !deadline.hasExpired() && within < 0;) {
        QTest::qWait(750);
        bool ok[4] = {};
        const double az = Number(mirrorAz, &ok[0]);
        const double el = Number(mirrorEl, &ok[1]);
        const double presentAz = Number(antennaAz, &ok[2]);
        const double presentEl = Number(antennaEl, &ok[3]);
        last = QStringLiteral("commanded %1,%2 present %3,%4")
                   .arg(mirrorAz->text(), mirrorEl->text(), antennaAz->text(), antennaEl->text());
        if (!(ok[0] && ok[1] && ok[2] && ok[3])) {
            continue;  // before the first cycle or the first reply
        }
        const double distance = std::max(std::abs(az - presentAz), std::abs(el - presentEl));
        ++samples;
        if (distance < previous) {
            ++shrinking;
        }
        previous = distance;
        if (distance <= 0.5) {
            within = clock.elapsed();
        }
    }
    QVERIFY2(within >= 0, qPrintable(last + "\n" + controller.errors().right(2000)));
    qInfo("present angles within 0.5 deg of the commanded ones %.1f s after cmdStart (%s)",
          double(within) / 1000, qPrintable(last));
    // The mount moved over several cycles rather than jumping, and the gap shrank each time.
    QVERIFY2(samples >= 3, qPrintable(QString::number(samples)));
    QVERIFY2(shrinking >= samples - 1,
             qPrintable(QStringLiteral("%1 of %2").arg(shrinking).arg(samples)));

    // Stop: no datagram reaches the controller afterwards.
    start->click();
    QCOMPARE(start->text(), QStringLiteral("計算開始"));
    QTest::qWait(300);  // a datagram already on its way
    // The session record has a row per command (the log only one per new target).
    const auto commandRows = [&dir] {
        QFile file(dir.filePath("session.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().count("Z,\"0,") : -1;
    };
    const qsizetype commands = commandRows();
    QVERIFY(commands >= 3);
    QTest::qWait(2500);  // more than three cycles
    QCOMPARE(commandRows(), commands);
    QVERIFY(!controller.errors().contains("rejected"));
    QCOMPARE(controller.terminate(), 0);
}

QTEST_MAIN(TestAntennaControllerEndToEnd)
#include "test_antenna_controller_end_to_end.moc"
