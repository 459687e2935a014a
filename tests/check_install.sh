#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the program, its
# translations and the desktop entry land where the entry expects them.
# Usage: check_install.sh <source dir> <build dir>
set -euo pipefail
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "check_install: $*" >&2; exit 1; }

[ -x "$prefix/bin/KcRadioConfig" ] || fail "program missing"
desktop="$prefix/share/applications/kcradioconfig.desktop"
[ -f "$desktop" ] || fail "desktop entry missing"
[ -f "$prefix/share/icons/hicolor/32x32/apps/kcradioconfig.png" ] || fail "icon missing"

exec_line=$(sed -n 's/^Exec=//p' "$desktop")
path_line=$(sed -n 's/^Path=//p' "$desktop")
[ "$exec_line" = "$prefix/bin/KcRadioConfig" ] || fail "Exec is '$exec_line'"
for locale in en_US zh_CN; do
    [ -f "$path_line/dict/Trns_$locale.qm" ] || fail "Path '$path_line' holds no dict/Trns_$locale.qm"
done
grep -q '^Icon=kcradioconfig$' "$desktop" || fail "Icon key"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop"
fi

# The installed program starts from the entry's working directory: still
# running after two seconds (timeout ends it with 124) means it started; a
# missing library or a crash ends it earlier with another status.
(cd "$path_line" && QT_QPA_PLATFORM=offscreen timeout 2 "$exec_line" >/dev/null 2>&1) ||
    [ $? -eq 124 ] || fail "program did not start"

# kcradio and its man page, with the version the window shows.
[ -x "$prefix/bin/kcradio" ] || fail "kcradio missing"
[ -f "$prefix/share/man/man1/kcradio.1" ] || fail "kcradio man page missing"
version=$(sed -n 's/^project(KcRadioConfig VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt")
[ "$("$prefix/bin/kcradio" --version)" = "kcradio $version" ] || fail "kcradio --version"
# Every command with its options, the plan's columns and the exit status.
man_text=$(sed 's/\\//g' "$prefix/share/man/man1/kcradio.1")
for word in --no-verify --link-test --min-delivery --again 'Command read' 'Exit status' 'network,role,port'; do
    grep -q -- "$word" <<<"$man_text" || fail "man page lacks $word"
done
echo "check_install: ok ($prefix)"
