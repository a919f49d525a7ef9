#!/usr/bin/env bash
# The render farm against one machine on this machine: the same 240 cube
# frames rendered by one `cube2dome --threads 2` run and by `farm submit` as
# two tasks of one thread each on a one-node Slurm cluster (started here), the
# farm timed from submit until `farm status --wait` has seen every frame on
# disk, so the tasks' start-up and Slurm's dispatch are included. Runs
# alternate; prints each run's wall time, the medians and the farm's
# throughput against one machine's (one's time over the farm's: at least
# 0.9 wanted). Needs root (munge, Slurm) and a Release build in $BUILD.
#
#   bench/farm_speed.sh [RUNS [FACE_SIZE]]     defaults: 3 runs, 2048 (4096^2 domes)
#
# RUNS 0 only makes the inputs (so that a timing run under an exclusive lock
# does not spend its hold on them).
#
# Faces: 24 grainy JPEG frames per face made with ffmpeg's testsrc2 on first
# use (in $INPUTS, default /tmp/skelvane-farm-inputs), each linked ten times
# over to make a sequence of 240; the domes are JPEG files twice the face size.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD:-$root/build}"
cli="$build/cli/skelvane-cli"
runs="${1:-3}"
size="${2:-2048}"
inputs="${INPUTS:-/tmp/skelvane-farm-inputs}/faces-$size"
[[ -x $cli ]] || { echo "no $cli: build first" >&2; exit 2; }

if [[ ! -f $inputs/.complete ]]; then
  rm -rf "$inputs"
  hue=0
  for word in left front right back top bottom; do
    mkdir -p "$inputs/source/$word" "$inputs/$word"
    ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=${size}x${size}:rate=24" \
      -vf "hue=h=$hue,noise=alls=10:allf=t,format=yuvj420p" -frames:v 24 -q:v 2 "$inputs/source/$word/%02d.jpg"
    for frame in $(seq 0 239); do
      ln -s "../source/$word/$(printf %02d $((frame % 24 + 1))).jpg" "$inputs/$word/$(printf %04d $((frame + 1))).jpg"
    done
    hue=$((hue + 60))
  done
  touch "$inputs/.complete"
fi
((runs > 0)) || exit 0

work=$(mktemp -d /tmp/skelvane-farm-speed.XXXXXX)
chmod 755 "$work"
trap 'bash "$root/scripts/slurm-stop.sh" "$work/cluster"; rm -rf "$work"' EXIT
bash "$root/scripts/slurm-start.sh" "$work/cluster" >/dev/null
# shellcheck disable=SC1091
. "$work/cluster/env"

render=(cube2dome --input "$inputs" --faces 6 --in-format jpg --out-format jpg)
now() { date +%s.%N; }
since() { awk -v start="$1" -v end="$(now)" 'BEGIN { printf "%.2f", end - start }'; }
one_times=()
farm_times=()
for run in $(seq "$runs"); do
  rm -rf "$work/one" "$work/farm"
  start=$(now)
  "$cli" "${render[@]}" --output "$work/one" --threads 2 >/dev/null
  one_times+=("$(since "$start")")

  start=$(now)
  "$cli" farm submit --chunk 120 --max-running 2 --threads 1 -- "${render[@]}" --output "$work/farm" \
    >/dev/null 2>&1
  "$cli" farm status --wait "$work/farm" >/dev/null
  farm_times+=("$(since "$start")")
  echo "run $run: one machine ${one_times[-1]} s, farm ${farm_times[-1]} s"
  cmp -s <(cd "$work/one" && find . -type f | sort) <(cd "$work/farm" && find . -maxdepth 1 -name '*.jpg' | sort) ||
    { echo "the farm did not write the frames of the one-machine run" >&2; exit 1; }
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
one=$(median "${one_times[@]}")
farm=$(median "${farm_times[@]}")
awk -v runs="$runs" -v one="$one" -v farm="$farm" 'BEGIN {
  printf "median of %d: one machine %.2f s, farm %.2f s, farm throughput %.3fx one machine\n", runs, one, farm, one / farm
}'
