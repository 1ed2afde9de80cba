// Documentation helper: opens the window with a fixed Japan Standard Time instant, runs it
// against a small in-process stand-in for the antenna controller (which echoes each command
// as the mount's position) until the sun marker is on the chart, and saves the window.
//
//   heliostat-screenshot OUTPUT.png [YYYY-MM-DDTHH:MM:SS (JST)] [--screen]
//
// --screen saves the whole screen instead of the window alone, to check the real window
// under an X server.
#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>

#include "base/jst_clock.h"
#include "ui/chart_view.h"
#include "ui/frm_main.h"

namespace {

bool MarkerShown(const heliostat::ui::ChartView& chart) {
    return std::any_of(chart.Operations().begin(), chart.Operations().end(),
                       [](const auto& op) { return op.filled; });
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: heliostat-screenshot OUTPUT.png [JST date-time] [--screen]\n");
        return 2;
    }
    const QString output = args.at(1);
    const bool wholeScreen = args.contains(QStringLiteral("--screen"));
    QDateTime at = QDateTime::fromString(QStringLiteral("2026-06-21T10:30:00"), Qt::ISODate);
    for (int i = 2; i < args.size(); ++i) {
        if (!args.at(i).startsWith(u'-')) {
            at = QDateTime::fromString(args.at(i), Qt::ISODate);
        }
    }
    if (!at.isValid()) {
        std::fprintf(stderr, "heliostat-screenshot: the date-time is not YYYY-MM-DDTHH:MM:SS\n");
        return 2;
    }

    const auto instant =
        heliostat::base::FromJst({at.date().year(), at.date().month(), at.date().day(),
                                  at.time().hour(), at.time().minute(), at.time().second()});
    heliostat::ui::frmMain window([instant] { return instant; });

    // Stand-in controller: answers every command with the commanded angles.
    QUdpSocket controller;
    if (!controller.bind(QHostAddress::LocalHost, 10006) &&
        !controller.bind(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "heliostat-screenshot: cannot bind the stand-in controller\n");
        return 1;
    }
    QObject::connect(&controller, &QUdpSocket::readyRead, [&controller] {
        while (controller.hasPendingDatagrams()) {
            const QNetworkDatagram command = controller.receiveDatagram();
            controller.writeDatagram(command.makeReply(command.data()));
        }
    });
    window.txtACTLR_Port->setText(QString::number(controller.localPort()));

    window.show();
    window.cmdStart->click();
    QElapsedTimer elapsed;
    elapsed.start();
    int cycles = 0;
    QObject::connect(window.Timer_cal, &QTimer::timeout, [&cycles] { ++cycles; });
    while (elapsed.elapsed() < 15000 && !(cycles >= 3 && MarkerShown(*window.picView) &&
                                          !window.txtAntennaAzimuth->text().isEmpty())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // Let the repaint of the last cycle reach the screen before it is grabbed.
    const QDeadlineTimer settle(300);
    while (!settle.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const QPixmap picture = wholeScreen ? window.screen()->grabWindow(0) : window.grab();
    if (!picture.save(output)) {
        std::fprintf(stderr, "heliostat-screenshot: cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s: %d cycles, marker %s\n", qPrintable(output), cycles,
                MarkerShown(*window.picView) ? "shown" : "hidden");
    return 0;
}
