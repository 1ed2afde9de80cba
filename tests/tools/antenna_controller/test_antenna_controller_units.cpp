// The controller's logic against a scripted mount, and its command line and log texts.
#include "controller.h"
#include "hamlib_mount.h"
#include "options.h"
#include "rejection_log.h"
#include "session_log.h"

#include "base/csv_writer.h"
#include "mount_model_file/mount_correction.h"

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
    int lostMoves = 0;       // the next set_position calls report a lost link
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
    void setPosition(AzEl target) override {
        std::unique_lock lock(script_->mutex);
        script_->heldMove = script_->holdMoves;
        script_->released.wait(lock, [&] { return !script_->holdMoves; });
        script_->heldMove = false;
        if (script_->lostMoves > 0) {
            --script_->lostMoves;
            throw MountError("scripted link loss during a move", MountStatus::kLost);
        }
        if (!script_->settable) {
            throw MountError("scripted refusal", MountStatus::kFailed);
        }
        script_->sent.push_back(target);
    }
    AzEl position() override {
        const std::lock_guard lock(script_->mutex);
        if (script_->losses > 0) {
            --script_->losses;
            throw MountError("scripted link loss", MountStatus::kLost);
        }
        if (!script_->readable) {
            throw MountError("scripted read failure", MountStatus::kFailed);
        }
        if (!script_->upcoming.empty()) {
            script_->present = script_->upcoming.front();
            script_->upcoming.pop_front();
        }
        return script_->present;
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
        try {
            log.openCsv(dir.filePath("session.csv"));
            csvOpen = dir.isValid();
        } catch (const heliostat::HeliostatError& e) {
            qWarning("%s", e.what());
        }
        auto reopen = [s = script]() -> std::unique_ptr<Mount> {
            const bool refused = s->with([](Script& x) {
                x.opens.push_back(std::chrono::steady_clock::now());
                return x.refusedOpens > 0 && x.refusedOpens-- > 0;
            });
            if (refused) {
                throw MountError("scripted open failure", MountStatus::kLost);
            }
            return std::make_unique<ScriptedMount>(s);
        };
        controller = std::make_unique<Controller>(std::make_unique<ScriptedMount>(script), reopen,
                                                  log, settings);
        try {
            controller->listen(kLoopback, 0);
            listening = csvOpen && client.bind(kLoopback, 0);
        } catch (const heliostat::HeliostatError& e) {
            qWarning("%s", e.what());
        }
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
    void parkOptions_data();
    void parkOptions();
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
    void limitRepliesAtMostOnceASecond();
    void wrapAzimuth_data();
    void wrapAzimuth();
    void directionReply_data();
    void directionReply();
    void narrowLimits_data();
    void narrowLimits();
    void shortWayAcrossNorth();
    void mountModelDrivesAndReplies();
    void mountModelUnreachableIsRejected();
    void mountModelOption();
    void longWayIsLoggedOncePerCrossing();
    void watchdogParksAndTheNextCommandResumes();
    void parkOnExitCommandsTheMove();
    void deadband_data();
    void deadband();
    void unreadablePositionIsNeverReported();
    void refusedMoveStillReportsThePosition();
    void pollRepliesUntilTheTargetIsReached();
    void stuckShortOfTheTargetRepliesOnceAPeriod();

    void newestTargetWins();
    void lostRotatorIsReopenedWithBackoff();
    void moveCutShortIsMadeAgain();
    void deadbandStartsAfreshAfterAReconnect();
    void hamlibStatus_data();
    void hamlibStatus();
    void allowList_data();
    void allowList();
    void floodIsFolded();
    void secondSenderIsWarnedOnce();
    void warnedSendersAreForgotten_data();
    void warnedSendersAreForgotten();
    void acceptedRowsAndRepliesAreLimited();
    void groupedCount_data();
    void rowLimiter_data();
    void rowLimiter();
    void groupedCount();
    void summariesStartAfresh();
    void sessionLogAppends();
    void sessionLogCountsLostRows();
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
    QCOMPARE(result.outcome, heliostat::base::CommandLineOutcome::Run);
    const Options* options = &result.options;
    QCOMPARE(options->listenAddress.toString(), address);
    QCOMPARE(int(options->listenPort), port);
    QCOMPARE(options->model, model);
    QCOMPARE(options->deadband, deadband);
    QCOMPARE(int(options->allow.size()), allowed);
}

void TestAntennaControllerUnits::parkOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("park");  // empty: none
    QTest::addColumn<double>("watchdog");
    QTest::addColumn<bool>("parkOnExit");
    QTest::addColumn<QString>("ranges");
    QTest::newRow("none") << QStringList{} << "" << 0.0 << false << "";
    QTest::newRow("park alone: the watchdog at 30 s")
        << QStringList{"--park", "180,0"} << "180,0" << 30.0 << false << "";
    QTest::newRow("watchdog off, park at exit")
        << QStringList{"--park=-90.5,10", "--watchdog", "0", "--park-on-exit"} << "-90.5,10" << 0.0
        << true << "";
    QTest::newRow("watchdog before park")
        << QStringList{"--watchdog", "2.5", "--park", "0,45"} << "0,45" << 2.5 << false << "";
    QTest::newRow("ranges") << QStringList{"--az-range", "-90:270", "--el-range", "5:85"} << ""
                            << 0.0 << false << "-90:270 5:85";
    QTest::newRow("a range of one angle")
        << QStringList{"--az-range", "10:10"} << "" << 0.0 << false << "10:10 -";
}

