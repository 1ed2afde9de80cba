// The controller's logic against a scripted mount, and its command line and log texts.
#include "controller.h"
#include "options.h"
#include "session_log.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <QTemporaryDir>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>

using namespace heliostat::antenna;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// What the scripted rotator does, shared by every mount the controller opens on it. The
// controller calls it from its rotator thread, the test from the event thread.
struct Script {
    std::mutex mutex;
    std::condition_variable released;
    Limits limits{0, 360, 0, 90};
    std::vector<AzEl> sent;
    AzEl present{0, 0};
    // Positions handed out one per read before `present` is used.
    std::deque<AzEl> upcoming;
    bool readable = true;
    bool settable = true;
    bool holdMoves = false;  // set_position waits until this is cleared
    bool heldMove = false;   // a set_position is waiting
    int losses = 0;          // the next reads report a lost link
    int refusedOpens = 0;    // the next reopen attempts fail
    std::vector<std::chrono::steady_clock::time_point> opens;

    template <typename F>
    auto with(F f) {
        const std::lock_guard lock(mutex);
        return f(*this);
    }
    size_t sentCount() {
        return with([](Script& s) { return s.sent.size(); });
    }
};

class ScriptedMount : public Mount {
public:
    explicit ScriptedMount(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    Limits limits() const override {
        return script_->with([](Script& s) { return s.limits; });
    }
    MountStatus setPosition(AzEl target, std::string* error) override {
        std::unique_lock lock(script_->mutex);
        script_->heldMove = script_->holdMoves;
        script_->released.wait(lock, [&] { return !script_->holdMoves; });
        script_->heldMove = false;
        if (!script_->settable) {
            *error = "scripted refusal";
            return MountStatus::kFailed;
        }
        script_->sent.push_back(target);
        return MountStatus::kOk;
    }
    MountStatus position(AzEl* out, std::string* error) override {
        const std::lock_guard lock(script_->mutex);
        if (script_->losses > 0) {
            --script_->losses;
            *error = "scripted link loss";
            return MountStatus::kLost;
        }
        if (!script_->readable) {
            *error = "scripted read failure";
            return MountStatus::kFailed;
        }
        if (!script_->upcoming.empty()) {
            script_->present = script_->upcoming.front();
            script_->upcoming.pop_front();
        }
        *out = script_->present;
        return MountStatus::kOk;
    }

private:
    std::shared_ptr<Script> script_;
};

// Controller, mount and a client socket on loopback, with the event log and the CSV record in
// temporary files.
struct Rig {
    explicit Rig(double deadband = 0, int pollMs = 20, int heartbeatMs = 100,
                 std::function<void(Controller::Settings&, Script&)> adjust = {})
        : events(std::tmpfile()), log(events), script(std::make_shared<Script>()) {
        Controller::Settings settings;
        settings.deadband = deadband;
        settings.rotator.poll = std::chrono::milliseconds(pollMs);
        settings.heartbeat = std::chrono::milliseconds(heartbeatMs);
        if (adjust) {
            adjust(settings, *script);
        }
        QString error;
        csvOpen = dir.isValid() && log.openCsv(dir.filePath("session.csv"), &error);
        auto reopen = [s = script](std::string* why) -> std::unique_ptr<Mount> {
            const bool refused = s->with([](Script& x) {
                x.opens.push_back(std::chrono::steady_clock::now());
                return x.refusedOpens > 0 && x.refusedOpens-- > 0;
            });
            if (refused) {
                *why = "scripted open failure";
                return nullptr;
            }
            return std::make_unique<ScriptedMount>(s);
        };
        controller = std::make_unique<Controller>(std::make_unique<ScriptedMount>(script), reopen,
                                                  log, settings);
        listening =
            csvOpen && controller->listen(kLoopback, 0, &error) && client.bind(kLoopback, 0);
    }
    ~Rig() {
        script->with([](Script& s) { s.holdMoves = false; });
        script->released.notify_all();
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
    QByteArray csv() {
        QFile file(dir.filePath("session.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    std::FILE* events;
    SessionLog log;
    std::shared_ptr<Script> script;
    std::unique_ptr<Controller> controller;
    QUdpSocket client;
    bool csvOpen = false;
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
    void helpAndVersion_data();
    void helpAndVersion();
    void network_data();
    void network();

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

    void newestTargetWins();
    void lostRotatorIsReopenedWithBackoff();
    void allowList_data();
    void allowList();
    void floodIsFolded();
    void secondSenderIsWarnedOnce();
};

void TestAntennaControllerUnits::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("model");
    QTest::addColumn<double>("deadband");
    QTest::addColumn<int>("allowed");
    QTest::newRow("defaults") << QStringList{} << "127.0.0.1" << 10006 << 1 << 0.0 << 0;
    QTest::newRow("all interfaces, chosen, two --allow")
        << QStringList{"--listen", "0.0.0.0:10006", "--allow", "192.0.2.1", "--allow=10.0.0.0/8"}
        << "0.0.0.0" << 10006 << 1 << 0.0 << 2;
    QTest::newRow("equals form, port 0")
        << QStringList{"--listen=127.0.0.2:0"} << "127.0.0.2" << 0 << 1 << 0.0 << 0;
    QTest::newRow("IPv6 loopback")
        << QStringList{"--listen", "[::1]:65535"} << "::1" << 65535 << 1 << 0.0 << 0;
    QTest::newRow("network model, deadband, the last --model wins")
        << QStringList{"--model",        "5",          "--model", "2", "--device",
                       "127.0.0.1:4533", "--deadband", "0.25"}
        << "127.0.0.1" << 10006 << 2 << 0.25 << 0;
}

void TestAntennaControllerUnits::options() {
    QFETCH(QStringList, args);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(int, model);
    QFETCH(double, deadband);
    QFETCH(int, allowed);
    const ParseResult result = ParseOptions(args);
    const Options* options = std::get_if<Options>(&result);
    QVERIFY(options);
    QCOMPARE(options->listenAddress.toString(), address);
    QCOMPARE(int(options->listenPort), port);
    QCOMPARE(options->model, model);
    QCOMPARE(options->deadband, deadband);
    QCOMPARE(int(options->allow.size()), allowed);
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
    QTest::newRow("unknown single dash") << QStringList{"-x"};
    QTest::newRow("allow host name") << QStringList{"--allow", "localhost"};
    QTest::newRow("allow prefix too long") << QStringList{"--allow", "10.0.0.0/33"};
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

void TestAntennaControllerUnits::helpAndVersion_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("help");
    QTest::newRow("-h") << QStringList{"-h"} << true;
    QTest::newRow("--help after options") << QStringList{"--model", "2", "--help"} << true;
    QTest::newRow("-v") << QStringList{"-v"} << false;
    QTest::newRow("--version") << QStringList{"--version"} << false;
}

void TestAntennaControllerUnits::helpAndVersion() {
    QFETCH(QStringList, args);
    QFETCH(bool, help);
    const ParseResult result = ParseOptions(args);
    QCOMPARE(std::holds_alternative<HelpRequested>(result), help);
    QCOMPARE(std::holds_alternative<VersionRequested>(result), !help);
}

void TestAntennaControllerUnits::network_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("network");  // empty: refused
    QTest::newRow("IPv4 address alone") << "192.0.2.10"
                                        << "192.0.2.10/32";
    QTest::newRow("IPv4 prefix") << "10.1.0.0/16"
                                 << "10.1.0.0/16";
    QTest::newRow("IPv6 address alone") << "::1"
                                        << "::1/128";
    QTest::newRow("IPv6 prefix") << "2001:db8::/32"
                                 << "2001:db8::/32";
    QTest::newRow("IPv4-mapped") << "::ffff:192.0.2.1"
                                 << "192.0.2.1/32";
    QTest::newRow("IPv4 prefix 33") << "10.0.0.0/33"
                                    << "";
    QTest::newRow("empty prefix") << "10.0.0.0/"
                                  << "";
    QTest::newRow("signed prefix") << "10.0.0.0/+8"
                                   << "";
    QTest::newRow("netmask") << "10.0.0.0/255.0.0.0"
                             << "";
    QTest::newRow("host name") << "gateway"
                               << "";
}

void TestAntennaControllerUnits::network() {
    QFETCH(QString, text);
    QFETCH(QString, network);
    const auto parsed = ParseNetwork(text);
    QCOMPARE(parsed ? QStringLiteral("%1/%2").arg(parsed->first.toString()).arg(parsed->second)
                    : QString(),
             network);
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
    Rig rig(0, 20, 100, [](Controller::Settings&, Script& s) { s.limits = {-10, 350, -5, 80}; });
    QVERIFY(rig.listening);
    rig.send(command);
    const QList<QByteArray> replies = rig.replies(150);
    QCOMPARE(rig.script->sentCount(), size_t(moves ? 1 : 0));
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
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 2000);
    rig.replies(50);
    rig.send(second);
    // Skipped or not, a valid command is answered.
    QVERIFY(!rig.replies(150).isEmpty());
    QCOMPARE(rig.script->sentCount(), size_t(sent ? 2 : 1));
    QCOMPARE(rig.csv().contains("within deadband of 10,10; not sent"), !sent);

    // The deadband measures from the last target sent, not from the skipped ones: creeping
    // by less than the deadband each time still moves the mount in the end.
    if (deadband > 0 && !sent) {
        for (const char* step : {"0,010.60,10.00", "0,011.20,10.00"}) {
            rig.send(step);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.script->with([](Script& x) { return x.sent.back().azimuth; }),
                                  11.2, 2000);
    }
}

void TestAntennaControllerUnits::unreadablePositionIsNeverReported() {
    Rig rig;
    QVERIFY(rig.listening);
    rig.script->with([](Script& x) { x.readable = false; });
    rig.send("0,020.00,10.00");
    QVERIFY(rig.replies(300).isEmpty());
    QCOMPARE(rig.script->sentCount(), size_t(1));
    const QByteArray log = rig.eventLog();
    QVERIFY(log.contains("position unreadable, no reply: scripted read failure"));
    // Polls fail too, but the outage is logged once, not at every poll.
    QCOMPARE(log.count("position unreadable"), 1);

    rig.script->with([](Script& x) { x.readable = true; });
    rig.script->with([](Script& x) { x.present = AzEl{3, 2}; });
    QCOMPARE(rig.replies(300).value(0), QByteArray("0,003.00,2.00"));
    QVERIFY(rig.eventLog().contains("position readable again"));
}

void TestAntennaControllerUnits::refusedMoveStillReportsThePosition() {
    Rig rig;
    QVERIFY(rig.listening);
    rig.script->with([](Script& x) { x.settable = false; });
    rig.script->with([](Script& x) { x.present = AzEl{1.5, 0.25}; });
    rig.send("0,020.00,10.00");
    QCOMPARE(rig.replies(150).value(0), QByteArray("0,001.50,.25"));
    QVERIFY(rig.eventLog().contains("rotator error: scripted refusal"));
}

void TestAntennaControllerUnits::pollRepliesUntilTheTargetIsReached() {
    Rig rig(0, 20, 100000);  // heartbeat out of the way: only changes are reported
    QVERIFY(rig.listening);
    rig.script->with([](Script& x) {
        x.upcoming = std::deque<AzEl>{{0, 0}, {1, 1}, {1, 1}, {2, 2}, {3, 2}, {3, 2}};
    });
    rig.script->with([](Script& x) { x.present = AzEl{3, 2}; });
    rig.send("0,003.00,2.00");
    const QList<QByteArray> replies = rig.replies(500);
    // One per distinct position, the repeated reads adding nothing, then silence at the target.
    QCOMPARE(replies, (QList<QByteArray>{"0,000.00,.00", "0,001.00,1.00", "0,002.00,2.00",
                                         "0,003.00,2.00"}));
    // Settled within a few polls: a tracking step, not worth an "arrived" line.
    QVERIFY(!rig.eventLog().contains("arrived"));
}

void TestAntennaControllerUnits::stuckShortOfTheTargetRepliesOnceAPeriod() {
    Rig rig(0, 20, 100);
    QVERIFY(rig.listening);
    rig.script->with([](Script& x) { x.present = AzEl{2.5, 2}; });  // never gets to 3,2
    rig.send("0,003.00,2.00");
    const QList<QByteArray> replies = rig.replies(1000);
    // The command's reply and then about one every 100 ms, never one per 20 ms poll.
    QVERIFY2(replies.size() >= 6 && replies.size() <= 12, QByteArray::number(replies.size()));
    QVERIFY(std::all_of(replies.begin(), replies.end(),
                        [](const QByteArray& r) { return r == "0,002.50,2.00"; }));
}

void TestAntennaControllerUnits::newestTargetWins() {
    Rig rig;
    QVERIFY(rig.listening);
    rig.script->with([](Script& x) { x.holdMoves = true; });
    rig.send("0,010.00,1.00");
    QTRY_VERIFY_WITH_TIMEOUT(rig.script->with([](Script& x) { return x.heldMove; }), 2000);
    for (const char* command : {"0,020.00,2.00", "0,030.00,3.00", "0,040.00,4.00"}) {
        rig.send(command);
    }
    // The event thread is free meanwhile: a bad datagram is still rejected at once.
    rig.send("junk");
    QTRY_VERIFY_WITH_TIMEOUT(rig.csv().contains("rejected: 1 fields"), 1000);
    rig.script->with([](Script& x) { x.holdMoves = false; });
    rig.script->released.notify_all();
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(2), 2000);
    rig.replies(200);
    // No queue: the commands that came while it was busy gave way to the newest.
    const std::vector<AzEl> sent = rig.script->with([](Script& x) { return x.sent; });
    QCOMPARE(sent.size(), size_t(2));
    QCOMPARE(sent[0].azimuth, 10.0);
    QCOMPARE(sent[1].azimuth, 40.0);
    const QByteArray csv = rig.csv();
    QCOMPARE(csv.count("replaced by a newer command before the rotator answered"), 2);
}

void TestAntennaControllerUnits::lostRotatorIsReopenedWithBackoff() {
    Rig rig(0, 20, 100, [](Controller::Settings& settings, Script& s) {
        settings.rotator.firstRetry = std::chrono::milliseconds(200);
        settings.rotator.maxRetry = std::chrono::milliseconds(500);
        s.refusedOpens = 3;
    });
    QVERIFY(rig.listening);
    rig.send("0,010.00,1.00");
    QVERIFY(!rig.replies(100).isEmpty());
    const auto lostAt = std::chrono::steady_clock::now();
    rig.script->with([](Script& x) {
        x.losses = 1;
        x.sent.clear();
        x.present = AzEl{10, 1};
    });
    QTRY_VERIFY_WITH_TIMEOUT(rig.eventLog().contains("rotator lost"), 1000);
    // Meanwhile the target changes; it must reach the reopened rotator.
    rig.send("0,012.00,1.00");
    QTRY_VERIFY_WITH_TIMEOUT(rig.script->sentCount() == 1, 5000);
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[0].azimuth; }), 12.0);

    // Refused three times: retries after 200, 400 and 500 (the cap) ms, then the fourth opens.
    const auto opens = rig.script->with([](Script& x) { return x.opens; });
    QCOMPARE(opens.size(), size_t(4));
    const auto ms = [](auto a, auto b) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
    };
    QVERIFY2(ms(lostAt, opens[0]) < 600, QByteArray::number(ms(lostAt, opens[0])));
    const qint64 gaps[] = {ms(opens[0], opens[1]), ms(opens[1], opens[2]), ms(opens[2], opens[3])};
    QVERIFY2(gaps[0] >= 390 && gaps[0] < 750, QByteArray::number(gaps[0]));
    QVERIFY2(gaps[1] >= 490 && gaps[1] < 750, QByteArray::number(gaps[1]));
    QVERIFY2(gaps[2] >= 490 && gaps[2] < 750, QByteArray::number(gaps[2]));

    QVERIFY(!rig.replies(300).isEmpty());
    const QByteArray log = rig.eventLog();
    QCOMPARE(log.count("rotator lost: scripted link loss"), 1);
    QCOMPARE(log.count("rotator back after"), 1);
}

