#include <QTemporaryDir>
#include <QtTest>

#include "base/command_line.h"
#include "mount_model_file/mount_correction.h"
#include "mount_model_file/mount_model_file.h"

using namespace heliostat;
using namespace heliostat::mount_file;

namespace {

// A valid file whose one parameter line can be swapped for a broken one.
QByteArray File(
    const QByteArray& tiltEast = R"("tilt_east": {"value": 0.433, "standard_error": 0.002})",
    const QByteArray& head = R"("format": "heliostat-mount-model", "version": 1)") {
    return "{" + head + R"(, "parameters": {
        "azimuth_offset": {"value": 0.8, "standard_error": 0.001},
        "elevation_offset": {"value": -0.4, "standard_error": 0.001},
        "tilt_north": {"value": 0.25, "standard_error": 0.002},
        )" +
           tiltEast + R"(,
        "axis_skew": {"value": 0.2, "standard_error": 0.003},
        "mirror_cant": {"value": 0.3, "standard_error": 0.003}}})";
}

}  // namespace

class TestMountModelFile : public QObject {
    Q_OBJECT

private slots:
    void writeThenRead() {
        QTemporaryDir dir;
        MountModelFile file;
        file.model = {0.8, -0.4, 0.25, 0.433, 0.2, -0.3};
        file.standardErrors = {0.001, 0.002, 0.003, 0.004, 0.005, 0.006};
        file.observationCount = 3;
        file.usedCount = 2;
        file.firstJst = "2026-03-21 09:00:00";
        file.lastJst = "2026-06-21 15:00:00";
        file.rmsDeg = 0.004;
        file.maxDeg = 0.009;
        file.residuals = {{"2026-03-21 09:00:00", 2.1, 0.003, false},
                          {"2026-06-21 15:00:00", 1.9, 0.5, true}};
        const QString path = dir.filePath("model.json");
        QString error;
        QVERIFY(WriteMountModelFile(path, file, error));
        const MountModelFile back = ReadMountModelFile(path);
        QCOMPARE(astro::MountParameters(back.model), astro::MountParameters(file.model));
        QCOMPARE(back.standardErrors, file.standardErrors);
        QCOMPARE(back.lastJst, file.lastJst);
        QCOMPARE(back.usedCount, 2);
        QCOMPARE(back.residuals.size(), std::size_t{2});
        QVERIFY(back.residuals[1].outlier && !back.residuals[0].outlier);
        QCOMPARE(back.residuals[1].afterDeg, 0.5);
        QVERIFY(!WriteMountModelFile(dir.filePath("no/such/dir/model.json"), file, error));
    }

