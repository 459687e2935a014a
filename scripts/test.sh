#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs
# every test with ctest. Usage: scripts/test.sh [build-dir]
# KC_CMAKE_ARGS adds CMake options, e.g. KC_CMAKE_ARGS=-DKC_QT=6 for Qt 6.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

BUILD_DIR=${1:-build-test}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON ${KC_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" ${KC_CTEST_ARGS:-}
