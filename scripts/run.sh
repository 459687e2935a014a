#!/usr/bin/env bash
# Builds the program into build/ and starts it. Without a display it runs on
# a virtual X server, saves a screenshot to build/screenshot.png and stops.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j2

# The translations are looked up in dict/ under the working directory.
cd build

if [ -n "${DISPLAY:-}" ]; then
    exec ./KcRadioConfig
fi

display=:99
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
xvfb_pid=$!
app_pid=
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Wait for the server to accept clients.
for _ in $(seq 1 50); do
    if DISPLAY=$display xdpyinfo >/dev/null 2>&1 || [ -e "/tmp/.X11-unix/X${display#:}" ]; then
        break
    fi
    sleep 0.1
done

DISPLAY=$display ./KcRadioConfig >KcRadioConfig.log 2>&1 &
app_pid=$!
sleep 3
DISPLAY=$display import -window root screenshot.png
echo "screenshot saved to $root/build/screenshot.png"
exit 0
