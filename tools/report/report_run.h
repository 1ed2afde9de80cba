#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

#include "base/command_line.h"
#include "records.h"

namespace heliostat::report {

enum class Mode { Output, Summary, SummaryCsv };

struct Options {
    QStringList sessionFiles;
    QString controllerFile;
    std::optional<Millis> from, to;
    int page = 0;  // 0: all pages of a PDF, the first of a PNG or SVG
    Mode mode = Mode::Output;
    QString output;
};

base::CommandLine<Options> ParseCommandLine(const QStringList& arguments);

// The whole program after the command line: reads the records, writes the report or the
// summary; messages on `err`. Exit status 0, or 1 when a file cannot be read or written.
int Run(const Options& options, std::FILE* out, std::FILE* err);

// Prints the help, the version or the usage error and gives the exit status (0, or 2 on bad
// usage); nothing when the command line asks for a run.
std::optional<int> Answer(const base::CommandLine<Options>& parsed, std::FILE* out, std::FILE* err);

}  // namespace heliostat::report
