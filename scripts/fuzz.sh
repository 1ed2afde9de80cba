#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang in build-fuzz/ and runs each for SECONDS
# (default 20), starting from its committed seeds plus whatever earlier runs found. A target
# that crashes or disagrees with its reading of the rules fails the script and leaves its
# reproducer in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh          # 20 s per target, as the test command runs it
#   scripts/fuzz.sh 600      # ten minutes per target
#   scripts/fuzz.sh 60 fuzz_reply fuzz_command   # only these targets
#   scripts/fuzz.sh --build-only                 # build them, run nothing (the test command)
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=false
if [[ "${1:-}" == --build-only ]]; then
  build_only=true
  shift
fi
seconds=${1:-20}
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "usage: scripts/fuzz.sh [--build-only] [SECONDS] [TARGET...]" >&2
  exit 2
fi

if ! command -v clang++ >/dev/null ||
  [[ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]]; then
  echo "fuzz: clang++ with libFuzzer (clang, libclang-rt-14-dev) is not installed" >&2
  exit 1
fi

tree=build-fuzz
root=$PWD
targets=("$@")
if ((${#targets[@]} == 0)); then
  for seeds in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$seeds")")
  done
fi

started=$SECONDS
CC=clang CXX=clang++ cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHELIOSTAT_FUZZ=ON -DHELIOSTAT_TESTS=OFF -DHELIOSTAT_BENCHMARKS=OFF >/dev/null
cmake --build "$tree" -j "$(nproc)" --target heliostat_fuzz
echo "fuzz: build took $((SECONDS - started)) s"
if $build_only; then
  exit 0
fi

# Sanitizer reports end the run at the first fault; leaks count as faults too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

mkdir -p "$tree/artifacts" "$tree/fuzz-logs"

# One target's run: its verdict goes to fuzz-logs/TARGET.result (stdout lines) and .failed.
run_target() {
  local target=$1
  local binary=$tree/tests/fuzz/$target
  local corpus=$tree/fuzz-corpus/$target
  local log=$tree/fuzz-logs/$target.log
  local result=$tree/fuzz-logs/$target.result
  rm -f "$result" "$result.failed"
  if [[ ! -x "$binary" || ! -d tests/fuzz/corpus/$target ]]; then
    echo "fuzz: $target FAILED: no such target (tests/fuzz/corpus/ names them)" >"$result.failed"
    return
  fi
  mkdir -p "$corpus"
  cp -p tests/fuzz/corpus/"$target"/* "$corpus"/
  local run_started=$SECONDS status=0
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$root/$tree/artifacts/$target-" "$corpus" >"$log" 2>&1 || status=$?
  local took=$((SECONDS - run_started))
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if ((status == 0)); then
    echo "fuzz: $target passed: ${runs:-?} inputs in $took s, corpus $(find "$corpus" -type f | wc -l) inputs" >"$result"
  else
    local reproducer
    reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    {
      grep -E -A1 'check failed|runtime error|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)' \
        "$log" | head -n 8 || true
      echo "fuzz: $target FAILED (exit $status after $took s); reproducer: ${reproducer:-none written}; log: $log"
      if [[ -n "$reproducer" ]]; then
        echo "      rerun: $binary $reproducer"
      fi
    } >"$result.failed"
  fi
}

# Each libFuzzer run is one process on one core, so the targets run side by side, as many at
# once as there are cores (FUZZ_JOBS overrides); each still gets its full SECONDS.
parallel=${FUZZ_JOBS:-$(nproc)}
running=0
for target in "${targets[@]}"; do
  if ((running >= parallel)); then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait || true

failed=()
for target in "${targets[@]}"; do
  result=$tree/fuzz-logs/$target.result
  if [[ -f "$result" ]]; then
    cat "$result"
  else
    cat "$result.failed" >&2 2>/dev/null || echo "fuzz: $target FAILED: its run ended without a verdict" >&2
    failed+=("$target")
  fi
done

echo "fuzz: ${#targets[@]} targets, $((SECONDS - started)) s in all (build and runs)"
if ((${#failed[@]} > 0)); then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
