#include <QtTest>
#include <chrono>
#include <random>

#include "astro/mount_model.h"
#include "base/errors.h"
#include "base/jst_clock.h"
#include "calibrate/calibration.h"
#include "tools/calibrate/true_mount.h"

using namespace heliostat;
using namespace heliostat::testing;

namespace {

constexpr astro::Site kTokyo{35.6895, 139.6917, 0};
constexpr astro::SkyDirection kTarget{.azimuth = 200, .elevation = 10};

// The acceptance mount.
const TrueMount kMount{0.8, -0.4, 0.5, 60, 0.2, 0.3};

struct Day {
    int year, month, day;
};

// Observations of a mount whose light was centred on the target, every `step` minutes
// from `from` to `to` minutes after midnight JST, the mount's angles read with 0.003° of noise.
std::vector<calibrate::Observation> Observe(const TrueMount& mount, const std::vector<Day>& days,
                                            int from, int to, int step, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 0.003);
    std::vector<calibrate::Observation> observations;
    const V3 target = Dir(kTarget.azimuth, kTarget.elevation);
    for (const Day& d : days) {
        for (int m = from; m <= to; m += step) {
            const base::JstDateTime jst{d.year, d.month, d.day, m / 60, m % 60, 0, 0};
            calibrate::Observation o;
            o.jst = QString::asprintf("%04d-%02d-%02d %02d:%02d:00", d.year, d.month, d.day, m / 60,
                                      m % 60)
                        .toStdString();
            o.utc = base::FromJst(jst);
            const V3 sun = LowPrecisionSun(o.utc, kTokyo.latitude, kTokyo.longitude);
            const auto angles = TrueMountAngles(mount, Norm(Add(sun, target)));
            o.mount = {.azimuth = angles[0] + noise(random),
                       .elevation = angles[1] + noise(random)};
            observations.push_back(o);
        }
    }
    return observations;
}

// The light of the true mount driven by the fitted model for the precise-sun bisector, over
// days the fit never saw: the worst beam error in degrees.
double WorstBeamOnOtherDays(const astro::MountModel& model) {
    double worst = 0;
    const V3 target = Dir(kTarget.azimuth, kTarget.elevation);
    for (const Day d : {Day{2026, 2, 10}, Day{2026, 5, 5}, Day{2026, 8, 15}, Day{2026, 11, 10}}) {
        for (int m = 9 * 60 + 15; m <= 15 * 60; m += 45) {
            const auto utc = base::FromJst({d.year, d.month, d.day, m / 60, m % 60, 0, 0});
            const auto sun = astro::PreciseSun(utc, kTokyo);
            const astro::SkyDirection wanted =
                astro::ExactBisector({.azimuth = sun.azimuth, .elevation = sun.elevation}, kTarget);
            const astro::MountAngles drive = astro::MountInverse(model, wanted);
            const V3 normal = kMount.Normal(drive.azimuth, drive.elevation);
            worst = std::max(
                worst, BeamErrorDeg(LowPrecisionSun(utc, kTokyo.latitude, kTokyo.longitude), normal,
                                    target));
        }
    }
    return worst;
}

const std::vector<Day> kFourDays{{2026, 3, 21}, {2026, 6, 21}, {2026, 9, 23}, {2026, 12, 21}};

}  // namespace

class TestCalibration : public QObject {
    Q_OBJECT

private slots:
    void fitPutsTheLightOnTheTargetOnOtherDays() {
        const auto observations = Observe(kMount, kFourDays, 9 * 60, 15 * 60, 30);
        const calibrate::FitResult fit = calibrate::FitMountModel(observations, kTokyo, kTarget);
        // Before, the light misses by a degree or two; after, by the noise.
        QVERIFY(*std::min_element(fit.beforeDeg.begin(), fit.beforeDeg.end()) > 0.5);
        QVERIFY2(fit.rmsDeg < 0.01, qPrintable(QString::number(fit.rmsDeg)));
        QCOMPARE(fit.used, observations.size());
        QVERIFY(!fit.singleDay);
        for (std::size_t k = 0; k < astro::kMountParameterCount; ++k) {
            QVERIFY2(!fit.poorlyDetermined[k], astro::kMountParameterNames[k].data());
            QVERIFY(fit.standardErrors[k] > 0 && fit.standardErrors[k] < 0.05);
        }
        // The parameters the mount was built with, within a few standard errors. The azimuth
        // offset, the skew and the cant all turn the normal in azimuth and tell apart only by
        // how that varies with elevation, which a heliostat's normal covers narrowly.
        QVERIFY(std::abs(fit.model.azimuthOffset - 0.8) < 0.1);
        QVERIFY(std::abs(fit.model.elevationOffset + 0.4) < 0.02);
        QVERIFY(std::abs(fit.model.tiltNorth - 0.25) < 0.02);
        QVERIFY(std::abs(fit.model.tiltEast - 0.4330) < 0.02);
        QVERIFY(std::abs(fit.model.axisSkew - 0.2) < 0.1);
        QVERIFY(std::abs(fit.model.mirrorCant - 0.3) < 0.1);
        const double worst = WorstBeamOnOtherDays(fit.model);
        qInfo("worst beam error on unseen days: %.4f°", worst);
        QVERIFY2(worst < 0.02, qPrintable(QString::number(worst)));
        // The uncorrected mount on the same days misses by far more.
        QVERIFY(WorstBeamOnOtherDays({}) > 1);
    }

