#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ in build-fuzz/ (the core library
# too, instrumented and under ASan/UBSan) and runs the listing fuzzer on one
# core for the given number of seconds. The corpus grows in fuzz-out/listing,
# crash inputs land in fuzz-out/artifacts.
# Usage: scripts/fuzz.sh [seconds=600] [build-dir=build-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
build_dir=${2:-build-fuzz}

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
apt_install() {
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"
}

scripts/install-deps.sh
if ! command -v clang++ >/dev/null 2>&1; then
    apt_install clang
fi
# clang's libFuzzer runtime ships separately on Debian.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
    apt_install libclang-rt-14-dev
fi

cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKC_FUZZ=ON -DKC_SANITIZE=ON
cmake --build "$build_dir" --target fuzz_listing -j"${KC_FUZZ_BUILD_JOBS:-2}"

corpus=fuzz-out/listing
artifacts=fuzz-out/artifacts
mkdir -p "$corpus" "$artifacts"
# Seeds: listings as radios write them, and the replies around them.
seed() { printf '%b' "$2" >"$corpus/seed-$1"; }
seed blanks '\r\nS101=0 S102=1 S103=0 S104=305\r\n S105=1 S108=30\r\nOK\r\n'
seed crlf 'S104=00567\r\nOK\r\n'
seed flag7 'S102=7\r\n S104=9 OK'
seed escape '\x03++\r\nNO CARRIER\r\nOK\r\n\x05S104=1\x08 S102=0 OK'
seed banner '\x02Radio\x3f\r\nWelcome to the Data-link Radio V300\r\nOK\r\n\x10ATA\r\nCONNECT 115200'

fuzzer=$root/$build_dir/tests/fuzz/fuzz_listing
# -jobs=1 runs one worker process and writes its log to fuzz-0.log in the
# current folder; keep it with the corpus.
cd fuzz-out
status=0
"$fuzzer" -jobs=1 -workers=1 -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$root/$artifacts/" "$root/$corpus" || status=$?
# libFuzzer has printed the worker's log; sum it up.
echo "fuzz: $(grep -E '^#[0-9]+' fuzz-0.log | tail -n 1)"
grep -E '^stat::' fuzz-0.log | sed 's/^/fuzz: /' || true
echo "fuzz: corpus $(find "$root/$corpus" -type f | wc -l) inputs," \
    "artifacts $(find "$root/$artifacts" -type f | wc -l)"
exit "$status"
