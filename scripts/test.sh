#!/usr/bin/env bash
# Builds everything and runs every test twice: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer, so that memory and arithmetic faults fail;
# then runs each fuzz target for a short, bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# -O1 with line tables only: what the sanitizers need for their reports, in well under the
# compile time of -O2 -g on two cores.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELIOSTAT_SANITIZE=ON \
    -DHELIOSTAT_BENCHMARKS=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Fuzz stage: every text entry point for 12 s under libFuzzer (clang), when clang is there.
if command -v clang++ >/dev/null &&
  [[ -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]]; then
  scripts/fuzz.sh 12
else
  echo "test: clang with libFuzzer is missing; fuzz targets not run" >&2
fi
