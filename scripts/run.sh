#!/usr/bin/env bash
# Builds the window, the antenna controller and the table tool, starts the controller in the
# background (127.0.0.1:10006 by default) and runs the window in the foreground. The controller
# is stopped when the window exits. Extra arguments go to the window (e.g. --log session.csv
# --stow 180,0); relative paths in them are taken from the directory this is run from.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root"/scripts/install-deps.sh

# BUILD_DIR chooses another build directory (default build/ in the repository).
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target heliostat antenna-controller heliostat-table \
  heliostat-calibrate heliostat-report

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
# A controller that cannot start (most often: port 10006 is taken) ends at once; the window
# must not then talk to whoever holds the port.
sleep 1
if ! kill -0 "$controller_pid" 2>/dev/null; then
    wait "$controller_pid" 2>/dev/null || true
    controller_pid=
    echo "run.sh: アンテナコントローラを起動できませんでした（ポート 10006 が使用中ではありませんか）。ウィンドウは開きません。" >&2
    exit 1
fi

"$build"/app/heliostat "$@"
