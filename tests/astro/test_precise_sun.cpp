#include <QtTest>
#include <chrono>
#include <cmath>

#include "astro/bisector.h"
#include "astro/precise_sun.h"
#include "base/errors.h"

using namespace heliostat;
using namespace heliostat::astro;
using namespace std::chrono;

namespace {

UtcTime Utc(int y, int mo, int d, int h, int mi, double s) {
    return UtcTime(
        duration_cast<system_clock::duration>(sys_days(year(y) / mo / d).time_since_epoch() +
                                              hours(h) + minutes(mi) + duration<double>(s)));
}

double SecondsApart(UtcTime a, UtcTime b) {
    return std::fabs(duration<double>(a - b).count());
}

// Smallest difference of two angles in degrees.
double AngleApart(double a, double b) {
    return std::fabs(std::remainder(a - b, 360.0));
}

}  // namespace

class TestPreciseSun : public QObject {
    Q_OBJECT

private slots:
    // Published positions. SPA: NREL's solar position algorithm report (Reda and Andreas),
    // its worked example at 820 hPa, 11 °C, 1830.14 m: zenith 50.11162°, azimuth 194.34024°.
    void topocentric() {
        const PreciseSunPosition p =
            PreciseSun(Utc(2003, 10, 17, 19, 30, 30), {39.742476, -105.1786, 1830.14}, {820, 11});
        QVERIFY2(std::fabs(p.elevation - (90 - 50.11162)) < 0.001,
                 qPrintable(QString::number(p.elevation)));
        QVERIFY2(AngleApart(p.azimuth, 194.34024) < 0.001, qPrintable(QString::number(p.azimuth)));
    }

    // Geocentric apparent places referred to the equinox of date: J2000 coordinates would be
    // 0.1° to 0.4° off here. Meeus, Astronomical Algorithms, example 25.b (1992 Oct 13.0 TD,
    // α 13h13m30.749s, δ -7°47'01.74", R 0.99760853 au); the 2026 March equinox (20 March 14:46
    // UT: apparent longitude 0) and June solstice (21 June 08:24 UT: longitude 90°, so δ is the
    // true obliquity, 23.43585° mean by the IAU formula plus 8.2" of nutation).
    void ofDate_data() {
        QTest::addColumn<UtcTime>("utc");
        QTest::addColumn<double>("ra");
        QTest::addColumn<double>("dec");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("Meeus 25.b")
            << Utc(1992, 10, 12, 23, 59, 60 - 59.184) << 198.378121 << -7.783817 << 0.0002;
        QTest::newRow("equinox 2026") << Utc(2026, 3, 20, 14, 46, 0) << 0.0 << 0.0 << 0.0005;
        QTest::newRow("solstice 2026") << Utc(2026, 6, 21, 8, 24, 0) << 90.0 << 23.4381 << 0.001;
        // The ends of the range against the Astronomical Almanac's low-precision formulas
        // (0.01°), worked by hand: J2000 coordinates would be 0.7° off in 1950 and in 2100.
        QTest::newRow("1950, low precision")
            << Utc(1950, 2, 10, 3, 0, 0) << 323.2044 << -14.5618 << 0.015;
        QTest::newRow("2100, low precision")
            << Utc(2100, 11, 10, 3, 0, 0) << 225.3166 << -17.1207 << 0.015;
    }
    void ofDate() {
        QFETCH(UtcTime, utc);
        QFETCH(double, ra);
        QFETCH(double, dec);
        QFETCH(double, tolerance);
        const ApparentPlace p = ApparentSunOfDate(utc);
        QVERIFY2(AngleApart(p.rightAscension, ra) < tolerance,
                 qPrintable(QString::number(p.rightAscension, 'f', 6)));
        QVERIFY2(std::fabs(p.declination - dec) < tolerance,
                 qPrintable(QString::number(p.declination, 'f', 6)));
    }

    // TT - UTC: 32.184 s plus the leap seconds (IERS: 25 in 1990, 37 since 2017); before UTC,
    // the ΔT of the almanacs (29.1 s in 1950).
    void timeScale() {
        QCOMPARE(TtMinusUtcSeconds(Utc(1990, 6, 1, 0, 0, 0)), 57.184);
        QCOMPARE(TtMinusUtcSeconds(Utc(2026, 12, 7, 0, 0, 0)), 69.184);
        QVERIFY(std::fabs(TtMinusUtcSeconds(Utc(1950, 1, 1, 0, 0, 0)) - 29.1) < 0.3);
        QVERIFY_THROWS_EXCEPTION(HeliostatError, PreciseSun(Utc(1899, 6, 1, 0, 0, 0), {35, 135}));
        QVERIFY_THROWS_EXCEPTION(HeliostatError, PreciseSun(Utc(2101, 6, 1, 0, 0, 0), {35, 135}));
        QVERIFY_THROWS_EXCEPTION(HeliostatError, PreciseSun(Utc(2026, 6, 1, 0, 0, 0), {91, 135}));
    }

