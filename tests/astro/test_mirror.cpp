#include <QtTest>
#include <cmath>

#include "astro/mirror.h"
#include "base/errors.h"

using namespace heliostat;
using namespace heliostat::astro;

class TestMirror : public QObject {
    Q_OBJECT

private slots:
    // Sun elevation and azimuth, target elevation and azimuth -> mirror elevation and azimuth.
    void pointing_data() {
        QTest::addColumn<QList<double>>("in");
        QTest::addColumn<QList<double>>("out");
        QTest::newRow("21 June noon") << QList<double>{78.42725967, 177.63351874, 10, 200}
                                      << QList<double>{44.21362984, 188.81675937};
        QTest::newRow("negative target elevation")
            << QList<double>{30, 100, -20, 120} << QList<double>{5, 110};
        QTest::newRow("night, sun on the horizon")
            << QList<double>{0, 60, 10, 200} << QList<double>{5, 130};
        QTest::newRow("targets 0") << QList<double>{40, 150, 0, 0} << QList<double>{20, 75};
        // Within 180 of each other: the plain mean, whatever the range of the target.
        QTest::newRow("exactly 180 apart")
            << QList<double>{10, 270, 10, 90} << QList<double>{10, 180};
        QTest::newRow("target above 360")
            << QList<double>{10, 350, 10, 530} << QList<double>{10, 440};
        QTest::newRow("target below 0") << QList<double>{10, 5, 10, -10} << QList<double>{10, -2.5};
        // More than 180 apart: the target moves a turn toward the sun; result in (0, 360].
        QTest::newRow("sun 350, target 10")
            << QList<double>{10, 350, 10, 10} << QList<double>{10, 360};
        QTest::newRow("sun 10, target 350")
            << QList<double>{10, 10, 10, 350} << QList<double>{10, 360};
        QTest::newRow("sun 300, target 20")
            << QList<double>{10, 300, 10, 20} << QList<double>{10, 340};
        QTest::newRow("sun 20, target 300")
            << QList<double>{10, 20, 10, 300} << QList<double>{10, 340};
        QTest::newRow("just over 180")
            << QList<double>{10, 270.5, 10, 90} << QList<double>{10, 0.25};
        QTest::newRow("targets 0, sun west")
            << QList<double>{40, 200, 0, 0} << QList<double>{20, 280};
    }
    void pointing() {
        QFETCH(QList<double>, in);
        QFETCH(QList<double>, out);
        const MirrorPointing m = CALMIRROR(in[0], in[1], in[2], in[3]);
        QVERIFY(std::fabs(m.MirrorElevation - out[0]) < 1e-8);
        QVERIFY2(std::fabs(m.MirrorAzimuth - out[1]) < 1e-8,
                 qPrintable(QString::number(m.MirrorAzimuth)));
    }

    void failures_data() {
        QTest::addColumn<double>("sunEl");
        QTest::addColumn<double>("targetEl");
        QTest::addColumn<double>("targetAz");
        QTest::newRow("overflowing sum") << 1e308 << 1e308 << 0.0;
        QTest::newRow("NaN target") << 10.0 << 10.0 << std::nan("");
        QTest::newRow("infinite target") << 10.0 << HUGE_VAL << 0.0;
    }
    void failures() {
        QFETCH(double, sunEl);
        QFETCH(double, targetEl);
        QFETCH(double, targetAz);
        try {
            CALMIRROR(sunEl, 180, targetEl, targetAz);
            QFAIL("no error");
        } catch (const HeliostatError& e) {
            QVERIFY(std::string(e.what()).size() > 0);
            QVERIFY(e.failed().rfind("CALMIRROR", 0) == 0);
        }
    }
};

QTEST_APPLESS_MAIN(TestMirror)
#include "test_mirror.moc"