void TestAntennaControllerUnits::parkOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, park);
    QFETCH(double, watchdog);
    QFETCH(bool, parkOnExit);
    QFETCH(QString, ranges);
    const ParseResult result = ParseOptions(args);
    QCOMPARE(result.outcome, heliostat::base::CommandLineOutcome::Run);
    const Options& options = result.options;
    QCOMPARE(options.park
                 ? QStringLiteral("%1,%2").arg(options.park->azimuth).arg(options.park->elevation)
                 : QString(),
             park);
    QCOMPARE(options.watchdog, watchdog);
    QCOMPARE(options.parkOnExit, parkOnExit);
    const auto text = [](const std::optional<std::pair<double, double>>& r) {
        return r ? QStringLiteral("%1:%2").arg(r->first).arg(r->second) : QStringLiteral("-");
    };
    QCOMPARE(options.azimuthRange || options.elevationRange
                 ? text(options.azimuthRange) + ' ' + text(options.elevationRange)
                 : QString(),
             ranges);
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
    QTest::newRow("watchdog without park") << QStringList{"--watchdog", "30"};
    QTest::newRow("park at exit without park") << QStringList{"--park-on-exit"};
    QTest::newRow("watchdog negative") << QStringList{"--park", "0,0", "--watchdog", "-1"};
    QTest::newRow("park one angle") << QStringList{"--park", "180"};
    QTest::newRow("park below the horizon's nadir") << QStringList{"--park", "180,-90.5"};
    QTest::newRow("park text") << QStringList{"--park", "south,10"};
    QTest::newRow("range upside down") << QStringList{"--az-range", "270:-90"};
    QTest::newRow("range with one end") << QStringList{"--el-range", "5:"};
    QTest::newRow("mount model missing") << QStringList{"--mount-model", "/nonexistent/m.json"};
}

void TestAntennaControllerUnits::badOptions() {
    QFETCH(QStringList, args);
    const ParseResult result = ParseOptions(args);
    QCOMPARE(result.outcome, heliostat::base::CommandLineOutcome::UsageError);
    QVERIFY(!result.text.isEmpty());
    // --help wins even after a mistake, so that the operator always gets the text.
    QCOMPARE(ParseOptions(QStringList{"--help"} + args).outcome,
             heliostat::base::CommandLineOutcome::Help);
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
    QCOMPARE(result.outcome, help ? heliostat::base::CommandLineOutcome::Help
                                  : heliostat::base::CommandLineOutcome::Version);
    QCOMPARE(result.text.contains("--park-on-exit"), help);
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
    QTest::newRow("IPv4 shortened, as Qt reads it") << "10.1/16"
                                                    << "10.1.0.0/16";
    QTest::newRow("host bits cleared") << "10.1.2.3/16"
                                       << "10.1.0.0/16";
    QTest::newRow("IPv4-mapped in hex") << "::ffff:7f00:1"
                                        << "127.0.0.1/32";
    QTest::newRow("IPv4-mapped network") << "::ffff:192.0.2.0/120"
                                         << "192.0.2.0/24";
    QTest::newRow("every IPv4 sender") << "0.0.0.0/0"
                                       << "0.0.0.0/0";
    QTest::newRow("IPv4 prefix 33") << "10.0.0.0/33"
                                    << "";
    QTest::newRow("empty prefix") << "10.0.0.0/"
                                  << "";
    QTest::newRow("netmask") << "10.0.0.0/255.0.0.0"
                             << "10.0.0.0/8";
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
    QCOMPARE(QByteArray::fromStdString(heliostat::base::CsvField(text.toStdString())), field);
    // The table's buffered writer quotes the same way.
    std::FILE* file = std::tmpfile();
    QVERIFY(file);
    {
        heliostat::base::CsvWriter writer(file, 64);
        writer.Field(text.toStdString());
    }
    std::rewind(file);
    char written[64] = {};
    QCOMPARE(QByteArray(written, int(std::fread(written, 1, sizeof written, file))), field);
    std::fclose(file);
}

void TestAntennaControllerUnits::printable() {
    QCOMPARE(Printable("0,1,2"), QByteArray("0,1,2"));
    QCOMPARE(Printable(QByteArray("a\0\n\\\xff", 5)), QByteArray("a\\x00\\x0a\\x5c\\xff"));
    QCOMPARE(Printable(QByteArray(10, 'x'), 4), QByteArray("xxxx...(10 bytes)"));
}

