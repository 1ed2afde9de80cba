#!/usr/bin/env bash
# Builds everything and runs every test twice: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer, so that memory and arithmetic faults fail;
# then runs each fuzz target for a short, bounded time.
#
# The tests spend most of their time waiting on timers, sockets and child processes, so the
# next tree builds in the background while a tree's tests run: the sanitizer tree during the
# normal tests, the fuzz targets during the sanitizer tests. Those builds run at the lowest
# priority, so a test that wants the processor gets it first; their output follows the tests'.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

have_fuzzer=false
if command -v clang++ >/dev/null &&
  [[ -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]]; then
  have_fuzzer=true
fi

background_pid=
background_log=
stop_background() {
  if [[ -n "$background_pid" ]]; then
    kill -- "-$background_pid" 2>/dev/null || true
    wait "$background_pid" 2>/dev/null || true
  fi
}
trap stop_background EXIT

# in_background LOG COMMAND...: runs COMMAND at the lowest priority, its output into LOG.
in_background() {
  background_log=$1
  shift
  # Its own process group, so that a failing test stops the whole build, compilers included.
  setsid nice -n 19 "$@" >"$background_log" 2>&1 &
  background_pid=$!
}

# finish_background: waits for the background command, shows its output, fails if it failed.
# The tests are over by then, so the build gets back this script's own priority (where the
# system lets a process raise it again: as root), lest it crawl behind other work on a shared
# machine.
finish_background() {
  local status=0
  renice -n "$(nice)" -g "$background_pid" >/dev/null 2>&1 || true
  wait "$background_pid" || status=$?
  background_pid=
  cat "$background_log"
  if ((status != 0)); then
    echo "test: background step failed (exit $status); its output is above" >&2
    exit "$status"
  fi
}

# Line tables only (-g1) here too: enough for a failing test's backtrace, and the compiler
# spends noticeably less on each file than with full debug information. The Debian package
# builds its own tree with Debian's flags.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build -j "$jobs"

# -O1 with line tables only: what the sanitizers need for their reports, in well under the
# compile time of -O2 -g on two cores.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELIOSTAT_SANITIZE=ON \
  -DHELIOSTAT_BENCHMARKS=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >/dev/null
in_background build/test-asan-build.log cmake --build build-asan -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
finish_background

if $have_fuzzer; then
  in_background build/test-fuzz-build.log scripts/fuzz.sh --build-only
fi
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
)

# Fuzz stage: every text entry point for 12 s under libFuzzer (clang), when clang is there.
if $have_fuzzer; then
  finish_background
  scripts/fuzz.sh 12
else
  echo "test: clang with libFuzzer is missing; fuzz targets not run" >&2
fi
