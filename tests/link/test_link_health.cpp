// The link's health from reply age and agreement, and the session record's CSV.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "base/csv_writer.h"
#include "link/link_health.h"
#include "link/session_log.h"

using namespace heliostat::link;

Q_DECLARE_METATYPE(LinkHealth)

class TestLinkHealth : public QObject {
    Q_OBJECT

private slots:
    void classify_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<double>("sinceReply");  // negative: no reply yet
        QTest::addColumn<double>("unanswered");  // negative: every command answered
        QTest::addColumn<double>("sinceCommand");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reply");  // "AZ EL FLAG"
        QTest::addColumn<LinkHealth>("health");
        // Commanded 188.82 / 44.21 throughout; timeout 3 s.
        QTest::newRow("stopped") << false << 1.0 << -1.0 << 0.5 << ""
                                 << "188.82 44.21" << LinkHealth::Stopped;
        QTest::newRow("no reply yet") << true << -1.0 << 2.9 << 0.5 << ""
                                      << " " << LinkHealth::Waiting;
        QTest::newRow("no reply after timeout") << true << -1.0 << 3.1 << 0.5 << ""
                                                << " " << LinkHealth::Silent;
        QTest::newRow("unanswered, but nothing sent for longer than the timeout")
            << true << -1.0 << 9.0 << 3.1 << ""
            << " " << LinkHealth::Waiting;
        QTest::newRow("exactly on") << true << 0.5 << -1.0 << 0.5 << ""
                                    << "188.82 44.21" << LinkHealth::OnTarget;
        QTest::newRow("0.1 off on both axes") << true << 0.5 << -1.0 << 0.5 << ""
                                              << "188.92 44.11" << LinkHealth::OnTarget;
        QTest::newRow("0.11 off in azimuth") << true << 0.5 << -1.0 << 0.5 << ""
                                             << "188.93 44.21" << LinkHealth::Moving;
        QTest::newRow("0.11 off in elevation") << true << 0.5 << -1.0 << 0.5 << ""
                                               << "188.82 44.32" << LinkHealth::Moving;
        QTest::newRow("reply at the timeout") << true << 3.0 << 3.0 << 0.5 << ""
                                              << "188.82 44.21" << LinkHealth::OnTarget;
        QTest::newRow("unanswered longer than timeout") << true << 3.5 << 3.01 << 0.5 << ""
                                                        << "188.82 44.21" << LinkHealth::Silent;
        QTest::newRow("refused send") << true << 0.5 << -1.0 << 0.5 << "port unreachable"
                                      << "188.82 44.21" << LinkHealth::Silent;
        QTest::newRow("empty reply fields") << true << 0.5 << -1.0 << 0.5 << ""
                                            << " " << LinkHealth::Moving;
        QTest::newRow("limit") << true << 0.5 << -1.0 << 0.5 << ""
                               << "188.82 44.21 limit" << LinkHealth::Refused;
        QTest::newRow("parked") << true << 0.5 << -1.0 << 0.5 << ""
                                << "180 0 parked" << LinkHealth::Parked;
        QTest::newRow("limit, then silence") << true << 5.0 << 4.0 << 0.5 << ""
                                             << "188.82 44.21 limit" << LinkHealth::Silent;
    }

    void classify() {
        QFETCH(bool, running);
        QFETCH(double, sinceReply);
        QFETCH(double, unanswered);
        QFETCH(double, sinceCommand);
        QFETCH(QString, refusal);
        QFETCH(QString, reply);
        QFETCH(LinkHealth, health);
        HealthInput in;
        in.running = running;
        in.secondsSinceStart = 30;
        if (sinceReply >= 0) {
            in.secondsSinceReply = sinceReply;
        }
        if (unanswered >= 0) {
            in.secondsUnanswered = unanswered;
        }
        in.secondsSinceCommand = sinceCommand;
        in.refusal = refusal.toStdString();
        in.commandedAzimuth = "188.82";
        in.commandedElevation = "44.21";
        in.reportedAzimuth = reply.section(' ', 0, 0).toStdString();
        in.reportedElevation = reply.section(' ', 1, 1).toStdString();
        in.flag = reply.section(' ', 2, 2).toStdString();
        QCOMPARE(ClassifyHealth(in), health);
    }

    // Azimuths meet across north; the controller's own formats are read as numbers.
    void anglesAgree_data() {
        QTest::addColumn<QString>("commanded");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<bool>("agree");
        // clang-format off
        QTest::newRow("360 and 0") << "360.00 45.00" << "000.00 45.00" << true;
        QTest::newRow("359.95 and 000.04") << "359.95 .50" << "000.04 .50" << true;
        QTest::newRow("leading point") << "095.00 .50" << "95 0.5" << true;
        QTest::newRow("reply with line break") << "095.00 .50" << "095.00 .50\r\n" << true;
        QTest::newRow("half a turn") << "010.00 5.00" << "190.00 5.00" << false;
        QTest::newRow("not a number") << "095.00 .50" << "abc .50" << false;
        // clang-format on
    }

    void anglesAgree() {
        QFETCH(QString, commanded);
        QFETCH(QString, reported);
        QFETCH(bool, agree);
        QCOMPARE(AnglesAgree(commanded.section(' ', 0, 0).toStdString(),
                             commanded.section(' ', 1, 1).toStdString(),
                             reported.section(' ', 0, 0).toStdString(),
                             reported.section(' ', 1, 1).toStdString()),
                 agree);
    }

    void silenceLineCountsWholeSeconds() {
        HealthInput in;
        in.running = true;
        in.secondsSinceStart = 30;
        in.secondsSinceReply = 12.9;
        QCOMPARE(QString::fromStdString(SilenceLine(in)),
                 QStringLiteral("コントローラから応答なし（12秒）"));
        in.refusal = "コントローラに届きません（ICMP 種別 3・コード 1）";
        QCOMPARE(QString::fromStdString(SilenceLine(in)),
                 QStringLiteral("コントローラに届きません"));
    }

    void csv_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("field");
        // clang-format off
        QTest::newRow("command unchanged")
            << QByteArray("0,188.82,44.21") << QByteArray("\"0,188.82,44.21\"");
        QTest::newRow("no comma") << QByteArray("180.02") << QByteArray("180.02");
        QTest::newRow("comma, quote and line break")
            << QByteArray("0,1\"2,3\r\n") << QByteArray("\"0,1\"\"2,3\\r\\n\"");
        QTest::newRow("backslash, tab, bytes")
            << QByteArray("a\\b\t\x01\xff") << QByteArray("a\\\\b\\t\\x01\\xFF");
        // clang-format on
    }

    void csv() {
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, field);
        const std::string out = heliostat::base::CsvField(EscapeBytes(datagram.toStdString()));
        QCOMPARE(QByteArray::fromStdString(out), field);
    }

    // Header once for a new file, appended rows after it, each on disk at once.
    void sessionLogAppends() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("session.csv").toStdString();
        const auto at = [](int second) {
            return heliostat::base::JstToUtc({2026, 6, 21, 12, 0, second, 400});
        };
        {
            auto log = SessionLog::Open(path);
            QVERIFY(log);
            QVERIFY(log->Write(at(0), "command", "0,188.82,44.21"));
            QCOMPARE(Read(path), std::string("time,event,datagram,detail\r\n"
                                             "2026-06-21T12:00:00.400+09:00,command,"
                                             "\"0,188.82,44.21\",\r\n"));
        }
        auto again = SessionLog::Open(path);
        // A lone line feed or a DEL in free text must not break or blur the row.
        QVERIFY(again->Write(at(1), "failure", "", "観測点緯度「a\nb\x7f」"));
        again.reset();
        QCOMPARE(
            Read(path).substr(85),
            std::string("2026-06-21T12:00:01.400+09:00,failure,,観測点緯度「a\\nb\\x7F」\r\n"));
    }

    // Only a regular file or a new one keeps a record.
    void sessionLogRefuses_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("missing directory") << "no/such/dir.csv" << "そのようなファイルやディレクトリはありません";
        QTest::newRow("directory") << "." << "通常のファイルではありません";
        QTest::newRow("FIFO") << "fifo" << "通常のファイルではありません";
        QTest::newRow("device") << "/dev/null" << "通常のファイルではありません";
        // clang-format on
    }

    void sessionLogRefuses() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(::mkfifo(dir.filePath("fifo").toUtf8().constData(), 0600) == 0);
        QString error;
        const QString full = path.startsWith(u'/') ? path : dir.filePath(path);
        try {
            SessionLog::Open(full.toStdString());
        } catch (const heliostat::HeliostatError& e) {
            error = QString::fromUtf8(e.what());
        }
        QCOMPARE(error, reason);
    }

    // At most 256 bytes of a datagram; past 20 rows of one kind in a second, one count row
    // for the rest of that second; commands always whole.
    void sessionLogBounded() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("session.csv").toStdString();
        auto log = SessionLog::Open(path);
        const auto at = [](int second, int ms) {
            return heliostat::base::JstToUtc({2026, 6, 21, 12, 0, second, ms});
        };
        QVERIFY(log->Write(at(0, 0), "reply", std::string(300, '7')));
        for (int i = 0; i < 25; ++i) {
            QVERIFY(log->Write(at(1, 10 * i), "foreign", "x", "from=127.0.0.1:9"));
            QVERIFY(log->Write(at(1, 10 * i), "command", "0,1,2"));
        }
        QVERIFY(log->Write(at(2, 0), "foreign", "y", "from=127.0.0.1:9"));
        log.reset();
        std::istringstream in(Read(path));
        std::vector<std::string> rows;
        for (std::string row; std::getline(in, row);) {
            rows.push_back(row);
        }
        QCOMPARE(rows.size(), std::size_t(1 + 1 + 20 + 25 + 1 + 1));
        QCOMPARE(rows[1],
                 "2026-06-21T12:00:00.000+09:00,reply," + std::string(256, '7') + ",length=300\r");
        QCOMPARE(std::count_if(rows.begin(), rows.end(),
                               [](const std::string& r) { return r.find(",command,") != r.npos; }),
                 25);
        QCOMPARE(rows[rows.size() - 2],
                 std::string("2026-06-21T12:00:01.240+09:00,folded,,kind=foreign count=5\r"));
        QCOMPARE(rows.back(),
                 std::string("2026-06-21T12:00:02.000+09:00,foreign,y,from=127.0.0.1:9\r"));
    }

private:
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
};

QTEST_MAIN(TestLinkHealth)
#include "test_link_health.moc"