void TestAntennaControllerUnits::limits_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<double>("sentAzimuth");  // NaN: refused
    QTest::addColumn<QByteArray>("reply");
    // The rotator turns from 10 to 350 degrees (a stop in the north) and stands at 100,10.
    const double refused = std::nan("");
    QTest::newRow("lowest corner")
        << QByteArray("0,010.00,-5.00") << 10.0 << QByteArray("0,100.00,10.00");
    QTest::newRow("highest corner")
        << QByteArray("0,350.00,80.00") << 350.0 << QByteArray("0,100.00,10.00");
    QTest::newRow("a turn below the range")
        << QByteArray("0,-10.00,10.00") << 350.0 << QByteArray("0,100.00,10.00");
    QTest::newRow("a turn above the range")
        << QByteArray("0,370.00,10.00") << 10.0 << QByteArray("0,100.00,10.00");
    QTest::newRow("in the gap at north")
        << QByteArray("0,005.00,10.00") << refused << QByteArray("0,100.00,10.00,limit");
    QTest::newRow("just past the top, no turn reaches it")
        << QByteArray("0,350.01,10.00") << refused << QByteArray("0,100.00,10.00,limit");
    QTest::newRow("just below the bottom")
        << QByteArray("0,009.99,10.00") << refused << QByteArray("0,100.00,10.00,limit");
    QTest::newRow("elevation just below")
        << QByteArray("0,100.00,-5.01") << refused << QByteArray("0,100.00,10.00,limit");
    QTest::newRow("elevation just above")
        << QByteArray("0,100.00,80.01") << refused << QByteArray("0,100.00,10.00,limit");
}

void TestAntennaControllerUnits::limits() {
    QFETCH(QByteArray, command);
    QFETCH(double, sentAzimuth);
    QFETCH(QByteArray, reply);
    Rig rig(0, 20, 100, [](Controller::Settings&, Script& s) {
        s.limits = {10, 350, -5, 80};
        s.present = AzEl{100, 10};
    });
    QVERIFY(rig.listening);
    QTest::qWait(50);  // the first read of the rotator's position
    rig.send(command);
    const QList<QByteArray> replies = rig.replies(150);
    const bool moves = !std::isnan(sentAzimuth);
    QCOMPARE(rig.script->sentCount(), size_t(moves ? 1 : 0));
    if (moves) {
        QCOMPARE(rig.script->with([](Script& x) { return x.sent[0].azimuth; }), sentAzimuth);
    }
    // A refused command is answered with the present position and the word limit.
    QCOMPARE(replies.value(0), reply);
    QCOMPARE(rig.eventLog().contains("outside the rotator's range"), !moves);
}

void TestAntennaControllerUnits::limitRepliesAtMostOnceASecond() {
    Rig rig(0, 20, 100, [](Controller::Settings&, Script& s) {
        s.limits = {0, 360, 0, 90};
        s.present = AzEl{20, 30};
    });
    QVERIFY(rig.listening);
    QTest::qWait(50);
    for (int i = 0; i < 5; ++i) {
        rig.send("0,020.00,95.00");
    }
    QCOMPARE(rig.replies(400), QList<QByteArray>{"0,020.00,30.00,limit"});
    QTest::qWait(700);
    rig.send("0,020.00,95.00");
    QCOMPARE(rig.replies(200), QList<QByteArray>{"0,020.00,30.00,limit"});
    QCOMPARE(rig.script->sentCount(), size_t(0));
}

void TestAntennaControllerUnits::wrapAzimuth_data() {
    QTest::addColumn<double>("azimuth");
    QTest::addColumn<double>("present");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("driven");  // NaN: no angle reaches it
    const double none = std::nan("");
    QTest::newRow("half-turn rotator, the afternoon sun")
        << 188.82 << 0.0 << -180.0 << 180.0 << -171.18;
    QTest::newRow("across north the short way") << 359.98 << 0.29 << -180.0 << 450.0 << -0.02;
    QTest::newRow("a turn up when nearer") << 10.0 << 300.0 << -180.0 << 450.0 << 370.0;
    QTest::newRow("as it is when nearer") << 10.0 << 100.0 << -180.0 << 450.0 << 10.0;
    QTest::newRow("0..360 has only the long way") << 359.98 << 0.29 << 0.0 << 360.0 << 359.98;
    QTest::newRow("north at the top end") << 0.0 << 359.0 << 0.0 << 360.0 << 360.0;
    QTest::newRow("north at the bottom end") << 360.0 << 1.0 << 0.0 << 360.0 << 0.0;
    QTest::newRow("south from the east side") << 180.0 << 170.0 << -180.0 << 180.0 << 180.0;
    QTest::newRow("south from the west side") << 180.0 << -170.0 << -180.0 << 180.0 << -180.0;
    QTest::newRow("two turns of cable") << 10.0 << 400.0 << 0.0 << 720.0 << 370.0;
    QTest::newRow("a command two turns off") << 730.0 << 5.0 << 0.0 << 360.0 << 10.0;
    QTest::newRow("in the gap") << 5.0 << 100.0 << 10.0 << 350.0 << none;
    QTest::newRow("a range of one angle") << 370.0 << 0.0 << 10.0 << 10.0 << 10.0;
}

void TestAntennaControllerUnits::wrapAzimuth() {
    QFETCH(double, azimuth);
    QFETCH(double, present);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, driven);
    const std::optional<double> got = WrapAzimuth(azimuth, present, min, max);
    QCOMPARE(got.has_value(), !std::isnan(driven));
    if (got) {
        QVERIFY2(std::abs(*got - driven) < 1e-9, QByteArray::number(*got, 'g', 17));
    }
}

