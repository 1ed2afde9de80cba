#include <QtTest>
#include <cmath>

#include "astro/mount_model.h"
#include "base/errors.h"

using namespace heliostat;
using namespace heliostat::astro;

namespace {

// The acceptance mount: tilt 0.5° toward azimuth 60° is 0.25° north and 0.4330° east.
const MountModel kMisaligned{0.8, -0.4, 0.25, 0.4330127, 0.2, 0.3};

double Separation(const SkyDirection& a, const SkyDirection& b) {
    const double d = M_PI / 180;
    const double c = std::sin(a.elevation * d) * std::sin(b.elevation * d) +
                     std::cos(a.elevation * d) * std::cos(b.elevation * d) *
                         std::cos((a.azimuth - b.azimuth) * d);
    return std::acos(std::min(1.0, c)) / d;
}

}  // namespace

class TestMountModel : public QObject {
    Q_OBJECT

private slots:
    // The perfect mount hands the angles back to the bit, out-of-range azimuths included.
    void zeroModelIsIdentity_data() {
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("elevation");
        QTest::newRow("south") << 180.0 << 45.0;
        QTest::newRow("north") << 360.0 << 0.1;
        QTest::newRow("beyond a turn") << 370.25 << 89.99;
        QTest::newRow("negative") << -10.0 << -5.0;
        QTest::newRow("third of a hundredth") << 123.456789 << 12.3456789;
    }
    void zeroModelIsIdentity() {
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        const SkyDirection d = MountForward({}, {azimuth, elevation});
        QCOMPARE(d.azimuth, azimuth);
        QCOMPARE(d.elevation, elevation);
        const MountAngles m = MountInverse({}, {elevation, azimuth});
        QCOMPARE(m.azimuth, azimuth);
        QCOMPARE(m.elevation, elevation);
    }

    // One error at a time, expectations worked by hand from the geometry of each error.
    void singleErrors_data() {
        QTest::addColumn<int>("parameter");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("mountAz");
        QTest::addColumn<double>("mountEl");
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("el");
        // The encoders read high by the offset: the true direction is that much lower.
        QTest::newRow("azimuth offset") << 0 << 0.8 << 180.0 << 45.0 << 179.2 << 45.0;
        QTest::newRow("azimuth offset across north") << 0 << 0.8 << 0.5 << 30.0 << 359.7 << 30.0;
        QTest::newRow("elevation offset") << 1 << -0.4 << 180.0 << 45.0 << 180.0 << 45.4;
        // The whole mount leans with its axis: a normal facing the lean goes down, one facing
        // away from it goes up.
        QTest::newRow("tilt north, facing south") << 2 << 0.5 << 180.0 << 45.0 << 180.0 << 45.5;
        QTest::newRow("tilt north, facing north") << 2 << 0.5 << 360.0 << 45.0 << 360.0 << 44.5;
        QTest::newRow("tilt east, facing east") << 3 << 0.5 << 90.0 << 45.0 << 90.0 << 44.5;
        // Facing south, the leaning axis carries the normal east: atan(sin 0.5°) to the left,
        // and asin(sin 45° cos 0.5°) high.
        QTest::newRow("tilt east, facing south")
            << 3 << 0.5 << 180.0 << 45.0 << 179.5000190 << 44.9978184;
        // A skewed elevation axis does nothing on the horizon and swings the normal by
        // atan(sin γ tan ε / ...) above it: 45° up, 0.2° gives atan(sin 0.2°) to the left.
        QTest::newRow("axis skew on the horizon") << 4 << 0.2 << 200.0 << 0.0 << 200.0 << 0.0;
        QTest::newRow("axis skew at 45") << 4 << 0.2 << 360.0 << 45.0 << 359.8000012 << 44.9996509;
        // Cant turns the normal right by c on the horizon; 60° up, atan(tan c / cos 60°).
        QTest::newRow("cant on the horizon") << 5 << 0.3 << 100.0 << 0.0 << 100.3 << 0.0;
        QTest::newRow("cant at 60") << 5 << 0.3 << 360.0 << 60.0 << 0.5999836 << 59.9986397;
    }
    void singleErrors() {
        QFETCH(int, parameter);
        QFETCH(double, value);
        QFETCH(double, mountAz);
        QFETCH(double, mountEl);
        QFETCH(double, az);
        QFETCH(double, el);
        std::array<double, kMountParameterCount> values{};
        values[static_cast<std::size_t>(parameter)] = value;
        const MountModel model = MountModelFromParameters(values);
        const SkyDirection d = MountForward(model, {mountAz, mountEl});
        QVERIFY2(std::abs(d.azimuth - az) < 2e-7, qPrintable(QString::number(d.azimuth, 'f', 9)));
        QVERIFY2(std::abs(d.elevation - el) < 2e-7,
                 qPrintable(QString::number(d.elevation, 'f', 9)));
        // And back: the inverse finds the mount angles again.
        const MountAngles m = MountInverse(model, d);
        QVERIFY2(std::abs(std::remainder(m.azimuth - mountAz, 360.0)) < 1e-9,
                 qPrintable(QString::number(m.azimuth, 'f', 12)));
        QVERIFY(std::abs(m.elevation - mountEl) < 1e-9);
    }

