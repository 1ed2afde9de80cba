#include <QtTest>

#include <cmath>

#include "astro/bisector.h"
#include "base/errors.h"
#include "base/jst_clock.h"
#include "cycle/memory_host.h"
#include "cycle/solcal.h"
#include "recording_chart.h"

using namespace heliostat;
using cycle::Field;

namespace {

class MemoryHost final : public cycle::MemoryHost {
public:
    RecordingChart chart;
    QStringList sent;

    MemoryHost(const std::string& lat, const std::string& lon) : cycle::MemoryHost(lat, lon) {
        UseChart(chart);
    }
    void SendMirrorCommand() override {
        sent << QString::fromStdString("0," + Text(Field::MirrorAzimuth) + "," +
                                       Text(Field::MirrorElevation));
    }
    double number(Field f) { return std::stod(Text(f)); }
};

constexpr double kTargetEl = 35.64, kTargetAz = 139.3;

cycle::WindowState DefaultTarget() {
    cycle::WindowState s;
    s.TargetElevation = kTargetEl;
    s.TargetAzimuth = kTargetAz;
    return s;
}

cycle::CycleReport Run(MemoryHost& host, cycle::WindowState& state, base::JstDateTime jst) {
    return cycle::SOLCAL(state, host, base::JstToUtc(jst), cycle::Pointing::Exact);
}

// Where the commanded mirror (as sent, two decimals) sends the light, given the true sun.
double BeamErrorOfCommand(MemoryHost& host, double sunEl, double sunAz) {
    return astro::BeamError({.azimuth = host.number(Field::MirrorAzimuth),
                             .elevation = host.number(Field::MirrorElevation)},
                            {.azimuth = sunAz, .elevation = sunEl},
                            {.azimuth = kTargetAz, .elevation = kTargetEl});
}

}  // namespace

class TestSolcalExact : public QObject {
    Q_OBJECT

private slots:
    // NREL SPA's worked example (2003-10-17 12:30:30 MST at Golden, CO: elevation 39.88838°,
    // azimuth 194.34024° at 820 hPa and 11 °C); in the standard air of the cycle the refraction
    // is 0.00385° larger (1.2098' instead of 0.9788').
    void dayCycleShowsThePublishedSun() {
        MemoryHost host("39.742476", "-105.1786");
        auto state = DefaultTarget();
        const auto report = Run(host, state, {2003, 10, 18, 4, 30, 30, 0});
        QCOMPARE(report.branch, cycle::Branch::Day);
        QCOMPARE(host.Text(Field::SettingElevation), std::string(" 39.89"));
        QCOMPARE(host.Text(Field::SettingAzimuth), std::string("194.34"));
        // The bisector of that sun and the target, worked by hand: east, north and up components
        // (-0.1900, -0.7433, 0.6413) + (0.5300, -0.6161, 0.5827) give 41.137° up, 165.962°.
        QCOMPARE(host.sent, QStringList{"0,165.96,41.14"});
        const double beam = BeamErrorOfCommand(host, 39.89223, 194.34024);
        QVERIFY2(beam <= 0.02, qPrintable(QString::number(beam)));
        QVERIFY(!report.marker);  // first day cycle: the marker blinks as in the mean mode
    }

    // Tokyo, 1 January 2026: sunrise 6:51, sunset 16:38 (National Astronomical Observatory of
    // Japan). Night and day switch with the announced times, and before dawn the chart gives
    // that morning's sunrise, not the next day's; after sunset it gives the next morning's
    // (2 January: 6:51 again, but 0.1° further north; 20 March: 5:46 that morning, 5:44 on
    // the 21st). At night the mirror waits for the
    // sun of the sunrise, whose azimuth is worked by hand from the almanac's low-precision
    // formulas (upper limb on the horizon: cos A = (sin δ - sin φ sin h) / (cos φ cos h), h =
    // -50').
    void announcedTimes_data() {
        QTest::addColumn<QList<int>>("date");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<bool>("day");
        QTest::addColumn<QString>("chartTime");
        QTest::addColumn<double>("sunriseAzimuth");
        const QList<int> newYear{2026, 1, 1};
        QTest::newRow("evening before") << newYear << 3 << 0 << false << "6時51分" << 118.09;
        QTest::newRow("just before sunrise") << newYear << 6 << 50 << false << "6時51分" << 118.09;
        QTest::newRow("just after sunrise") << newYear << 6 << 52 << true << "16時38分" << 0.0;
        QTest::newRow("just before sunset") << newYear << 16 << 37 << true << "16時38分" << 0.0;
        QTest::newRow("just after sunset") << newYear << 16 << 39 << false << "6時51分" << 117.99;
        QTest::newRow("equinox evening")
            << QList<int>{2026, 3, 20} << 20 << 0 << false << "5時44分" << 89.28;
    }
    void announcedTimes() {
        QFETCH(QList<int>, date);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(bool, day);
        QFETCH(QString, chartTime);
        QFETCH(double, sunriseAzimuth);
        MemoryHost host("35.6581", "139.7414");
        auto state = DefaultTarget();
        const auto report = Run(host, state, {date[0], date[1], date[2], hour, minute, 0, 0});
        QCOMPARE(report.branch, day ? cycle::Branch::Day : cycle::Branch::Night);
        QCOMPARE(QString::fromStdString(report.chartTime), chartTime);
        QCOMPARE(host.sent.size(), 1);
        if (!day) {
            // The upper limb on the horizon: the centre just below, refraction lifting it.
            QVERIFY(report.sunElevation < 0 && report.sunElevation > -0.5);
            QVERIFY2(std::fabs(report.sunAzimuth - sunriseAzimuth) < 0.05,
                     qPrintable(QString::number(report.sunAzimuth)));
        }
    }

    // One host, one thread, two dates of one month: the second must not be served the first
    // date's sunset (Tokyo 2026: 18:51 on 1 June, 19:01 on 25 June; by hand 18:51:12, 19:00:41).
    void eachDateHasItsOwnSunset() {
        MemoryHost host("35.6581", "139.7414");
        auto state = DefaultTarget();
        QCOMPARE(QString::fromStdString(Run(host, state, {2026, 6, 1, 12, 0, 0, 0}).chartTime),
                 QStringLiteral("18時51分"));
        QCOMPARE(QString::fromStdString(Run(host, state, {2026, 6, 25, 12, 0, 0, 0}).chartTime),
                 QStringLiteral("19時1分"));
    }

    // A failed cycle is reported like any other and sends nothing.
    void failures_data() {
        QTest::addColumn<QString>("lat");
        QTest::addColumn<QString>("lon");
        QTest::addColumn<int>("hour");
        QTest::newRow("latitude not a number") << "abc"
                                               << "139.7" << 12;
        QTest::newRow("latitude beyond the pole") << "95"
                                                  << "139.7" << 12;
        QTest::newRow("polar night, no sunrise") << "80"
                                                 << "15" << 12;
        QTest::newRow("midnight sun, no sunset") << "-80"
                                                 << "15" << 12;
    }
    void failures() {
        QFETCH(QString, lat);
        QFETCH(QString, lon);
        QFETCH(int, hour);
        MemoryHost host(lat.toStdString(), lon.toStdString());
        auto state = DefaultTarget();
        QVERIFY_THROWS_EXCEPTION(HeliostatError, Run(host, state, {2026, 12, 21, hour, 0, 0, 0}));
        QVERIFY(host.sent.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSolcalExact)
#include "test_solcal_exact.moc"
