#!/usr/bin/env bash
# Builds the window and saves docs/screenshot.png: the window on the offscreen platform after a
# few calculation cycles at a fixed Japan Standard Time (default 2026-06-21T10:30:00), talking
# to an in-process stand-in for the antenna controller.
#
#   scripts/screenshot.sh [YYYY-MM-DDTHH:MM:SS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# BUILD_DIR chooses another build directory (default build/).
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target heliostat-screenshot

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build"/app/heliostat-screenshot docs/screenshot.png "$@"
