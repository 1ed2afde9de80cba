// antenna-controller: receives the window's command datagrams, drives the mount through Hamlib
// and answers with the mount's present angles.
#include "controller.h"
#include "hamlib_mount.h"
#include "mount_model_file/mount_correction.h"
#include "options.h"
#include "quit_on_signal.h"
#include "session_log.h"
#include "version/version.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// SIGINT/SIGTERM must end the program within 3 s even when the rotator hangs in a call.
constexpr std::chrono::milliseconds kCloseWait{2500};

void PrintTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace heliostat::antenna;
    QCoreApplication app(argc, argv);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();

    const ParseResult parsed = ParseOptions(app.arguments().mid(1), program);
    const auto usageError = [&](const QString& message) {
        PrintTo(stderr, heliostat::base::usage::Report(program, message));
        return kExitUsage;
    };
    switch (parsed.outcome) {
        case heliostat::base::CommandLineOutcome::Help:
            PrintTo(stdout, parsed.text);
            return 0;
        case heliostat::base::CommandLineOutcome::Version:
            PrintTo(stdout,
                    QStringLiteral("%1 %2\n").arg(program, QStringLiteral(HELIOSTAT_VERSION)));
            return 0;
        case heliostat::base::CommandLineOutcome::UsageError:
            return usageError(parsed.text);
        case heliostat::base::CommandLineOutcome::Run:
            break;
    }
    const Options& options = parsed.options;

    SessionLog log(stderr);
    if (!options.logFile.isEmpty()) {
        try {
            log.openCsv(options.logFile);
        } catch (const heliostat::HeliostatError& e) {
            log.event(QStringLiteral("cannot write the log %1: %2").arg(options.logFile, e.what()));
            return kExitFailure;
        }
    }

    // Hamlib's messages as whole log lines, whichever thread they come from.
    HamlibMount::RouteMessages(
        [&log](std::string_view line) { log.event(QString::fromUtf8(line.data(), line.size())); });

    // A rotctld that goes away must show up as an error of the next call, not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    // Installed before the rotator is opened so that a signal during a slow open is not lost.
    QuitOnSignal quitOnSignal;
    if (!quitOnSignal.installed()) {
        log.event(QStringLiteral("cannot install the signal handlers"));
        return kExitFailure;
    }

    HamlibMount::Setup setup;
    setup.model = options.model;
    setup.device = options.device.toStdString();
    for (const auto& [key, value] : options.conf) {
        setup.conf.emplace_back(key.toStdString(), value.toStdString());
    }
    setup.verbose = options.verbose;
    std::unique_ptr<HamlibMount> mount;
    try {
        mount = HamlibMount::Open(setup);
    } catch (const MountError& e) {
        log.event(QStringLiteral("cannot open the rotator (model %1): %2")
                      .arg(options.model)
                      .arg(QString::fromUtf8(e.what())));
        if (e.status() == MountStatus::kBadSetup) {
            PrintTo(stderr, heliostat::base::usage::SeeHelp(program));
            return kExitUsage;
        }
        return kExitFailure;
    }

    const int model = mount->model();
    const QString name = QString::fromStdString(mount->name());
    // The operator's ranges and park position are checked against what the rotator reports.
    Limits limits;
    try {
        limits = NarrowLimits(mount->limits(), options.azimuthRange, options.elevationRange);
    } catch (const heliostat::HeliostatError& e) {
        return usageError(QString::fromUtf8(e.what()));
    }
    if (options.park && (options.park->elevation < limits.minElevation ||
                         options.park->elevation > limits.maxElevation ||
                         !WrapAzimuth(options.park->azimuth, options.park->azimuth,
                                      limits.minAzimuth, limits.maxAzimuth))) {
        return usageError(QStringLiteral("--park %1,%2 は可動範囲 (方位角 [%3, %4]、仰角 [%5, %6]) "
                                         "の外です")
                              .arg(options.park->azimuth)
                              .arg(options.park->elevation)
                              .arg(limits.minAzimuth)
                              .arg(limits.maxAzimuth)
                              .arg(limits.minElevation)
                              .arg(limits.maxElevation));
    }

    Controller::Settings settings;
    settings.deadband = options.deadband;
    settings.allow = options.allow;
    settings.verbose = options.verbose;
    settings.azimuthRange = options.azimuthRange;
    settings.elevationRange = options.elevationRange;
    settings.park = options.park;
    settings.watchdog = std::chrono::milliseconds(std::llround(options.watchdog * 1000));
    settings.parkOnExit = options.parkOnExit;
    if (options.mountModel) {
        const heliostat::mount_file::MountCorrection correction(*options.mountModel);
        settings.geometry.toMount = [correction](AzEl sky) { return correction.ToMount(sky); };
        settings.geometry.toSky = [correction](AzEl mount) {
            return correction.ToDirection(mount);
        };
        const auto p = heliostat::astro::MountParameters(*options.mountModel);
        log.event(QStringLiteral("mount model %1: azimuth offset %2, elevation offset %3, tilt "
                                 "north %4 east %5, axis skew %6, mirror cant %7 (degrees); "
                                 "commands are driven through its inverse, replies are its "
                                 "forward direction")
                      .arg(options.mountModelFile)
                      .arg(p[0])
                      .arg(p[1])
                      .arg(p[2])
                      .arg(p[3])
                      .arg(p[4])
                      .arg(p[5]));
    }
    auto reopen = [setup]() -> std::unique_ptr<Mount> { return HamlibMount::Open(setup); };
    Controller controller(std::move(mount), reopen, log, settings);
    try {
        controller.listen(options.listenAddress, options.listenPort);
    } catch (const heliostat::HeliostatError& e) {
        log.event(QStringLiteral("cannot listen on %1:%2: %3")
                      .arg(options.listenAddress.toString())
                      .arg(options.listenPort)
                      .arg(e.what()));
        return kExitFailure;
    }
    QString allowed;
    for (const auto& [network, prefix] : options.allow) {
        allowed += (allowed.isEmpty() ? QStringLiteral("; commands only from ") : ", ") +
                   QStringLiteral("%1/%2").arg(network.toString()).arg(prefix);
    }
    QString parking;
    if (options.park) {
        parking = QStringLiteral("; park at %1,%2")
                      .arg(options.park->azimuth, 0, 'f', 2)
                      .arg(options.park->elevation, 0, 'f', 2);
        parking += options.watchdog > 0
                       ? QStringLiteral(" after %1 s without a command").arg(options.watchdog)
                       : QStringLiteral(", no watchdog");
        if (options.parkOnExit) {
            parking += QStringLiteral(" and at exit");
        }
    }
    log.event(
        QStringLiteral("started: rotator model %1 \"%2\"%3, azimuth [%4, %5], elevation "
                       "[%6, %7], deadband %8; listening on %9:%10")
            .arg(model)
            .arg(name)
            .arg(options.device.isEmpty() ? QString() : QStringLiteral(" at ") + options.device)
            .arg(limits.minAzimuth)
            .arg(limits.maxAzimuth)
            .arg(limits.minElevation)
            .arg(limits.maxElevation)
            .arg(options.deadband)
            .arg(controller.address().toString())
            .arg(controller.port()) +
        allowed + parking);

    const int rc = app.exec();
    log.event(
        QStringLiteral("stopping (signal %1): closing the rotator").arg(quitOnSignal.received()));
    if (!controller.shutdown(kCloseWait)) {
        // Stuck in a rotator call (a frozen rotctld): leave without it rather than hang.
        log.event(QStringLiteral("the rotator did not answer within %1 s; exiting without "
                                 "closing it")
                      .arg(double(kCloseWait.count()) / 1000));
        std::fflush(nullptr);
        std::_Exit(log.lostRows() > 0 ? kExitFailure : rc);
    }
    log.event(QStringLiteral("rotator closed"));
    if (const qint64 lost = log.lostRows(); lost > 0) {
        log.event(QStringLiteral("%1 rows of the session record %2 were lost")
                      .arg(lost)
                      .arg(options.logFile));
        return kExitFailure;
    }
    return rc;
}
