#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run Table(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(HELIOSTAT_TABLE_PATH), args);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
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
        QVERIFY(rows[0][7].endsWith(QStringLiteral("分")));
        QCOMPARE(rows[0].mid(8), (QStringList{"", "", ""}));  // first day cycle: no marker
        // The command contains commas, so it is quoted in the file.
        QVERIFY(run.out.contains(QStringLiteral("\"0,188.82,44.21\"")));
    }

    // The marker phase carries from row to row, and night rows leave it alone.
    void rangeWithStepAndMarkerPhase() {
        const Run run =
            Table({"--preset", "東京", "--target-el", "13.01", "--target-az", "200", "--from",
                   "2008-06-15 03:00:00", "--to", "2008-06-15 12:00:00", "--step", "10800"});
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

    void badUsage_data() {
        QTest::addColumn<QStringList>("args");
        const QStringList base{"--lat",       "35", "--lon",       "135",
                               "--target-el", "10", "--target-az", "200"};
        QTest::newRow("no arguments") << QStringList{};
        QTest::newRow("missing --from") << base;
        QTest::newRow("bad date") << base + QStringList{"--from", "2026-02-30 12:00:00"};
        QTest::newRow("bad time") << base + QStringList{"--from", "2026-06-21 24:00:00"};
        QTest::newRow("to before from")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--to", "2026-06-21 11:00:00"};
        QTest::newRow("zero step")
            << base + QStringList{"--from", "2026-06-21 12:00:00", "--step", "0"};
        QTest::newRow("unknown city")
            << QStringList{"--preset",    "京都", "--target-el", "1",
                           "--target-az", "1",    "--from",      "2026-06-21 12:00:00"};
        QTest::newRow("unknown option") << base + QStringList{"--frm", "x"};
        QTest::newRow("option without value") << base + QStringList{"--from"};
        QTest::newRow("target too large")
            << QStringList{"--lat", "35",          "--lon", "135",    "--target-el",
                           "1e999", "--target-az", "1",     "--from", "2026-06-21 12:00:00"};
    }
    void badUsage() {
        QFETCH(QStringList, args);
        const Run run = Table(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.startsWith(QStringLiteral("heliostat-table: ")));
    }

    void help() {
        const Run run = Table({"--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("--target-el")));
        QVERIFY(run.out.contains(QStringLiteral("那覇")));
    }
};

QTEST_GUILESS_MAIN(TestHeliostatTable)
#include "test_heliostat_table.moc"