    // A few gross observations (the operator pressed Enter too early) are named and dropped.
    void outliersAreDropped() {
        auto observations = Observe(kMount, kFourDays, 9 * 60, 15 * 60, 60, 2);
        observations[3].mount.azimuth += 0.5;
        observations[17].mount.elevation -= 0.3;
        const calibrate::FitResult fit = calibrate::FitMountModel(observations, kTokyo, kTarget);
        QCOMPARE(fit.used, observations.size() - 2);
        for (std::size_t i = 0; i < observations.size(); ++i) {
            QCOMPARE(fit.outlier[i], i == 3 || i == 17);
        }
        QVERIFY(fit.afterDeg[3] > 0.5 && fit.afterDeg[17] > 0.3);
        // The RMS by its definition over the observations used, the two outliers left out.
        double squares = 0;
        for (std::size_t i = 0; i < observations.size(); ++i) {
            squares += i == 3 || i == 17 ? 0 : fit.afterDeg[i] * fit.afterDeg[i];
        }
        QCOMPARE(fit.rmsDeg, std::sqrt(squares / static_cast<double>(observations.size() - 2)));
        QVERIFY(fit.rmsDeg < 0.01);
        QVERIFY(WorstBeamOnOtherDays(fit.model) < 0.02);
    }

    // On one day the normal's elevation hardly changes, so the azimuth offset, skew and cant
    // trade off against each other, and the fit says so.
    void unobservableParametersAreFlagged_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("step");
        QTest::newRow("twenty minutes") << 11 * 60 << 11 * 60 + 20 << 2;
        QTest::newRow("a whole day") << 9 * 60 << 15 * 60 << 10;
    }
    void unobservableParametersAreFlagged() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, step);
        const auto observations = Observe(kMount, {{2026, 6, 21}}, from, to, step);
        const calibrate::FitResult fit = calibrate::FitMountModel(observations, kTokyo, kTarget);
        QVERIFY(fit.singleDay);
        QVERIFY(std::count(fit.poorlyDetermined.begin(), fit.poorlyDetermined.end(), true) >= 2);
        // Whatever it chose still fits the observations it had.
        QVERIFY(fit.rmsDeg < 0.01);
    }

    // Six observations are the fewest the fit takes.
    void observationCount_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("none") << 0;
        QTest::newRow("five") << 5;
        QTest::newRow("six") << 6;
    }
    void observationCount() {
        QFETCH(int, count);
        auto observations = Observe(kMount, {{2026, 3, 21}, {2026, 6, 21}}, 9 * 60, 15 * 60, 180);
        QCOMPARE(observations.size(), std::size_t{6});
        observations.resize(static_cast<std::size_t>(count));
        if (count < 6) {
            QVERIFY_THROWS_EXCEPTION(HeliostatError,
                                     calibrate::FitMountModel(observations, kTokyo, kTarget));
        } else {
            QCOMPARE(calibrate::FitMountModel(observations, kTokyo, kTarget).used, std::size_t{6});
        }
    }

    // The fit of a thousand observations stays well inside a second (under the sanitizers,
    // whose instrumentation costs several times that, inside five).
    void thousandObservationsFast() {
#ifdef HELIOSTAT_SANITIZED
        constexpr qint64 kBoundMs = 5000;
#else
        constexpr qint64 kBoundMs = 1000;
#endif
        std::vector<Day> days;
        for (int month = 1; month <= 12; ++month) {
            for (const int day : {3, 10, 17, 24}) {
                days.push_back({2026, month, day});
            }
        }
        auto observations = Observe(kMount, days, 9 * 60, 15 * 60, 18);
        observations.resize(1000);
        QElapsedTimer timer;
        timer.start();
        const calibrate::FitResult fit = calibrate::FitMountModel(observations, kTokyo, kTarget);
        const qint64 ms = timer.elapsed();
        qInfo("1000 observations fitted in %lld ms", static_cast<long long>(ms));
        QCOMPARE(fit.used, std::size_t{1000});
        QVERIFY2(ms < kBoundMs, qPrintable(QString::number(ms)));
    }
};

QTEST_APPLESS_MAIN(TestCalibration)
#include "test_calibration.moc"
