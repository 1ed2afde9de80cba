// heliostat-report: the window's session records (and the controller's) as plots and a summary.
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "report_run.h"

int main(int argc, char* argv[]) {
    // The report is drawn off-screen; without a display Qt would refuse to start.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    return heliostat::report::Main(QApplication::arguments(), stdout, stderr);
}
