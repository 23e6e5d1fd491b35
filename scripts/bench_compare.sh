#!/usr/bin/env bash
# Measures a change: the same benchmarks of an earlier commit and of the work
# tree, run in turns on one machine, and the ratio of their medians.
#   scripts/bench_compare.sh REV TARGET FILTER [ROUNDS]
# REV: the commit to compare with; TARGET: a benchmark program's target
# (io_bench, vrn_database_bench, regionatlas_bench, ...); FILTER: a
# --benchmark_filter expression; ROUNDS: turns of each side (default 3), each
# of 3 repetitions. Prints one line a benchmark: median before, after, and
# after / before. The earlier commit is built in build-compare/REV.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 3 ]; then
    sed -n '2,10p' "$0" >&2
    exit 2
fi
rev=$(git rev-parse --short "$1")
target=$2 filter=$3 rounds=${4:-3}
. scripts/deps.sh
vrn_ensure_packages

before=build-compare/$rev
if [ ! -d "$before/src" ]; then
    mkdir -p "$before/src"
    git archive "$rev" | tar -x -C "$before/src"
fi
for tree in "$before/src:$before/build" ".:build"; do
    src=${tree%%:*} out=${tree##*:}
    cmake -S "$src" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$out" -j"$(nproc)" --target "$target" >/dev/null
done
program() { find "$1/bench" -type f -name "$target" -perm -u+x | head -n 1; }
old=$(program "$before/build") new=$(program build)
[ -n "$old" ] && [ -n "$new" ] || { echo "bench_compare: no program $target" >&2; exit 1; }

results=$(mktemp)
trap 'rm -f "$results"' EXIT
for ((r = 0; r < rounds; ++r)); do
    for side in before after; do
        exe=$old
        [ "$side" = after ] && exe=$new
        "$exe" --benchmark_filter="$filter" --benchmark_repetitions=3 \
            --benchmark_report_aggregates_only=true 2>/dev/null |
            awk -v s="$side" '$1 ~ /_median$/ { sub(/_median$/, "", $1); print s, $1, $2, $3 }' >> "$results"
    done
done
# The median of each side's round medians, and their ratio.
awk '
    { t[$1 " " $2] = t[$1 " " $2] " " $3; u[$2] = $4; if (!($2 in seen)) { seen[$2] = 1; order[++n] = $2 } }
    function median(list,   a, k, i, j, x) {
        k = split(list, a, " ")
        for (i = 2; i <= k; ++i) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; --j) { x = a[j]; a[j] = a[j - 1]; a[j - 1] = x }
        return a[int((k + 1) / 2)]
    }
    END {
        printf "%-50s %12s %12s %7s\n", "benchmark", "before", "after", "ratio"
        for (i = 1; i <= n; ++i) {
            b = median(t["before " order[i]]); a = median(t["after " order[i]])
            printf "%-50s %9.3f %-2s %9.3f %-2s %7.2f\n", order[i], b, u[order[i]], a, u[order[i]], (b > 0 ? a / b : 0)
        }
    }' "$results"
