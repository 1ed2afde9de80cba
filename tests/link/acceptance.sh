#!/usr/bin/env bash
# Manual acceptance run of the window's link against the real antenna controller (not run by
# CTest: it needs Xvfb and a network namespace of its own for the fixed port 10006).
#
#   unshare -rn bash tests/link/acceptance.sh [BUILD_DIR] [OUT_DIR]
#
# The controller drives Hamlib's simulated rotator inside rotctld, so that the mount keeps its
# place while the controller is down, as a real mount does (the controller's own simulated
# rotator starts at 0,0 with every process and needs half a minute to slew back).
#   0. window and controller run until the mount has arrived (green), then both end;
#   1. the window starts alone (red), the controller follows 5 s later: time to green;
#   2. the controller is killed mid-run and restarted 3 s later: red, then time to green;
#   3. a program on another local port echoes the commands: never green.
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath "${2:-$(mktemp -d)}")
ip link set lo up

rotctld -m 1 -T 127.0.0.1 -t 4533 &
rotctld_pid=$!
trap 'kill $rotctld_pid 2>/dev/null || true' EXIT
sleep 0.5

rm -f "$out"/window-*.csv "$out"/events.txt
xvfb-run -a bash -c '
    build=$1 out=$2
    mark() { echo "$(date +%s.%N) $1" >>"$out/events.txt"; }
    controller() {
        "$build/tools/antenna_controller/antenna-controller" --model 2 --device 127.0.0.1:4533 \
            2>>"$out/controller.err" &
        controller_pid=$!
        mark controller-start
    }
    window() {
        "$build/app/heliostat" --log "$out/window-$1.csv" 2>>"$out/window.err" &
        window_pid=$!
        for _ in $(seq 50); do
            id=$(xdotool search --name "太陽軌道" 2>/dev/null | head -1) && [[ -n $id ]] && break
            sleep 0.2
        done
        sleep 1
        # 計算開始 has the focus at start-up.
        xdotool windowfocus --sync "$id" key space
        mark "window-start $1"
    }
    stop_window() { kill "$window_pid"; wait "$window_pid" || true; }

    controller; window 0; sleep 60; stop_window; kill "$controller_pid"; wait "$controller_pid" || true

    window 1; sleep 5; controller; sleep 10
    kill "$controller_pid"; wait "$controller_pid" || true; mark controller-stop
    sleep 3; controller; sleep 10; stop_window; kill "$controller_pid"; wait "$controller_pid" || true

    python3 -c "
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind((\"127.0.0.1\", 10006))
r = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); r.bind((\"127.0.0.1\", 0))
end = time.monotonic() + 12
s.settimeout(0.5)
while time.monotonic() < end:
    try:
        data, peer = s.recvfrom(2048)
    except socket.timeout:
        continue
    r.sendto(data, peer)
" &
    fake=$!
    sleep 0.3; window 3; sleep 10; stop_window; kill $fake 2>/dev/null || true
' _ "$build" "$out"

python3 - "$out" <<'PY'
import csv, datetime, pathlib, sys
out = pathlib.Path(sys.argv[1])
events = [line.split(maxsplit=1) for line in (out / "events.txt").read_text().splitlines()]
events = [(float(t), what) for t, what in events]

def rows(n):
    with open(out / f"window-{n}.csv", newline="") as f:
        for row in csv.DictReader(f):
            yield datetime.datetime.fromisoformat(row["time"]).timestamp(), row

def green_after(n, since):
    """Seconds from `since` to the first reply within 0.1 deg of the last command."""
    command = None
    for t, row in rows(n):
        if row["event"] == "command":
            command = [float(x or 0) for x in row["datagram"].split(",")[1:3]]
        elif row["event"] == "reply" and t >= since and command:
            reply = [float(x or 0) for x in row["datagram"].split(",")[1:3]]
            gap = abs(reply[0] - command[0]) % 360
            if min(gap, 360 - gap) <= 0.1 and abs(reply[1] - command[1]) <= 0.1:
                return t - since
    return None

def first(n, event, since):
    return next((t - since for t, row in rows(n) if row["event"] == event and t >= since), None)

starts = [t for t, what in events if what == "controller-start"]
stop = next(t for t, what in events if what == "controller-stop")
window1 = next(t for t, what in events if what == "window-start 1")
print(f"1. window alone: silent after {first(1, 'silent', window1):.2f} s; "
      f"controller started: green after {green_after(1, starts[1]):.2f} s")
print(f"2. controller down 3 s: silent after {first(1, 'silent', stop):.2f} s; "
      f"restarted: green after {green_after(1, starts[2]):.2f} s")
foreign = sum(1 for _, row in rows(3) if row["event"] == "foreign")
replies = sum(1 for _, row in rows(3) if row["event"] == "reply")
print(f"3. echo from another port: {foreign} foreign rows, {replies} replies (never green)")
PY
echo "records in $out"