void TestAntennaControllerUnits::allowList_data() {
    QTest::addColumn<QStringList>("allow");
    QTest::addColumn<bool>("moves");
    QTest::newRow("no list") << QStringList{} << true;
    QTest::newRow("the sender") << QStringList{"127.0.0.1"} << true;
    QTest::newRow("its network") << QStringList{"127.0.0.0/8"} << true;
    QTest::newRow("second entry") << QStringList{"192.0.2.0/24", "127.0.0.1/32"} << true;
    QTest::newRow("another address") << QStringList{"127.0.0.2"} << false;
    QTest::newRow("another network") << QStringList{"10.0.0.0/8"} << false;
    QTest::newRow("IPv6 loopback only") << QStringList{"::1"} << false;
}

void TestAntennaControllerUnits::allowList() {
    QFETCH(QStringList, allow);
    QFETCH(bool, moves);
    Rig rig(0, 20, 100, [&](Controller::Settings& settings, Script&) {
        for (const QString& text : allow) {
            settings.allow.push_back(*ParseNetwork(text));
        }
    });
    QVERIFY(rig.listening);
    rig.send("0,010.00,1.00");
    QCOMPARE(rig.replies(200).isEmpty(), !moves);
    QCOMPARE(rig.script->sentCount(), size_t(moves ? 1 : 0));
    QCOMPARE(rig.eventLog().contains("sender not allowed"), !moves);
}

