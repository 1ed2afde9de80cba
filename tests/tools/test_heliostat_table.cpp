#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "tools/program_run.h"
#include "version/version.h"

namespace {

using heliostat::test::Run;

Run Table(const QStringList& args) {
    return heliostat::test::RunProgram(QStringLiteral(HELIOSTAT_TABLE_PATH), args);
}

// Splits one RFC 4180 record (no line breaks inside fields in this tool's output).
QStringList CsvRecord(const QString& line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

QList<QStringList> Rows(const QString& out) {
    QList<QStringList> rows;
    const QStringList lines = out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(1)) {
        rows << CsvRecord(line);
    }
    return rows;
}

const QString kHeader = QStringLiteral(
    "jst,branch,sun_elevation,sun_azimuth,mirror_elevation,mirror_azimuth,command,chart_time,"
    "marker_x,marker_y,error");

}  // namespace

class TestHeliostatTable : public QObject {
    Q_OBJECT

private slots:
    void workedDayRow() {
        const Run run = Table({"--lat", "35", "--lon", "135", "--target-el", "10", "--target-az",
                               "200", "--from", "2026-06-21 12:00:00"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(kHeader + "\r\n"));
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 1);
        const QStringList expected{
            "2026-06-21 12:00:00", "day", " 78.43", "177.63", "44.21", "188.82", "0,188.82,44.21"};
        QCOMPARE(rows[0].mid(0, 7), expected);
        // The mean method's sunset as the README's worked row gives it; the true upper-limb
        // sunset is 19:17:09 JST by the almanac's low-precision formulas.
        QCOMPARE(rows[0][7], QStringLiteral("19時17分"));
        QCOMPARE(rows[0].mid(8), (QStringList{"", "", ""}));  // first day cycle: no marker
        // The command contains commas, so it is quoted in the file.
        QVERIFY(run.out.contains(QStringLiteral("\"0,188.82,44.21\"")));
    }

