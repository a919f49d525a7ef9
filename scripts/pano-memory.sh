#!/usr/bin/env bash
# Peak memory of a 4096 x 4096 Pano2Dome sweep through skelvane-cli (built in
# build/): frames (BMP) and video (H.264), each with 1 and 2 threads, beside
# what the design implies. The job holds the panorama as loaded (8192 x 4096,
# 128 MiB), the working panorama of 2N x N x 4 bytes (128 MiB), the map of
# N^2 x 8 bytes (128 MiB) and one N^2 x 4 dome (64 MiB) per frame in flight;
# frames in flight = threads + 2. A frame file is encoded in memory first
# (BMP: another 64 MiB while it is written); the video encoder keeps frames of
# its own (N^2 x 1.5 bytes each in yuv420p, 24 MiB: its look-ahead, references
# and the frame being converted), which the figure shows as the rest.
#
#   scripts/pano-memory.sh [WORKDIR [SECONDS]]
#
# SECONDS of sweep at 5 frames a second (default 8: 40 frames, enough to fill
# the encoder's look-ahead, so the video figure is its steady state).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/peak-memory.sh
work=${1:-$(mktemp -d)}
seconds=${2:-8}
make_sample "$work"
n=4096
mib=$((1024 * 1024))
held=$((2 * (2 * n * n * 4) / mib + n * n * 8 / mib))  # panorama, working panorama, map
dome=$((n * n * 4 / mib))
for threads in 1 2; do
  inflight=$((threads + 2))
  design=$((held + inflight * dome))
  rm -rf "$work/frames$threads" "$work/sweep$threads.mov"
  measure "frames, threads $threads" "$work/frames$threads.txt" pano2dome --input "$work/sample/panorama.bmp" \
    --output "$work/frames$threads" --mode frames --format bmp --size $n --duration "$seconds" --rate 5 \
    --threads "$threads"
  echo "  design: $held held + $inflight x $dome domes = $design MiB (+ up to $inflight x $dome of BMP bytes)"
  measure "video, threads $threads" "$work/video$threads.txt" pano2dome --input "$work/sample/panorama.bmp" \
    --output "$work/sweep$threads.mov" --mode video --size $n --duration "$seconds" --rate 5 --threads "$threads"
  echo "  design: $held held + $inflight x $dome domes = $design MiB; the encoder's share: $((peak_mib - design)) MiB" \
    "($(((peak_mib - design) * mib / (n * n * 3 / 2))) yuv420p frames)"
done
