#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "base/errors.h"
#include "records.h"
#include "render.h"
#include "timeline.h"
#include "tools/program_run.h"

using namespace heliostat::report;

Q_DECLARE_METATYPE(std::optional<Millis>)

namespace {

const QString kData = QStringLiteral(REPORT_DATA_DIR);

std::string DataFile(const char* name) {
    return (kData + u'/' + QLatin1String(name)).toStdString();
}

Record<WindowRow> Session() {
    return ReadWindowRecord(DataFile("session.csv"));
}

Millis Jst(const char* text) {
    return *ParseStamp(text);
}

// A record of the window from its lines (header included, CRLF added).
std::vector<WindowRow> Rows(const QStringList& lines) {
    const auto record = ParseWindowRecord(
        (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toStdString(), "rows.csv");
    if (!record.problems.empty()) {
        qFatal("bad test record: %s", record.problems[0].Text().c_str());
    }
    return record.rows;
}

using heliostat::test::Run;

Run Report(const QStringList& args,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    return heliostat::test::RunProgram(QStringLiteral(HELIOSTAT_REPORT_PATH), args, environment);
}

// Variance of the grey level inside `rect`: zero for an empty plot.
double Variance(const QImage& image, const QRectF& rect) {
    double sum = 0, squares = 0, n = 0;
    const QRect r = rect.toRect().intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const double v = qGray(image.pixel(x, y));
            sum += v;
            squares += v * v;
            ++n;
        }
    }
    return n > 0 ? squares / n - (sum / n) * (sum / n) : 0;
}

