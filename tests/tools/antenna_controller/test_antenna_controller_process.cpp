// The antenna-controller program as a child process, spoken to over loopback UDP.
#include "controller_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using heliostat::test::Controller;
using heliostat::test::ReplyAngles;
using heliostat::test::Rotctld;
using heliostat::test::WaitForDatagram;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

bool AnyDatagram(const QNetworkDatagram&) {
    return true;
}

// True once a reply reports exactly the commanded angles.
auto Reports(const QByteArray& expected) {
    return [expected](const QNetworkDatagram& d) { return d.data() == expected; };
}

}  // namespace

class TestAntennaControllerProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void usage_data();
    void usage();
    void help();

    void validCommandIsAnsweredAtTheSender();
    void malformedIsIgnored_data();
    void malformedIsIgnored();
    void keepsServingAfterTheSenderHasGone();
    void sigtermEndsWithTheSessionRecord();
    void sigintEndsCleanly();

    void drivesRotctldThroughTheNetworkModel();
    void halfTurnRotatorIsDrivenTheShortWay();
    void sigtermWithAFrozenRotctld();
    void senderOutsideAllowDoesNotMoveTheMount();
    void floodOfRejectedDatagramsIsFolded();

private:
    // Sends a command and waits until the replies report it; false if they never do.
    bool moveTo(const QByteArray& command, const QByteArray& expectedReply, int ms);
    QByteArray csv() const;

    QTemporaryDir dir_;
    QString csvPath_;
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<QUdpSocket> client_;
};

void TestAntennaControllerProcess::initTestCase() {
    QVERIFY(dir_.isValid());
    csvPath_ = dir_.filePath("session.csv");
    // A record from an earlier run, which this one appends to.
    {
        QFile earlier(csvPath_);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(
            "time,command,position,rotator,note\r\n"
            "2026-03-20T00:00:00.000Z,,,,earlier run\r\n");
    }
    controller_ = std::make_unique<Controller>();
    QVERIFY2(controller_->start({"--log", csvPath_}), controller_->errors().constData());
    QVERIFY(controller_->errors().contains(R"(rotator model 1 "Hamlib Dummy")"));
    QVERIFY(controller_->errors().contains("azimuth [-180, 450], elevation [0, 90]"));
    client_ = std::make_unique<QUdpSocket>();
    QVERIFY(client_->bind(kLoopback, 0));
}

void TestAntennaControllerProcess::cleanupTestCase() {
    client_.reset();
    controller_.reset();  // kills the process if a test left it running
}

bool TestAntennaControllerProcess::moveTo(const QByteArray& command,
                                          const QByteArray& expectedReply, int ms) {
    client_->writeDatagram(command, kLoopback, controller_->port());
    return WaitForDatagram(*client_, ms, Reports(expectedReply)).has_value();
}

QByteArray TestAntennaControllerProcess::csv() const {
    QFile file(csvPath_);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestAntennaControllerProcess::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "--bogus";
    QTest::newRow("positional") << QStringList{"10006"} << 2 << "10006";
    QTest::newRow("listen without port") << QStringList{"--listen", "127.0.0.1"} << 2 << "--listen";
    QTest::newRow("listen port too big")
        << QStringList{"--listen", "127.0.0.1:65536"} << 2 << "--listen";
    QTest::newRow("model not a number") << QStringList{"--model", "dummy"} << 2 << "--model";
    QTest::newRow("model unknown to Hamlib") << QStringList{"--model", "999999"} << 2 << "999999";
    QTest::newRow("conf key unknown to Hamlib")
        << QStringList{"--conf", "no_such_key=1"} << 2 << "no_such_key";
    QTest::newRow("conf without value") << QStringList{"--conf", "min_az"} << 2 << "KEY=VALUE";
    QTest::newRow("negative deadband") << QStringList{"--deadband", "-1"} << 2 << "--deadband";
    QTest::newRow("missing value") << QStringList{"--log"} << 2 << "--log";
    QTest::newRow("allow not an address")
        << QStringList{"--allow", "127.0.0.1/x"} << 2 << "127.0.0.1/x";
    QTest::newRow("unwritable log")
        << QStringList{"--log", "/nonexistent-dir/x.csv"} << 1 << "/nonexistent-dir/x.csv";
    QTest::newRow("azimuth range wider than the rotator's")
        << QStringList{"--az-range", "-180.5:180"} << 2 << "--az-range";
    QTest::newRow("elevation range wider than the rotator's")
        << QStringList{"--el-range", "0:91"} << 2 << "--el-range";
    QTest::newRow("park below the narrowed range")
        << QStringList{"--el-range", "10:80", "--park", "180,5"} << 2 << "--park 180,5";
    QTest::newRow("park in the gap of the narrowed range")
        << QStringList{"--az-range", "10:350", "--park", "0,45"} << 2 << "--park 0,45";
    QTest::newRow("watchdog without park") << QStringList{"--watchdog", "30"} << 2 << "--park";
    QTest::newRow("log on a full device") << QStringList{"--log", "/dev/full"} << 1 << "/dev/full";
    QTest::newRow("mount model missing")
        << QStringList{"--mount-model", "/nonexistent-dir/m.json"} << 2
        << "架台モデルファイル /nonexistent-dir/m.json を開けません";
    QTest::newRow("unreachable rotctld")
        << QStringList{"--model", "2", "--device", "127.0.0.1:1"} << 1 << "rot_open";
}

