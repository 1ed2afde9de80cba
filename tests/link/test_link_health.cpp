// The link's health from reply age and agreement, and the session record's CSV.
#include <QTemporaryDir>
#include <QtTest>
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
        QTest::addColumn<double>("sinceStart");
        QTest::addColumn<double>("sinceReply");  // negative: no reply yet
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reported");  // "AZ EL"
        QTest::addColumn<LinkHealth>("health");
        // Commanded 188.82 / 44.21 throughout; timeout 3 s.
        QTest::newRow("stopped") << false << 10.0 << 1.0 << ""
                                 << "188.82 44.21" << LinkHealth::Stopped;
        QTest::newRow("no reply yet") << true << 2.9 << -1.0 << ""
                                      << " " << LinkHealth::Waiting;
        QTest::newRow("no reply after timeout") << true << 3.1 << -1.0 << ""
                                                << " " << LinkHealth::Silent;
        QTest::newRow("exactly on") << true << 9.0 << 0.5 << ""
                                    << "188.82 44.21" << LinkHealth::OnTarget;
        QTest::newRow("0.1 off on both axes") << true << 9.0 << 0.5 << ""
                                              << "188.92 44.11" << LinkHealth::OnTarget;
        QTest::newRow("0.11 off in azimuth") << true << 9.0 << 0.5 << ""
                                             << "188.93 44.21" << LinkHealth::Moving;
        QTest::newRow("0.11 off in elevation") << true << 9.0 << 0.5 << ""
                                               << "188.82 44.32" << LinkHealth::Moving;
        QTest::newRow("reply at the timeout") << true << 9.0 << 3.0 << ""
                                              << "188.82 44.21" << LinkHealth::OnTarget;
        QTest::newRow("reply older than timeout") << true << 9.0 << 3.01 << ""
                                                  << "188.82 44.21" << LinkHealth::Silent;
        QTest::newRow("refused send") << true << 9.0 << 0.5 << "port unreachable"
                                      << "188.82 44.21" << LinkHealth::Silent;
        QTest::newRow("empty reply fields") << true << 9.0 << 0.5 << ""
                                            << " " << LinkHealth::Moving;
    }

    void classify() {
        QFETCH(bool, running);
        QFETCH(double, sinceStart);
        QFETCH(double, sinceReply);
        QFETCH(QString, refusal);
        QFETCH(QString, reported);
        QFETCH(LinkHealth, health);
        HealthInput in;
        in.running = running;
        in.secondsSinceStart = sinceStart;
        if (sinceReply >= 0) {
            in.secondsSinceReply = sinceReply;
        }
        in.refusal = refusal.toStdString();
        in.commandedAzimuth = "188.82";
        in.commandedElevation = "44.21";
        in.reportedAzimuth = reported.section(' ', 0, 0).toStdString();
        in.reportedElevation = reported.section(' ', 1, 1).toStdString();
        QCOMPARE(ClassifyHealth(in), health);
    }

    // Azimuths meet across north; the controller's own formats are read as numbers.
    void anglesAgree_data() {
        QTest::addColumn<QString>("commanded");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<bool>("agree");
        QTest::newRow("360 and 0") << "360.00 45.00"
                                   << "000.00 45.00" << true;
        QTest::newRow("359.95 and 000.04") << "359.95 .50"
                                           << "000.04 .50" << true;
        QTest::newRow("leading point") << "095.00 .50"
                                       << "95 0.5" << true;
        QTest::newRow("reply with line break") << "095.00 .50"
                                               << "095.00 .50\r\n"
                                               << true;
        QTest::newRow("half a turn") << "010.00 5.00"
                                     << "190.00 5.00" << false;
        QTest::newRow("not a number") << "095.00 .50"
                                      << "abc .50" << false;
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
        in.refusal = "ポートに届きません（port unreachable）";
        QCOMPARE(QString::fromStdString(SilenceLine(in)), QStringLiteral("ポートに届きません"));
    }

    void csv_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("command unchanged")
            << QByteArray("0,188.82,44.21") << QByteArray("\"0,188.82,44.21\"");
        QTest::newRow("no comma") << QByteArray("180.02") << QByteArray("180.02");
        QTest::newRow("comma, quote and line break")
            << QByteArray("0,1\"2,3\r\n") << QByteArray("\"0,1\"\"2,3\\r\\n\"");
        QTest::newRow("backslash, tab, bytes")
            << QByteArray("a\\b\t\x01\xff") << QByteArray("a\\\\b\\t\\x01\\xFF");
    }

    void csv() {
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, field);
        const std::string out = heliostat::base::CsvField(EscapeBytes(datagram.toStdString()));
        QCOMPARE(QByteArray::fromStdString(out), field);
    }

    // Header once for a new file, appended lines after it, and every line readable at once.
    void sessionLogAppends() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("session.csv").toStdString();
        std::string error;
        {
            auto log = SessionLog::Open(path, error);
            QVERIFY(log);
            log->Write("2026-06-21 12:00:00.000", "command", "0,188.82,44.21", "");
            std::ifstream now(path, std::ios::binary);
            std::stringstream written;
            written << now.rdbuf();
            QCOMPARE(written.str(), std::string("time_jst,event,datagram,detail\r\n"
                                                "2026-06-21 12:00:00.000,command,"
                                                "\"0,188.82,44.21\",\r\n"));
        }
        auto again = SessionLog::Open(path, error);
        again->Write("2026-06-21 12:00:01.000", "failure", "", "観測点緯度「abc」");
        again.reset();
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        QCOMPARE(all.str(), std::string("time_jst,event,datagram,detail\r\n"
                                        "2026-06-21 12:00:00.000,command,\"0,188.82,44.21\",\r\n"
                                        "2026-06-21 12:00:01.000,failure,,観測点緯度「abc」\r\n"));

        QVERIFY(!SessionLog::Open(dir.filePath("no/such/dir.csv").toStdString(), error));
        QVERIFY(!error.empty());
    }
};

QTEST_MAIN(TestLinkHealth)
#include "test_link_health.moc"
