// The controller's logic against a scripted mount, and its command line and log texts.
#include "controller.h"
#include "options.h"
#include "session_log.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <cstdio>
#include <deque>

using namespace heliostat::antenna;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// A mount whose answers the test decides; it records every set_position.
class ScriptedMount : public Mount {
public:
    Limits limits_{0, 360, 0, 90};
    std::vector<Angles> sent;
    Angles present{0, 0};
    // Positions handed out one per read before `present` is used.
    std::deque<Angles> upcoming;
    bool readable = true;
    bool settable = true;

    Limits limits() const override { return limits_; }
    bool setPosition(Angles target, std::string* error) override {
        if (!settable) {
            *error = "scripted refusal";
            return false;
        }
        sent.push_back(target);
        return true;
    }
    bool position(Angles* out, std::string* error) override {
        if (!readable) {
            *error = "scripted read failure";
            return false;
        }
        if (!upcoming.empty()) {
            present = upcoming.front();
            upcoming.pop_front();
        }
        *out = present;
        return true;
    }
};

// Controller, mount and a client socket on loopback, with the event log in a temporary file.
struct Rig {
    explicit Rig(double deadband = 0, int pollMs = 20, int heartbeatMs = 100)
        : events(std::tmpfile()), log(events) {
        Controller::Settings settings;
        settings.deadband = deadband;
        settings.pollInterval = std::chrono::milliseconds(pollMs);
        settings.heartbeat = std::chrono::milliseconds(heartbeatMs);
        controller = std::make_unique<Controller>(mount, log, settings);
        QString error;
        listening = controller->listen(kLoopback, 0, &error) && client.bind(kLoopback, 0);
    }
    ~Rig() {
        controller.reset();
        std::fclose(events);
    }
    void send(const QByteArray& payload) {
        client.writeDatagram(payload, kLoopback, controller->port());
    }
    // Every reply that arrives within the time.
    QList<QByteArray> replies(int ms) {
        QList<QByteArray> out;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QTest::qWait(5);
            while (client.hasPendingDatagrams()) {
                out.append(client.receiveDatagram().data());
            }
        }
        return out;
    }
    QByteArray eventLog() {
        std::fflush(events);
        std::rewind(events);
        QByteArray text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, events)) > 0;) {
            text.append(buffer, static_cast<qsizetype>(n));
        }
        return text;
    }

    std::FILE* events;
    SessionLog log;
    ScriptedMount mount;
    std::unique_ptr<Controller> controller;
    QUdpSocket client;
    bool listening = false;
};

}  // namespace

class TestAntennaControllerUnits : public QObject {
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();

    void csvField_data();
    void csvField();
    void printable();

    void limits_data();
    void limits();
    void deadband_data();
    void deadband();
    void unreadablePositionIsNeverReported();
    void refusedMoveStillReportsThePosition();
    void pollRepliesUntilTheTargetIsReached();
    void stuckShortOfTheTargetRepliesOnceAPeriod();
};

void TestAntennaControllerUnits::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("model");
    QTest::addColumn<double>("deadband");
    QTest::newRow("defaults") << QStringList{} << "127.0.0.1" << 10006 << 1 << 0.0;
    QTest::newRow("all interfaces, chosen")
        << QStringList{"--listen", "0.0.0.0:10006"} << "0.0.0.0" << 10006 << 1 << 0.0;
    QTest::newRow("equals form, port 0")
        << QStringList{"--listen=127.0.0.2:0"} << "127.0.0.2" << 0 << 1 << 0.0;
    QTest::newRow("IPv6 loopback")
        << QStringList{"--listen", "[::1]:65535"} << "::1" << 65535 << 1 << 0.0;
    QTest::newRow("network model, deadband")
        << QStringList{"--model", "2", "--device", "127.0.0.1:4533", "--deadband", "0.25"}
        << "127.0.0.1" << 10006 << 2 << 0.25;
}

void TestAntennaControllerUnits::options() {
    QFETCH(QStringList, args);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(int, model);
    QFETCH(double, deadband);
    const ParseResult result = ParseOptions(args);
    const Options* options = std::get_if<Options>(&result);
    QVERIFY(options);
    QCOMPARE(options->listenAddress.toString(), address);
    QCOMPARE(int(options->listenPort), port);
    QCOMPARE(options->model, model);
    QCOMPARE(options->deadband, deadband);
}