void TestAntennaControllerProcess::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QProcess process;
    process.start(QStringLiteral(ANTENNA_CONTROLLER_PATH), args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void TestAntennaControllerProcess::help() {
    QProcess process;
    process.start(QStringLiteral(ANTENNA_CONTROLLER_PATH), {"--help"});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    for (const char* option : {"--listen", "--model", "--device", "--conf", "--deadband", "--log",
                               "--verbose", "--allow", "-h, --help", "-v, --version", "0 正常終了",
                               "1 失敗", "2 コマンドラインの誤り"}) {
        QVERIFY2(text.contains(QString::fromUtf8(option)), option);
    }
    for (const char* flag : {"-v", "--version"}) {
        process.start(QStringLiteral(ANTENNA_CONTROLLER_PATH), {flag});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(),
                 QByteArray("antenna-controller " PROJECT_VERSION "\n"));
    }
}

void TestAntennaControllerProcess::validCommandIsAnsweredAtTheSender() {
    // A second socket that sends nothing must hear nothing: replies go to the sender only.
    QUdpSocket bystander;
    QVERIFY(bystander.bind(kLoopback, 0));

    client_->writeDatagram("0,010.00,5.00", kLoopback, controller_->port());
    QList<QNetworkDatagram> seen;
    const auto last = WaitForDatagram(*client_, 15000, Reports("0,010.00,5.00"), &seen);
    QVERIFY2(last, seen.isEmpty() ? "no reply" : seen.last().data().constData());

    // From the controller's port, and the simulated rotator moves at a finite speed: the
    // replies step toward the command, never away from it, and never past it.
    QVERIFY(seen.size() >= 3);
    double previousAz = -1;
    double previousEl = -1;
    for (const QNetworkDatagram& d : seen) {
        QCOMPARE(d.senderPort(), int(controller_->port()));
        const auto angles = ReplyAngles(d.data());
        QVERIFY2(angles, d.data().constData());
        QVERIFY(angles->first >= previousAz && angles->first <= 10.0);
        QVERIFY(angles->second >= previousEl && angles->second <= 5.0);
        previousAz = angles->first;
        previousEl = angles->second;
    }
    QVERIFY(!bystander.hasPendingDatagrams());

    // At the target the replies stop: nothing changes and nothing is left to reach.
    QVERIFY(!WaitForDatagram(*client_, 1500, AnyDatagram));
    // A slew of 10 degrees at about 6 degrees a second: one line when it starts, one at the end.
    QVERIFY(
        controller_->waitForError(QRegularExpression(R"(arrived at 10,5 after 1\.\d s)"), 1000));
    QCOMPARE(controller_->errors().count("moving to 10,5"), 1);
}

void TestAntennaControllerProcess::malformedIsIgnored_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("limit");  // answered with the present position and "limit"
    QTest::newRow("empty") << QByteArray() << "empty datagram" << false;
    QTest::newRow("two fields") << QByteArray("0,10.00") << "2 fields" << false;
    QTest::newRow("four fields") << QByteArray("0,10.00,5.00,1") << "4 fields" << false;
    QTest::newRow("first field 1") << QByteArray("1,20.00,5.00") << "first field" << false;
    QTest::newRow("first field blank") << QByteArray(" 0,20.00,5.00") << "first field" << false;
    QTest::newRow("azimuth text") << QByteArray("0,abc,5.00") << "azimuth is not a number" << false;
    QTest::newRow("elevation text")
        << QByteArray("0,20.00,5x") << "elevation is not a number" << false;
    QTest::newRow("line feed") << QByteArray("0,20.00,5.00\n") << "elevation is not a number"
                               << false;
    QTest::newRow("elevation below range")
        << QByteArray("0,20.00,-0.01") << "elevation -0.01" << true;
    QTest::newRow("elevation above range")
        << QByteArray("0,20.00,90.01") << "elevation 90.01" << true;
    QTest::newRow("60000 bytes") << QByteArray(60000, '\xA5') << "60000 bytes" << false;
}