void TestAntennaControllerUnits::directionReply_data() {
    QTest::addColumn<double>("azimuth");
    QTest::addColumn<double>("elevation");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("half-turn rotator west of south")
        << -171.18 << 44.21 << QByteArray("0,188.82,44.21");
    QTest::newRow("just west of north") << -0.02 << 30.0 << QByteArray("0,359.98,30.00");
    QTest::newRow("a turn up") << 370.0 << 0.5 << QByteArray("0,010.00,.50");
    QTest::newRow("rounds up to north") << 359.996 << 10.0 << QByteArray("0,000.00,10.00");
    QTest::newRow("a hair below north") << -0.001 << 10.0 << QByteArray("0,000.00,10.00");
    QTest::newRow("two turns") << 720.0 << 10.0 << QByteArray("0,000.00,10.00");
    QTest::newRow("already in range") << 180.004 << 45.678 << QByteArray("0,180.00,45.68");
}

void TestAntennaControllerUnits::directionReply() {
    QFETCH(double, azimuth);
    QFETCH(double, elevation);
    QFETCH(QByteArray, reply);
    QCOMPARE(DirectionReply({azimuth, elevation}), reply);
}

void TestAntennaControllerUnits::narrowLimits_data() {
    QTest::addColumn<QString>("az");  // MIN:MAX or empty
    QTest::addColumn<QString>("el");
    QTest::addColumn<QString>("limits");  // empty: refused
    QTest::newRow("none") << ""
                          << ""
                          << "-180 450 0 90";
    QTest::newRow("narrower") << "0:360"
                              << "5:85"
                              << "0 360 5 85";
    QTest::newRow("the same") << "-180:450"
                              << "0:90"
                              << "-180 450 0 90";
    QTest::newRow("azimuth wider below") << "-180.5:180"
                                         << ""
                                         << "";
    QTest::newRow("azimuth wider above") << "0:450.5"
                                         << ""
                                         << "";
    QTest::newRow("elevation wider above") << ""
                                           << "0:90.01"
                                           << "";
    QTest::newRow("elevation wider below") << ""
                                           << "-1:90"
                                           << "";
}

void TestAntennaControllerUnits::narrowLimits() {
    QFETCH(QString, az);
    QFETCH(QString, el);
    QFETCH(QString, limits);
    const auto range = [](const QString& text) -> std::optional<AxisRange> {
        if (text.isEmpty()) {
            return std::nullopt;
        }
        return AxisRange{text.section(':', 0, 0).toDouble(), text.section(':', 1).toDouble()};
    };
    QString got;
    QString error;
    try {
        const Limits narrowed = NarrowLimits({-180, 450, 0, 90}, range(az), range(el));
        got = QStringLiteral("%1 %2 %3 %4")
                  .arg(narrowed.minAzimuth)
                  .arg(narrowed.maxAzimuth)
                  .arg(narrowed.minElevation)
                  .arg(narrowed.maxElevation);
    } catch (const heliostat::HeliostatError& e) {
        error = QString::fromUtf8(e.what());
    }
    QCOMPARE(got, limits);
    QCOMPARE(error.contains(az.isEmpty() || !limits.isEmpty() ? "--el-range" : "--az-range"),
             limits.isEmpty());
}

void TestAntennaControllerUnits::shortWayAcrossNorth() {
    Rig rig(0, 20, 100000, [](Controller::Settings&, Script& s) {
        s.limits = {-180, 450, 0, 90};
        s.present = AzEl{0.29, 30};
    });
    QVERIFY(rig.listening);
    QTest::qWait(50);
    rig.send("0,000.29,30.00");
    rig.replies(100);
    rig.send("0,359.98,30.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(2), 2000);
    const double driven = rig.script->with([](Script& x) { return x.sent[1].azimuth; });
    QVERIFY2(std::abs(driven - -0.02) < 1e-9, QByteArray::number(driven, 'g', 17));
    // The reply is the direction, the CSV keeps the rotator's own angle beside it.
    rig.script->with([](Script& x) { x.present = AzEl{-0.02, 30}; });
    QVERIFY(rig.replies(200).contains("0,359.98,30.00"));
    QVERIFY2(rig.csv().contains(R"(,,"0,359.98,30.00","-0.02,30",poll)"), rig.csv().constData());
    QVERIFY(!rig.eventLog().contains("long way"));
}

namespace {

// A model of a mount whose encoders read 0.8° high in azimuth and 0.4° low in elevation.
void OffsetModel(Controller::Settings& settings, double cant = 0) {
    heliostat::astro::MountModel model;
    model.azimuthOffset = 0.8;
    model.elevationOffset = -0.4;
    model.mirrorCant = cant;
    const heliostat::mount_file::MountCorrection correction(model);
    settings.geometry.toMount = [correction](AzEl sky) { return correction.ToMount(sky); };
    settings.geometry.toSky = [correction](AzEl mount) { return correction.ToDirection(mount); };
}

}  // namespace

// The command is the wanted direction; the rotator gets the model's mount angles, the window
// the direction the mount truly faces, and the CSV both.
void TestAntennaControllerUnits::mountModelDrivesAndReplies() {
    Rig rig(0, 20, 100000, [](Controller::Settings& settings, Script& s) {
        OffsetModel(settings);
        s.present = AzEl{189.62, 43.81};
    });
    QVERIFY(rig.listening);
    rig.send("0,188.82,44.21");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 2000);
    const AzEl driven = rig.script->with([](Script& x) { return x.sent[0]; });
    QVERIFY2(std::abs(driven.azimuth - 189.62) < 1e-9 && std::abs(driven.elevation - 43.81) < 1e-9,
             qPrintable(QStringLiteral("%1,%2")
                            .arg(driven.azimuth, 0, 'g', 17)
                            .arg(driven.elevation, 0, 'g', 17)));
    QVERIFY(rig.replies(200).contains("0,188.82,44.21"));
    QVERIFY2(rig.csv().contains(R"("0,188.82,44.21","0,188.82,44.21","189.62,43.81")"),
             rig.csv().constData());
}