void TestAntennaControllerUnits::badOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no port") << QStringList{"--listen", "127.0.0.1"};
    QTest::newRow("port 65536") << QStringList{"--listen", "127.0.0.1:65536"};
    QTest::newRow("port with sign") << QStringList{"--listen", "127.0.0.1:+5"};
    QTest::newRow("empty port") << QStringList{"--listen", "127.0.0.1:"};
    QTest::newRow("host name") << QStringList{"--listen", "localhost:5"};
    QTest::newRow("bare IPv6") << QStringList{"--listen", "::1:5"};
    QTest::newRow("model 0") << QStringList{"--model", "0"};
    QTest::newRow("model text") << QStringList{"--model", "one"};
    QTest::newRow("deadband negative") << QStringList{"--deadband", "-0.1"};
    QTest::newRow("deadband nan") << QStringList{"--deadband", "nan"};
    QTest::newRow("conf without =") << QStringList{"--conf", "min_az"};
    QTest::newRow("conf without key") << QStringList{"--conf", "=5"};
    QTest::newRow("value missing at end") << QStringList{"--model"};
    QTest::newRow("flag with value") << QStringList{"--verbose=1"};
    QTest::newRow("single dash") << QStringList{"-h"};
    QTest::newRow("positional") << QStringList{"extra"};
}

void TestAntennaControllerUnits::badOptions() {
    QFETCH(QStringList, args);
    const ParseResult result = ParseOptions(args);
    const UsageError* error = std::get_if<UsageError>(&result);
    QVERIFY(error);
    QVERIFY(!error->message.isEmpty());
    // --help wins even after a mistake, so that the operator always gets the text.
    QVERIFY(std::holds_alternative<HelpRequested>(ParseOptions(QStringList{"--help"} + args)));
}

void TestAntennaControllerUnits::csvField_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("plain") << QByteArray("poll") << QByteArray("poll");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("comma") << QByteArray("0,1,2") << QByteArray("\"0,1,2\"");
    QTest::newRow("quote") << QByteArray("a\"b") << QByteArray("\"a\"\"b\"");
    QTest::newRow("line feed") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
    QTest::newRow("carriage return") << QByteArray("a\r") << QByteArray("\"a\r\"");
    QTest::newRow("blank kept bare") << QByteArray(" a ") << QByteArray(" a ");
}

void TestAntennaControllerUnits::csvField() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, field);
    QCOMPARE(CsvField(text), field);
}

void TestAntennaControllerUnits::printable() {
    QCOMPARE(Printable("0,1,2"), QByteArray("0,1,2"));
    QCOMPARE(Printable(QByteArray("a\0\n\\\xff", 5)), QByteArray("a\\x00\\x0a\\x5c\\xff"));
    QCOMPARE(Printable(QByteArray(10, 'x'), 4), QByteArray("xxxx...(10 bytes)"));
}

void TestAntennaControllerUnits::limits_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("moves");
    QTest::newRow("lowest corner") << QByteArray("0,-10.00,-5.00") << true;
    QTest::newRow("highest corner") << QByteArray("0,350.00,80.00") << true;
    QTest::newRow("azimuth just below") << QByteArray("0,-10.01,10.00") << false;
    QTest::newRow("azimuth just above") << QByteArray("0,350.01,10.00") << false;
    QTest::newRow("elevation just below") << QByteArray("0,100.00,-5.01") << false;
    QTest::newRow("elevation just above") << QByteArray("0,100.00,80.01") << false;
}

void TestAntennaControllerUnits::limits() {
    QFETCH(QByteArray, command);
    QFETCH(bool, moves);
    Rig rig;
    QVERIFY(rig.listening);
    rig.mount.limits_ = {-10, 350, -5, 80};
    rig.send(command);
    const QList<QByteArray> replies = rig.replies(150);
    QCOMPARE(rig.mount.sent.size(), size_t(moves ? 1 : 0));
    // A refused command gets no reply at all; an accepted one the present position.
    QCOMPARE(replies.value(0), moves ? QByteArray("0,000.00,.00") : QByteArray());
    QCOMPARE(rig.eventLog().contains("outside the rotator's range"), !moves);
}

