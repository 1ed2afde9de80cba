#pragma once

// heliostat-table's whole behaviour, as a library: the program's main() and the fuzz targets
// call the same code.

#include <QStringList>
#include <cstdio>

namespace heliostat::table {

// Runs the tool for a command line (arguments[0] is the program name), writing the CSV or the
// help to `out` and messages to `err`. Returns the exit status: 0 when every cycle succeeded,
// 1 when any failed, 2 on bad usage. Never exits the process.
int RunTable(const QStringList& arguments, std::FILE* out, std::FILE* err);

}  // namespace heliostat::table
