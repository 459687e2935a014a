#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test under them. Any report fails the run.
# Usage: scripts/test-sanitize.sh [build-dir]   (KC_CMAKE_ARGS=-DKC_QT=6 for Qt 6)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

BUILD_DIR=${1:-build-asan}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON -DKC_SANITIZE=ON \
    ${KC_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" ${KC_CTEST_ARGS:-}
