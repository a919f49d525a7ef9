#!/usr/bin/env bash
# Peak memory of a 4096 x 4096 Cube2Dome render through skelvane-cli (built
# in build/), for 1 and 2 threads. Compare with the map (one 4-byte word per
# dome pixel, 64 MiB) plus one frame's images per frame in flight: six
# 2048 x 2048 faces (96 MiB, released once rendered), the dome (64 MiB) and
# its encoded file (48 MiB for BMP). Frames in flight = threads + 1, at least 2.
#
#   scripts/cube-memory.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-$(mktemp -d)}
cli=build/cli/skelvane-cli
[[ -d $work/sample ]] || "$cli" sample --output "$work/sample" --frames 4 --size 2048 >/dev/null
for threads in 1 2; do
  rm -rf "$work/out$threads"
  /usr/bin/time -v "$cli" cube2dome --input "$work/sample" --output "$work/out$threads" --faces 6 \
    --size 4096 --threads "$threads" >/dev/null 2>"$work/time$threads.txt"
  peak=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time$threads.txt")
  echo "threads $threads: peak RSS $((peak / 1024)) MiB"
done
