// The operator's window: the sun's and the mirror's angles, the sky chart and the link to the
// antenna controller.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "base/command_line.h"
#include "link/session_log.h"
#include "ui/frm_main.h"
#include "ui/japanese_qt.h"
#include "ui/window_options.h"
#include "version/version.h"

namespace {

void NameTheProgram() {
    QCoreApplication::setApplicationName(QStringLiteral("heliostat"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HELIOSTAT_VERSION));
}

// Reads the command line before any window system is touched, so that --help, --version and
// usage errors work without a display (over ssh, in scripts) instead of aborting in the GUI
// start-up.
heliostat::ui::ParsedOptions ParseCommandLine(int argc, char* argv[]) {
    QCoreApplication console(argc, argv);
    NameTheProgram();
    heliostat::ui::InstallJapaneseQtTexts(console);
    return heliostat::ui::ParseWindowOptions(QCoreApplication::arguments());
}

// A termination signal is turned into an event of the window's thread, where it ends the
// program as a confirmed 終了 does.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char* argv[]) {
    // A record or a pipe whose reader has gone must not end the program unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    const heliostat::ui::ParsedOptions parsed = ParseCommandLine(argc, argv);
    switch (parsed.outcome) {
        case heliostat::ui::OptionsOutcome::Help:
        case heliostat::ui::OptionsOutcome::Version:
            std::fputs(parsed.text.toUtf8().constData(), stdout);
            return 0;
        case heliostat::ui::OptionsOutcome::UsageError:
            std::fputs(heliostat::base::usage::Report(QStringLiteral("heliostat"), parsed.text)
                           .toUtf8()
                           .constData(),
                       stderr);
            return 2;
        case heliostat::ui::OptionsOutcome::Run:
            break;
    }

    // Opened before the window system, so that a bad record is a usage error with or without
    // a display.
    std::unique_ptr<heliostat::link::SessionLog> log;
    if (!parsed.options.logPath.isEmpty()) {
        try {
            log = heliostat::link::SessionLog::Open(parsed.options.logPath.toStdString());
        } catch (const heliostat::HeliostatError& e) {
            std::fprintf(stderr, "heliostat: 記録ファイル %s を開けません: %s\n",
                         parsed.options.logPath.toUtf8().constData(), e.what());
            return 2;
        }
    }

    QApplication app(argc, argv);
    NameTheProgram();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/heliostat.svg")));
    heliostat::ui::InstallJapaneseQtTexts(app);

    heliostat::ui::frmMain window;
    window.Configure(parsed.options, std::move(log));

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
            notifier->setEnabled(false);
            window.EndWithoutAsking();
        });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            sigaction(signal, &action, nullptr);
        }
    }
    window.show();
    return app.exec();
}
