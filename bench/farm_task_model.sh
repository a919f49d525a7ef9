#!/usr/bin/env bash
# What one farm task costs: for cube and pano frames at 4096^2 and 8192^2, one
# thread (--threads 1, as a task of one CPU runs), the wall time of a task of
# one frame and of a task of N frames, run alternately; from their medians
# the seconds per frame ((T(N) - T(1)) / (N - 1)), the frames per second, and
# the start-up (T(1) minus one frame: starting the program, listing the face
# folders or loading the panorama, building the map). Prints one line per
# case and the bytes of one frame file, for the shared folder's share.
#
#   bench/farm_task_model.sh [RUNS [CASES]]    defaults: 3 runs, "cube4096 cube8192 pano4096 pano8192"
#
# Inputs (grainy JPEG made with ffmpeg's testsrc2, as a renderer's frames
# have detail) are made on first use in $INPUTS (default
# /tmp/skelvane-farm-inputs): faces of half the dome's size, and panoramas
# twice as wide as the dome (8192x4096, 16384x8192), halved to 2N x N as the
# job does. Domes are written as JPEG. RUNS 0 only makes the inputs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD:-$root/build}"
cli="$build/cli/skelvane-cli"
runs="${1:-3}"
cases="${2:-cube4096 cube8192 pano4096 pano8192}"
inputs="${INPUTS:-/tmp/skelvane-farm-inputs}"
[[ -x $cli ]] || { echo "no $cli: build first" >&2; exit 2; }
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

faces() {  # faces of SIZE, FRAMES frames
  local size=$1 frames=$2 dir="$inputs/model-faces-$1" hue=0
  if [[ ! -f $dir/.complete ]]; then
    rm -rf "$dir"
    for word in left front right back top bottom; do
      mkdir -p "$dir/$word"
      ff -f lavfi -i "testsrc2=size=${size}x${size}:rate=24" -vf "hue=h=$hue,noise=alls=10:allf=t,format=yuvj420p" \
        -frames:v "$frames" -q:v 2 "$dir/$word/%02d.jpg"
      hue=$((hue + 60))
    done
    touch "$dir/.complete"
  fi
  echo "$dir"
}

panorama() {  # WIDTH x WIDTH/2
  local file="$inputs/model-pano-$1.jpg"
  [[ -f $file ]] || ff -f lavfi -i "testsrc2=size=${1}x$(($1 / 2))" -vf "noise=alls=10:all_seed=7,format=yuvj420p" \
    -frames:v 1 -q:v 2 "$file"
  echo "$file"
}

work=$(mktemp -d /tmp/skelvane-farm-model.XXXXXX)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Times `render` over frames 1..1 and 1..N (cube) or 0..0 and 0..N-1 (pano).
measure() {
  local name=$1 n=$2 first=$3
  shift 3
  ((runs > 0)) || return 0
  local one=() many=() start
  for _ in $(seq "$runs"); do
    for count in 1 "$n"; do
      rm -rf "$work/out"
      start=$(now)
      "$cli" "$@" --output "$work/out" --threads 1 --frames "$first-$((first + count - 1))" >/dev/null
      local took
      took=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
      if ((count == 1)); then one+=("$took"); else many+=("$took"); fi
    done
  done
  local bytes
  bytes=$(find "$work/out" -maxdepth 1 -type f -name '*.jpg' -printf '%s\n' | sort -n | tail -1)
  awk -v name="$name" -v n="$n" -v t1="$(median "${one[@]}")" -v tn="$(median "${many[@]}")" -v bytes="$bytes" 'BEGIN {
    frame = (tn - t1) / (n - 1)
    printf "%-9s one task, 1 thread: %.3f s a frame (%.2f frames/s), start-up %.2f s; T(1) %.2f s, T(%d) %.2f s; frame file %.1f MB\n",
      name, frame, 1 / frame, t1 - frame, t1, n, tn, bytes / 1e6
  }'
}

for c in $cases; do
  case $c in
  cube4096) measure "$c" 8 1 cube2dome --input "$(faces 2048 8)" --faces 6 --in-format jpg --out-format jpg ;;
  cube8192) measure "$c" 4 1 cube2dome --input "$(faces 4096 4)" --faces 6 --in-format jpg --out-format jpg ;;
  pano4096) measure "$c" 8 0 pano2dome --input "$(panorama 8192)" --mode frames --format jpg --size 4096 ;;
  pano8192) measure "$c" 4 0 pano2dome --input "$(panorama 16384)" --mode frames --format jpg --size 8192 ;;
  *) echo "unknown case $c" >&2; exit 2 ;;
  esac
done
