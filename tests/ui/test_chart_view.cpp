// The sky chart area: twips to pixels, the persistent image, the recorded operations and the
// sun marker as the chart operations draw it.
#include <QtTest>

#include "cycle/chart.h"
#include "ui/chart_view.h"
#include "ui_test_support.h"

using heliostat::cycle::FillStyle;
using heliostat::cycle::kSunRed;
using heliostat::ui::ChartView;
using Kind = ChartView::Operation::Kind;
namespace support = heliostat::ui::test;

class TestChartView : public QObject {
    Q_OBJECT

private slots:
    void sizeIsTheAreaInPixels() {
        ChartView chart;
        QCOMPARE(chart.Image().size(), QSize(189, 173));  // 2835 x 2595 twips
        QCOMPARE(chart.size(), QSize(189, 173));
    }

    void recordsOperationsInTwipsUntilCleared() {
        ChartView chart;
        chart.Circle(1200.0, 1200.0, 900.0);
        chart.Line(0, 1200, 2400, 1200);
        chart.Print(1250, 0, "N");
        QCOMPARE(chart.Operations().size(), std::size_t{3});
        const auto& circle = chart.Operations()[0];
        QCOMPARE(circle.kind, Kind::Circle);
        QCOMPARE(circle.radius, 900.0);
        QVERIFY(!circle.filled);
        const auto& line = chart.Operations()[1];
        QCOMPARE(line.kind, Kind::Line);
        QCOMPARE(QPointF(line.x2, line.y2), QPointF(2400, 1200));
        const auto& text = chart.Operations()[2];
        QCOMPARE(text.kind, Kind::Text);
        QCOMPARE(text.text, QStringLiteral("N"));
        QCOMPARE(QPointF(text.x, text.y), QPointF(1250, 0));

        chart.Clear();
        QVERIFY(chart.Operations().empty());
    }

    void outlineCircleLandsOnItsPixels() {
        ChartView chart;
        const QColor background = chart.PixelAtTwips(1200, 1200);
        chart.Circle(1200.0, 1200.0, 900.0);
        // The horizon circle passes 60 px right of the centre (80, 80): 2100 twips.
        QVERIFY(chart.PixelAtTwips(2100, 1200) != background);
        QCOMPARE(chart.PixelAtTwips(1200, 1200), background);
        chart.Clear();
        QCOMPARE(chart.PixelAtTwips(2100, 1200), background);
    }

    void sunMarker_data() {
        QTest::addColumn<double>("elevation");
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<QPointF>("centre");
        QTest::newRow("east at 30") << 30.0 << 90.0 << QPointF(1800, 1200);
        QTest::newRow("south at 45") << 45.0 << 180.0 << QPointF(1200, 1650);
        QTest::newRow("north-west at 10") << 10.0 << 315.0 << QPointF(634.3, 634.3);
        QTest::newRow("zenith") << 90.0 << 0.0 << QPointF(1200, 1200);
        QTest::newRow("north on the horizon") << 0.0 << 0.0 << QPointF(1200, 300);
    }

    void sunMarker() {
        QFETCH(double, elevation);
        QFETCH(double, azimuth);
        QFETCH(QPointF, centre);
        ChartView chart;
        heliostat::cycle::DRAWSUN(chart, elevation, azimuth);
        const auto marker = support::FilledCircles(chart);
        QCOMPARE(marker.size(), 1);
        QVERIFY(std::abs(marker[0].x - centre.x()) < 0.1);
        QVERIFY(std::abs(marker[0].y - centre.y()) < 0.1);
        QCOMPARE(marker[0].radius, 80.0);
        QVERIFY(support::IsSunRed(marker[0].fill));
        QVERIFY(support::IsSunRed(chart.PixelAtTwips(centre.x(), centre.y())));
        // Solid: red a few pixels away from the centre too, and nothing red outside the disc.
        QVERIFY(support::IsSunRed(chart.PixelAtTwips(centre.x() + 45, centre.y())));
        QVERIFY(!support::IsSunRed(chart.PixelAtTwips(centre.x() + 150, centre.y())));
    }

    void transparentFillLeavesTheInsideAlone() {
        ChartView chart;
        chart.SetFillColor(kSunRed);
        chart.SetFillStyle(FillStyle::Transparent);
        chart.Circle(1200.0F, 1200.0F, 300.0F, kSunRed);
        QVERIFY(!chart.Operations().back().filled);
        QVERIFY(!support::IsSunRed(chart.PixelAtTwips(1200, 1200)));
        QVERIFY(support::RedPixelCount(chart.Image()) > 0);  // the outline itself
    }