void TestAntennaControllerProcess::malformedIsIgnored() {
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    QFETCH(bool, limit);
    // Start from rest at a known place, so that any move would show as replies.
    QVERIFY(moveTo("0,010.00,5.00", "0,010.00,5.00", 15000));
    QVERIFY(!WaitForDatagram(*client_, 600, AnyDatagram));

    // The session record has a row for each (the log only for the first of a kind).
    const qsizetype recorded = csv().size();
    QCOMPARE(client_->writeDatagram(payload, kLoopback, controller_->port()), payload.size());
    QTRY_VERIFY2_WITH_TIMEOUT(csv().mid(recorded).contains(reason.toUtf8()),
                              csv().mid(recorded).constData(), 5000);
    QVERIFY(csv().mid(recorded).contains(",rejected: ") ||
            csv().mid(recorded).contains("\"rejected: "));
    QList<QNetworkDatagram> seen;
    QVERIFY2(
        !WaitForDatagram(
            *client_, 1000,
            [](const QNetworkDatagram& d) { return d.data() != "0,010.00,5.00,limit"; }, &seen),
        "a rejected datagram moved the mount");
    QCOMPARE(seen.size(), limit ? 1 : 0);

    // Still serving: the next command is answered.
    client_->writeDatagram("0,010.00,5.00", kLoopback, controller_->port());
    QVERIFY(WaitForDatagram(*client_, 2000, Reports("0,010.00,5.00")));
    QCOMPARE(controller_->process().state(), QProcess::Running);
}

void TestAntennaControllerProcess::keepsServingAfterTheSenderHasGone() {
    // Replies to a closed port come back as ICMP errors on the controller's socket.
    {
        QUdpSocket gone;
        QVERIFY(gone.bind(kLoopback, 0));
        gone.writeDatagram("0,030.00,20.00", kLoopback, controller_->port());
        QVERIFY(WaitForDatagram(gone, 3000, AnyDatagram));
    }
    QTest::qWait(800);  // several poll replies go to the closed port meanwhile
    QVERIFY(moveTo("0,012.00,6.00", "0,012.00,6.00", 15000));
}

void TestAntennaControllerProcess::sigtermEndsWithTheSessionRecord() {
    // Quoting: a field with a comma and quotes.
    client_->writeDatagram(R"(0,"1",2)", kLoopback, controller_->port());
    QTRY_VERIFY_WITH_TIMEOUT(csv().contains(R"("0,""1"",2")"), 5000);

    QCOMPARE(controller_->terminate(), 0);
    QVERIFY(controller_->errors().contains("stopping (signal 15): closing the rotator"));

    QFile file(csvPath_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    QList<QByteArray> lines = csv.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());  // the last line ends in CRLF too
    QCOMPARE(lines.value(0), QByteArray("time,command,position,rotator,note\r"));
    QCOMPARE(lines.value(1), QByteArray("2026-03-20T00:00:00.000Z,,,,earlier run\r"));
    QCOMPARE(csv.count("time,"), 1);
    const QRegularExpression time(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,)");
    int answered = 0;
    int polls = 0;
    for (const QByteArray& line : lines.mid(1)) {
        QVERIFY2(line.endsWith('\r'), line.constData());
        QVERIFY2(time.match(QString::fromLatin1(line)).hasMatch(), line.constData());
        // The first sends it, the repeats are answered without sending it again.
        if (line.contains(R"(,"0,010.00,5.00","0,)") &&
            (line.endsWith(",\"moving to 10,5\"\r") ||
             line.endsWith(",\"already moving to 10,5; not sent\"\r"))) {
            ++answered;
        }
        if (line.contains(R"(Z,,"0,)") && line.endsWith(",poll\r")) {
            ++polls;
        }
    }
    QVERIFY2(answered >= 2, csv.constData());
    QVERIFY(polls >= 3);
    QVERIFY(csv.contains(",\"0,\"\"1\"\",2\",,,rejected: azimuth is not a number\r\n"));
    QVERIFY(csv.contains("Z,,,,rejected: empty datagram\r\n"));
    QVERIFY(
        csv.contains(",\"0,20.00,90.01\",,,\"rejected: elevation 90.01 outside the "
                     "rotator's range [0, 90]\"\r\n"));
    // The garbage is recorded shortened and escaped, not as 60000 raw bytes.
    QVERIFY(csv.contains("\\xa5\\xa5...(60000 bytes),,,\"rejected: 1 fields, a command has 3\""));
    QVERIFY(csv.size() < 20000);
}

