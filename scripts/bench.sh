#!/usr/bin/env bash
# Builds the benchmarks and runs them, printing their figures:
# - bench_soak: 200 configurations in one process (memory, descriptors and
#   serial port objects must not grow);
# - bench_pair: kcradio configuring a pair against one radio alone (the pair
#   may take at most 1.15 times as long), then a 9600 + 115200 pair paced by
#   acknowledgement against the fixed 2000 ms cadence (paced: at most 10 s
#   wall and 0.5 s CPU), beside the floor that the radios' guard times set;
# - bench_fleet: kcradio configuring a fleet of eight pairs (16 radios) in one
#   run against one pair alone (at most 1.3 times as long, under 2 s of CPU);
# - bench_link: kcradio pair --link-test on a 9600 + 115200 pair over a
#   virtual air (at most 15 s wall and 0.5 s CPU);
# - bench_startup: time to the first frame and peak memory of the program
#   against a bare one-label window, on X (Xvfb when no DISPLAY is set) and on
#   the offscreen platform;
# - bench_portwatch: the idle window's CPU share with the port watch running
#   (under 0.5 % of one core), and the cost of one port enumeration.
# Usage: scripts/bench.sh [build-dir]   (default: build-bench)
# SOAK_RUNS and STARTUP_RUNS change the run counts (default 200 and 10).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

build=${1:-build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON
fi
cmake --build "$build" -j2 --target kcradioconfig_probed kc_translations barewindow \
    bench_soak bench_startup kcradio bench_pair bench_fleet bench_link bench_portwatch
build=$(cd "$build" && pwd)

status=0

echo "== soak"
"$build/bench/bench_soak" --runs "${SOAK_RUNS:-200}" || status=1

echo "== pair"
"$build/bench/bench_pair" || status=1

echo "== fleet"
"$build/bench/bench_fleet" || status=1

echo "== link"
"$build/bench/bench_link" || status=1

echo "== port watch (idle window)"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_portwatch" --seconds 20 || status=1

# An X server for the start-up figures: the one in DISPLAY, or our own Xvfb.
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    display=99
    while [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    export DISPLAY=":$display"
fi

if [ -n "${DISPLAY:-}" ]; then
    echo "== start-up on X ($DISPLAY)"
    "$build/bench/bench_startup" --runs "${STARTUP_RUNS:-10}" --platform xcb \
        --build "$build" || status=1
fi
echo "== start-up offscreen"
"$build/bench/bench_startup" --runs "${STARTUP_RUNS:-10}" --platform offscreen \
    --build "$build" || status=1

exit $status