void TestAntennaControllerUnits::deadband_data() {
    QTest::addColumn<double>("deadband");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("sent");
    QTest::newRow("no deadband, same target") << 0.0 << QByteArray("0,010.00,10.00") << true;
    QTest::newRow("on the edge, azimuth") << 1.0 << QByteArray("0,011.00,10.00") << false;
    QTest::newRow("on the edge, both") << 1.0 << QByteArray("0,009.00,11.00") << false;
    QTest::newRow("past it, azimuth") << 1.0 << QByteArray("0,011.01,10.00") << true;
    QTest::newRow("past it, elevation") << 1.0 << QByteArray("0,010.00,8.99") << true;
}

void TestAntennaControllerUnits::deadband() {
    QFETCH(double, deadband);
    QFETCH(QByteArray, second);
    QFETCH(bool, sent);
    Rig rig(deadband);
    QVERIFY(rig.listening);
    rig.send("0,010.00,10.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.mount.sent.size(), size_t(1), 2000);
    rig.replies(50);
    rig.send(second);
    // Skipped or not, a valid command is answered.
    QVERIFY(!rig.replies(150).isEmpty());
    QCOMPARE(rig.mount.sent.size(), size_t(sent ? 2 : 1));
    QCOMPARE(rig.eventLog().contains("within deadband"), !sent);

    // The deadband measures from the last target sent, not from the skipped ones: creeping
    // by less than the deadband each time still moves the mount in the end.
    if (deadband > 0 && !sent) {
        for (const char* step : {"0,010.60,10.00", "0,011.20,10.00"}) {
            rig.send(step);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.mount.sent.back().azimuth, 11.2, 2000);
    }
}

void TestAntennaControllerUnits::unreadablePositionIsNeverReported() {
    Rig rig;
    QVERIFY(rig.listening);
    rig.mount.readable = false;
    rig.send("0,020.00,10.00");
    QVERIFY(rig.replies(300).isEmpty());
    QCOMPARE(rig.mount.sent.size(), size_t(1));
    const QByteArray log = rig.eventLog();
    QVERIFY(log.contains("position unreadable, no reply: scripted read failure"));
    // Polls fail too, but the outage is logged once, not at every poll.
    QCOMPARE(log.count("position unreadable"), 2);

    rig.mount.readable = true;
    rig.mount.present = {3, 2};
    QCOMPARE(rig.replies(300).value(0), QByteArray("0,003.00,2.00"));
    QVERIFY(rig.eventLog().contains("position readable again"));
}

void TestAntennaControllerUnits::refusedMoveStillReportsThePosition() {
    Rig rig;
    QVERIFY(rig.listening);
    rig.mount.settable = false;
    rig.mount.present = {1.5, 0.25};
    rig.send("0,020.00,10.00");
    QCOMPARE(rig.replies(150).value(0), QByteArray("0,001.50,.25"));
    QVERIFY(rig.eventLog().contains("rotator error: scripted refusal"));
}

void TestAntennaControllerUnits::pollRepliesUntilTheTargetIsReached() {
    Rig rig(0, 20, 100000);  // heartbeat out of the way: only changes are reported
    QVERIFY(rig.listening);
    rig.mount.upcoming = {{0, 0}, {1, 1}, {1, 1}, {2, 2}, {3, 2}, {3, 2}};
    rig.mount.present = {3, 2};
    rig.send("0,003.00,2.00");
    const QList<QByteArray> replies = rig.replies(500);
    // One per distinct position, the repeated reads adding nothing, then silence at the target.
    QCOMPARE(replies, (QList<QByteArray>{"0,000.00,.00", "0,001.00,1.00", "0,002.00,2.00",
                                         "0,003.00,2.00"}));
}

void TestAntennaControllerUnits::stuckShortOfTheTargetRepliesOnceAPeriod() {
    Rig rig(0, 20, 100);
    QVERIFY(rig.listening);
    rig.mount.present = {2.5, 2};  // never gets to 3,2
    rig.send("0,003.00,2.00");
    const QList<QByteArray> replies = rig.replies(1000);
    // The command's reply and then about one every 100 ms, never one per 20 ms poll.
    QVERIFY2(replies.size() >= 6 && replies.size() <= 12, QByteArray::number(replies.size()));
    QVERIFY(std::all_of(replies.begin(), replies.end(),
                        [](const QByteArray& r) { return r == "0,002.50,2.00"; }));
}

QTEST_GUILESS_MAIN(TestAntennaControllerUnits)
#include "test_antenna_controller_units.moc"
