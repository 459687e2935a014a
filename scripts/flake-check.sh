#!/usr/bin/env bash
# Runs the whole test suite many times on a loaded machine, to show that no
# result depends on how the scheduler treats the tests.
# Usage: scripts/flake-check.sh [RUNS]   (default 10)
#
# Builds once (in build-flake, or FLAKE_BUILD_DIR), then starts two CPU hogs
# that keep both cores busy and runs ctest -j2 RUNS times. Prints one line per
# failing test row ("run K: Class::function(row) message"; a test that failed
# without a Qt Test failure line is named with its status) and last
# "N passed, M failed", counting suite runs. The output of run K is kept in
# <build>/flake-run-K.log. Exits non-zero when a run failed.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10}
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [RUNS]" >&2
    exit 2
fi
build=${FLAKE_BUILD_DIR:-build-flake}

mkdir -p "$build"
build=$(cd "$build" && pwd)
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON \
    ${KC_CMAKE_ARGS:-} && cmake --build "$build" -j2; } >"$build/flake-build.log" 2>&1; then
    cat "$build/flake-build.log" >&2
    echo "flake-check: the build failed" >&2
    exit 2
fi

hogs=()
stop_hogs() {
    for pid in "${hogs[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${hogs[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_hogs EXIT
if command -v stress-ng >/dev/null; then
    stress-ng --cpu 2 --quiet &
    hogs+=($!)
else
    for _ in 1 2; do
        (while :; do :; done) &
        hogs+=($!)
    done
fi

# The failing rows of one run, from ctest's log of every test's output.
failing_rows() {
    awk -v run="$1" '
        /^[0-9]+\/[0-9]+ Test: / { name = $3; fails = 0; next }
        /^FAIL!  : / { sub(/^FAIL!  : /, ""); print "run " run ": " $0; ++fails; next }
        /^Test (Passed|Failed|Not Run)/ && !/^Test Passed/ && fails == 0 {
            print "run " run ": " name " (" $0 ")"
        }
    ' "$2"
}

passed=0
failed=0
for run in $(seq "$runs"); do
    start=$SECONDS
    if (cd "$build" && ctest -j2 ${KC_CTEST_ARGS:-} >"$build/flake-ctest-$run.log" 2>&1); then
        passed=$((passed + 1))
        verdict=passed
    else
        failed=$((failed + 1))
        verdict=FAILED
    fi
    cp "$build/Testing/Temporary/LastTest.log" "$build/flake-run-$run.log"
    failing_rows "$run" "$build/flake-run-$run.log"
    echo "flake-check: run $run of $runs $verdict in $((SECONDS - start)) s" >&2
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
