#!/usr/bin/env bash
# Builds the window, the antenna controller and the table tool, starts the controller in the
# background (127.0.0.1:10006 by default) and runs the window in the foreground. The controller
# is stopped when the window exits. Extra arguments go to the window (e.g. --log session.csv
# --stow 180,0).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# BUILD_DIR chooses another build directory (default build/).
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target heliostat antenna-controller heliostat-table

controller=$build/tools/antenna_controller/antenna-controller
controller_pid=
stop_controller() {
    if [[ -n "$controller_pid" ]]; then
        kill "$controller_pid" 2>/dev/null || true
        wait "$controller_pid" 2>/dev/null || true
    fi
}
trap stop_controller EXIT
trap 'exit 130' INT TERM

"$controller" &
controller_pid=$!

"$build"/app/heliostat "$@"
