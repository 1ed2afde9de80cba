#pragma once

// heliostat-calibrate's command line and its fit subcommand, as a library: the program's main()
// and the tests call the same code.

#include <QString>
#include <QStringList>
#include <cstdio>
#include <vector>

#include "astro/bisector.h"
#include "astro/precise_sun.h"
#include "base/command_line.h"
#include "calibrate/calibration.h"

namespace heliostat::calibrate {

enum class Subcommand { Fit, Record };

struct Options {
    Subcommand subcommand = Subcommand::Fit;
    astro::Site site;
    astro::SkyDirection target;
    QString observations;    // fit: the observations' CSV
    QString output;          // fit: the model file; record: the observations' CSV
    QString controllerHost;  // record
    quint16 controllerPort = 0;
};

// arguments[0] is the program name, arguments[1] the subcommand.
base::CommandLine<Options> ParseCalibrateCommandLine(const QStringList& arguments);

// The observations' CSV: the header "jst,mount_azimuth,mount_elevation", then one row per
// observation (JST "YYYY-MM-DD HH:MM:SS" and two numbers). Throws base::UsageError naming the
// file, the line and the field.
std::vector<Observation> ReadObservations(const QString& path);

// Runs the whole program for a command line; `record` needs the terminal and the controller.
// Returns the exit status: 0 done, 1 failed, 2 bad usage (fewer than six observations
// included). Never exits the process.
int RunCalibrate(const QStringList& arguments, std::FILE* out, std::FILE* err);

}  // namespace heliostat::calibrate
