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
source scripts/peak-memory.sh
work=${1:-$(mktemp -d)}
make_sample "$work"
for threads in 1 2; do
  rm -rf "$work/out$threads"
  measure "threads $threads" "$work/time$threads.txt" cube2dome --input "$work/sample" \
    --output "$work/out$threads" --faces 6 --size 4096 --threads "$threads"
done
