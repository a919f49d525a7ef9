#!/bin/sh
# Per-frame time of FFmpeg's v360 filter doing the same projection as
# RenderPanoDome: an equirectangular panorama to a 180-degree equidistant
# fisheye with bicubic interpolation, three 8-bit colour channels (gbrp).
#
# One panorama is decoded once and repeated with the loop filter, so the
# decode and v360's one-time map build are shared; the per-frame time is the
# difference between a long and a short run divided by the extra frames.
#
# Usage: bench/v360_pano_frame.sh [frames] [dome size] [panorama file]
# Defaults: 60 frames, 4096, an 8192 x 4096 test picture made on first use.
set -eu

frames=${1:-60}
size=${2:-4096}
pano=${3:-${TMPDIR:-/tmp}/skelvane-v360-pano-8192x4096.png}

if [ ! -f "$pano" ]; then
    ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=8192x4096 -frames:v 1 -y "$pano"
fi

# "wall cpu" seconds (cpu = user + system, all threads) for `count` frames.
run() {
    count=$1
    filter="format=gbrp,loop=loop=$((count - 1)):size=1:start=0"
    filter="$filter,v360=input=e:output=fisheye:h_fov=180:v_fov=180:pitch=60:yaw=15:interp=cubic:w=$size:h=$size"
    /usr/bin/time -f '%e %U %S' -o "$times" \
        ffmpeg -hide_banner -loglevel error -nostdin -i "$pano" -vf "$filter" -f null -
    awk '{ printf "%s %.3f", $1, $2 + $3 }' "$times"
}

times=$(mktemp)
trap 'rm -f "$times"' EXIT
set -- $(run 1) $(run $((frames + 1)))
awk -v s="$size" -v f="$frames" -v w1="$1" -v c1="$2" -v w2="$3" -v c2="$4" 'BEGIN {
    printf "v360 %sx%s cubic: 1 frame %.2f s wall %.2f s cpu; %d frames %.2f s wall %.2f s cpu\n", s, s, w1, c1, f + 1, w2, c2
    printf "per frame: %.4f s wall, %.4f s cpu\n", (w2 - w1) / f, (c2 - c1) / f
}'
