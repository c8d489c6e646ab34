#!/usr/bin/env bash
# `make bench`: builds the measuring programs and the program in release mode in build-bench/
# (or $BENCH_BUILD_DIR), runs them all, and prints every figure beside its target and the
# reference it was measured with in the same run. Exits 1 when a figure misses its target or
# could not be measured. BENCH_RUNS sets how many runs each median is taken over.
# The programs' own output, with every single run, is kept in build-bench/bench-output.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${BENCH_BUILD_DIR:-build-bench}

# -O2 as the everyday build has it: GCC 12 at -O3 reports a -Wrestrict in std::string's own
# code that cannot happen, and -Werror stays on.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DDIELMON_GUI=ON -DDIELMON_BENCH=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" \
    --target bench_core bench_window bench_process bench_qtbase bench_archive bench_sync \
    bench_archive_window bench_sync_window dielmon >/dev/null

out="$build_dir/bench-output.txt"
figures="$build_dir/bench-figures.tsv"
: >"$out"
: >"$figures"

cores=$(nproc)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
echo "Machine: $cores cores, ${cpu:-unknown processor}, $memory memory; load average $load_before"
echo "Commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo ' (with local changes)')"

failed=()
measure() {
    local name=$1
    shift
    echo "Running $name ..."
    {
        echo "=== $name"
        set +e
        QT_QPA_PLATFORM=offscreen "$@" 2>&1
        echo "=== $name exit status $?"
        set -e
    } >>"$out"
    if ! grep -q "^=== $name exit status 0$" "$out"; then
        failed+=("$name")
    fi
}

measure bench_core "$build_dir/bench/bench_core"
measure bench_window "$build_dir/bench/bench_window"
measure bench_process "$build_dir/bench/bench_process" "$build_dir/ui/dielmon" \
    "$build_dir/bench/bench_qtbase"
measure bench_archive "$build_dir/bench/bench_archive" "$build_dir"
measure bench_sync "$build_dir/bench/bench_sync" "$build_dir"
measure bench_archive_window "$build_dir/bench/bench_archive_window" "$build_dir"
measure bench_sync_window "$build_dir/bench/bench_sync_window" "$build_dir"

grep '^FIGURE' "$out" | cut -f 2- >"$figures" || true
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

echo
# A Markdown table; the first four columns padded to their width in characters.
LC_ALL=C awk -F '\t' '
    function width(s, t) { t = s; return length(s) - gsub(/[\200-\277]/, "", t) }
    function pad(s, w) { return s sprintf("%" (w - width(s)) "s", "") }
    BEGIN {
        head[1] = "Figure"; head[2] = "Value"; head[3] = "Target"; head[4] = "Verdict"
        head[5] = "Reference, measured in the same run"
        for (c = 1; c <= 4; ++c) w[c] = width(head[c])
    }
    {
        rows[NR] = $0
        for (c = 1; c <= 4; ++c) if (width($c) > w[c]) w[c] = width($c)
    }
    END {
        line = "|"; rule = "|"
        for (c = 1; c <= 4; ++c) {
            line = line " " pad(head[c], w[c]) " |"
            dashes = sprintf("%" w[c] "s", ""); gsub(/ /, "-", dashes)
            rule = rule " " dashes " |"
        }
        print line " " head[5] " |"
        print rule " --- |"
        for (r = 1; r <= NR; ++r) {
            split(rows[r], f, "\t")
            line = "|"
            for (c = 1; c <= 4; ++c) line = line " " pad(f[c], w[c]) " |"
            print line " " f[5] " |"
        }
    }' "$figures"
echo

figure_count=$(wc -l <"$figures")
missed=$(awk -F '\t' '$4 != "ok" && $4 != "info"' "$figures" | wc -l)
echo "Load average before $load_before, after $load_after ($cores cores). Each value is the" \
    "median of several runs; every single run is in $out."
if awk -v before="${load_before%% *}" -v after="${load_after%% *}" -v cores="$cores" \
    'BEGIN { exit !(before > cores / 2 || after > cores / 2) }'; then
    echo "The machine was busy with other work: timings may be disturbed. Run again when" \
        "'uptime' shows a low load."
fi
for name in "${failed[@]}"; do
    echo "$name did not finish cleanly; see $out."
done
echo "$figure_count figures, $missed missed."
if [ "$missed" -gt 0 ] || [ "${#failed[@]}" -gt 0 ] || [ "$figure_count" -eq 0 ]; then
    exit 1
fi
