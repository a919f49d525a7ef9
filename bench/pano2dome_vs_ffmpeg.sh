#!/bin/sh
# Whole-process Pano2Dome sweeps against ffmpeg doing the same work at its
# best, side by side and alternating, so that the load of a shared machine
# falls on both alike.
#
# The work: 125 dome masters of 2048 x 2048 (180-degree fisheye, tilt 60, pan
# swept from -180 in steps of 2.88 degrees: 5 seconds at 25 frames a second)
# from one 8192 x 4096 JPEG panorama,
#  (a) written as JPEG files, (b) encoded into one H.264 .mov.
#
# ours:   skelvane-cli pano2dome --mode frames --format jpg (a) / --mode video (b)
#         (the panorama is resampled once to 4096 x 2048, one map, 125 renders)
# ffmpeg: the panorama decoded once, scaled once to the same 4096 x 2048 and
#         kept in yuv420p (its cheapest format for v360), repeated with `loop`,
#         swept with `scroll` in front of one fixed `v360` (cubic, fisheye
#         output, same field of view and tilt):
#         (a) mjpeg at -q:v 1 (its best quality), (b) libx264.
# Video settings are those of our default video settings (quality 1, a key
# frame every 24 frames): the same libx264, preset medium (the library
# default, which our encoder keeps), CRF 12 = 12 + (quality - 1) x 39 / 41,
# keyint=24:min-keyint=24:scenecut=0, yuv420p, BT.709 tags, index in front.
#
# Usage: bench/pano2dome_vs_ffmpeg.sh [build dir] [runs] [panorama.jpg]
# Defaults: build, 3 runs of each, an 8192 x 4096 test picture made on first
# use. Prints every run's wall and cpu seconds (user + system, all threads),
# then the medians of each and the ratios.
set -eu

build=${1:-build}
runs=${2:-3}
pano=${3:-${TMPDIR:-/tmp}/skelvane-grain-pano-8192x4096.jpg}
cli=$build/cli/skelvane-cli
size=2048
frames=125

if [ ! -x "$cli" ]; then
    echo "no $cli: build first" >&2
    exit 2
fi
if [ ! -f "$pano" ]; then
    # Flat test colours with some grain, so that the JPEG coders have detail
    # to work on as they would in a photograph.
    ffmpeg -hide_banner -loglevel error -nostdin -f lavfi -i testsrc2=size=8192x4096 \
        -vf "noise=alls=10:all_seed=7,format=yuvj420p" -frames:v 1 -q:v 2 -y "$pano"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# scroll moves the picture by a fraction of its width per frame: 2.88 / 360.
# hpos 0.5 starts the sweep half a turn round, as our pan of -180 does.
sweep="scale=4096:2048:flags=bicubic:out_range=tv,format=yuv420p,loop=loop=$((frames - 1)):size=1:start=0"
sweep="$sweep,scroll=horizontal=0.008:hpos=0.5"
sweep="$sweep,v360=input=e:output=fisheye:h_fov=180:v_fov=180:pitch=60:interp=cubic:w=$size:h=$size"

ours_frames="'$cli' pano2dome --input '$pano' --output '$work/ours' --mode frames --format jpg --size $size \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25 >/dev/null"
ffmpeg_frames="mkdir -p '$work/ffmpeg' && ffmpeg -hide_banner -loglevel error -nostdin -i '$pano' -vf '$sweep' \
    -c:v mjpeg -qmin 1 -q:v 1 -pix_fmt yuvj420p -start_number 0 -y '$work/ffmpeg/%04d.jpg'"
ours_video="'$cli' pano2dome --input '$pano' --output '$work/ours.mov' --mode video --size $size \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25 --quality 1 --keyframes every \
    --keyframe-every 24 >/dev/null"
ffmpeg_video="ffmpeg -hide_banner -loglevel error -nostdin -i '$pano' -vf '$sweep' \
    -c:v libx264 -preset medium -crf 12 -x264-params keyint=24:min-keyint=24:scenecut=0 \
    -pix_fmt yuv420p -color_range tv -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
    -movflags +faststart -y '$work/ffmpeg.mov'"

# One run: appends "wall cpu" seconds (cpu = user + system of every thread)
# to the file named by $1 and prints them.
timed() {
    log=$1
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/time" sh -c "$1"
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time" | tee -a "$log"
}

count() { find "$1" -name '*.jpg' | wc -l; }
bytes() { du -sb "$1" | cut -f1; }

echo "ours (a):   $ours_frames"
echo "ffmpeg (a): $ffmpeg_frames"
echo "ours (b):   $ours_video"
echo "ffmpeg (b): $ffmpeg_video"
: >"$work/a-ours"; : >"$work/a-ffmpeg"; : >"$work/b-ours"; : >"$work/b-ffmpeg"
for run in $(seq "$runs"); do
    rm -rf "$work/ours" "$work/ffmpeg"
    echo "run $run (a) ours   wall/cpu s: $(timed "$work/a-ours" "$ours_frames")  $(count "$work/ours") files, $(bytes "$work/ours") bytes"
    echo "run $run (a) ffmpeg wall/cpu s: $(timed "$work/a-ffmpeg" "$ffmpeg_frames")  $(count "$work/ffmpeg") files, $(bytes "$work/ffmpeg") bytes"
    rm -f "$work/ours.mov" "$work/ffmpeg.mov"
    echo "run $run (b) ours   wall/cpu s: $(timed "$work/b-ours" "$ours_video")  $(bytes "$work/ours.mov") bytes"
    echo "run $run (b) ffmpeg wall/cpu s: $(timed "$work/b-ffmpeg" "$ffmpeg_video")  $(bytes "$work/ffmpeg.mov") bytes"
done

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for part in a b; do
    for column in 1 2; do
        ours=$(cut -d' ' -f$column "$work/$part-ours" | median)
        theirs=$(cut -d' ' -f$column "$work/$part-ffmpeg" | median)
        awk -v p="$part" -v c="$column" -v o="$ours" -v t="$theirs" -v f="$frames" 'BEGIN {
            printf "(%s) median %s: ours %.2f s (%.3f s/frame), ffmpeg %.2f s (%.3f s/frame): %.2fx ffmpeg'\''s throughput\n",
                p, c == 1 ? "wall" : "cpu ", o, o / f, t, t / f, t / o
        }'
    done
done
