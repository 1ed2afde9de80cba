// The operator's window: the sun's and the mirror's angles, the sky chart and the link to the
// antenna controller.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>

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

}  // namespace

int main(int argc, char* argv[]) {
    const heliostat::ui::ParsedOptions parsed = ParseCommandLine(argc, argv);
    switch (parsed.outcome) {
        case heliostat::ui::OptionsOutcome::Help:
        case heliostat::ui::OptionsOutcome::Version:
            std::fputs(parsed.text.toUtf8().constData(), stdout);
            return 0;
        case heliostat::ui::OptionsOutcome::UsageError:
            std::fprintf(stderr, "heliostat: %s\n", parsed.text.toUtf8().constData());
            std::fputs("heliostat --help で使いかたを表示します。\n", stderr);
            return 2;
        case heliostat::ui::OptionsOutcome::Run:
            break;
    }

    QApplication app(argc, argv);
    NameTheProgram();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/heliostat.svg")));
    heliostat::ui::InstallJapaneseQtTexts(app);

    std::unique_ptr<heliostat::link::SessionLog> log;
    if (!parsed.options.logPath.isEmpty()) {
        std::string reason;
        log = heliostat::link::SessionLog::Open(parsed.options.logPath.toStdString(), reason);
        if (!log) {
            std::fprintf(stderr, "heliostat: 記録ファイル %s を開けません: %s\n",
                         parsed.options.logPath.toUtf8().constData(), reason.c_str());
            return 2;
        }
    }

    heliostat::ui::frmMain window;
    window.Configure(parsed.options, std::move(log));
    window.show();
    return app.exec();
}
