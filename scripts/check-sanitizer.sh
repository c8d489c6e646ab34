#!/usr/bin/env bash
# Builds everything with the given sanitizers in its own folder and runs the whole test suite
# there, the window's tests offscreen.
#   scripts/check-sanitizer.sh address,undefined build-asan
#   scripts/check-sanitizer.sh thread build-tsan
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
    echo "usage: scripts/check-sanitizer.sh SANITIZERS BUILD_DIR" >&2
    exit 2
fi
sanitizers=$1
build_dir=$2
here=$(pwd)

scripts/install-deps.sh
BUILD_DIR=$build_dir scripts/build.sh -DDIELMON_SANITIZE="$sanitizers" -DDIELMON_BENCH=OFF

# Every report ends the test that caused it. Leak checking is on for AddressSanitizer, with
# fontconfig's lasting configuration left out (tests/sanitizers/lsan.supp).
# ThreadSanitizer ignores what uninstrumented libraries (Qt, GLib, fontconfig, libstdc++) do
# inside themselves, whose own locking it cannot see, and reads the suppressions for Qt's
# queued calls, each explained in the file.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/sanitizers/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$here/tests/sanitizers/tsan.supp}

cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