// With a canted mirror no mount angles face the zenith: the command is refused, not driven.
void TestAntennaControllerUnits::mountModelUnreachableIsRejected() {
    Rig rig(0, 20, 100000,
            [](Controller::Settings& settings, Script&) { OffsetModel(settings, 1); });
    QVERIFY(rig.listening);
    rig.send("0,010.00,90.00");
    QTRY_VERIFY_WITH_TIMEOUT(rig.eventLog().contains("no mount angles face 10,90"), 2000);
    rig.send("0,180.00,45.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 2000);
}

void TestAntennaControllerUnits::mountModelOption() {
    QTemporaryDir dir;
    QFile file(dir.filePath("m.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "heliostat-mount-model", "version": 1, "parameters": {
        "azimuth_offset": {"value": 0.8, "standard_error": 0.01},
        "elevation_offset": {"value": -0.4, "standard_error": 0.01},
        "tilt_north": {"value": 0.25, "standard_error": 0.01},
        "tilt_east": {"value": 0.433, "standard_error": 0.01},
        "axis_skew": {"value": 0.2, "standard_error": 0.01},
        "mirror_cant": {"value": 0.3, "standard_error": 0.01}}})");
    file.close();
    const ParseResult good = ParseOptions({"--mount-model", file.fileName()});
    QCOMPARE(good.outcome, heliostat::base::CommandLineOutcome::Run);
    QVERIFY(good.options.mountModel);
    QCOMPARE(good.options.mountModel->tiltEast, 0.433);
    QCOMPARE(good.options.mountModelFile, file.fileName());
    QVERIFY(!ParseOptions({}).options.mountModel);
}

void TestAntennaControllerUnits::longWayIsLoggedOncePerCrossing() {
    Rig rig(0, 20, 100000, [](Controller::Settings&, Script& s) {
        s.limits = {0, 360, 0, 90};
        s.present = AzEl{0.29, 30};
    });
    QVERIFY(rig.listening);
    QTest::qWait(50);
    // The swing that follows the crossing: the rotator is still near 0 for these.
    for (const char* command : {"0,000.29,30.00", "0,359.98,30.00", "0,359.97,30.00"}) {
        rig.send(command);
        rig.replies(60);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(3), 2000);
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[1].azimuth; }), 359.98);
    const QByteArray log = rig.eventLog();
    QCOMPARE(log.count("the long way round"), 1);
    QVERIFY2(log.contains("the long way round: 359.69° from azimuth 0.29, no shorter way within "
                          "[0, 360]"),
             log.constData());
    // Back across north again: a second crossing, and again said once.
    rig.script->with([](Script& x) { x.present = AzEl{359.97, 30}; });
    rig.replies(100);
    for (const char* command : {"0,000.50,30.00", "0,000.40,30.00"}) {
        rig.send(command);
        rig.replies(60);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(5), 2000);
    QCOMPARE(rig.eventLog().count("the long way round"), 2);
}

void TestAntennaControllerUnits::watchdogParksAndTheNextCommandResumes() {
    Rig rig(0, 20, 100000, [](Controller::Settings& settings, Script& s) {
        settings.park = AzEl{180, 10};
        settings.watchdog = std::chrono::milliseconds(300);
        s.limits = {-180, 450, 0, 90};
    });
    QVERIFY(rig.listening);
    rig.send("0,020.00,5.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 1000);
    QElapsedTimer since;
    since.start();
    rig.script->with([](Script& x) { x.present = AzEl{20, 5}; });
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(2), 2000);
    const qint64 took = since.elapsed();
    QVERIFY2(took >= 250 && took < 600, QByteArray::number(took));
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[1]; }), (AzEl{180, 10}));
    // Parked: the replies say so, with the position read.
    rig.script->with([](Script& x) { x.present = AzEl{100, 8}; });
    QVERIFY(rig.replies(150).contains("0,100.00,8.00,parked"));
    QCOMPARE(rig.eventLog().count("watchdog: no command for 0.3 s, parking at 180.00,10.00"), 1);
    QCOMPARE(rig.csv().count("watchdog: no command for 0.3 s, parking at 180.00,10.00"), 1);
    // Parked once: no further parking while no command comes.
    rig.replies(500);
    QCOMPARE(rig.script->sentCount(), size_t(2));

    rig.send("0,021.00,5.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(3), 1000);
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[2]; }), (AzEl{21, 5}));
    rig.script->with([](Script& x) { x.present = AzEl{21, 5}; });
    const QList<QByteArray> replies = rig.replies(150);
    QVERIFY(replies.contains("0,021.00,5.00"));
    QVERIFY(std::none_of(replies.begin(), replies.end(),
                         [](const QByteArray& r) { return r.endsWith(",parked"); }));
    QVERIFY(rig.eventLog().contains("tracking again after parking"));
}

