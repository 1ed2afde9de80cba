#include <QtTest>

#include "base/errors.h"
#include "cycle/chart.h"
#include "recording_chart.h"

using namespace heliostat;

class TestChart : public QObject {
    Q_OBJECT

private slots:
    void markerCentre_data() {
        QTest::addColumn<double>("elevation");
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::newRow("30 deg east, on the 30 circle") << 30.0 << 90.0 << 1800.0 << 1200.0;
        QTest::newRow("45 deg south") << 45.0 << 180.0 << 1200.0 << 1650.0;
        QTest::newRow("10 deg north-west") << 10.0 << 315.0 << 634.3146 << 634.3146;
        QTest::newRow("horizon north is straight up") << 0.0 << 0.0 << 1200.0 << 300.0;
        QTest::newRow("horizon west is left") << 0.0 << 270.0 << 300.0 << 1200.0;
        QTest::newRow("zenith is the centre") << 90.0 << 123.0 << 1200.0 << 1200.0;
        QTest::newRow("azimuth 360 equals north") << 60.0 << 360.0 << 1200.0 << 900.0;
    }
    void markerCentre() {
        QFETCH(double, elevation);
        QFETCH(double, azimuth);
        QFETCH(double, x);
        QFETCH(double, y);
        const cycle::ChartPoint p = cycle::SunMarkerCentre(elevation, azimuth);
        QVERIFY2(std::fabs(p.x - x) < 1e-3, qPrintable(QString::number(p.x, 'f', 6)));
        QVERIFY2(std::fabs(p.y - y) < 1e-3, qPrintable(QString::number(p.y, 'f', 6)));
    }

    void timeText_data() {
        QTest::addColumn<double>("hour");
        QTest::addColumn<double>("minute");
        QTest::addColumn<QString>("text");
        QTest::newRow("no leading zero on minutes") << 17.0 << 5.0 << QStringLiteral("17時5分");
        QTest::newRow("zero minutes") << 6.0 << 0.0 << QStringLiteral("6時0分");
        QTest::newRow("early morning") << 4.0 << 48.0 << QStringLiteral("4時48分");
        QTest::newRow("midnight") << 0.0 << 0.0 << QStringLiteral("0時0分");
        QTest::newRow("last minute") << 23.0 << 59.0 << QStringLiteral("23時59分");
    }
    void timeText() {
        QFETCH(double, hour);
        QFETCH(double, minute);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(cycle::TimeText(hour, minute)), text);
    }

    void timeTextRefusesWhatIsNotAWholeNumber() {
        QVERIFY_THROWS_EXCEPTION(HeliostatError, cycle::TimeText(17.5, 5));
        QVERIFY_THROWS_EXCEPTION(HeliostatError, cycle::TimeText(17, std::nan("")));
    }

    void gridIsCirclesAxesAndLabelsWithoutClearing() {
        RecordingChart chart;
        cycle::DrawEmptyChart(chart);
        const QStringList expected{
            "AutoRedraw 1",         "Circle 1200 1200 900",  "Circle 1200 1200 600",
            "Circle 1200 1200 300", "Line 0 1200 2400 1200", "Line 1200 0 1200 2400",
            "Print 1250 0 N",       "Print 0 1210 W",        "Print 2300 1210 E",
            "Print 1250 2300 S",    "Print 2125 1000 0°",    "Print 1825 1000 30°",
            "Print 1525 1000 60°"};
        QCOMPARE(chart.ops, expected);

        RecordingChart cycleChart;
        cycle::DrawChartBackground(cycleChart);
        QCOMPARE(cycleChart.ops.first(), QStringLiteral("Clear"));
        QCOMPARE(cycleChart.ops.mid(1), expected);
    }

    void sunIsASolidRedDiscAndFillReturnsToTransparent() {
        RecordingChart chart;
        cycle::DRAWSUN(chart, 45, 180);
        const QStringList expected{"FillStyle Solid", "FillColor 255,0,0",
                                   "Disc 1200.0 1650.0 80 255,0,0", "FillStyle Transparent"};
        QCOMPARE(chart.ops, expected);
    }

    void messagesStandAtTheirPlaces() {
        RecordingChart day;
        cycle::PRINTSET(day, 17, 5);
        QCOMPARE(day.ops, (QStringList{"Print 0 0 日の入りは", "Print 0 200 17時5分"}));

        RecordingChart night;
        cycle::PRINTRISE(night, 6, 0);
        QCOMPARE(night.ops,
                 (QStringList{"Print 0 2100 沈んでます。", "Print 1525 2100 次の日の出は",
                              "Print 1525 2300 6時0分"}));
    }
};

QTEST_APPLESS_MAIN(TestChart)
#include "test_chart.moc"