void TestAntennaControllerProcess::sigintEndsCleanly() {
    Controller controller;
    QVERIFY2(controller.start({}), controller.errors().constData());
    ::kill(static_cast<pid_t>(controller.process().processId()), SIGINT);
    QVERIFY(controller.process().waitForFinished(5000));
    QCOMPARE(controller.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(controller.process().exitCode(), 0);
    QVERIFY(controller.errors().contains("stopping (signal 2): closing the rotator"));
}

void TestAntennaControllerProcess::drivesRotctldThroughTheNetworkModel() {
    Rotctld rotctld;
    QVERIFY2(rotctld.start(), "rotctld did not start");
    Controller controller;
    QVERIFY2(controller.start(
                 {"--model", "2", "--device", QStringLiteral("127.0.0.1:%1").arg(rotctld.port())}),
             controller.errors().constData());
    QVERIFY(controller.errors().contains(R"(rotator model 2 "Hamlib NET rotctl")"));

    QUdpSocket client;
    QVERIFY(client.bind(kLoopback, 0));
    client.writeDatagram("0,008.00,4.00", kLoopback, controller.port());
    QList<QNetworkDatagram> seen;
    QVERIFY2(WaitForDatagram(client, 15000, Reports("0,008.00,4.00"), &seen),
             seen.isEmpty() ? "no reply" : seen.last().data().constData());
    QVERIFY(seen.size() >= 2);  // it moved there, it did not jump

    const auto position = rotctld.position();
    QVERIFY(position);
    QCOMPARE(position->first, 8.0);
    QCOMPARE(position->second, 4.0);

    // rotctld gone: no made-up position, one log line, and the controller keeps running.
    rotctld.kill();
    client.writeDatagram("0,009.00,4.00", kLoopback, controller.port());
    QVERIFY(controller.waitForError(QRegularExpression("rotator lost: [^\n]*IO error"), 5000));
    QVERIFY(!WaitForDatagram(client, 300, AnyDatagram));
    QCOMPARE(controller.process().state(), QProcess::Running);

    // rotctld back (a fresh one, at 0,0): the first reopen comes half a second after the loss,
    // and the move the loss cut short is made without another command.
    QVERIFY2(rotctld.restart(), "rotctld did not restart on its port");
    QElapsedTimer back;
    back.start();
    const auto answered = WaitForDatagram(client, 5000, AnyDatagram);
    QVERIFY2(answered, controller.errors().constData());
    qInfo("replies again %lld ms after rotctld restarted", back.elapsed());
    QVERIFY(WaitForDatagram(client, 15000, Reports("0,009.00,4.00")));
    const auto backAfter =
        controller.waitForError(QRegularExpression(R"(rotator back after (\d+\.\d) s)"), 2000);
    QVERIFY(backAfter);
    // Retries at 0.5, 1.5 and 3.5 s: the second at the latest, never the 4 s cap.
    QVERIFY2(backAfter->captured(1).toDouble() < 2.5, qPrintable(backAfter->captured(0)));
    QCOMPARE(controller.errors().count("rotator lost"), 1);
    QCOMPARE(controller.errors().count("rotator back"), 1);
    QCOMPARE(controller.terminate(), 0);
}

void TestAntennaControllerProcess::halfTurnRotatorIsDrivenTheShortWay() {
    Rotctld rotctld;
    QVERIFY2(rotctld.start({"-C", "min_az=-180,max_az=180"}), "rotctld did not start");
    Controller controller;
    QVERIFY2(controller.start(
                 {"--model", "2", "--device", QStringLiteral("127.0.0.1:%1").arg(rotctld.port())}),
             controller.errors().constData());
    QVERIFY(controller.errors().contains("azimuth [-180, 180], elevation [0, 90]"));
    QUdpSocket client;
    QVERIFY(client.bind(kLoopback, 0));
    // North-west is -10 on this rotator, reported as the window wrote it.
    client.writeDatagram("0,350.00,2.00", kLoopback, controller.port());
    QList<QNetworkDatagram> seen;
    QVERIFY2(WaitForDatagram(client, 15000, Reports("0,350.00,2.00"), &seen),
             seen.isEmpty() ? "no reply" : seen.last().data().constData());
    const auto position = rotctld.position();
    QVERIFY(position);
    QCOMPARE(position->first, -10.0);
    QCOMPARE(position->second, 2.0);
    // Below the horizon's limit: not obeyed, and the window is told where the mount is.
    client.writeDatagram("0,350.00,91.00", kLoopback, controller.port());
    QVERIFY(WaitForDatagram(client, 2000, Reports("0,350.00,2.00,limit")));
    QCOMPARE(controller.terminate(), 0);
}

void TestAntennaControllerProcess::sigtermWithAFrozenRotctld() {
    Rotctld rotctld;
    QVERIFY2(rotctld.start(), "rotctld did not start");
    Controller controller;
    QVERIFY2(controller.start(
                 {"--model", "2", "--device", QStringLiteral("127.0.0.1:%1").arg(rotctld.port())}),
             controller.errors().constData());
    QUdpSocket client;
    QVERIFY(client.bind(kLoopback, 0));
    client.writeDatagram("0,002.00,1.00", kLoopback, controller.port());
    QVERIFY(WaitForDatagram(client, 5000, AnyDatagram));

    // Frozen, not gone: every Hamlib call waits for its time-out (2 s by default).
    const auto pid = static_cast<pid_t>(rotctld.process().processId());
    ::kill(pid, SIGSTOP);
    client.writeDatagram("0,003.00,1.00", kLoopback, controller.port());
    QTest::qWait(300);  // the rotator thread is now inside a call that will not return soon
    QElapsedTimer stopping;
    stopping.start();
    const int code = controller.terminate(5000);
    const qint64 took = stopping.elapsed();
    ::kill(pid, SIGCONT);
    qInfo("SIGTERM with a frozen rotctld ended the controller after %lld ms", took);
    QCOMPARE(code, 0);
    QVERIFY2(took < 3000, QByteArray::number(took));
}

void TestAntennaControllerProcess::senderOutsideAllowDoesNotMoveTheMount() {
    Rotctld rotctld;
    QVERIFY2(rotctld.start(), "rotctld did not start");
    Controller controller;
    QVERIFY2(controller.start({"--model", "2", "--device",
                               QStringLiteral("127.0.0.1:%1").arg(rotctld.port()), "--allow",
                               "127.0.0.2", "--allow", "::1"}),
             controller.errors().constData());
    QUdpSocket client;
    QVERIFY(client.bind(kLoopback, 0));
    for (int i = 0; i < 3; ++i) {
        client.writeDatagram("0,008.00,4.00", kLoopback, controller.port());
    }
    QVERIFY(!WaitForDatagram(client, 1500, AnyDatagram));
    const auto position = rotctld.position();
    QVERIFY(position);
    QCOMPARE(position->first, 0.0);
    QCOMPARE(position->second, 0.0);
    // Logged once, not once per datagram.
    QVERIFY(controller.waitForError(QRegularExpression("sender not allowed"), 2000));
    QCOMPARE(controller.errors().count("sender not allowed"), 1);
    QCOMPARE(controller.terminate(), 0);
}

void TestAntennaControllerProcess::floodOfRejectedDatagramsIsFolded() {
    Controller controller;
    const QString path = dir_.filePath("flood.csv");
    QVERIFY2(controller.start({"--log", path}), controller.errors().constData());
    const qsizetype before = controller.errors().count('\n');
    QUdpSocket client;
    QVERIFY(client.bind(kLoopback, 0));
    QElapsedTimer flood;
    flood.start();
    int sent = 0;
    for (; sent < 5000; ++sent) {
        client.writeDatagram("x,y", kLoopback, controller.port());
        if (sent % 100 == 99) {
            QTest::qWait(1);  // let the controller keep up rather than lose them in the kernel
        }
    }
    QTest::qWait(1500);
    const qint64 seconds = flood.elapsed() / 1000 + 1;
    QCOMPARE(controller.terminate(), 0);
    const QByteArray errors = controller.errors();
    // The first in full; the rest would be summed up after a minute, or at the end (here),
    // their count grouped by thousands.
    QCOMPARE(errors.count("rejected from"), 1);
    QVERIFY2(QRegularExpression(R"(rejected [1-9]\d{0,2}(,\d{3})* datagrams from 127\.0\.0\.1 )"
                                R"(in the last \d+ s: not a command)")
                 .match(QString::fromUtf8(errors))
                 .hasMatch(),
             errors.constData());
    QVERIFY2(errors.count('\n') - before <= 4, errors.constData());  // + stopping, closed
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    const qsizetype rows = csv.count("rejected: 2 fields");
    qInfo("%d datagrams in %lld s: %lld log lines, %lld CSV rows of them", sent, seconds,
          errors.count('\n') - before, csv.count('\n') - 1);
    QVERIFY2(rows >= 10 && rows <= 10 * seconds, QByteArray::number(rows));
    QVERIFY(csv.contains("more datagrams in that second, not recorded"));
}

QTEST_GUILESS_MAIN(TestAntennaControllerProcess)
#include "test_antenna_controller_process.moc"
