#!/usr/bin/env bash
# Installs what is missing, builds the program (only the program: the tests and benchmarks
# are scripts/test.sh's) and starts it on its built-in simulated instrument.
# Extra arguments go to dielmon (for example --speed 4 to make the simulated tests quicker).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target dielmon
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display is available here (DISPLAY is not set)." >&2
    echo "Start the program under a virtual display instead:" >&2
    echo "    xvfb-run -a -s '-screen 0 1280x800x24' build/ui/dielmon --simulate" >&2
    echo "or connect with a display (ssh -X) and run scripts/run.sh again." >&2
    exit 2
fi
exec build/ui/dielmon --simulate "$@"