    // The manual's worked example: all six errors, so the order of the rotations counts.
    void workedExample() {
        const SkyDirection d = MountForward(kMisaligned, {180, 45});
        QVERIFY2(std::abs(d.azimuth - 178.979013) < 1e-6,
                 qPrintable(QString::number(d.azimuth, 'f', 9)));
        QVERIFY2(std::abs(d.elevation - 45.644286) < 1e-6,
                 qPrintable(QString::number(d.elevation, 'f', 9)));
        const MountAngles m = MountInverse(kMisaligned, {45, 180});
        QVERIFY2(std::abs(m.azimuth - 181.006961) < 1e-6,
                 qPrintable(QString::number(m.azimuth, 'f', 9)));
        QVERIFY2(std::abs(m.elevation - 44.348021) < 1e-6,
                 qPrintable(QString::number(m.elevation, 'f', 9)));
    }

    // All errors at once, over the sky a heliostat's normal visits: the inverse is exact to
    // 0.0001° both ways round.
    void roundTrip_data() {
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("el");
        for (const double el : {0.0, 15.0, 45.0, 70.0, 85.0}) {
            for (const double az : {0.2, 90.0, 179.9, 270.0, 359.95}) {
                QTest::addRow("el %g az %g", el, az) << az << el;
            }
        }
    }
    void roundTrip() {
        QFETCH(double, az);
        QFETCH(double, el);
        const MountAngles m = MountInverse(kMisaligned, {el, az});
        QVERIFY(m.azimuth > 0 && m.azimuth <= 360);
        QVERIFY2(Separation(MountForward(kMisaligned, m), {el, az}) < 1e-4, "forward(inverse)");
        const SkyDirection d = MountForward(kMisaligned, {az, el});
        const MountAngles back = MountInverse(kMisaligned, d);
        QVERIFY(std::abs(std::remainder(back.azimuth - az, 360.0)) < 1e-4);
        QVERIFY(std::abs(back.elevation - el) < 1e-4);
    }

    void failures_data() {
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("el");
        QTest::addColumn<double>("cant");
        QTest::newRow("NaN azimuth") << std::nan("") << 10.0 << 0.0;
        QTest::newRow("infinite elevation") << 10.0 << HUGE_VAL << 0.0;
        QTest::newRow("NaN parameter") << 10.0 << 10.0 << std::nan("");
        // A canted mirror never faces its own azimuth axis.
        QTest::newRow("zenith with a cant") << 10.0 << 90.0 << 1.0;
    }
    void failures() {
        QFETCH(double, az);
        QFETCH(double, el);
        QFETCH(double, cant);
        MountModel model;
        model.mirrorCant = cant;
        QVERIFY_THROWS_EXCEPTION(HeliostatError, MountInverse(model, {el, az}));
        if (el != 90) {
            QVERIFY_THROWS_EXCEPTION(HeliostatError, MountForward(model, {az, el}));
        }
    }
};

QTEST_APPLESS_MAIN(TestMountModel)
#include "test_mount_model.moc"