// Pixels of a strong colour: the series and the state band, never the grey grid or text.
int Saturated(const QImage& image, const QRectF& rect) {
    int count = 0;
    const QRect r = rect.toRect().intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            count += image.pixelColor(x, y).hsvSaturation() > 100 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

class TestReport : public QObject {
    Q_OBJECT

private slots:
    // Both of the window's stamp forms and the controller's UTC form name the same instants.
    void stamps_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<Millis>>("utc");
        const std::optional<Millis> none;
        QTest::newRow("old window form, JST")
            << "2026-12-08 02:57:26.400" << std::optional<Millis>(1796666246400);
        QTest::newRow("new window form")
            << "2026-12-08T02:57:26.400+09:00" << std::optional<Millis>(1796666246400);
        QTest::newRow("controller, UTC")
            << "2026-12-07T17:57:26.400Z" << std::optional<Millis>(1796666246400);
        QTest::newRow("negative offset")
            << "2026-12-07T12:27:26.400-05:30" << std::optional<Millis>(1796666246400);
        QTest::newRow("offset without colon")
            << "2026-12-08T02:57:26.400+0900" << std::optional<Millis>(1796666246400);
        QTest::newRow("microseconds cut")
            << "2026-12-08 02:57:26.400999" << std::optional<Millis>(1796666246400);
        QTest::newRow("one decimal")
            << "2026-12-08 02:57:26.4" << std::optional<Millis>(1796666246400);
        QTest::newRow("no seconds") << "2026-12-08 02:57" << std::optional<Millis>(1796666220000);
        QTest::newRow("JST midnight across the year")
            << "2000-01-01 00:00:00" << std::optional<Millis>(946652400000);
        QTest::newRow("no 29 February in 2026") << "2026-02-29 00:00:00" << none;
        QTest::newRow("hour 24") << "2026-12-08 24:00:00" << none;
        QTest::newRow("minute 60") << "2026-12-08 02:60:00" << none;
        QTest::newRow("second 60") << "2026-12-08 02:57:60" << none;
        QTest::newRow("month 13") << "2026-13-08 02:57:00" << none;
        QTest::newRow("point without digits") << "2026-12-08 02:57:26." << none;
        QTest::newRow("short offset") << "2026-12-08 02:57:26+9" << none;
        QTest::newRow("text after Z") << "2026-12-07T17:57:26Zx" << none;
        QTest::newRow("slashes") << "2026/12/08 02:57:26" << none;
        QTest::newRow("empty") << "" << none;
    }
    void stamps() {
        QFETCH(QString, text);
        QFETCH(std::optional<Millis>, utc);
        QCOMPARE(ParseStamp(text.toStdString()), utc);
    }

    void stampTexts() {
        QCOMPARE(JstText(1796666246400), std::string("2026-12-08 02:57:26.400"));
        QCOMPARE(JstIsoText(1796666246400), std::string("2026-12-08T02:57:26.400+09:00"));
        // The JST date changes at 15:00 UTC.
        QCOMPARE(JstText(946652400000 - 1), std::string("1999-12-31 23:59:59.999"));
        // 1 h + 2 min + 3.004 s: the minutes are those past the hour.
        QCOMPARE(DurationText(3723004), std::string("1 時間 2 分 3.004 秒"));
    }

    // The hand-written record: two runs, three outages of known lengths, both stamp forms.
    void summaryOfHandWrittenRecord() {
        const Record<WindowRow> record = Session();
        const Summary s = Summarise(BuildTimeline(record.rows, {}), std::nullopt);
        QVERIFY(s.span);
        QCOMPARE(JstText(s.span->start), std::string("2026-12-08 10:00:00.000"));
        QCOMPARE(JstText(s.span->end), std::string("2026-12-08 10:01:07.800"));
        QCOMPARE(s.commands, 31);  // 4 + 2 in the runs, a stow, 25 folded into one row
        QCOMPARE(s.replies, 7);
        QCOMPARE(s.invalidReplies, 1);  // the old form's reply row of it is not counted again
        QCOMPARE(s.running, 22800);     // 15.000 s + 7.800 s
        QCOMPARE(s.onTarget, 4655);     // 1.000 + 2.655 + 1.000
        QCOMPARE(QString::number(*s.OnTargetShare() * 100, 'f', 1), QStringLiteral("20.4"));
        QCOMPARE(s.recordsLost, 7);

        QCOMPARE(s.outages.size(), std::size_t{3});
        // Silent since the last valid reply, not since the window noticed (4 s later).
        QCOMPARE(JstText(s.outages[0].span.start), std::string("2026-12-08 10:00:05.000"));
        QCOMPARE(s.outages[0].span.Length(), 7345);
        QCOMPARE(s.outages[0].reason, std::string("コントローラから応答なし（4秒）"));
        QVERIFY(!s.outages[0].open);
        // The rotator's limit starts at once.
        QCOMPARE(JstText(s.outages[1].span.start), std::string("2026-12-08 10:01:03.000"));
        QCOMPARE(s.outages[1].span.Length(), 2000);
        QCOMPARE(s.outages[1].reason, std::string("回転器の範囲外"));
        QCOMPARE(s.outages[2].span.Length(), 2800);
        QVERIFY(s.outages[2].open);

        QCOMPARE(*s.beamMedian, (0.05 + 0.10) / 2);
        QCOMPARE(*s.beamP95, 0.4);
        QCOMPARE(*s.beamMax, 0.4);

        const std::string text = SummaryText(s);
        QVERIFY(text.find("目標上の時間: 20.4 %") != std::string::npos);
        QVERIFY(text.find("2026-12-08 10:00:05.000 ～ 2026-12-08 10:00:12.345  7.345 秒") !=
                std::string::npos);
        const std::string csv = SummaryCsv(s);
        QVERIFY(csv.find("outage,7.345,2026-12-08T10:00:05.000+09:00,"
                         "2026-12-08T10:00:12.345+09:00,コントローラから応答なし（4秒）\r\n") !=
                std::string::npos);
        QVERIFY(csv.find("on_target_percent,20.42,,,\r\n") != std::string::npos);
    }

    void malformedAndTruncatedLines() {
        const Record<WindowRow> record = Session();
        QCOMPARE(record.problems.size(), std::size_t{3});
        // The failure's detail holds a line break, so the lines after it are one further on.
        QCOMPARE(record.problems[0].Text(),
                 DataFile("session.csv") + ":27: 列が足りません（2 列、必要なのは 4 列）");
        QCOMPARE(record.problems[1].line, 28);
        QVERIFY(!record.problems[1].truncated);
        QCOMPARE(record.problems[2].line, 31);
        QVERIFY(record.problems[2].truncated);
        // The quoted line break stays in the failure's text.
        const Timeline t = BuildTimeline(record.rows, {});
        const auto failure = std::find_if(t.marks.begin(), t.marks.end(), [](const Mark& m) {
            return m.kind == MarkKind::Failure;
        });
        QVERIFY(failure != t.marks.end());
        QCOMPARE(failure->text, std::string("計算に失敗しました:\n0 で割りました"));
    }

    void brokenQuoteCostsOneLine() {
        const auto record = ParseWindowRecord(
            "time,event,datagram,detail\r\n"
            "2026-12-08T10:00:00.000+09:00,command,\"0,1.00,2.00,\r\n"
            "2026-12-08T10:00:01.000+09:00,command,\"0,3.00,4.00\",\r\n"
            "\r\n"
            "2026-12-08T10:00:02.000+09:00,stop,,\r\n",
            "q.csv");
        QCOMPARE(record.problems.size(), std::size_t{1});
        QCOMPARE(record.problems[0].Text(), std::string("q.csv:2: 引用符が閉じていません"));
        QCOMPARE(record.rows.size(), std::size_t{2});
        QCOMPARE(record.rows[0].datagram, std::string("0,3.00,4.00"));
        QCOMPARE(record.rows[1].event, std::string("stop"));
    }

    void headers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("today's") << "time_jst,event,datagram,detail\r\n" << true;
        QTest::newRow("new") << "time,event,datagram,detail\n" << true;
        QTest::newRow("columns reordered") << "event,time,detail,datagram\r\n" << true;
        QTest::newRow("controller's") << "time,command,position,note\r\n" << false;
        QTest::newRow("no header") << "2026-12-08T10:00:00+09:00,start,,\r\n" << false;
        QTest::newRow("empty") << "" << false;
    }
    void headers() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        std::string error;
        try {
            ParseWindowRecord(text.toStdString(), "h.csv");
        } catch (const heliostat::HeliostatError& e) {
            error = e.what();
        }
        QCOMPARE(error.empty(), accepted);
        QCOMPARE(error.starts_with("h.csv:"), !accepted);
    }

    // Columns found by name; a quoted field may run over eight more lines.
    void columnsByName() {
        const auto rows =
            Rows({"detail,event,time,datagram,extra",
                  "beam_error=0.5000,reply,2026-12-08T10:00:00+09:00,\"0,1.00,2.00\",x",
                  "\"1\n2\n3\n4\n5\n6\n7\n8\n9\",failure,2026-12-08T10:00:01+09:00,,"});
        QCOMPARE(rows.size(), std::size_t{2});
        QCOMPARE(rows[1].detail, std::string("1\n2\n3\n4\n5\n6\n7\n8\n9"));
        QCOMPARE(rows[0].event, std::string("reply"));
        QCOMPARE(rows[0].datagram, std::string("0,1.00,2.00"));
        QCOMPARE(DetailValue(rows[0].detail, "beam_error"),
                 std::optional<std::string_view>("0.5000"));
        QCOMPARE(DetailValue("beam_error=0.1 flag=limit", "flag"),
                 std::optional<std::string_view>("limit"));
        QCOMPARE(DetailValue("beam_error=0.1", "beam"), std::optional<std::string_view>());
    }

    // The link's state from the replies and commands, at the edges of its rules.
    void linkStates_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<Millis>("onTarget");
        QTest::addColumn<Millis>("running");
        QTest::addColumn<int>("outages");
        QTest::addColumn<int>("commands");
        const QString h = "time,event,datagram,detail";
        const QString start = "2026-12-08T10:00:00.000+09:00,start,,";
        const QString stop = "2026-12-08T10:00:10.000+09:00,stop,,";
        QTest::newRow("within 0.1 on both axes")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:02.000+09:00,reply,\"0,100.10,19.90\",", stop}
            << Millis{8000} << Millis{10000} << 0 << 1;
        QTest::newRow("0.11 off in elevation")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:02.000+09:00,reply,\"0,100.00,20.11\",", stop}
            << Millis{0} << Millis{10000} << 0 << 1;
        QTest::newRow("azimuth across north")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,command,\"0,360.00,20.00\",",
                           "2026-12-08T10:00:02.000+09:00,reply,\"0,000.05,20.00\",", stop}
            << Millis{8000} << Millis{10000} << 0 << 1;
        QTest::newRow("a new command leaves the target")
            << QStringList{h,
                           start,
                           "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:02.000+09:00,reply,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:06.000+09:00,command,\"0,101.00,20.00\",",
                           stop}
            << Millis{4000} << Millis{10000} << 0 << 2;
        QTest::newRow("silent with no reply since the start")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:03.000+09:00,silent,,応答なし", stop}
            << Millis{0} << Millis{10000} << 1 << 1;
        // The second run's silence starts at its own start, not at the first run's reply.
        QTest::newRow("silent in a second run")
            << QStringList{h,
                           "2026-12-08T09:59:50.000+09:00,start,,",
                           "2026-12-08T09:59:52.000+09:00,reply,\"0,100.00,20.00\",",
                           "2026-12-08T09:59:55.000+09:00,stop,,",
                           start,
                           "2026-12-08T10:00:03.000+09:00,silent,,応答なし",
                           stop}
            << Millis{0} << Millis{15000} << 1 << 0;
        QTest::newRow("a late reply after the stop changes nothing")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",",
                           stop, "2026-12-08T10:00:11.000+09:00,reply,\"0,100.00,20.00\","}
            << Millis{0} << Millis{10000} << 0 << 1;
        QTest::newRow("commands without a start row count as running")
            << QStringList{h, "2026-12-08T10:00:00.000+09:00,command,\"0,100.00,20.00\",",
                           "2026-12-08T10:00:04.000+09:00,reply,\"0,100.00,20.00\",", stop}
            << Millis{6000} << Millis{10000} << 0 << 1;
        // A stow the system refused to send is no command.
        QTest::newRow("refused stow")
            << QStringList{h, start, "2026-12-08T10:00:01.000+09:00,stow,\"0,180.00,.00\",",
                           "2026-12-08T10:00:02.000+09:00,stow,\"0,180.00,.00\",送信できません",
                           stop}
            << Millis{0} << Millis{10000} << 0 << 1;
    }
    void linkStates() {
        QFETCH(QStringList, rows);
        QFETCH(Millis, onTarget);
        QFETCH(Millis, running);
        QFETCH(int, outages);
        QFETCH(int, commands);
        const Summary s = Summarise(BuildTimeline(Rows(rows), {}), std::nullopt);
        QCOMPARE(s.onTarget, onTarget);
        QCOMPARE(s.running, running);
        QCOMPARE(static_cast<int>(s.outages.size()), outages);
        QCOMPARE(static_cast<int>(s.commands), commands);
        if (outages == 1) {
            QCOMPARE(s.outages[0].span.start, Jst("2026-12-08 10:00:00"));
            QCOMPARE(s.outages[0].span.end, Jst("2026-12-08 10:00:10"));
        }
    }

    // The newer window's events: the alarm threshold from start or from the alarm rows, a
    // parked mirror as an outage from its row, and rows this reader does not know.
    void newerEvents_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<double>("threshold");  // -1: none
        QTest::addColumn<QString>("reason");    // of the one outage, empty: none
        const QString h = "time,event,datagram,detail";
        const QString start = "2026-12-08T10:00:00.000+09:00,start,,controller=127.0.0.1:10006";
        QTest::newRow("threshold given at start")
            << QStringList{h, start + " beam_alarm=0.5"} << 0.5 << "";
        QTest::newRow("threshold of an alarm row")
            << QStringList{h, start,
                           "2026-12-08T10:00:05.000+09:00,beam-alarm,,beam_error=2.1000 "
                           "threshold=0.8"}
            << 0.8 << "";
        QTest::newRow("no threshold") << QStringList{h, start} << -1.0 << "";
        QTest::newRow("parked")
            << QStringList{h,
                           start,
                           "2026-12-08T10:00:01.000+09:00,reply,\"0,180.00,.00,parked\",flag="
                           "parked",
                           "2026-12-08T10:00:01.000+09:00,parked,,",
                           "2026-12-08T10:00:02.000+09:00,foreign,\"0,1,2\",from=192.0.2.1:5000",
                           "2026-12-08T10:00:03.000+09:00,something-new,,x=1",
                           "2026-12-08T10:00:04.000+09:00,recovered,,"}
            << -1.0 << "反射鏡の退避";
    }
    void newerEvents() {
        QFETCH(QStringList, rows);
        QFETCH(double, threshold);
        QFETCH(QString, reason);
        const Timeline t = BuildTimeline(Rows(rows), {});
        QCOMPARE(t.beamThreshold.value_or(-1), threshold);
        const Summary s = Summarise(t, std::nullopt);
        QCOMPARE(s.outages.size(), std::size_t{reason.isEmpty() ? 0u : 1u});
        if (!reason.isEmpty()) {
            QCOMPARE(QString::fromStdString(s.outages[0].reason), reason);
            QCOMPARE(s.outages[0].span.Length(), 3000);
            QCOMPARE(s.replies, 1);
        }
    }

    // --from/--to cut the counts, the states and the outages.
    void ranges_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<long long>("commands");
        QTest::addColumn<Millis>("running");
        QTest::addColumn<Millis>("onTarget");
        QTest::addColumn<Millis>("firstOutage");
        QTest::newRow("second run only")
            << "2026-12-08 10:00:30"
            << "2026-12-08 11:00:00" << 27LL << Millis{7800} << Millis{1000} << Millis{2000};
        QTest::newRow("inside the first outage")
            << "2026-12-08 10:00:08"
            << "2026-12-08T01:00:10Z" << 1LL << Millis{2000} << Millis{0} << Millis{2000};
        QTest::newRow("ends on a command")
            << "2026-12-08 10:00:00"
            << "2026-12-08 10:00:04" << 2LL << Millis{4000} << Millis{1000} << Millis{-1};
    }
    void ranges() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(long long, commands);
        QFETCH(Millis, running);
        QFETCH(Millis, onTarget);
        QFETCH(Millis, firstOutage);
        const Timeline t = BuildTimeline(Session().rows, {});
        const Summary s = Summarise(t, Span{Jst(qPrintable(from)), Jst(qPrintable(to))});
        QCOMPARE(s.commands, commands);
        QCOMPARE(s.running, running);
        QCOMPARE(s.onTarget, onTarget);
        QCOMPARE(s.outages.empty() ? Millis{-1} : s.outages[0].span.Length(), firstOutage);
    }

    void beamStatistics_data() {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<double>("median");
        QTest::addColumn<double>("p95");
        QTest::addColumn<double>("max");
        QTest::newRow("one") << QList<double>{0.3} << 0.3 << 0.3 << 0.3;
        QTest::newRow("odd, unsorted") << QList<double>{3, 1, 2} << 2.0 << 3.0 << 3.0;
        QList<double> twenty;
        for (int i = 20; i >= 1; --i) {
            twenty << i;
        }
        // Nearest rank: the 19th of 20 values.
        QTest::newRow("twenty") << twenty << 10.5 << 19.0 << 20.0;
        QList<double> hundred;
        for (int i = 1; i <= 100; ++i) {
            hundred << i / 100.0;
        }
        QTest::newRow("hundred") << hundred << 0.505 << 0.95 << 1.0;
    }
    void beamStatistics() {
        QFETCH(QList<double>, values);
        QFETCH(double, median);
        QFETCH(double, p95);
        QFETCH(double, max);
        QStringList rows{"time,event,datagram,detail"};
        for (qsizetype i = 0; i < values.size(); ++i) {
            rows << QStringLiteral(
                        "2026-12-08T10:00:%1.000+09:00,reply,\"0,1.00,2.00\",beam_error=%2")
                        .arg(i % 60, 2, 10, QLatin1Char('0'))
                        .arg(values[i], 0, 'f', 4);
        }
        const Summary s = Summarise(BuildTimeline(Rows(rows), {}), std::nullopt);
        QVERIFY(s.beamMedian);
        QCOMPARE(*s.beamMedian, median);
        QCOMPARE(*s.beamP95, p95);
        QCOMPARE(*s.beamMax, max);
    }

    void controllerJoined() {
        const auto controller = ReadControllerRecord(DataFile("controller.csv"));
        QVERIFY(controller.problems.empty());
        const Timeline t = BuildTimeline(Session().rows, controller.rows);
        QCOMPARE(t.controllerPositions.size(), std::size_t{5});
        // UTC with Z, on the window's time line.
        QCOMPARE(JstText(t.controllerPositions[0].time), std::string("2026-12-08 10:00:01.010"));
        QCOMPARE(t.controllerPositions[0].azimuth, 140.0);
        QCOMPARE(t.controllerPositions[3].elevation, 40.0);
        const Summary s = Summarise(t, std::nullopt);
        // 4 rows (the last one after the window's last row) and 12 counted in one.
        QCOMPARE(s.controllerCommands, 16);
        QCOMPARE(s.recordsLost, 7 + 3);        // the window's and the controller's
        QCOMPARE(s.controllerRejected, 1205);  // one recorded, 1,204 counted in one row
        // The controller's rows do not stretch the window's session.
        QCOMPARE(JstText(s.span->end), std::string("2026-12-08 10:01:07.800"));
    }

    void pngPlotsAreDrawn() {
        const auto controller = ReadControllerRecord(DataFile("controller.csv"));
        const Timeline t = BuildTimeline(Session().rows, controller.rows);
        ReportInput input;
        input.timeline = &t;
        input.sessionFiles << kData + "/session.csv";
        const std::vector<Span> pages = PageSpans(input);
        QCOMPARE(pages.size(), std::size_t{1});
        PageLayout layout;
        const QImage image = RenderPage(input, pages[0], &layout);
        QCOMPARE(image.size(), QSize(kPageWidth, kPageHeight));
        for (const QRectF& rect :
             {layout.azimuthPlot, layout.elevationPlot, layout.beamPlot, layout.band}) {
            QVERIFY(image.rect().contains(rect.toRect()));
            QVERIFY2(Variance(image, rect) > 30,
                     qPrintable(QStringLiteral("blank at %1,%2").arg(rect.x()).arg(rect.y())));
        }
        for (const QRectF& rect : {layout.azimuthPlot, layout.elevationPlot, layout.beamPlot}) {
            QVERIFY(Saturated(image, rect) > 300);
        }
        // The band is green where the mirror was on target (10:00:12.345 to 10:00:15).
        const double x = layout.band.left() + layout.band.width() * (13.5 / 68.5);
        const QColor c =
            image.pixelColor(static_cast<int>(x), static_cast<int>(layout.band.center().y()));
        QVERIFY2(c.green() > 150 && c.red() < 100, qPrintable(c.name()));
    }

    // An empty plot (grid only: a variance of about 12 against 70 to 150 with data) fails the
    // checks above.
    void emptyPlotsMeasureBlank() {
        const Timeline t = BuildTimeline(
            Rows({"time,event,datagram,detail", "2026-12-08T10:00:00.000+09:00,start,,",
                  "2026-12-08T10:00:30.000+09:00,stop,,"}),
            {});
        ReportInput input;
        input.timeline = &t;
        PageLayout layout;
        const QImage image = RenderPage(input, PageSpans(input).front(), &layout);
        for (const QRectF& rect : {layout.azimuthPlot, layout.elevationPlot}) {
            QVERIFY2(Variance(image, rect) < 30,
                     qPrintable(QString::number(Variance(image, rect))));
        }
        for (const QRectF& rect : {layout.azimuthPlot, layout.elevationPlot, layout.beamPlot}) {
            QCOMPARE(Saturated(image, rect), 0);
        }
    }

    void beamScale_data() {
        QTest::addColumn<QList<double>>("errors");
        QTest::addColumn<bool>("logarithmic");
        QTest::newRow("tracking") << QList<double>{0.02, 0.4, 0.05} << false;
        QTest::newRow("just under two decades") << QList<double>{0.01, 0.99} << false;
        QTest::newRow("two decades") << QList<double>{0.01, 1.0} << true;
        QTest::newRow("swing, then tracking") << QList<double>{150, 40, 0.004} << true;
        // Zero counts as the floor of 0.001°.
        QTest::newRow("zero and a tenth") << QList<double>{0, 0.09} << false;
        QTest::newRow("zero and a degree") << QList<double>{0, 1} << true;
    }
    void beamScale() {
        QFETCH(QList<double>, errors);
        QFETCH(bool, logarithmic);
        QStringList rows{"time,event,datagram,detail", "2026-12-08T10:00:00.000+09:00,start,,"};
        for (qsizetype i = 0; i < errors.size(); ++i) {
            rows << QStringLiteral(
                        "2026-12-08T10:00:%1.000+09:00,reply,\"0,1.00,2.00\",beam_error=%2")
                        .arg(i + 1, 2, 10, QLatin1Char('0'))
                        .arg(errors[i], 0, 'f', 4);
        }
        const Timeline t = BuildTimeline(Rows(rows), {});
        ReportInput input;
        input.timeline = &t;
        PageLayout layout;
        const QImage image = RenderPage(input, PageSpans(input).front(), &layout);
        QCOMPARE(layout.beamLogarithmic, logarithmic);
        QVERIFY(Saturated(image, layout.beamPlot) > 100);
    }

    void pagesPerDay() {
        const auto rows =
            Rows({"time,event,datagram,detail", "2026-12-08T23:59:00.000+09:00,start,,",
                  "2026-12-09 00:00:30.000,command,\"0,1.00,2.00\",",
                  "2026-12-09T00:01:00.000+09:00,stop,,", "2026-12-11T12:00:00.000+09:00,start,,"});
        const Timeline t = BuildTimeline(rows, {});
        ReportInput input;
        input.timeline = &t;
        std::vector<Span> pages = PageSpans(input);
        QCOMPARE(pages.size(), std::size_t{3});
        QCOMPARE(pages[0].start, Jst("2026-12-08 23:59:00"));
        QCOMPARE(pages[0].end, Jst("2026-12-08 23:59:00"));
        QCOMPARE(pages[1].end, Jst("2026-12-09 00:01:00"));
        input.range = Span{Jst("2026-12-09 00:00:00"), Jst("2026-12-10 00:00:00")};
        pages = PageSpans(input);
        QCOMPARE(pages.size(), std::size_t{1});
        QCOMPARE(pages[0].start, Jst("2026-12-09 00:00:30"));
    }

    void usage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString s = kData + "/session.csv";
        QTest::newRow("no mode") << QStringList{s}
                                 << "--output、--summary か --summary-csv が必要です";
        QTest::newRow("two modes") << QStringList{"--summary", "--summary-csv", s}
                                   << "--summary と --summary-csv は同時に使えません";
        QTest::newRow("no record") << QStringList{"--summary"} << "SESSION.csv が必要です";
        QTest::newRow("bad time") << QStringList{"--summary", "--from", "yesterday", s}
                                  << "--from「yesterday」は日時";
        QTest::newRow("to before from")
            << QStringList{"--summary", "--from", "2026-12-08 10:00", "--to", "2026-12-08 09:00", s}
            << "--to「2026-12-08 09:00」は--from 以後の日時ではありません";
        QTest::newRow("bad suffix")
            << QStringList{"--output", "r.jpg", s} << "--output「r.jpg」は拡張子";
        QTest::newRow("page zero") << QStringList{"--output", "r.png", "--page", "0", s}
                                   << "--page「0」は 1～100000 の整数ではありません";
        QTest::newRow("page with summary") << QStringList{"--summary", "--page", "2", s}
                                           << "--page と --summary は同時に使えません";
        QTest::newRow("unknown option")
            << QStringList{"--bogus", s} << "不明なオプションです: --bogus";
        QTest::newRow("switch with a value")
            << QStringList{"--summary=1", s} << "--summary は値を取りません";
    }
    void usage() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Run run = Report(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void helpAndVersion() {
        Run run = Report({"--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains("--controller-log FILE"));
        run = Report({"-v"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("heliostat-report "));
        // A platform that cannot start (X without a display) is not needed to answer.
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        noDisplay.remove("DISPLAY");
        noDisplay.remove("WAYLAND_DISPLAY");
        noDisplay.insert("QT_QPA_PLATFORM", "xcb");
        QCOMPARE(Report({"--help"}, noDisplay).exitCode, 0);
        run = Report({"--summary"}, noDisplay);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("SESSION.csv が必要です"));
    }

    void summaryFromTheProgram() {
        const Run run = Report(
            {"--summary", "--controller-log", kData + "/controller.csv", kData + "/session.csv"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("途絶: 3 回\n")));
        QVERIFY(run.out.contains(QStringLiteral("コントローラが受けたコマンド: 16（拒否 1205）")));
        QVERIFY(run.err.contains(kData +
                                 "/session.csv:28: 時刻「2026-12-08 25:01:06.600」が読めません"));
        QVERIFY(run.err.contains(kData + "/session.csv:31: 最後の行が途中で切れています"));
        // --to may equal --from: a range of one instant.
        QCOMPARE(Report({"--summary", "--from", "2026-12-08 10:00", "--to", "2026-12-08 10:00",
                         kData + "/session.csv"})
                     .exitCode,
                 0);
        const Run missing = Report({"--summary", kData + "/no-such.csv"});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains("no-such.csv"));
    }

    void outputFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Two JST days: the PDF has two pages, a PNG or SVG one, and a third page does not exist.
        const QString twoDays = dir.filePath("two-days.csv");
        QFile file(twoDays);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "time,event,datagram,detail\r\n"
            "2026-12-08T10:00:00.000+09:00,start,,\r\n"
            "2026-12-08T10:00:01.000+09:00,command,\"0,100.00,20.00\",\r\n"
            "2026-12-08T10:00:02.000+09:00,reply,\"0,100.00,20.00\",beam_error=0.0100\r\n"
            "2026-12-09T10:00:00.000+09:00,command,\"0,110.00,25.00\",\r\n"
            "2026-12-09T10:00:01.000+09:00,reply,\"0,110.00,25.00\",beam_error=0.0200\r\n");
        file.close();
        const QString pdf = dir.filePath("r.pdf");
        QCOMPARE(Report({"--output", pdf, twoDays}).exitCode, 0);
        QProcess info;
        info.start("pdfinfo", {pdf});
        QVERIFY(info.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(info.readAllStandardOutput())
                    .contains(QRegularExpression("Pages:\\s+2\\n")));
        const QString svg = dir.filePath("r.svg");
        QCOMPARE(Report({"--output", svg, "--page", "2", twoDays}).exitCode, 0);
        QFile svgFile(svg);
        QVERIFY(svgFile.open(QIODevice::ReadOnly));
        QVERIFY(svgFile.readAll().contains("<svg"));
        const Run third = Report({"--output", dir.filePath("r.png"), "--page", "3", twoDays});
        QCOMPARE(third.exitCode, 1);
        QVERIFY(third.err.contains("3 ページ目はありません（全 2 ページ）"));
        const QString png = dir.filePath("r2.png");
        QCOMPARE(Report({"--output", png, "--from", "2026-12-09 00:00", twoDays}).exitCode, 0);
        QCOMPARE(QImage(png).size(), QSize(kPageWidth, kPageHeight));
    }
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
