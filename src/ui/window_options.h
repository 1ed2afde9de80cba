#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "base/angles.h"
#include "base/command_line.h"
#include "cycle/solcal.h"
#include "link/link_health.h"

namespace heliostat::ui {

// The window's command line.
struct WindowOptions {
    QString logPath;  // --log FILE; empty: no session record
    std::optional<base::AzEl> stow;
    double replyTimeoutSeconds = link::kDefaultReplyTimeoutSeconds;
    cycle::Pointing pointing = cycle::Pointing::Mean;
    bool replyFromAnyPort = false;
    std::optional<double> beamAlarmDegrees;
};

using OptionsOutcome = base::CommandLineOutcome;
using ParsedOptions = base::CommandLine<WindowOptions>;

// The whole of `heliostat --help`, in Japanese.
QString WindowHelpText();

// Parses the arguments (the program name first). Needs a QCoreApplication for the
// application name and version.
ParsedOptions ParseWindowOptions(const QStringList& arguments);

}  // namespace heliostat::ui
