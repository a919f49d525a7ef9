#!/usr/bin/env bash
# The inner-loop benchmarks of two builds side by side: for each round, each
# binary of OLD_BUILD then NEW_BUILD runs once, with the machine lock held
# exclusively for the pair, so that both see the same load. Prints each
# run's median of three repetitions.
#
#   bench/side_by_side.sh OLD_BUILD NEW_BUILD [ROUNDS [FILTER]]
#
# The filter defaults to the benchmarks of bench/README.md's inner-loop table.
set -euo pipefail
old=$1
new=$2
rounds=${3:-2}
filter=${4:-'BM_RenderCubeDome/4096|BM_RenderCubeDomeGather/4096|BM_BuildCubeDomeMap/4096|BM_StretchFrom|BM_RenderPanoDome/N:2048/pano2NxN:1|BM_RenderPanoDomeAvx2/N:2048/pano2NxN:1|BM_RenderPanoDomeDirect/N:4096/pano2NxN:0|BM_BuildPanoDomeMap/N:2048/pano2NxN:1'}
lock=${LOCK:-/work/.machine.lock}

run() {
  local build=$1 binary=$2
  "$build/bench/$binary" --benchmark_filter="$filter" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true 2>/dev/null |
    awk -v b="$build" '/_median/ { sub("/real_time_median", "", $1); printf "%-50s %-28s %8s %s\n", $1, b, $2, $3 }'
}

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for ((r = 1; r <= rounds; ++r)); do
  for binary in bench_engine bench_pano; do
    flock -x "$lock" bash -c "$(declare -f run); filter='$filter'; run '$old' $binary; run '$new' $binary"
  done
done
