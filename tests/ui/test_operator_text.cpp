// The window's plain helpers: stow text, clock text, message wrapping and the command line.
#include <sys/stat.h>

#include <csignal>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/clock_sync.h"
#include "ui/operator_text.h"
#include "ui/window_options.h"

using namespace heliostat::ui;

class TestOperatorText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("heliostat"));
        QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    }

    void stow_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("payload");  // empty: rejected
        // clang-format off
        QTest::newRow("south, horizon") << "180,0" << "0,180.00,.00";
        QTest::newRow("edges") << "360,-90" << "0,360.00,-90.00";
        QTest::newRow("blanks and decimals") << " 7.25 , 0.5 " << "0,007.25,.50";
        QTest::newRow("azimuth below 0") << "-1,0" << "";
        QTest::newRow("azimuth above 360") << "360.5,0" << "";
        QTest::newRow("elevation above 90") << "0,91" << "";
        QTest::newRow("nan") << "nan,0" << "";
        QTest::newRow("infinite") << "1e999,0" << "";
        QTest::newRow("one number") << "180" << "";
        QTest::newRow("three numbers") << "1,2,3" << "";
        // clang-format on
    }

    void stow() {
        QFETCH(QString, text);
        QFETCH(QString, payload);
        const auto stow = ParseStow(text.toStdString());
        QCOMPARE(stow.has_value(), !payload.isEmpty());
        if (stow) {
            QCOMPARE(QString::fromStdString(StowPayload(*stow)), payload);
        }
    }

    void clock_data() {
        QTest::addColumn<int>("hour");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("small hours") << 1 << "2026/12/08 1:36:02";
        QTest::newRow("evening") << 23 << "2026/12/08 23:36:02";
        // clang-format on
    }

    void clock() {
        QFETCH(int, hour);
        QFETCH(QString, text);
        heliostat::base::JstDateTime t;
        t.year = 2026;
        t.month = 12;
        t.day = 8;
        t.hour = hour;
        t.minute = 36;
        t.second = 2;
        QCOMPARE(JapaneseClockText(t), text);
    }

    // The clock label's tooltip and the record's `clock` row: only trouble is recorded.
    void clockSync_data() {
        QTest::addColumn<int>("state");  // -1 unknown, 0 unsynchronised, 1 synchronised
        QTest::addColumn<double>("error");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("row");
        // clang-format off
        QTest::newRow("unknown") << -1 << 0.0 << "時計の同期状態を調べられません" << "state=unknown";
        QTest::newRow("unsynchronised")
            << 0 << 0.0
            << "時計は同期されていません（太陽の位置は時計の誤差1秒につき約0.004°ずれます）"
            << "state=unsynchronised";
        QTest::newRow("synchronised") << 1 << 0.0125 << "時計は同期されています（推定誤差 12.5 ミリ秒）" << "";
        QTest::newRow("exactly 1 s") << 1 << 1.0 << "時計は同期されています（推定誤差 1000.0 ミリ秒）" << "";
        QTest::newRow("over 1 s")
            << 1 << 1.5
            << "時計は同期されていますが推定誤差が 1500.0 ミリ秒あります（1秒につき約0.004°）"
            << "state=synchronised estimated_error=1.500";
        // clang-format on
    }

    void clockSync() {
        QFETCH(int, state);
        QFETCH(double, error);
        QFETCH(QString, tip);
        QFETCH(QString, row);
        std::optional<ClockSync> sync;
        if (state >= 0) {
            sync = ClockSync{state == 1, error};
        }
        QCOMPARE(ClockSyncText(sync), tip);
        QCOMPARE(QString::fromStdString(ClockTrouble(sync)), row);
    }

    // A termination signal ends the program as a confirmed 終了: exit rows, status 0.
    void terminationSignal() {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("session.csv"));
        QProcess program;
        program.start(QStringLiteral(HELIOSTAT_WINDOW_BINARY), {QStringLiteral("--log"), log});
        QVERIFY(program.waitForStarted());
        QTest::qWait(1500);
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().endsWith(",exit,,\r\n"), qPrintable(log));
    }

    // Every character one unit wide, so the breaks are the rule's and not a font's.
    void wrap_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("lines");
        // clang-format off
        QTest::newRow("fits") << "沈んでます" << 8 << QStringList{"沈んでます"};
        QTest::newRow("katakana word kept whole")
            << "アンテナコントローラへ送信できません" << 12
            << QStringList{"アンテナコントローラへ", "送信できません"};
        QTest::newRow("particle stays before the break")
            << "観測点緯度「abc」が数値ではありません" << 12
            << QStringList{"観測点緯度「abc」が", "数値ではありません"};
        QTest::newRow("before opening bracket") << "計算できません（精密モード）" << 9
                                                << QStringList{"計算できません", "（精密モード）"};
        QTest::newRow("okurigana stays with its kanji")
            << "見つかりません見つかりません" << 9
            << QStringList{"見つかりません", "見つかりません"};
        QTest::newRow("no break place: between characters")
            << "あいうえおかきくけこさしすせそ" << 6 << QStringList{"あいうえおか", "きくけこさ…"};
        QTest::newRow("third line cut") << "ポートに届きません（port unreachable）" << 8
                                        << QStringList{"ポートに", "届きません…"};
        // clang-format on
    }

    void wrap() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QStringList, lines);
        const auto units = [](const QString& t) { return static_cast<double>(t.size()); };
        QCOMPARE(WrapText(text, units, width, 2), lines);
    }

    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<OptionsOutcome>("outcome");
        QTest::addColumn<QString>("summary");  // log|stow payload|timeout|pointing|any port|alarm
        // clang-format off
        QTest::newRow("none") << QStringList{} << OptionsOutcome::Run << "||3|mean|0|";
        QTest::newRow("all") << QStringList{"--log",           "s.csv", "--stow",     "180,0",
                                            "--reply-timeout", "1.5",   "--pointing", "exact"}
                             << OptionsOutcome::Run << "s.csv|0,180.00,.00|1.5|exact|0|";
        QTest::newRow("mean named")
            << QStringList{"--pointing", "mean"} << OptionsOutcome::Run << "||3|mean|0|";
        QTest::newRow("any port, alarm")
            << QStringList{"--reply-from-any-port", "--beam-alarm", "0.5"} << OptionsOutcome::Run
            << "||3|mean|1|0.5";
        QTest::newRow("alarm at its largest")
            << QStringList{"--beam-alarm", "180"} << OptionsOutcome::Run << "||3|mean|0|180";
        QTest::newRow("alarm above 180")
            << QStringList{"--beam-alarm", "180.5"} << OptionsOutcome::UsageError << "";
        QTest::newRow("alarm not a number")
            << QStringList{"--beam-alarm", "x"} << OptionsOutcome::UsageError << "";
        QTest::newRow("help") << QStringList{"-h"} << OptionsOutcome::Help << "";
        QTest::newRow("version") << QStringList{"--version"} << OptionsOutcome::Version
                                 << "heliostat 9.8.7\n";
        QTest::newRow("unknown option")
            << QStringList{"--verbose"} << OptionsOutcome::UsageError << "";
        QTest::newRow("stray argument") << QStringList{"x"} << OptionsOutcome::UsageError << "";
        QTest::newRow("stow out of range")
            << QStringList{"--stow", "180,95"} << OptionsOutcome::UsageError << "";
        QTest::newRow("timeout zero")
            << QStringList{"--reply-timeout", "0"} << OptionsOutcome::UsageError << "";
        QTest::newRow("timeout not a number")
            << QStringList{"--reply-timeout", "3s"} << OptionsOutcome::UsageError << "";
        QTest::newRow("pointing unknown")
            << QStringList{"--pointing", "EXACT"} << OptionsOutcome::UsageError << "";
        QTest::newRow("log without file")
            << QStringList{"--log"} << OptionsOutcome::UsageError << "";
        QTest::newRow("Qt's window-system options pass")
            << QStringList{"-platform", "offscreen", "-reverse", "--pointing", "exact"}
            << OptionsOutcome::Run << "||3|exact|0|";
        // clang-format on
    }

    void options() {
        QFETCH(QStringList, args);
        QFETCH(OptionsOutcome, outcome);
        QFETCH(QString, summary);
        const ParsedOptions parsed = ParseWindowOptions(QStringList{"heliostat"} + args);
        QCOMPARE(parsed.outcome, outcome);
        if (outcome == OptionsOutcome::UsageError) {
            QVERIFY(!parsed.text.isEmpty());
        } else if (outcome == OptionsOutcome::Version) {
            QCOMPARE(parsed.text, summary);
        } else if (outcome == OptionsOutcome::Help) {
            // Japanese throughout: no English sentence of Qt's parser.
            QVERIFY2(parsed.text.startsWith(QStringLiteral("使いかた: heliostat")),
                     qPrintable(parsed.text));
            QVERIFY2(
                !parsed.text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3,} [a-z]{2,}"))),
                qPrintable(parsed.text));
        } else if (outcome == OptionsOutcome::Run) {
            const WindowOptions& o = parsed.options;
            const QString got =
                o.logPath + u'|' +
                (o.stow ? QString::fromStdString(StowPayload(*o.stow)) : QString()) + u'|' +
                QString::number(o.replyTimeoutSeconds) + u'|' +
                (o.pointing == heliostat::cycle::Pointing::Exact ? "exact" : "mean") + u'|' +
                QString::number(o.replyFromAnyPort) + u'|' +
                (o.beamAlarmDegrees ? QString::number(*o.beamAlarmDegrees) : QString());
            QCOMPARE(got, summary);
        }
    }

    // The real program: usage errors end it before any window opens.
    void exitStatus_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("display");  // false: no window system to connect to
        // clang-format off
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << true;
        QTest::newRow("stow out of range") << QStringList{"--stow", "400,0"} << 2 << true;
        QTest::newRow("log that cannot be opened")
            << QStringList{"--log", "/nonexistent-dir/session.csv"} << 2 << true;
        QTest::newRow("version") << QStringList{"-v"} << 0 << true;
        QTest::newRow("help without a display") << QStringList{"--help"} << 0 << false;
        QTest::newRow("usage error without a display") << QStringList{"--bogus"} << 2 << false;
        QTest::newRow("log a directory, without a display")
            << QStringList{"--log", "/tmp"} << 2 << false;
        QTest::newRow("log a device, without a display")
            << QStringList{"--log", "/dev/full"} << 2 << false;
        QTest::newRow("log a FIFO without a reader") << QStringList{"--log", "FIFO"} << 2 << false;
        // clang-format on
    }

    void exitStatus() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(bool, display);
        QProcess program;
        if (!display) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.remove(QStringLiteral("DISPLAY"));
            env.remove(QStringLiteral("WAYLAND_DISPLAY"));
            program.setProcessEnvironment(env);
        }
        QTemporaryDir dir;
        QVERIFY(::mkfifo(dir.filePath("fifo").toUtf8().constData(), 0600) == 0);
        args.replaceInStrings(QStringLiteral("FIFO"), dir.filePath("fifo"));
        program.start(QStringLiteral(HELIOSTAT_WINDOW_BINARY), args);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        const QByteArray said =
            status == 0 ? program.readAllStandardOutput() : program.readAllStandardError();
        QVERIFY2(said.contains(status == 0 ? "heliostat " : "heliostat: "), said.constData());
    }
};

QTEST_MAIN(TestOperatorText)
#include "test_operator_text.moc"
