#pragma once

#include "astro/mount_model.h"
#include "base/angles.h"
#include "base/command_line.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace heliostat::antenna {

// What the operator asked for on the command line.
struct Options {
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 listenPort = 10006;
    int model = 1;  // Hamlib's simulated rotator
    QString device;
    std::vector<std::pair<QString, QString>> conf;
    double deadband = 0;
    QString logFile;
    bool verbose = false;
    // Senders that may command (network address, prefix length); empty: everyone.
    std::vector<std::pair<QHostAddress, int>> allow;
    // Narrower ranges than the rotator's own (MIN, MAX), checked once it is open.
    std::optional<std::pair<double, double>> azimuthRange;
    std::optional<std::pair<double, double>> elevationRange;
    // The safe position, the watchdog's time in seconds (0: off) and whether to park at exit.
    std::optional<base::AzEl> park;
    double watchdog = 0;
    bool parkOnExit = false;
    // The fitted errors of the mount (heliostat-calibrate) and the file they came from.
    std::optional<astro::MountModel> mountModel;
    QString mountModelFile;
};

using ParseResult = base::CommandLine<Options>;

// args excludes the program name. Help carries the help text; a usage error its message.
ParseResult ParseOptions(const QStringList& args,
                         const QString& programName = QStringLiteral("antenna-controller"));

// "ADDR:PORT", "[v6]:PORT"; port 0 lets the system choose.
std::optional<std::pair<QHostAddress, quint16>> ParseEndpoint(const QString& text);

// "ADDR" (that address alone) or "ADDR/PREFIX", IPv4 or IPv6, read as Qt reads a subnet
// ("10.1/16" is 10.1.0.0/16); an IPv4-mapped IPv6 network is the IPv4 one.
std::optional<std::pair<QHostAddress, int>> ParseNetwork(const QString& text);

QString HelpText(const QString& programName);

}  // namespace heliostat::antenna
