#!/usr/bin/env bash
# Manual acceptance run of the report tool against the real window (not run by CTest: it needs
# Xvfb and a network namespace of its own for the window's fixed port 10006).
#
#   unshare -rn bash tests/tools/report/acceptance.sh [BUILD_DIR] [OUT_DIR]
#
# An echo controller on 127.0.0.1:10006 answers every command with the same datagram, but stays
# silent for 6 s from the 6th second on; the window runs about 20 s under Xvfb with --log, and
# the report's summary must list one outage of 6 ± 1 s.
set -euo pipefail
build=${1:-build}
out=${2:-$(mktemp -d)}
ip link set lo up

python3 - "$out/echo.log" <<'PY' &
import socket, sys, time
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 10006))
first = None
with open(sys.argv[1], "w") as log:
    while True:
        data, peer = sock.recvfrom(2048)
        now = time.monotonic()
        first = first if first is not None else now
        if 6.0 <= now - first < 12.0:
            print(f"{now - first:.3f} dropped {data!r}", file=log, flush=True)
            continue
        sock.sendto(data, peer)
PY
echo_pid=$!
trap 'kill $echo_pid 2>/dev/null || true' EXIT

rm -f "$out/session.csv"
xvfb-run -a bash -c '
    "$1" --log "$2" & window=$!
    for _ in $(seq 50); do
        id=$(xdotool search --name "太陽軌道" 2>/dev/null | head -1) && [[ -n $id ]] && break
        sleep 0.2
    done
    sleep 1
    # 計算開始 has the focus at start-up.
    xdotool windowfocus --sync "$id" key space
    sleep 20
    xdotool windowfocus --sync "$id" key space
    sleep 1
    kill $window
    wait $window || true
' _ "$build/app/heliostat" "$out/session.csv"

"$build/tools/report/heliostat-report" --summary "$out/session.csv"
"$build/tools/report/heliostat-report" --output "$out/acceptance.png" "$out/session.csv"
echo "record and report in $out"