void TestAntennaControllerUnits::parkOnExitCommandsTheMove() {
    for (const bool parkOnExit : {false, true}) {
        Rig rig(0, 20, 100, [&](Controller::Settings& settings, Script&) {
            settings.park = AzEl{180, 10};
            settings.parkOnExit = parkOnExit;
        });
        QVERIFY(rig.listening);
        rig.send("0,020.00,5.00");
        QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 1000);
        QVERIFY(rig.controller->shutdown(std::chrono::milliseconds(1000)));
        QCOMPARE(rig.script->sentCount(), size_t(parkOnExit ? 2 : 1));
        const AzEl last = rig.script->with([](Script& x) { return x.sent.back(); });
        QCOMPARE(last, parkOnExit ? (AzEl{180, 10}) : (AzEl{20, 5}));
    }
}

void TestAntennaControllerUnits::deadband_data() {
    QTest::addColumn<double>("deadband");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("sent");
    QTest::newRow("no deadband, same target") << 0.0 << QByteArray("0,010.00,10.00") << false;
    QTest::newRow("no deadband, a hundredth off") << 0.0 << QByteArray("0,010.01,10.00") << true;
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
    QCOMPARE(rig.csv().contains(deadband > 0 ? "within deadband of 10,10; not sent"
                                             : "already moving to 10,10; not sent"),
             !sent);

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
    // The refused target is no move under way: the same command is sent again.
    rig.script->with([](Script& x) { x.settable = true; });
    rig.send("0,020.00,10.00");
    QTRY_COMPARE(rig.script->sentCount(), size_t{1});
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
        settings.rotator.firstRetry = std::chrono::milliseconds(100);
        settings.rotator.maxRetry = std::chrono::milliseconds(800);
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

    // Refused three times: the first try after 100 ms (not the 800 ms cap), retries after 200,
    // 400 and 800 ms, then the fourth opens.
    const auto opens = rig.script->with([](Script& x) { return x.opens; });
    QCOMPARE(opens.size(), size_t(4));
    const auto ms = [](auto a, auto b) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
    };
    QVERIFY2(ms(lostAt, opens[0]) < 300, QByteArray::number(ms(lostAt, opens[0])));
    const qint64 gaps[] = {ms(opens[0], opens[1]), ms(opens[1], opens[2]), ms(opens[2], opens[3])};
    QVERIFY2(gaps[0] >= 190 && gaps[0] < 350, QByteArray::number(gaps[0]));
    QVERIFY2(gaps[1] >= 390 && gaps[1] < 600, QByteArray::number(gaps[1]));
    QVERIFY2(gaps[2] >= 790 && gaps[2] < 1050, QByteArray::number(gaps[2]));

    QVERIFY(!rig.replies(300).isEmpty());
    const QByteArray log = rig.eventLog();
    QCOMPARE(log.count("rotator lost: scripted link loss"), 1);
    QCOMPARE(log.count("rotator back after"), 1);
}

void TestAntennaControllerUnits::moveCutShortIsMadeAgain() {
    Rig rig(0, 20, 100, [](Controller::Settings& settings, Script& s) {
        settings.rotator.firstRetry = std::chrono::milliseconds(50);
        s.lostMoves = 1;
    });
    QVERIFY(rig.listening);
    rig.send("0,030.00,3.00");
    QTRY_VERIFY_WITH_TIMEOUT(rig.eventLog().contains("rotator lost: scripted link loss during "
                                                     "a move"),
                             1000);
    // No newer command: the reopened rotator gets the same target all the same.
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 2000);
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[0]; }), (AzEl{30, 3}));
}

void TestAntennaControllerUnits::deadbandStartsAfreshAfterAReconnect() {
    Rig rig(1.0, 20, 100, [](Controller::Settings& settings, Script&) {
        settings.rotator.firstRetry = std::chrono::milliseconds(50);
    });
    QVERIFY(rig.listening);
    rig.send("0,010.00,10.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(1), 1000);
    rig.script->with([](Script& x) { x.losses = 1; });
    QTRY_VERIFY_WITH_TIMEOUT(rig.eventLog().contains("rotator back after"), 2000);
    // The restarted rotator was driven to the old target again; a command within the deadband
    // of that one is still sent, once.
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(2), 1000);
    rig.send("0,010.50,10.00");
    QTRY_COMPARE_WITH_TIMEOUT(rig.script->sentCount(), size_t(3), 1000);
    QCOMPARE(rig.script->with([](Script& x) { return x.sent[2]; }), (AzEl{10.5, 10}));
    rig.send("0,010.60,10.00");
    rig.replies(150);
    QCOMPARE(rig.script->sentCount(), size_t(3));
}

