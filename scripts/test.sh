#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
# The release build (-O3) must compile with the warnings as errors too, also with the fortified
# C library the package is built with; its core tests are quick.
BUILD_DIR="${BUILD_DIR:-build}-release" scripts/build.sh -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=2
(cd "${BUILD_DIR:-build}-release" && ctest --output-on-failure -R '^core_')
cd "${BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
"$(dirname "$(readlink -f "$0")")/check-package.sh" # the Debian package, built and checked
