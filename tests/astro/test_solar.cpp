#include <QtTest>
#include <cmath>
#include <limits>

#include "astro/solar.h"
#include "base/errors.h"

using namespace heliostat;
using namespace heliostat::astro;

class TestSolar : public QObject {
    Q_OBJECT

private slots:
    void dayOfYear_data() {
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("expected");
        const int firsts[] = {1, 32, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
        for (int m = 1; m <= 12; ++m) {
            QTest::addRow("1/%d", m) << m << 1 << firsts[m - 1];
        }
        QTest::newRow("15 Feb") << 2 << 15 << 46;
        QTest::newRow("28 Feb") << 2 << 28 << 59;
        QTest::newRow("29 Feb") << 2 << 29 << 60;
        QTest::newRow("31 Aug") << 8 << 31 << 243;
        QTest::newRow("30 Sep") << 9 << 30 << 273;
        QTest::newRow("31 Dec") << 12 << 31 << 365;
    }
    void dayOfYear() {
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, expected);
        QCOMPARE(DayOfYear(month, day), expected);
    }
    void dayOfYearRange() { QVERIFY_THROWS_EXCEPTION(HeliostatError, DayOfYear(13, 1)); }

    // Inputs: day number, UT, latitude, longitude. Outputs: EoT (h), declination (°), elevation,
    // azimuth.
    void workedValues_data() {
        QTest::addColumn<QList<double>>("in");
        QTest::addColumn<QList<double>>("out");
        QTest::newRow("21 Jun 12:00") << QList<double>{172, 3, 35, 135}
                                      << QList<double>{-0.034486, 23.436011, 78.427260, 177.633519};
        QTest::newRow("21 Mar 09:30") << QList<double>{80, 0.5, 35, 135}
                                      << QList<double>{-0.120046, 0.767253, 39.904534, 124.350142};
        QTest::newRow("21 Dec 15:00")
            << QList<double>{355, 6, 35, 135}
            << QList<double>{-0.009809, -23.342100, 17.813685, 222.857292};
        QTest::newRow("23 Sep 07:15") << QList<double>{266, -1.75, 43, 141}
                                      << QList<double>{0.155582, -1.579417, 18.303801, 110.375053};
    }
    void workedValues() {
        QFETCH(QList<double>, in);
        QFETCH(QList<double>, out);
        const SunPosition p = CALSUN(in[0], in[1], in[2], in[3]);
        const double got[] = {p.EquationOfTime, p.Declination * 180 / kPi, p.SunElevation,
                              p.SunAzimuth};
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(std::fabs(got[i] - out[i]) < 1e-6,
                     qPrintable(QString::number(got[i], 'f', 7)));
        }
    }

    // 04:25 local on day 173: the sunrise form keeps the true zenith angle for the azimuth.
    void sunriseForm() {
        const double ut = (4 - 9) + 25.0 / 60;
        const SunPosition rise = CALSUN(173, ut, 35, 135, SunForm::Sunrise);
        const SunPosition seen = CALSUN(173, ut, 35, 135);
        QCOMPARE(rise.SunElevation, 0.0);
        QVERIFY(std::fabs(rise.ZenithAngle - 94.683829) < 1e-6);
        QVERIFY(std::fabs(rise.SunAzimuth - 57.034688) < 1e-6);
        QCOMPARE(seen.SunAzimuth, rise.SunAzimuth);
        QCOMPARE(seen.SunElevation, 90 - rise.ZenithAngle);
    }

    // At longitude 0 and UT = 12 − EoT the hour angle is exactly 0: the sun stands due south
    // (180) or, north of the observer's zenith, due north (360, never 0).
    void meridian_data() {
        QTest::addColumn<double>("n");
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("az");
        QTest::newRow("June, 35N") << 172.0 << 35.0 << 180.0;
        QTest::newRow("June, tropics 10N") << 172.0 << 10.0 << 360.0;
        QTest::newRow("June, 35S") << 172.0 << -35.0 << 360.0;
        QTest::newRow("December, 35S") << 355.0 << -35.0 << 360.0;
        QTest::newRow("December, 10S") << 355.0 << -10.0 << 180.0;
    }
    void meridian() {
        QFETCH(double, n);
        QFETCH(double, lat);
        QFETCH(double, az);
        const double eot = CALSUN(n, 0, lat, 0).EquationOfTime;
        const SunPosition p = CALSUN(n, 12 - eot, lat, 0);
        QCOMPARE(p.SunAzimuth, az);
        QVERIFY(std::fabs(p.SunElevation - (90 - std::fabs(lat - p.Declination * 180 / kPi))) <
                1e-9);
    }

    // Every sector, both hemispheres: the quadrant rules against an atan2 formulation.
    void quadrants_data() {
        QTest::addColumn<double>("n");
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("ut");
        for (double n : {80.0, 172.0, 355.0}) {
            for (double lat : {-60.0, -35.0, -10.0, 0.0, 20.0, 35.0, 66.0}) {
                for (double ut = -12; ut < 12; ut += 1.5) {
                    QTest::addRow("n%g lat%g ut%g", n, lat, ut) << n << lat << ut;
                }
            }
        }
    }
    void quadrants() {
        QFETCH(double, n);
        QFETCH(double, lat);
        QFETCH(double, ut);
        const SunPosition p = CALSUN(n, ut, lat, 135);
        const double h = (p.EquationOfTime + p.LocalMeanHours - 12) * 15 * kPi / 180;
        const double phi = lat * kPi / 180, d = p.Declination;
        double az =
            std::atan2(std::sin(h), std::cos(h) * std::sin(phi) - std::tan(d) * std::cos(phi)) *
                180 / M_PI +
            180;
        const double el =
            std::asin(std::sin(d) * std::sin(phi) + std::cos(phi) * std::cos(d) * std::cos(h)) *
            180 / M_PI;
        QVERIFY(p.SunAzimuth > 0 && p.SunAzimuth <= 360);
        QVERIFY2(std::fabs(p.SunAzimuth - az) < 1e-5, qPrintable(QString::number(p.SunAzimuth)));
        QVERIFY(std::fabs(p.SunElevation - el) < 1e-6);
    }

    // The sun overhead (latitude = declination, hour angle 0) or underfoot; on these days the
    // cosine of the zenith angle rounds to exactly ±1.
    void zenithAndNadir_data() {
        QTest::addColumn<double>("n");
        QTest::addColumn<bool>("nadir");
        QTest::newRow("zenith, day 1") << 1.0 << false;
        QTest::newRow("zenith, day 3") << 3.0 << false;
        QTest::newRow("nadir, day 1") << 1.0 << true;
        QTest::newRow("nadir, day 2") << 2.0 << true;
    }
    void zenithAndNadir() {
        QFETCH(double, n);
        QFETCH(bool, nadir);
        const double eot = CALSUN(n, 0, 0, 0).EquationOfTime;
        const double decl = DeclinationRad(DayAngle(n)) * 360 / kTwoPi;
        try {
            CALSUN(n, (nadir ? 24 : 12) - eot, nadir ? -decl : decl, 0);
            QFAIL("no error at the zenith or the nadir");
        } catch (const HeliostatError& e) {
            QCOMPARE(e.failed(), std::string("CALSUN: 天頂角"));
            QVERIFY(std::string(e.what()).find("天頂") != std::string::npos);
        }
    }

    void badInputs_data() {
        QTest::addColumn<double>("ut");
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("NaN latitude") << 3.0 << std::nan("") << 135.0;
        QTest::newRow("latitude 91") << 3.0 << 91.0 << 135.0;
        QTest::newRow("infinite time") << inf << 35.0 << 135.0;
        QTest::newRow("overflowing hour angle") << 1e308 << 35.0 << 135.0;
    }
    void badInputs() {
        QFETCH(double, ut);
        QFETCH(double, lat);
        QFETCH(double, lon);
        QVERIFY_THROWS_EXCEPTION(HeliostatError, CALSUN(172, ut, lat, lon));
    }
};

QTEST_APPLESS_MAIN(TestSolar)
#include "test_solar.moc"