void TestAntennaControllerUnits::hamlibStatus_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status");
    // Hamlib's error numbers (rig.h), negated as its calls return them.
    const int ok = int(MountStatus::kOk);
    const int failed = int(MountStatus::kFailed);
    const int lost = int(MountStatus::kLost);
    QTest::newRow("RIG_OK") << 0 << ok;
    QTest::newRow("RIG_EINVAL") << -1 << failed;
    QTest::newRow("RIG_ENIMPL") << -4 << failed;
    QTest::newRow("RIG_ETIMEOUT") << -5 << lost;
    QTest::newRow("RIG_EIO") << -6 << lost;
    QTest::newRow("RIG_EPROTO") << -8 << lost;
    QTest::newRow("RIG_ERJCTED") << -9 << failed;
    QTest::newRow("RIG_BUSERROR") << -13 << lost;
    QTest::newRow("RIG_BUSBUSY") << -14 << lost;
}

void TestAntennaControllerUnits::hamlibStatus() {
    QFETCH(int, code);
    QFETCH(int, status);
    QCOMPARE(int(ClassifyHamlibStatus(code)), status);
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
    rig.send("0,100.00,99.00");  // another kind: a line of its own
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
    // Keyed by address: the other ports of the same host are the same sender.
    QCOMPARE(log.count("WARNING"), 1);
    QCOMPARE(log.count("WARNING: 127.0.0.1:" + QByteArray::number(second.localPort())), 1);
}

void TestAntennaControllerUnits::warnedSendersAreForgotten_data() {
    QTest::addColumn<int>("memoryMs");
    QTest::addColumn<int>("maxSenders");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<int>("second");  // of them for 127.0.0.2
    // 127.0.0.2, .3 and .4 take turns with the first sender, then 127.0.0.2 comes again; the
    // first sender is warned about too, when it follows another.
    QTest::newRow("remembered") << 60000 << 1000 << 4 << 1;
    QTest::newRow("forgotten after the time") << 400 << 1000 << 6 << 2;
    // .3 pushes out .2, .4 pushes out the first sender, which then pushes out .3, and .2 .4.
    QTest::newRow("the oldest forgotten when full") << 60000 << 2 << 6 << 2;
}

void TestAntennaControllerUnits::warnedSendersAreForgotten() {
    QFETCH(int, memoryMs);
    QFETCH(int, maxSenders);
    QFETCH(int, warnings);
    QFETCH(int, second);
    Rig rig(0, 20, 100, [&](Controller::Settings& settings, Script&) {
        settings.senderMemory = std::chrono::milliseconds(memoryMs);
        settings.maxSenders = maxSenders;
    });
    QVERIFY(rig.listening);
    QUdpSocket others[3];
    for (int i = 0; i < 3; ++i) {
        QVERIFY(others[i].bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(i + 2)), 0));
    }
    const auto turn = [&](QUdpSocket& other) {
        rig.send("0,010.00,1.00");
        rig.replies(20);
        other.writeDatagram("0,011.00,1.00", kLoopback, rig.controller->port());
        rig.replies(20);
    };
    for (QUdpSocket& other : others) {
        turn(other);
    }
    rig.replies(500);
    turn(others[0]);
    rig.replies(50);
    QCOMPARE(rig.eventLog().count("WARNING: 127.0.0.2:"), second);
    QCOMPARE(rig.eventLog().count("WARNING"), warnings);
}

void TestAntennaControllerUnits::acceptedRowsAndRepliesAreLimited() {
    Rig rig(0, 20, 100000);
    QVERIFY(rig.listening);
    // Paced so that the rotator thread answers each one: 40 answers in a fifth of a second.
    QList<QByteArray> replies;
    for (int i = 0; i < 40; ++i) {
        rig.send("0,010.00,1.00");
        replies += rig.replies(5);
    }
    replies += rig.replies(400);
    QVERIFY2(replies.size() >= 1 && replies.size() <= 10, QByteArray::number(replies.size()));
    rig.replies(600);
    rig.controller->shutdown(std::chrono::milliseconds(1000));
    const QByteArray csv = rig.csv();
    QCOMPARE(csv.count("\"0,010.00,1.00\","), 10);
    QVERIFY2(QRegularExpression(R"(accepted: \d+ more commands in that second, not recorded)")
                 .match(QString::fromUtf8(csv))
                 .hasMatch(),
             csv.constData());
    QVERIFY2(QRegularExpression(R"(\d+ replies not sent in the last \d+ s \(at most 10 a second\))")
                 .match(QString::fromUtf8(rig.eventLog()))
                 .hasMatch(),
             rig.eventLog().constData());
}

void TestAntennaControllerUnits::groupedCount_data() {
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0";
    QTest::newRow("three digits") << qint64(204) << "204";
    QTest::newRow("four digits") << qint64(1204) << "1,204";
    QTest::newRow("six digits") << qint64(123456) << "123,456";
    QTest::newRow("seven digits") << qint64(1234567) << "1,234,567";
    QTest::newRow("negative") << qint64(-1204) << "-1,204";
}

void TestAntennaControllerUnits::groupedCount() {
    QFETCH(qint64, count);
    QFETCH(QString, text);
    QCOMPARE(GroupedCount(count), text);
}

