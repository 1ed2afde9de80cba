#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>
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
    // Senders that may command (address, prefix length); empty: everyone.
    std::vector<std::pair<QHostAddress, int>> allow;
};

// --help was given: print the text and exit 0.
struct HelpRequested {};

// --version was given: print the program's version and exit 0.
struct VersionRequested {};

// The command line is wrong: print the message and the usage hint and exit 2.
struct UsageError {
    QString message;
};

using ParseResult = std::variant<Options, HelpRequested, VersionRequested, UsageError>;

// args excludes the program name.
ParseResult ParseOptions(const QStringList& args);

// "ADDR:PORT", "[v6]:PORT"; port 0 lets the system choose.
std::optional<std::pair<QHostAddress, quint16>> ParseEndpoint(const QString& text);

// "ADDR" (that address alone) or "ADDR/PREFIX", IPv4 or IPv6.
std::optional<std::pair<QHostAddress, int>> ParseNetwork(const QString& text);

QString HelpText(const QString& programName);

}  // namespace heliostat::antenna