    // The marker phase carries from row to row, and night rows leave it alone. Of two cities
    // the first counts (Sapporo's sunrise is before 4 o'clock).
    void rangeWithStepAndMarkerPhase() {
        const Run run = Table({"--preset", "東京", "--preset", "札幌", "--target-el", "13.01",
                               "--target-az", "200", "--from", "2008-06-15 03:00:00", "--to",
                               "2008-06-15 12:00:00", "--step", "10800"});
        QCOMPARE(run.exitCode, 0);
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0][0], QStringLiteral("2008-06-15 03:00:00"));
        QCOMPARE(rows[0][1], QStringLiteral("night"));
        QCOMPARE(rows[0][2], QStringLiteral(".00"));
        QCOMPARE(rows[0][4], QStringLiteral("6.51"));
        QCOMPARE(rows[0][7], QStringLiteral("4時24分"));
        QCOMPARE(rows[1][1], QStringLiteral("day"));
        QCOMPARE(rows[1][8], QString());
        QCOMPARE(rows[2][1], QStringLiteral("day"));
        QVERIFY(!rows[2][8].isEmpty() && !rows[2][9].isEmpty());
        QCOMPARE(rows[3][8], QString());
        QCOMPARE(rows[3][0], QStringLiteral("2008-06-15 12:00:00"));
        QCOMPARE(rows[1][7], QStringLiteral("18時59分"));
    }

    void failedCyclesAreRowsAndExitOne() {
        const Run run =
            Table({"--lat", "abc", "--lon", "135", "--target-el", "10", "--target-az", "200",
                   "--from", "2026-06-21 12:00:00", "--to", "2026-06-21 12:02:00"});
        QCOMPARE(run.exitCode, 1);
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 3);
        for (const QStringList& row : rows) {
            QCOMPARE(row[1], QStringLiteral("error"));
            QCOMPARE(row[6], QString());
            QVERIFY(row[10].contains(QStringLiteral("abc")));
        }
    }

    void lenientTargetsAsTheWindowReadsThem() {
        const Run run = Table({"--lat", "35", "--lon", "135", "--target-el", " 1 0abc",
                               "--target-az", "&HC8", "--from", "2026-06-21 12:00:00"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(Rows(run.out)[0][6], QStringLiteral("0,188.82,44.21"));
    }

    // A target elevation is read leniently, then must name a direction: -90 to 90 inclusive.
    void targetElevationRange_data() {
        QTest::addColumn<QString>("elevation");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("zenith") << "90" << 0;
        QTest::newRow("nadir") << "-90" << 0;
        QTest::newRow("just above the zenith") << "90.001" << 2;
        QTest::newRow("below the nadir") << "-90.5" << 2;
        QTest::newRow("huge") << "1e300" << 2;
        QTest::newRow("exponent") << "35.64e3" << 2;
    }
    void targetElevationRange() {
        QFETCH(QString, elevation);
        QFETCH(int, exitCode);
        const Run run = Table({"--lat", "35", "--lon", "135", "--target-el", elevation,
                               "--target-az", "200", "--from", "2026-06-21 12:00:00"});
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2) {
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.err, "heliostat-table: --target-el「" + elevation +
                                  "」は -90～90 の数ではありません\n'heliostat-table --help' "
                                  "で使い方を表示します。\n");
        }
    }

    // Each mistake is refused with its one wording and nothing else.
    void badUsage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QStringList base{"--lat",       "35", "--lon",       "135",
                               "--target-el", "10", "--target-az", "200"};
        const QString shape = QStringLiteral("」は「YYYY-MM-DD HH:MM:SS」の日時ではありません");
        const QString range = QStringLiteral(
            "」は計算できる範囲（日本標準時 1900-03-01 00:00:00 から 2100-02-28 23:59:59 まで）の"
            "日時ではありません");
        QTest::newRow("no arguments")
            << QStringList{} << "--lat と --lon（または --preset） が必要です";
        QTest::newRow("no targets")
            << QStringList{"--preset", "東京", "--from", "2026-06-21 12:00:00"}
            << "--target-el と --target-az が必要です";
        QTest::newRow("missing --from") << base << "--from が必要です";
        QTest::newRow("bad date") << base + QStringList{"--from", "2026-02-30 12:00:00"}
                                  << "--from「2026-02-30 12:00:00" + shape;
        QTest::newRow("bad time") << base + QStringList{"--from", "2026-06-21 24:00:00"}
                                  << "--from「2026-06-21 24:00:00" + shape;
        QTest::newRow("minute 60") << base + QStringList{"--from", "2026-06-21 12:60:00"}
                                   << "--from「2026-06-21 12:60:00" + shape;
        QTest::newRow("signed field") << base + QStringList{"--from", "2026-06-21 +1:00:00"}
                                      << "--from「2026-06-21 +1:00:00" + shape;
        QTest::newRow("to before from")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--to", "2026-06-21 11:00:00"}
            << "--to が --from より前です";
        QTest::newRow("zero step")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--step", "0"}
            << "--step「0」は 1～31622400 の整数秒ではありません";
        QTest::newRow("step above a leap year")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--step", "31622401"}
            << "--step「31622401」は 1～31622400 の整数秒ではありません";
        QTest::newRow("unknown city")
            << QStringList{"--preset",    "京都", "--target-el", "1",
                           "--target-az", "1",    "--from",      "2026-06-21 12:00:00"}
            << "--preset「京都」は一覧の都市ではありません";
        QTest::newRow("unknown option")
            << base + QStringList{"--frm", "x"} << "不明なオプションです: --frm";
        QTest::newRow("option without value")
            << base + QStringList{"--from"} << "--from に値がありません";
        QTest::newRow("stray argument") << base + QStringList{"x"} << "余分な引数です: x";
        QTest::newRow("target too large")
            << QStringList{"--lat", "35",          "--lon", "135",    "--target-el",
                           "1e999", "--target-az", "1",     "--from", "2026-06-21 12:00:00"}
            << "--target-el: 数値が大きすぎます。";
        // The calculation's day count holds from 1 March 1900 to 28 February 2100; the
        // nanosecond clock used to wrap 9999 to 1815 and run on from 2262 into 1677.
        QTest::newRow("year 9999") << base + QStringList{"--from", "9999-06-21 12:00:00"}
                                   << "--from「9999-06-21 12:00:00" + range;
        QTest::newRow("across 2262")
            << base + QStringList{"--from", "2262-04-12 08:46:00", "--to", "2262-04-12 08:47:16"}
            << "--from「2262-04-12 08:46:00" + range;
        QTest::newRow("year 1") << base + QStringList{"--from", "0001-01-01 00:00:00"}
                                << "--from「0001-01-01 00:00:00" + range;
        QTest::newRow("year 0") << base + QStringList{"--from", "0000-03-01 00:00:00"}
                                << "--from「0000-03-01 00:00:00" + shape;
        QTest::newRow("day before the range") << base + QStringList{"--from", "1900-02-28 23:59:59"}
                                              << "--from「1900-02-28 23:59:59" + range;
        QTest::newRow("unknown pointing")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--pointing", "Exact"}
            << "--pointing「Exact」は mean か exact ではありません";
        QTest::newRow("pointing without value")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--pointing"}
            << "--pointing に値がありません";
        QTest::newRow("beam error with a value")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--beam-error=1"}
            << "--beam-error は値を取りません";
        QTest::newRow("to after the range")
            << base + QStringList{"--from", "2100-02-28 23:00:00", "--to", "2100-03-01 00:00:00"}
            << "--to「2100-03-01 00:00:00" + range;
    }
    void badUsage() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const Run run = Table(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err, "heliostat-table: " + says +
                              "\n'heliostat-table --help' で使い方を表示します。\n");
    }

    // The first and last instants of the range are computed: both are night in Tokyo.
    void rangeEdges_data() {
        QTest::addColumn<QString>("when");
        QTest::newRow("first") << "1900-03-01 00:00:00";
        QTest::newRow("last") << "2100-02-28 23:59:59";
        // Hour, minute and second all differ, so none can stand in for another.
        QTest::newRow("inside") << "2026-06-21 03:04:05";
    }
    void rangeEdges() {
        QFETCH(QString, when);
        const Run run =
            Table({"--preset", "東京", "--target-el", "10", "--target-az", "200", "--from", when});
        QCOMPARE(run.exitCode, 0);
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].mid(0, 2), (QStringList{when, "night"}));
    }

    // One run over two dates: the second row must not reuse the first date's sunset
    // (16.93515 h and 17.62778 h for 35.65N 139.7E, worked by hand).
    void eachDateHasItsOwnSunset() {
        const Run run = Table({"--lat", "35.65", "--lon", "139.7", "--target-el", "10",
                               "--target-az", "200", "--from", "2008-01-20 12:00:00", "--to",
                               "2008-03-01 12:00:00", "--step", QString::number(41 * 86400)});
        QCOMPARE(run.exitCode, 0);
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][7], QStringLiteral("16時56分"));
        QCOMPARE(rows[1][0], QStringLiteral("2008-03-01 12:00:00"));
        QCOMPARE(rows[1][7], QStringLiteral("17時37分"));
    }

    // 65N 154E, 15 June 2026, midnight: the next sunrise falls at -0.27 h, before midnight.
    void sunriseBeforeMidnightIsAFailedRow() {
        const Run run = Table({"--lat", "65", "--lon", "154", "--target-el", "10", "--target-az",
                               "200", "--from", "2026-06-15 00:00:00"});
        QCOMPARE(run.exitCode, 1);
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0][1], QStringLiteral("error"));
        QCOMPARE(rows[0].mid(6, 2), (QStringList{"", ""}));  // nothing sent, no chart time
        QVERIFY2(rows[0][10].contains(QStringLiteral("日の出")), qPrintable(rows[0][10]));
    }

    // A quote in a field is doubled inside the quoted field (RFC 4180).
    void quoteInAFieldIsDoubled() {
        const Run run = Table({"--lat", "3\"5", "--lon", "135", "--target-el", "10", "--target-az",
                               "200", "--from", "2026-06-21 12:00:00"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(
            run.out.endsWith(QStringLiteral(",\"観測点緯度「3\"\"5」が数値ではありません\"\r\n")),
            qPrintable(run.out));
    }

    // Exact mode, standard atmosphere (1010 hPa, 10 °C). NREL SPA's worked example (Reda and
    // Andreas): airless elevation 39.872048° (its zenith 50.11162° less its 820 hPa refraction
    // 0.016332°) plus 0.020187° of standard refraction, azimuth 194.34024°.
    void exactSunAtSpaExample() {
        const Run run =
            Table({"--lat", "39.742476", "--lon", "-105.1786", "--target-el", "10", "--target-az",
                   "200", "--from", "2003-10-18 04:30:30", "--pointing", "exact"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(kHeader + "\r\n"));
        QCOMPARE(Rows(run.out)[0].mid(1, 3), (QStringList{"day", " 39.89", "194.34"}));
    }

    // The exact bisector puts the commanded beam on any target within what two-decimal texts
    // allow; night rows have no beam. The sun at noon: 54.0708°, 184.7968° (PyEphem).
    void exactBeamError_data() {
        QTest::addColumn<QString>("el");
        QTest::addColumn<QString>("az");
        QTest::newRow("default target") << "35.64"
                                        << "139.3";
        QTest::newRow("low, north") << "20"
                                    << "10";
        QTest::newRow("high, south") << "70"
                                     << "180";
    }
    void exactBeamError() {
        QFETCH(QString, el);
        QFETCH(QString, az);
        const Run run = Table({"--preset", "東京", "--target-el", el, "--target-az", az, "--from",
                               "2026-03-20 06:00:00", "--to", "2026-03-20 18:00:00", "--step",
                               "7200", "--pointing", "exact", "--beam-error"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(kHeader + ",beam_error\r\n"));
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 7);
        QCOMPARE(rows[3].mid(0, 4),
                 (QStringList{"2026-03-20 12:00:00", "day", " 54.07", "184.80"}));
        QCOMPARE(rows[6].mid(1, 1) + rows[6].mid(10), (QStringList{"night", "", ""}));
        for (const QStringList& row : rows.mid(0, 6)) {
            bool number = false;
            QVERIFY2(row.size() == 12 && row[11].toDouble(&number) <= 0.02 && number,
                     qPrintable(row.join(',')));
        }
    }

    // A mount whose encoders read 0.8° high in azimuth and 0.4° low in elevation: the
    // controller drives 0.8° more and 0.4° less than the command, by day and by night, and the
    // beam error is where the model says the mount then points, so the same 8.86°.
    void mountModelColumns() {
        QTemporaryDir dir;
        const QString path = dir.filePath("model.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray json = R"({"format": "heliostat-mount-model", "version": 1, "parameters": {)";
        for (const auto& [name, value] : {std::pair{"azimuth_offset", "0.8"},
                                          {"elevation_offset", "-0.4"},
                                          {"tilt_north", "0"},
                                          {"tilt_east", "0"},
                                          {"axis_skew", "0"},
                                          {"mirror_cant", "0"}}) {
            json += QByteArray("\"") + name + "\": {\"value\": " + value +
                    ", \"standard_error\": 0.001}" + (QByteArray(name) == "mirror_cant" ? "" : ",");
        }
        file.write(json + "}}");
        file.close();
        const Run run =
            Table({"--lat", "35", "--lon", "135", "--target-el", "10", "--target-az", "200",
                   "--from", "2026-06-21 12:00:00", "--to", "2026-06-21 23:00:00", "--step",
                   "39600", "--beam-error", "--mount-model", path});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(kHeader + ",beam_error,mount_azimuth,mount_elevation\r\n"));
        const auto rows = Rows(run.out);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].mid(4, 3), (QStringList{"44.21", "188.82", "0,188.82,44.21"}));
        QCOMPARE(rows[0].mid(10), (QStringList{"", "8.86", "189.620", "43.810"}));
        QCOMPARE(rows[1][1], QStringLiteral("night"));
        QCOMPARE(rows[1][11], QString());
        QCOMPARE(rows[1][12].toDouble(), rows[1][5].toDouble() + 0.8);
        QCOMPARE(rows[1][13].toDouble(), rows[1][4].toDouble() - 0.4);
        // Without the model, the mean rule's worked row: mirror 44.21°/188.82° as commanded,
        // target 10°/200°, the sun truly at 78.434°/178.015° (PyEphem). The sun's unit vector
        // reflected about the mirror normal, r = 2(s·n)n − s, lies 8.863° from the target. At
        // 23:00 it is night. The two columns are all the option adds.
        const Run plain = Table({"--lat", "35", "--lon", "135", "--target-el", "10", "--target-az",
                                 "200", "--from", "2026-06-21 12:00:00", "--to",
                                 "2026-06-21 23:00:00", "--step", "39600", "--beam-error"});
        QCOMPARE(plain.exitCode, 0);
        const auto plainRows = Rows(plain.out);
        QCOMPARE(plainRows.size(), 2);
        QCOMPARE(plainRows[0].mid(1, 5),
                 (QStringList{"day", " 78.43", "177.63", "44.21", "188.82"}));
        QCOMPARE(plainRows[0].mid(10), (QStringList{"", "8.86"}));
        QCOMPARE(plainRows[1].mid(1, 1) + plainRows[1].mid(10), (QStringList{"night", "", ""}));
        QCOMPARE(run.out.section("\r\n", 1, 1),
                 plain.out.section("\r\n", 1, 1) + ",189.620,43.810");
    }

    void badMountModel_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << QByteArray() << "を開けません";
        QTest::newRow("over five degrees")
            << QByteArray(R"({"format": "heliostat-mount-model", "version": 1, "parameters":
                {"azimuth_offset": {"value": 6, "standard_error": 0}}})")
            << "parameters.azimuth_offset.value 6°";
    }
    void badMountModel() {
        QFETCH(QByteArray, json);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath("model.json");
        if (!json.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(json);
        }
        const Run run = Table({"--lat", "35", "--lon", "135", "--target-el", "10", "--target-az",
                               "200", "--from", "2026-06-21 12:00:00", "--mount-model", path});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
    }

    void helpAndVersion_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        for (const char* option : {"--help", "-h"}) {
            QTest::newRow(option) << option << "--target-el";
        }
        for (const char* option : {"--version", "-v"}) {
            QTest::newRow(option) << option << "heliostat-table " HELIOSTAT_VERSION "\n";
        }
    }
    void helpAndVersion() {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        const Run run = Table({option});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.isEmpty());
        if (option.contains(QStringLiteral("v"))) {
            QCOMPARE(run.out, expected);
            return;
        }
        // Every option, the cities and the supported dates are named.
        for (const char* name :
             {"--lat", "--lon", "--preset", "--target-el", "--target-az", "--from", "--to",
              "--step", "--pointing", "--beam-error", "--mount-model", "--help", "--version",
              "那覇", "1900-03-01", "2100-02-28"}) {
            QVERIFY2(run.out.contains(QString::fromUtf8(name)), name);
        }
        // Wholly in Japanese: no English prose left beside the option names.
        QVERIFY(run.out.startsWith(QStringLiteral("使い方:\n")));
        const QRegularExpression english(QStringLiteral("\\b(the|and|of|is|with|for|when|each)\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
        QVERIFY2(!run.out.contains(english), qPrintable(english.match(run.out).captured()));
    }
};

QTEST_GUILESS_MAIN(TestHeliostatTable)
#include "test_heliostat_table.moc"
