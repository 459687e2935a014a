#!/usr/bin/env bash
# Fails when a source of the window, of kcradio or of the libraries they link
# does not compile for Windows. Each one is compiled, syntax only, by the
# MinGW-w64 cross compiler against the installed Qt headers, with the defines
# and include paths of the Linux build and its moc and uic output.
# Usage: check_windows_compile.sh <source dir> <build dir>
set -euo pipefail

src=${1:?source dir}
build=${2:?build dir}
cxx=${KC_WINDOWS_CXX:-x86_64-w64-mingw32-g++}
command -v "$cxx" >/dev/null ||
    { echo "$cxx not found (scripts/install-deps.sh installs g++-mingw-w64-x86-64)"; exit 1; }

# The program targets and the libraries they link.
targets=(kccore kcwindow kccli KcRadioConfig kcradio)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for target in "${targets[@]}"; do
    dir="$build/CMakeFiles/$target.dir"
    [ -f "$dir/DependInfo.cmake" ] || continue
    # The Linux build's defines and include paths; its code generation and
    # sanitizer options are left out, its warning options kept.
    flags=$(sed -n 's/^CXX_\(DEFINES\|INCLUDES\|FLAGS\) = //p' "$dir/flags.make" | tr '\n' ' ')
    eval "words=($flags)"
    options=()
    for word in "${words[@]}"; do
        case $word in
        -f* | -O* | -g*) ;;
        *) options+=("$word") ;;
        esac
    done
    printf '%s\n' "${options[@]}" >"$tmp/$target.options"
    # The target's C++ sources, its moc output among them; the embedded
    # images (qrc_*) are data, not code.
    grep -o '^ *"[^"]*\.cpp"' "$dir/DependInfo.cmake" | tr -d ' "' | grep -v '/qrc_' |
        while read -r source; do
            printf '%s %s\n' "$target" "$source"
        done >>"$tmp/jobs"
done
[ -s "$tmp/jobs" ] || { echo "no sources found under $build (not configured?)"; exit 1; }

# One compiler per source, as many at once as there are cores; each writes its
# messages to a file of its own, named after the source.
compile() {
    local target=$1 source=$2 log
    log="$tmp/log.$(printf '%s' "$source" | tr '/' '_')"
    mapfile -t options <"$tmp/$target.options"
    if ! "$cxx" -fsyntax-only "${options[@]}" "$source" >"$log" 2>&1; then
        echo "FAIL $source" >>"$log"
    fi
}
export -f compile
export tmp cxx
xargs -P "$(nproc)" -L 1 bash -c 'compile "$0" "$1"' <"$tmp/jobs"

count=$(wc -l <"$tmp/jobs")
failed=0
for log in "$tmp"/log.*; do
    [ -s "$log" ] || continue
    cat "$log"
    if grep -q '^FAIL ' "$log"; then
        failed=$((failed + 1))
    fi
done
echo "windows compile: $count sources, $failed failed ($("$cxx" -dumpversion), $cxx)"
[ "$failed" -eq 0 ]
