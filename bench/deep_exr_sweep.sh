#!/usr/bin/env bash
# A half-float OpenEXR sweep against OpenEXR alone, alternating runs, frames
# written to /dev/shm so that disk writeback does not decide the wall time.
# Take the machine lock exclusively around it.
#
#   bench/deep_exr_sweep.sh BUILD [RUNS]
set -euo pipefail
build=$(realpath "$1")
runs=${2:-3}
work=/tmp/deep-exr-sweep
out=/dev/shm/deep-exr-sweep
mkdir -p "$work" "$out"
[[ -f $work/pano.exr ]] || "$build/bench/bench_exr_codec_floor" panorama "$work/pano.exr" 8192 4096
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for ((r = 1; r <= runs; ++r)); do
  rm -rf "$out/exr" "$out/floor"
  mkdir -p "$out/exr"
  /usr/bin/time -f "ours %e s %U user %S sys %M KiB" "$build/cli/skelvane-cli" pano2dome --input "$work/pano.exr" \
    --output "$out/exr" --mode frames --format exr --depth 16 --size 2048 --duration 4 --rate 10 >/dev/null
  /usr/bin/time -f "floor %e s %U user %S sys %M KiB" "$build/bench/bench_exr_codec_floor" time "$work/pano.exr" 40 \
    "$out/exr/0000.exr" "$out/floor" 2 >/dev/null
done
rm -rf "$out"