    void emptyChartIsGridOnlyAndPersistent() {
        ChartView chart;
        heliostat::cycle::DrawEmptyChart(chart);
        QVERIFY(chart.Persistent());
        QCOMPARE(chart.Operations().size(), std::size_t{12});  // 3 circles, 2 lines, 7 labels
        QVERIFY(support::FilledCircles(chart).isEmpty());
        QCOMPARE(support::RedPixelCount(chart.Image()), 0);
    }

    // Two whole lines: a long message loses its step name, never its reason.
    void failureIsRecordedInRed_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason");  // the part that must be shown whole
        QTest::newRow("short") << "観測点緯度が数値ではありません"
                               << "観測点緯度が数値ではありません";
        QTest::newRow("long, with a step name")
            << "日没・日の出時刻の計算に失敗しました（日没時刻）：太陽が一日中昇らない極夜の日です"
            << "：太陽が一日中昇らない極夜の日です";
    }

    void failureIsRecordedInRed() {
        QFETCH(QString, message);
        QFETCH(QString, reason);
        ChartView chart;
        heliostat::cycle::DrawEmptyChart(chart);
        chart.ShowFailure(message);
        const auto& op = chart.Operations().back();
        QCOMPARE(op.kind, Kind::Failure);
        QCOMPARE(op.text, message);
        QVERIFY(support::IsSunRed(op.outline));
        const QString shown = op.lines.join(QString());
        QVERIFY2(shown.endsWith(reason) && !shown.contains(u'…'), qPrintable(shown));
        QVERIFY(op.lines.size() <= 2);
    }

    // Keep their places, and do not run into one another.
    void ringLabelsStayApart() {
        ChartView chart;
        heliostat::cycle::DrawEmptyChart(chart);
        QList<QRectF> rings;
        for (const auto& op : chart.Operations()) {
            if (op.kind == Kind::Text && op.text.endsWith(QStringLiteral("°"))) {
                rings << op.box;
                QCOMPARE(op.y, 1000.0);
            }
        }
        QCOMPARE(rings.size(), 3);
        // Drawn as 0°, 30°, 60°: each ends at least 3 pixels before the next one begins.
        QVERIFY(rings[2].right() + 3 <= rings[1].left());
        QVERIFY(rings[1].right() + 3 <= rings[0].left());
    }

    // Day texts at the top left and night texts at the bottom: the silence line goes where
    // neither is, nor the sun.
    void noticeAvoidsTextsAndSun_data() {
        QTest::addColumn<bool>("night");
        QTest::addColumn<QString>("notice");
        QTest::newRow("day") << false << "コントローラから応答なし（12秒）";
        QTest::newRow("night") << true << "コントローラから応答なし（12秒）";
        QTest::newRow("day, two lines")
            << false << "コントローラが範囲外の指令を拒否しました（方位角 188.82 仰角 44.21）";
    }

    void noticeAvoidsTextsAndSun() {
        QFETCH(bool, night);
        QFETCH(QString, notice);
        ChartView chart;
        chart.SetNotice(notice);
        heliostat::cycle::DrawChartBackground(chart);
        if (night) {
            heliostat::cycle::PRINTRISE(chart, 4, 48);
        } else {
            heliostat::cycle::DRAWSUN(chart, 5, 180);  // low in the south, near the bottom
            heliostat::cycle::PRINTSET(chart, 17, 5);
        }
        QVERIFY(!chart.NoticeBox().isEmpty());
        for (const auto& op : chart.Operations()) {
            const QRectF covered =
                op.kind == Kind::Circle && op.filled
                    ? QRectF(op.x / 15 - op.radius / 15, op.y / 15 - op.radius / 15,
                             2 * op.radius / 15, 2 * op.radius / 15)
                    : op.box;
            QVERIFY2(!covered.intersects(chart.NoticeBox()), qPrintable(op.text));
        }
        QVERIFY(QRectF(QPointF(0, 0), chart.size()).contains(chart.NoticeBox()));
        QCOMPARE(chart.NoticeLines().join(QString()).remove(u' '), QString(notice).remove(u' '));
    }
};

QTEST_MAIN(TestChartView)
#include "test_chart_view.moc"
