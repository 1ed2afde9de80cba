#pragma once

// heliostat-table's whole behaviour, as a library: the program's main() and the fuzz targets
// call the same code.

#include <QStringList>
#include <cstdio>
#include <optional>
#include <string_view>

#include "base/jst_clock.h"

namespace heliostat::table {

// Runs the tool for a command line (arguments[0] is the program name), writing the CSV or the
// help to `out` and messages to `err`. Returns the exit status: 0 when every cycle succeeded,
// 1 when any failed, 2 on bad usage. Never exits the process.
int RunTable(const QStringList& arguments, std::FILE* out, std::FILE* err);

// "YYYY-MM-DD HH:MM:SS": exactly that shape, ASCII digits only, a real calendar date of the
// years 0001 to 9999 and a time of 00:00:00 to 23:59:59. Nothing for any other text.
std::optional<base::JstDateTime> ParseJstDateTime(std::string_view text);

}  // namespace heliostat::table
