#!/usr/bin/env bash
# Delivery video at 4096 x 4096, side by side with the ffmpeg program: our
# whole sweep (panorama decoded, resampled, 125 domes rendered and encoded)
# against ffmpeg encoding the same 125 dome frames, read from BMP files, with
# the same settings. Runs alternate, so that the load of a shared machine
# falls on both alike. Prints per codec the median wall time of each, the
# ratio (ours / ffmpeg: at most 1.1 is the target), our frames a second and
# the sizes of the two files. For HAP it also times ffmpeg's HAP encoder
# alone on frames already in memory as RGBA (ten domes, looped to 125, no
# file written) and prints its processor seconds a frame: what the encoder
# itself costs, whoever renders the frames.
#
#   bench/compare_video.sh [RUNS [CODECS]]     defaults: 1 run, codecs "h264 hevc prores hap ffv1"
#
# The sweep: the 8192x4096 panorama of bench/compare_ffmpeg.sh, fisheye 180
# degrees, tilt 60, pan from -180 in 2.88 degree steps, 125 frames at 25 a
# second. The frames ffmpeg reads are ours, rendered once (frames mode, 24-bit
# BMP, the cheapest files to decode) into $INPUTS/domes-4096.
# Matched settings (ours: the defaults plus --codec):
#   h264    libx264, preset medium, CRF 12 (our quality 1), a key frame every 24
#           frames without scene cuts, yuv420p
#   hevc    libx265 Main the same way, closed GOPs, hvc1
#   prores  prores_ks 422 HQ (profile 3), yuv422p10le
#   hap     hap, 16 chunks (our count for 4096^2)
#   ffv1    FFV1 version 3, 16 slices with CRCs, a key frame every 24, bgr0, .mkv
# Both convert RGB to YUV with BT.709 limited range, bilinear with accurate
# rounding, and tag BT.709; QuickTime files get their index in front.
# Needs a Release build in $BUILD (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD:-$root/build}"
cli="$build/cli/skelvane-cli"
runs="${1:-1}"
codecs="${2:-h264 hevc prores hap ffv1}"
inputs="${INPUTS:-/tmp/skelvane-compare-inputs}"
pano="$inputs/pano-8192x4096.jpg"
domes="$inputs/domes-4096"
work=$(mktemp -d /tmp/skelvane-video.XXXXXX)
trap 'rm -rf "$work"' EXIT

[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "no ffmpeg: run scripts/install-deps.sh" >&2; exit 2; }

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
sweep=(--size 4096 --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25)

make_inputs() {
  mkdir -p "$inputs"
  if [[ ! -f "$pano" ]]; then
    ff -f lavfi -i testsrc2=size=8192x4096 -vf "noise=alls=10:all_seed=7,format=yuvj420p" -frames:v 1 -q:v 2 "$pano"
  fi
  if [[ ! -f "$domes/.complete" ]]; then
    rm -rf "$domes"
    "$cli" pano2dome --input "$pano" --output "$domes" --mode frames --format bmp "${sweep[@]}" >/dev/null
    touch "$domes/.complete"
  fi
}

to_yuv() { echo "scale=out_color_matrix=bt709:out_range=tv:flags=bilinear+accurate_rnd,format=$1"; }

# The ffmpeg side of a codec: output options, then the file's extension.
ffmpeg_options() {
  local tags="-color_primaries bt709 -color_trc bt709 -movflags +faststart"
  case $1 in
  h264) echo "-vf $(to_yuv yuv420p) -c:v libx264 -preset medium -crf 12 -x264-params keyint=24:min-keyint=24:scenecut=0 -colorspace bt709 $tags" ;;
  hevc) echo "-vf $(to_yuv yuv420p) -c:v libx265 -preset medium -crf 12 -profile:v main -tag:v hvc1 -x265-params open-gop=0:keyint=24:min-keyint=24:scenecut=0:log-level=error -colorspace bt709 $tags" ;;
  prores) echo "-vf $(to_yuv yuv422p10le) -c:v prores_ks -profile:v 3 -colorspace bt709 $tags" ;;
  hap) echo "-pix_fmt rgba -c:v hap -format hap -chunks 16 -colorspace rgb $tags" ;;
  ffv1) echo "-pix_fmt bgr0 -c:v ffv1 -level 3 -slices 16 -slicecrc 1 -g 24 -colorspace rgb -color_range pc $tags" ;;
  esac
}

extension() { [[ $1 == ffv1 ]] && echo mkv || echo mov; }

# Runs a shell command once, appending its wall time in seconds to the file $1.
timed() {
  /usr/bin/time -f '%e' -o "$work/time" bash -c "$2" >/dev/null
  cat "$work/time" >>"$1"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

compare() {
  local codec=$1 ext
  ext=$(extension "$codec")
  local ours="'$cli' pano2dome --input '$pano' --output '$work/ours.$ext' --mode video ${sweep[*]} --codec $codec"
  local theirs="ffmpeg -hide_banner -loglevel error -nostdin -y -framerate 25 -i '$domes/%04d.bmp' \
    $(ffmpeg_options "$codec") '$work/ffmpeg.$ext'"
  : >"$work/ours.log"
  : >"$work/theirs.log"
  for ((r = 1; r <= runs; ++r)); do
    rm -f "$work/ours.$ext" "$work/ffmpeg.$ext"; sync
    timed "$work/ours.log" "$ours"
    sync
    timed "$work/theirs.log" "$theirs"
  done
  awk -v c="$codec" -v o="$(median <"$work/ours.log")" -v t="$(median <"$work/theirs.log")" \
    -v os="$(stat -c %s "$work/ours.$ext")" -v ts="$(stat -c %s "$work/ffmpeg.$ext")" 'BEGIN {
      printf "%-7s ours %7.2f s (%5.2f fps, %6.1f MB)   ffmpeg %7.2f s (%5.2f fps, %6.1f MB)   ours/ffmpeg %4.2f\n",
        c, o, 125 / o, os / 1e6, t, 125 / t, ts / 1e6, o / t
    }'
}

# ffmpeg's HAP encoder with nothing else to do: frames from memory, output
# to no file.
hap_floor() {
  local raw="$inputs/domes-4096-10.rgba"
  if [[ ! -f "$raw" ]]; then
    ff -framerate 25 -i "$domes/%04d.bmp" -frames:v 10 -pix_fmt rgba -f rawvideo "$raw.part" && mv "$raw.part" "$raw"
  fi
  cat "$raw" >/dev/null
  : >"$work/floor.log"
  for ((r = 1; r <= runs; ++r)); do
    /usr/bin/time -f '%e %U %S' -o "$work/time" ffmpeg -hide_banner -loglevel error -nostdin -y -stream_loop 12 \
      -f rawvideo -pix_fmt rgba -s 4096x4096 -framerate 25 -i "$raw" -frames:v 125 -c:v hap -format hap -chunks 16 \
      -f null - >/dev/null
    cat "$work/time" >>"$work/floor.log"
  done
  awk -v w="$(cut -d' ' -f1 "$work/floor.log" | median)" \
    -v c="$(awk '{ print $2 + $3 }' "$work/floor.log" | median)" 'BEGIN {
      printf "%-7s ffmpeg encoder alone %7.2f s (%5.2f fps), %.3f processor seconds a frame: at most %.1f fps on %d cores\n",
        "hap", w, 125 / w, c / 125, 125 / c * '"$(nproc)"' / 1, '"$(nproc)"'
    }'
}

make_inputs
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $runs runs, medians"
for codec in $codecs; do
  compare "$codec"
  if [[ $codec == hap ]]; then
    hap_floor
  fi
done
