#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "cycle/solcal.h"
#include "link/link_health.h"
#include "ui/operator_text.h"

namespace heliostat::ui {

// The window's command line.
struct WindowOptions {
    QString logPath;  // --log FILE; empty: no session record
    std::optional<StowPosition> stow;
    double replyTimeoutSeconds = link::kDefaultReplyTimeoutSeconds;
    cycle::Pointing pointing = cycle::Pointing::Mean;
};

enum class OptionsOutcome { Run, Help, Version, UsageError };

struct ParsedOptions {
    OptionsOutcome outcome = OptionsOutcome::Run;
    WindowOptions options;
    QString text;  // the help or version text, or the usage error's message
};

// Parses the arguments (the program name first) with QCommandLineParser. Needs a
// QCoreApplication for the application name and version.
ParsedOptions ParseWindowOptions(const QStringList& arguments);

}  // namespace heliostat::ui