    // Each broken file is refused with a message naming what is wrong.
    void badFiles_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("named");
        QTest::newRow("not JSON") << QByteArray("{\"version\": 1,") << "JSON として読めません";
        QTest::newRow("an array") << QByteArray("[1, 2]") << "オブジェクトではありません";
        QTest::newRow("wrong format")
            << File(R"("tilt_east": {"value": 0.4, "standard_error": 0.002})",
                    R"("format": "other", "version": 1)")
            << "format";
        QTest::newRow("version 2")
            << File(R"("tilt_east": {"value": 0.4, "standard_error": 0.002})",
                    R"("format": "heliostat-mount-model", "version": 2)")
            << "version 2";
        QTest::newRow("no version")
            << File(R"("tilt_east": {"value": 0.4, "standard_error": 0.002})",
                    R"("format": "heliostat-mount-model")")
            << "version がありません";
        QTest::newRow("parameter missing")
            << File(R"("unrelated": {"value": 0.4, "standard_error": 0.002})")
            << "parameters.tilt_east がありません";
        QTest::newRow("value missing") << File(R"("tilt_east": {"standard_error": 0.002})")
                                       << "parameters.tilt_east.value がありません";
        QTest::newRow("value a text")
            << File(R"("tilt_east": {"value": "0.4", "standard_error": 0.002})")
            << "parameters.tilt_east.value が数値ではありません";
        QTest::newRow("over 5 degrees")
            << File(R"("tilt_east": {"value": 5.01, "standard_error": 0.002})")
            << "parameters.tilt_east.value 5.01° が 5° を超えています";
        QTest::newRow("under -5 degrees")
            << File(R"("tilt_east": {"value": -7, "standard_error": 0.002})")
            << "parameters.tilt_east.value -7°";
        QTest::newRow("standard error missing")
            << File(R"("tilt_east": {"value": 0.4})")
            << "parameters.tilt_east.standard_error がありません";
        QTest::newRow("standard error negative")
            << File(R"("tilt_east": {"value": 0.4, "standard_error": -1})")
            << "parameters.tilt_east.standard_error が負です";
    }
    void badFiles() {
        QFETCH(QByteArray, json);
        QFETCH(QString, named);
        try {
            ParseMountModelJson(json, "m.json");
            QFAIL("accepted");
        } catch (const base::UsageError& e) {
            QVERIFY2(e.message().contains(named), qPrintable(e.message()));
            QVERIFY2(e.message().contains("m.json"), qPrintable(e.message()));
        }
    }

    // Exactly 5° is still a mount (if a bad one).
    void limitIsInclusive() {
        const MountModelFile file =
            ParseMountModelJson(File(R"("tilt_east": {"value": -5, "standard_error": 0})"), "m");
        QCOMPARE(file.model.tiltEast, -5.0);
        QCOMPARE(file.model.azimuthOffset, 0.8);
        QCOMPARE(file.standardErrors[5], 0.003);
    }

    // The controller's two conversions: identity without a model (or with an all-zero one),
    // the offsets added to the command and taken off the reading with one.
    void correction_data() {
        QTest::addColumn<bool>("withModel");
        QTest::addColumn<double>("azOffset");
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("el");
        QTest::addColumn<double>("mountAz");
        QTest::addColumn<double>("mountEl");
        QTest::newRow("no model") << false << 0.0 << 370.25 << -3.0 << 370.25 << -3.0;
        QTest::newRow("zero model") << true << 0.0 << 370.25 << -3.0 << 370.25 << -3.0;
        QTest::newRow("offsets") << true << 0.8 << 188.82 << 44.21 << 189.62 << 43.81;
        QTest::newRow("offsets across north") << true << 0.8 << 359.5 << 10.0 << 0.3 << 9.6;
    }
    void correction() {
        QFETCH(bool, withModel);
        QFETCH(double, azOffset);
        QFETCH(double, az);
        QFETCH(double, el);
        QFETCH(double, mountAz);
        QFETCH(double, mountEl);
        astro::MountModel model;
        model.azimuthOffset = azOffset;
        model.elevationOffset = azOffset == 0 ? 0 : -0.4;
        const MountCorrection correction = withModel ? MountCorrection(model) : MountCorrection();
        QCOMPARE(correction.Active(), withModel);
        const base::AzEl mount = correction.ToMount({az, el});
        QVERIFY2(std::abs(mount.azimuth - mountAz) < 1e-9,
                 qPrintable(QString::number(mount.azimuth, 'f', 12)));
        QVERIFY(std::abs(mount.elevation - mountEl) < 1e-9);
        const base::AzEl back = correction.ToDirection({mountAz, mountEl});
        QVERIFY(std::abs(back.azimuth - az) < 1e-9);
        QVERIFY(std::abs(back.elevation - el) < 1e-9);
        if (azOffset == 0) {
            QCOMPARE(mount, (base::AzEl{az, el}));  // to the bit
        }
    }

    void missingFile() {
        QVERIFY_THROWS_EXCEPTION(base::UsageError, ReadMountModelFile("/nonexistent/model.json"));
    }
};

QTEST_APPLESS_MAIN(TestMountModelFile)
#include "test_mount_model_file.moc"