void TestAntennaControllerUnits::floodIsFolded() {
    Rig rig(0, 20, 100, [](Controller::Settings& settings, Script&) {
        settings.foldPeriod = std::chrono::milliseconds(400);
    });
    QVERIFY(rig.listening);
    for (int i = 0; i < 50; ++i) {
        rig.send("0,abc,1");
    }
    rig.send("0,999.00,1.00");  // another kind: a line of its own
    rig.replies(1500);
    const QByteArray log = rig.eventLog();
    QCOMPARE(log.count("rejected from"), 2);
    QVERIFY2(QRegularExpression(R"(rejected 49 datagrams from 127\.0\.0\.1 in the last \d+ s: )"
                                R"(not a command\n)")
                 .match(QString::fromUtf8(log))
                 .hasMatch(),
             log.constData());
    // Ten rows a second at most, and one row for the rest.
    const QByteArray csv = rig.csv();
    QCOMPARE(csv.count("rejected: azimuth is not a number"), 10);
    QVERIFY2(csv.contains("rejected: 41 more datagrams in that second, not recorded"),
             csv.constData());
    QVERIFY(!log.contains("\n\n"));
}

void TestAntennaControllerUnits::secondSenderIsWarnedOnce() {
    Rig rig;
    QVERIFY(rig.listening);
    QUdpSocket second;
    QUdpSocket third;
    QVERIFY(second.bind(kLoopback, 0) && third.bind(kLoopback, 0));
    rig.send("0,010.00,1.00");
    for (int i = 0; i < 3; ++i) {
        second.writeDatagram("0,011.00,1.00", kLoopback, rig.controller->port());
        rig.send("0,010.00,1.00");
    }
    third.writeDatagram("0,012.00,1.00", kLoopback, rig.controller->port());
    rig.replies(200);
    const QByteArray log = rig.eventLog();
    QCOMPARE(log.count("WARNING"), 3);  // the second, the first again (after it), the third
    QCOMPARE(log.count("WARNING: 127.0.0.1:" + QByteArray::number(second.localPort())), 1);
    QCOMPARE(log.count("WARNING: 127.0.0.1:" + QByteArray::number(third.localPort())), 1);
}

QTEST_GUILESS_MAIN(TestAntennaControllerUnits)
#include "test_antenna_controller_units.moc"