// Rows offered at the given times (ms) to a limiter of 3 per 1,000 ms or of 10 per minute:
// which are written, and that each held row is counted once.
void TestAntennaControllerUnits::rowLimiter_data() {
    QTest::addColumn<int>("perWindow");
    QTest::addColumn<qint64>("windowMs");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QString>("taken");
    QTest::newRow("fourth in a second held")
        << 3 << qint64(1000) << QList<qint64>{0, 10, 20, 30} << "1110";
    QTest::newRow("window ends at 1000 ms, not before")
        << 3 << qint64(1000) << QList<qint64>{0, 1, 2, 999, 1000} << "11101";
    QTest::newRow("a minute's window")
        << 10 << qint64(60000) << QList<qint64>{0,    1000, 2000, 3000,  4000,  5000, 6000,
                                                7000, 8000, 9000, 10000, 59999, 60000}
        << "1111111111001";
}

void TestAntennaControllerUnits::rowLimiter() {
    QFETCH(int, perWindow);
    QFETCH(qint64, windowMs);
    QFETCH(QList<qint64>, times);
    QFETCH(QString, taken);
    RowLimiter limiter(perWindow, windowMs);
    QString written;
    qint64 heldBefore = 0;
    for (const qint64 t : times) {
        heldBefore += limiter.heldBack(t).value_or(0);
        written += limiter.take(t) ? u'1' : u'0';
    }
    QCOMPARE(written, taken);
    // Everything held is told exactly once: before the last window ended, or with all.
    QCOMPARE(heldBefore + limiter.heldBack(times.last(), true).value_or(0),
             qint64(taken.count(u'0')));
    QCOMPARE(limiter.heldBack(times.last(), true).value_or(0), qint64(0));
}

void TestAntennaControllerUnits::summariesStartAfresh() {
    RejectionFolder folder(std::chrono::milliseconds(1000));
    QVERIFY(folder.add("192.0.2.2", "not a command", 0));
    QVERIFY(!folder.add("192.0.2.2", "not a command", 10));
    QVERIFY(!folder.add("192.0.2.2", "not a command", 20));
    QVERIFY(folder.add("192.0.2.3", "not a command", 30));
    QVERIFY(folder.due(999).isEmpty());
    QCOMPARE(folder.due(1000), QStringList{"rejected 2 datagrams from 192.0.2.2 in the last 1 s: "
                                           "not a command"});
    // The next period counts only its own.
    QVERIFY(!folder.add("192.0.2.2", "not a command", 1500));
    QCOMPARE(folder.due(2000),
             QStringList{"rejected 1 datagram from 192.0.2.2 in the last 1 s: not a command"});
    // A quiet period: forgotten, the next one is logged in full again.
    QVERIFY(folder.due(3000).isEmpty());
    QVERIFY(folder.add("192.0.2.2", "not a command", 3100));
}

void TestAntennaControllerUnits::sessionLogAppends() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("session.csv");
    for (const char* note : {"first run", "second run"}) {
        SessionLog log(stderr);
        log.openCsv(path);
        log.record("0,1,2", "0,001.00,2.00", "1,2", QString::fromLatin1(note));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    QCOMPARE(csv.count("time,command,position,rotator,note\r\n"), 1);
    QVERIFY(csv.startsWith("time,"));
    QVERIFY(csv.contains(R"(Z,"0,1,2","0,001.00,2.00","1,2",first run)"
                         "\r\n"));
    QVERIFY(csv.indexOf("first run") < csv.indexOf("second run"));
}

namespace {

// A record file that can be made to refuse writes, as a full disk does.
class FailingDevice : public QIODevice {
public:
    bool failing = false;
    QByteArray written;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failing) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        written.append(data, size);
        return size;
    }
};

}  // namespace

void TestAntennaControllerUnits::sessionLogCountsLostRows() {
    std::FILE* events = std::tmpfile();
    QVERIFY(events);
    SessionLog log(events);
    auto owned = std::make_unique<FailingDevice>();
    FailingDevice* device = owned.get();
    QVERIFY(device->open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    log.attachCsv(std::move(owned), "full.csv");
    log.record({}, {}, {}, "kept");
    device->failing = true;
    for (int i = 0; i < 3; ++i) {
        log.record({}, {}, {}, "lost");
    }
    QCOMPARE(log.lostRows(), 3);
    device->failing = false;
    log.record({}, {}, {}, "kept again");
    log.record({}, {}, {}, "and on");
    QCOMPARE(log.lostRows(), 3);
    const QByteArray csv = device->written;
    QVERIFY(!csv.contains("lost\r\n"));
    const qsizetype counted = csv.indexOf(",,,,log: 3 rows could not be written\r\n");
    QVERIFY2(counted > csv.indexOf("kept\r\n") && counted < csv.indexOf("kept again"),
             csv.constData());
    QCOMPARE(csv.count("rows could not be written"), 1);

    std::fflush(events);
    std::rewind(events);
    char buffer[4096] = {};
    const QByteArray text(buffer, qsizetype(std::fread(buffer, 1, sizeof buffer - 1, events)));
    std::fclose(events);
    // One line for the outage, with its reason, not one per row.
    QCOMPARE(text.count('\n'), 1);
    QVERIFY2(text.contains("cannot write the log full.csv: No space left on device"),
             text.constData());
}

QTEST_GUILESS_MAIN(TestAntennaControllerUnits)
#include "test_antenna_controller_units.moc"
