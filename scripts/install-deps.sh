#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and screenshot the
# program with Qt 5 and with Qt 6 (the suite runs against both) and to check
# that it compiles for Windows; packages already present are left alone.
set -euo pipefail

packages=(
    # Qt 5.15
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev qttools5-dev qttools5-dev-tools
    qttranslations5-l10n
    # Qt 6 (cmake -DKC_QT=6); Qt 6's Gui wants the OpenGL headers
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-tools-dev qt6-tools-dev-tools
    qt6-l10n-tools qt6-translations-l10n qt6-qpa-plugins libgl-dev
    cmake g++ make help2man xvfb imagemagick fonts-noto-cjk xauth
    # The Windows compile check (tests/check_windows_compile.sh)
    g++-mingw-w64-x86-64
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg -s "$package" >/dev/null 2>&1; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
