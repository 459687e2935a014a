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

# A source that compiled clean (no message at all) is not compiled again while
# what the compiler would read is the same: the key of a clean compile hashes
# the compiler, the options and the preprocessed source, every header in it,
# so that a change in anything the source includes compiles it again. The
# keys of this run's clean compiles replace the last run's in the build
# folder. KC_WINDOWS_CACHE=0 compiles every source.
cache="$build/windows-compile-cache"
clean="$build/windows-compile-cache.new"
rm -rf "$clean"
mkdir -p "$clean"
[ "${KC_WINDOWS_CACHE:-1}" != 0 ] || rm -rf "$cache"
compiler_id=$("$cxx" --version | head -n 1)

# Prints the job with its key, unless a clean compile had that key.
lookup() {
    set -o pipefail
    local target=$1 source=$2 key
    mapfile -t options <"$tmp/$target.options"
    if key=$({ printf '%s\n' "$compiler_id" "${options[@]}" &&
        "$cxx" -E -P "${options[@]}" "$source" 2>/dev/null; } | sha1sum) && [ -e "$cache/${key%% *}" ]; then
        touch "$clean/${key%% *}"
    else
        printf '%s %s %s\n' "$target" "$source" "${key%% *}"
    fi
}
export -f lookup
export tmp cxx cache clean compiler_id
xargs -P "$(nproc)" -L 1 bash -c 'lookup "$0" "$1"' <"$tmp/jobs" >"$tmp/misses"

# Most of a compile goes into Qt's headers, the same for every source: for
# more than a few sources they are parsed once into a precompiled header (the
# Qt headers the sources include), which each compiler then loads. It is made
# with the options of the target that links most of Qt, less the macros that
# some target does not define (a macro defined for the header must be defined
# wherever it is used). A source that the header does not suit parses it as
# text instead, with the same result. KC_WINDOWS_PCH=0 leaves it out.
prefix=()
if [ "${KC_WINDOWS_PCH:-1}" != 0 ] && [ "$(wc -l <"$tmp/misses")" -ge 12 ]; then
    cut -d' ' -f2 "$tmp/misses" | xargs grep -ho '^#include <Q[A-Za-z/]*>' | sort -u >"$tmp/qt.h"
    pch_target=kcwindow
    [ -f "$tmp/$pch_target.options" ] || pch_target=$(head -n 1 "$tmp/jobs" | cut -d' ' -f1)
    options=()
    while read -r option; do
        case $option in
        -D*) grep -LxF -e "$option" "$tmp"/*.options | grep -q . && continue ;;
        esac
        options+=("$option")
    done <"$tmp/$pch_target.options"
    if "$cxx" -x c++-header "${options[@]}" "$tmp/qt.h" -o "$tmp/qt.h.gch" >"$tmp/log.0-pch" 2>&1; then
        prefix=(-include "$tmp/qt.h")
    else
        echo "precompiled header failed, each source parses Qt's headers" >>"$tmp/log.0-pch"
    fi
fi

# One compiler per source, as many at once as there are cores; each writes its
# messages to a file of its own, named after the source.
compile() {
    local target=$1 source=$2 key=$3 log
    log="$tmp/log.$(printf '%s' "$source" | tr '/' '_')"
    mapfile -t options <"$tmp/$target.options"
    if ! "$cxx" -fsyntax-only "${prefix[@]}" "${options[@]}" "$source" >"$log" 2>&1; then
        echo "FAIL $source" >>"$log"
    elif [ ! -s "$log" ]; then
        touch "$clean/$key"
    fi
}
export -f compile
# Arrays do not pass to the child shells: the prefix goes as words.
export KC_PCH_PREFIX="${prefix[*]}"
xargs -r -P "$(nproc)" -L 1 bash -c 'read -ra prefix <<<"$KC_PCH_PREFIX"; compile "$0" "$1" "$2"' \
    <"$tmp/misses"
rm -rf "$cache"
mv "$clean" "$cache"

count=$(wc -l <"$tmp/jobs")
failed=0
for log in "$tmp"/log.*; do
    [ -s "$log" ] || continue
    cat "$log"
    if grep -q '^FAIL ' "$log"; then
        failed=$((failed + 1))
    fi
done
compiled=$(wc -l <"$tmp/misses")
echo "windows compile: $count sources ($compiled compiled, $((count - compiled)) as compiled clean before)," \
    "$failed failed ($("$cxx" -dumpversion), $cxx)"
[ "$failed" -eq 0 ]
