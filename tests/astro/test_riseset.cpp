#include <QtTest>
#include <cmath>
#include <cstdint>
#include <limits>

#include "astro/riseset.h"
#include "astro/solar.h"
#include "base/errors.h"

using namespace heliostat;
using namespace heliostat::astro;

namespace {

// The cycle's inputs for a calendar date: March-based year and month, calendar day number.
RiseSetInput Input(std::int64_t year, int month, int day, double lat, double lon) {
    const bool early = month < 3;
    return {early ? year - 1 : year, early ? month + 12 : month, day,
            DayOfYear(month, day),   lat * kTwoPi / 360,         lon};
}

}  // namespace

Q_DECLARE_METATYPE(heliostat::astro::RiseSetInput)

class TestRiseSet : public QObject {
    Q_OBJECT

private slots:
    // Reference: whole days from 1 January 2000 plus 0.125 (12h UT to 0h JST of the next date).
    void dayCount_data() {
        QTest::addColumn<qint64>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<double>("k");
        QTest::newRow("1 Jan 2000") << qint64(1999) << 13 << 1 << 0.125;
        QTest::newRow("31 Dec 1999") << qint64(1999) << 12 << 31 << -0.875;
        QTest::newRow("29 Feb 2008") << qint64(2007) << 14 << 29 << 2981.125;
        QTest::newRow("1 Mar 2008") << qint64(2008) << 3 << 1 << 2982.125;
        QTest::newRow("32 Mar = 1 Apr 2008") << qint64(2008) << 3 << 32 << 3013.125;
        QTest::newRow("15 Jun 2095") << qint64(2095) << 6 << 15 << 34864.125;
    }
    void dayCount() {
        QFETCH(qint64, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(double, k);
        QCOMPARE(DayCount(year, month, day), k);
    }

    void dayCountOverflow() {
        QVERIFY_THROWS_EXCEPTION(HeliostatError,
                                 DayCount(std::numeric_limits<std::int64_t>::max() / 100, 6, 1));
    }

    void tokyo15June2008() {
        const RiseSet r = CALRISE(Input(2008, 6, 15, 35.65, 139.7));
        QVERIFY(std::fabs(r.curves.RiseSetEquationOfTime - -0.012317) < 1e-6);
        QVERIFY(std::fabs(r.curves.DeclCoef0 - 23.408157) < 1e-6);
        const double slopes[] = {3.04, -3.56, -3.04, 3.56, 3.04};
        for (int j = 0; j < 5; ++j) {
            QVERIFY(std::fabs(r.slopeSamples[j] - slopes[j]) < 0.005);
        }
        QVERIFY(std::fabs(r.tMax - 0.112461) < 1e-6);
        QVERIFY(std::fabs(r.tMin - 0.612447) < 1e-6);
        QVERIFY(std::fabs(r.tSet - 0.416075) < 1e-6);
        QVERIFY(std::fabs(r.tRise - 0.808819) < 1e-6);
        QCOMPARE(r.passes, (std::array<int, 4>{3, 3, 4, 3}));
        QCOMPARE(r.UniversalHours, 0.0);
        QCOMPARE(r.LocalMeanHours, 139.7 / 15);
        // The zeros are zeros of the functions they were searched on.
        const auto& k = r.curves;
        const double phi = 35.65 * kTwoPi / 360;
        QVERIFY(std::fabs(CALFDif(k, phi, 139.7, r.tMax)) < 1e-4);
        QVERIFY(std::fabs(CALF(k, phi, 139.7, r.tSet)) < 1e-6);
        QVERIFY(std::fabs(CALF(k, phi, 139.7, r.tRise)) < 1e-6);
    }

    // f' is the rate of f up to the small difference between the solar and the fitted day.
    void slopeIsRateOfAltitude() {
        const RiseSet r = CALRISE(Input(2008, 6, 15, 35.65, 139.7));
        const double phi = 35.65 * kTwoPi / 360, dt = 1e-5;
        for (double t = 0; t <= 1; t += 0.1) {
            const double numeric =
                (CALF(r.curves, phi, 139.7, t + dt) - CALF(r.curves, phi, 139.7, t - dt)) /
                (2 * dt);
            QVERIFY(std::fabs(CALFDif(r.curves, phi, 139.7, t) - numeric) < 0.01);
        }
    }

    // Sunset and sunrise as hours of the clock; truncated to hours and minutes.
    void clockTimes_data() {
        QTest::addColumn<RiseSetInput>("in");
        QTest::addColumn<QList<double>>("hours");
        QTest::addColumn<QList<int>>("clock");
        // 4.41165 h would round to 4:25; minutes are cut.
        QTest::newRow("東京 15 Jun 2008")
            << Input(2008, 6, 15, 35.65, 139.7) << QList<double>{18.9858, 4.41165}
            << QList<int>{18, 59, 4, 24};
        QTest::newRow("東京 20 Jan 2008")
            << Input(2008, 1, 20, 35.65, 139.7) << QList<double>{16.93515, 6.78693}
            << QList<int>{16, 56, 6, 47};
        QTest::newRow("札幌 31 Dec 2008")
            << Input(2008, 12, 31, 43.06, 141.3) << QList<double>{16.23443, 7.09050}
            << QList<int>{16, 14, 7, 5};
        // 17 h 37.67 min: a rounded minute would show 38.
        QTest::newRow("東京 1 Mar 2008")
            << Input(2008, 3, 1, 35.65, 139.7) << QList<double>{17.62778, 6.15465}
            << QList<int>{17, 37, 6, 9};
        QTest::newRow("東京 15 Jun 2095")
            << Input(2095, 6, 15, 35.65, 139.7) << QList<double>{18.9858, 4.41165}
            << QList<int>{18, 59, 4, 24};
    }
    void clockTimes() {
        QFETCH(RiseSetInput, in);
        QFETCH(QList<double>, hours);
        QFETCH(QList<int>, clock);
        const RiseSet r = CALRISE(in);
        QVERIFY(std::fabs(24 * r.tSet + 9 - hours[0]) < 1e-5);
        QVERIFY(std::fabs(24 * r.tRise + 9 - 24 - hours[1]) < 1e-5);
        QCOMPARE((QList<int>{int(r.SunsetHour), int(r.SunsetMinute), int(r.SunriseHour),
                             int(r.SunriseMinute)}),
                 clock);
    }

    // The corners of Japan, every day of a year: the refusals never trigger, 2 to 4 passes.
    void japanAllYear_data() {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::newRow("与那国") << 24.45 << 122.93;
        QTest::newRow("稚内") << 45.42 << 141.68;
        QTest::newRow("南鳥島") << 24.29 << 153.98;
        QTest::newRow("沖ノ鳥島") << 20.42 << 136.08;
    }
    void japanAllYear() {
        QFETCH(double, lat);
        QFETCH(double, lon);
        const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= monthDays[m - 1]; ++d) {
                const RiseSet r = CALRISE(Input(2008, m, d, lat, lon));
                QVERIFY2(r.SunsetHour >= 15 && r.SunsetHour <= 19, qPrintable(QString::number(m)));
                QVERIFY(r.SunriseHour >= 3 && r.SunriseHour <= 7);
                for (int p : r.passes) {
                    QVERIFY(p >= 2 && p <= 4);
                }
            }
        }
    }

    void refused_data() {
        QTest::addColumn<int>("month");
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::addColumn<QString>("reason");
        QTest::newRow("80N June: polar day") << 6 << 80.0 << 139.7 << "白夜";
        QTest::newRow("80N December: polar night") << 12 << 80.0 << 139.7 << "極夜";
        QTest::newRow("80S June: polar night") << 6 << -80.0 << 139.7 << "極夜";
        QTest::newRow("longitude -100") << 6 << 35.65 << -100.0 << "西";
        QTest::newRow("longitude 0") << 12 << 35.65 << 0.0 << "西";
        QTest::newRow("NaN latitude") << 6 << std::nan("") << 139.7 << "緯度";
        QTest::newRow("65N 154E June: sunrise before midnight") << 6 << 65.0 << 154.0 << "0時0分";
    }
    void refused() {
        QFETCH(int, month);
        QFETCH(double, lat);
        QFETCH(double, lon);
        QFETCH(QString, reason);
        try {
            CALRISE(Input(2008, month, 15, lat, lon));
            QFAIL("no error");
        } catch (const HeliostatError& e) {
            QVERIFY2(QString::fromStdString(e.what()).contains(reason), e.what());
            QVERIFY(e.failed().rfind("CALRISE: ", 0) == 0);
        }
    }

    void refineRoot_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("root");
        QTest::addColumn<int>("passes");
        QTest::newRow("linear: exact, confirmed on pass 2") << 0 << 0.3 << 2;
        QTest::newRow("first estimate within 5e-05 of 0") << 1 << 1e-5 << 1;
        QTest::newRow("x quadratic in g") << 2 << 0.25 << 2;
    }
    void refineRoot() {
        QFETCH(int, kind);
        QFETCH(double, root);
        QFETCH(int, passes);
        const std::function<double(double)> g[] = {[](double x) { return x - 0.3; },
                                                   [](double x) { return x - 1e-5; },
                                                   [](double x) { return std::sqrt(x) - 0.5; }};
        const double a[] = {0, -1, 0.1};
        const RootSearch r = RefineRoot(g[kind], a[kind], 1, "試験");
        QVERIFY(std::fabs(r.root - root) < 1e-12);
        QCOMPARE(r.passes, passes);
    }

    void refineRootFailures() {
        int calls = 0;
        try {
            RefineRoot([&](double x) { return ++calls, x * x + 1; }, -1, 2, "試験");
            QFAIL("no error");
        } catch (const HeliostatError& e) {
            QCOMPARE(calls, 15 * 3);  // 15 passes of three evaluations; the 16th never starts
            QCOMPARE(e.failed(), std::string("RefineRoot: 試験"));
        }
        QVERIFY_THROWS_EXCEPTION(HeliostatError, RefineRoot([](double) { return 2.0; }, 0, 1, "c"));
        QVERIFY_THROWS_EXCEPTION(HeliostatError, RefineRoot([](double x) { return x; }, 0, 0, "z"));
    }
};

QTEST_APPLESS_MAIN(TestRiseSet)
#include "test_riseset.moc"
