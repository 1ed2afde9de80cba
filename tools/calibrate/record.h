#pragma once

#include <cstdio>

#include "calibrate/calibrate_run.h"

namespace heliostat::calibrate {

// The terminal jog tool: commands the controller over the wire protocol, reads its replies and
// appends an observation (now, and the mount angles of the last reply) on Enter. Keys come
// from standard input, put in raw mode while it runs when it is a terminal; the screen goes
// to standard output. Returns the exit status (0 after q or the end of input, 1 when the
// controller's address or the output file cannot be used).
int RunRecord(const Options& options, std::FILE* err);

}  // namespace heliostat::calibrate
