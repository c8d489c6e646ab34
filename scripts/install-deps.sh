#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need, when missing.
# Usage: scripts/install-deps.sh [extra package ...]
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libsqlite3-dev
    # The lab's archive server: libpq to talk to it, and a real server for the tests.
    libpq-dev postgresql
    qt6-base-dev qt6-base-dev-tools libqt6printsupport6
    # The archive's trend chart; Debian's Qt 6 Charts needs the OpenGL module's CMake files.
    qt6-charts-dev libqt6opengl6-dev
    fonts-arphic-uming
    qt6-translations-l10n
    poppler-utils
    xvfb xauth
    # The Debian package: building it, its icons, and the checks of scripts/check-package.sh.
    dpkg-dev debhelper fakeroot librsvg2-bin
    lintian desktop-file-utils appstream devscripts file
    qt6-translations-l10n
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" != 0 ]; then
        SUDO=sudo
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi
