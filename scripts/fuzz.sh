#!/usr/bin/env bash
# The libFuzzer runs, in their own build folder with clang (the normal build stays GCC).
#   scripts/fuzz.sh [run]   builds every fuzz target and runs each FUZZ_SECONDS (default 60)
#   scripts/fuzz.sh seeds   writes the seed corpora and dictionaries under fuzz/ anew
# New corpus entries go to $FUZZ_BUILD_DIR/corpus/<target>/ (kept between runs, never into the
# repository); a crash, leak or timeout leaves its input in fuzz/artifacts/ and makes the run
# exit non-zero after all targets have run.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
mode=${1:-run}

scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build_dir" \
    -DDIELMON_FUZZ=ON -DDIELMON_GUI=OFF -DDIELMON_BENCH=OFF >/dev/null

if [ "$mode" = seeds ]; then
    cmake --build "$build_dir" -j"$(nproc)" --target fuzz_make_seeds
    "$build_dir"/fuzz/fuzz_make_seeds fuzz
    exit 0
fi
if [ "$mode" != run ]; then
    echo "usage: scripts/fuzz.sh [run|seeds]" >&2
    exit 2
fi

cmake --build "$build_dir" -j"$(nproc)" --target fuzzers
mkdir -p fuzz/artifacts
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

targets=()
for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    [ -x "$build_dir/fuzz/$name" ] && targets+=("$name")
done

failed=()
summary=()
for name in "${targets[@]}"; do
    area=${name#fuzz_}
    scratch="$build_dir/corpus/$area"
    log="$build_dir/fuzz/$name.log"
    mkdir -p "$scratch"
    args=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
        -artifact_prefix="fuzz/artifacts/$name-")
    [ -f "fuzz/dict/$area.dict" ] && args+=(-dict="fuzz/dict/$area.dict")
    echo "== $name: ${seconds}s"
    status=0
    "$build_dir/fuzz/$name" "${args[@]}" "$scratch" "fuzz/corpus/$area" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        failed+=("$name")
        summary+=("$(printf '%-18s %12s  FINDING (exit %d, see %s)' "$name" "${runs:-?}" \
            "$status" "$log")")
        grep -E 'ERROR|SUMMARY|property does not hold|Test unit written' "$log" | head -n 20 || true
    else
        summary+=("$(printf '%-18s %12s  clean' "$name" "${runs:-?}")")
    fi
done

echo
printf '%-18s %12s  %s\n' target executions result
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]}; inputs in fuzz/artifacts/" >&2
    exit 1
fi