    // Published rising and setting of the upper limb. SPA's example day (sunrise 06:12:43,
    // sunset 17:20:19 MST; its sunset belongs to its UT day, i.e. 17:20:19 on 16 October);
    // the USNO Almanac for Computers example (Wayne NJ, 25 June 1990, sunrise 9h26m UT); the
    // National Astronomical Observatory of Japan for Tokyo on 1 January 2026 (6:51, 16:38 JST).
    void riseSet_data() {
        QTest::addColumn<QList<double>>("site");
        QTest::addColumn<QList<int>>("jstDate");
        QTest::addColumn<bool>("rising");
        QTest::addColumn<UtcTime>("expected");
        QTest::addColumn<double>("tolerance");
        const QList<double> denver{39.742476, -105.1786, 1830.14};
        QTest::newRow("SPA sunrise")
            << denver << QList<int>{2003, 10, 17} << true << Utc(2003, 10, 17, 13, 12, 43) << 10.0;
        QTest::newRow("SPA sunset")
            << denver << QList<int>{2003, 10, 17} << false << Utc(2003, 10, 17, 0, 20, 19) << 10.0;
        QTest::newRow("Wayne sunrise") << QList<double>{40.9, -74.3, 0} << QList<int>{1990, 6, 25}
                                       << true << Utc(1990, 6, 25, 9, 26, 0) << 60.0;
        const QList<double> tokyo{35.6581, 139.7414, 0};
        QTest::newRow("Tokyo sunrise")
            << tokyo << QList<int>{2026, 1, 1} << true << Utc(2025, 12, 31, 21, 51, 0) << 60.0;
        QTest::newRow("Tokyo sunset")
            << tokyo << QList<int>{2026, 1, 1} << false << Utc(2026, 1, 1, 7, 38, 0) << 60.0;
    }
    void riseSet() {
        QFETCH(QList<double>, site);
        QFETCH(QList<int>, jstDate);
        QFETCH(bool, rising);
        QFETCH(UtcTime, expected);
        QFETCH(double, tolerance);
        const SunEvents e =
            SunEventsOnJstDate(jstDate[0], jstDate[1], jstDate[2], {site[0], site[1], site[2]});
        const std::optional<UtcTime> t = rising ? e.rise : e.set;
        QVERIFY(t.has_value());
        QVERIFY2(SecondsApart(*t, expected) < tolerance,
                 qPrintable(QString::number(duration<double>(*t - expected).count())));
    }

    void noEventsInPolarNight() {
        const SunEvents e = SunEventsOnJstDate(2026, 12, 21, {80, 15, 0});
        QVERIFY(!e.rise && !e.set);
    }

    // Rounded to the minute, so the texts stay within 0:00 to 23:59 across midnight.
    void clockTime_data() {
        QTest::addColumn<UtcTime>("utc");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::newRow("rounds down") << Utc(2026, 1, 1, 7, 38, 29) << 16 << 38;
        QTest::newRow("rounds up") << Utc(2026, 1, 1, 7, 38, 30) << 16 << 39;
        QTest::newRow("to midnight") << Utc(2026, 1, 1, 14, 59, 45) << 0 << 0;
    }
    void clockTime() {
        QFETCH(UtcTime, utc);
        QFETCH(int, hour);
        QFETCH(int, minute);
        const ClockTime c = JstClockTime(utc);
        QCOMPARE(c.hour, hour);
        QCOMPARE(c.minute, minute);
    }

    // Sun and target -> mirror normal, worked by hand.
    void bisector_data() {
        QTest::addColumn<QList<double>>("in");  // sun el, az, target el, az
        QTest::addColumn<QList<double>>("out");
        QTest::newRow("target is the sun")
            << QList<double>{40, 120, 40, 120} << QList<double>{40, 120};
        // Symmetric about the zenith: the normal is vertical and keeps the sun's azimuth.
        QTest::newRow("about the zenith")
            << QList<double>{30, 90, 30, 270} << QList<double>{90, 90};
        QTest::newRow("across north, horizon")
            << QList<double>{0, 350, 0, 10} << QList<double>{0, 360};
        // (0, 2 cos²20°, 2 sin 20°): atan(sin 20° / cos² 20°) = 21.1728°.
        QTest::newRow("across north, raised")
            << QList<double>{20, 340, 20, 20} << QList<double>{21.1728, 360};
        // (0.5, 0, 0.866) + (-1, 0, 0) points west at 60°.
        QTest::newRow("sun east, target west horizon")
            << QList<double>{60, 90, 0, 270} << QList<double>{60, 270};
    }
    void bisector() {
        QFETCH(QList<double>, in);
        QFETCH(QList<double>, out);
        const SkyDirection sun{in[0], in[1]}, target{in[2], in[3]};
        const SkyDirection m = ExactBisector(sun, target);
        QVERIFY2(std::fabs(m.elevation - out[0]) < 1e-4, qPrintable(QString::number(m.elevation)));
        QVERIFY2(AngleApart(m.azimuth, out[1]) < 1e-4, qPrintable(QString::number(m.azimuth)));
        QVERIFY(BeamError(m, sun, target) < 1e-6);
    }

    void oppositeDirectionsHaveNoBisector() {
        QVERIFY_THROWS_EXCEPTION(HeliostatError, ExactBisector({30, 90}, {-30, 270}));
        QVERIFY_THROWS_EXCEPTION(HeliostatError, ExactBisector({std::nan(""), 90}, {30, 90}));
    }

    // The mean rule on the last bisector case: mirror (30°, 180°) reflects the sun (60°, 90°)
    // along (-0.5, -0.75, -0.433), 60° from the target (-1, 0, 0). The README's screenshot
    // (sun 25.11°/281.80°, target 35.64°/139.3°) misses by about 35°.
    void beamErrorOfTheMeanRule() {
        QVERIFY(std::fabs(BeamError({30, 180}, {60, 90}, {0, 270}) - 60) < 1e-9);
        const double shot =
            BeamError({(25.11 + 35.64) / 2, (281.80 + 139.3) / 2}, {25.11, 281.80}, {35.64, 139.3});
        QVERIFY2(std::fabs(shot - 35) < 0.5, qPrintable(QString::number(shot)));
    }
};

QTEST_APPLESS_MAIN(TestPreciseSun)
#include "test_precise_sun.moc"
