// heliostat-report: the window's session records (and the controller's) as plots and a summary.
#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

#include "report_run.h"

int main(int argc, char* argv[]) {
    // The command line first, so that help and usage errors need no display and no Qt
    // platform at all.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const auto parsed = heliostat::report::ParseCommandLine(arguments);
    if (const auto status = heliostat::report::Answer(parsed, stdout, stderr)) {
        return *status;
    }
    // The report is drawn off-screen; without a display Qt would refuse to start.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    return heliostat::report::Run(parsed.options, stdout, stderr);
}
