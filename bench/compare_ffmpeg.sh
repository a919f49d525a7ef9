#!/usr/bin/env bash
# Whole-process comparison of skelvane-cli with the ffmpeg program's v360
# filter doing identical work, runs alternating so that the load of a shared
# machine falls on both alike. Prints, per case, the median wall time of each,
# the ratio (ffmpeg / ours, so above 1 means we are faster) and the peak
# resident memory of each (GNU time's maximum RSS).
#
#   bench/compare_ffmpeg.sh [RUNS [CASES]]        defaults: 3 runs, cases "a b c d e"
#
# Cases (every dome a 180-degree equidistant fisheye):
#   a  cube: 24 frames of six 2048^2 JPEG faces -> 4096^2 JPEG domes, nearest
#      sampling, best JPEG quality, tilt 0. ffmpeg stacks the six sequences
#      into its 3x2 cube layout (right left top / bottom front back, faces in
#      the orientation ours use). Also prints the codec floor: libjpeg-turbo
#      alone decoding every face and encoding every dome over all cores.
#   b  pano still: one 8192x4096 JPEG -> one 4096^2 JPEG, and -> one PNG,
#      bicubic, tilt 60.
#   c  pano frames: 125 domes of 2048^2 (pan swept from -180 in 2.88 degree
#      steps, tilt 60) written as JPEG files. ffmpeg at its best: the
#      panorama decoded and scaled to 4096x2048 once, repeated by `loop`,
#      swept by `scroll` in front of one fixed v360, in yuv420p (its cheapest
#      format for v360), mjpeg at its best quality. Also prints the codec
#      floor: libjpeg-turbo alone decoding the panorama once and encoding
#      every dome over all cores.
#   d  pano video: the same sweep into one H.264 .mov. Quality is matched by
#      giving both the same encoder and parameters: libx264, preset medium,
#      CRF 12 (our quality 1), a key frame every 24 frames and no scene cuts,
#      yuv420p with BT.709 tags, index in front.
#   e  sharp pano frames: case c with --sharp, every frame sampled from the
#      full 8192x4096 panorama as the still image is. ffmpeg's best sweep of
#      the full panorama: decoded once, repeated by `loop`, swept by `scroll`
#      in front of one fixed v360 (cubic), in yuv420p, mjpeg at its best
#      quality. Run with case c to see the cost of --sharp against the
#      default sweep.
#   f  pano 8K: one 16384x8192 JPEG -> one 8192^2 JPEG and one PNG (as case
#      b), and a 60-frame sweep of 8192^2 domes (pan -180 to 180 in 6 degree
#      steps) written as JPEG files (as case c; the working panorama is the
#      panorama itself, so ffmpeg sweeps it as it is).
#   g  cube 8K: 24 frames of six 4096^2 JPEG faces -> 8192^2 JPEG domes, as
#      case a, with its codec floor.
#   h  cube filtered: case a with --filter bilinear against v360's
#      interp=linear and --filter bicubic against interp=cubic (no floor: it
#      is case a's), then each filter at --supersample 2 against itself at 1
#      (the ratio is then s = 1's time over s = 2's).
# Cases f, g and h run only when named; the inputs of f and g take about
# 1.3 GB and a few minutes to make.
#
# Inputs are made on first use with ffmpeg's testsrc2 plus grain, so that the
# codecs have detail to work on as they would in rendered or photographed
# material, and kept in $INPUTS (default /tmp/skelvane-compare-inputs).
# Needs a Release build in $BUILD (default build/) with the benchmarks.
#
# With PEER set to another build folder, that build's skelvane-cli takes
# ffmpeg's place with the same arguments as ours, to time a change side by
# side (the ratio is then the peer's time over ours; no codec floor).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD:-$root/build}"
cli="$build/cli/skelvane-cli"
floor="$build/bench/bench_codec_floor"
runs="${1:-3}"
cases="${2:-a b c d e}"
inputs="${INPUTS:-/tmp/skelvane-compare-inputs}"
threads=$(nproc)
work=$(mktemp -d /tmp/skelvane-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

for tool in "$cli" "$floor"; do
  [[ -x "$tool" ]] || { echo "no $tool: build with the benchmarks first" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "no ffmpeg: run scripts/install-deps.sh" >&2; exit 2; }

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# make_pano WIDTH HEIGHT: the panorama of that size, made on first use.
make_pano() {
  local pano="$inputs/pano-$1x$2.jpg"
  if [[ ! -f "$pano" ]]; then
    mkdir -p "$inputs"
    ff -f lavfi -i testsrc2=size=$1x$2 -vf "noise=alls=10:all_seed=7,format=yuvj420p" -frames:v 1 -q:v 2 "$pano"
  fi
}

# make_faces FOLDER SIZE: 24 frames of the six faces, made on first use.
make_faces() {
  local faces=$1 size=$2 hue=0 word letter
  if [[ ! -f "$faces/.complete" ]]; then
    rm -rf "$faces"
    for word in left front right back top bottom; do
      letter=$(tr '[:lower:]' '[:upper:]' <<<"${word:0:1}")
      mkdir -p "$faces/$word"
      ff -f lavfi -i testsrc2=size=${size}x${size}:rate=25 -vf "hue=h=$hue,noise=alls=10:allf=t,format=yuvj420p" \
        -frames:v 24 -q:v 2 -start_number 1 "$faces/$word/$letter%05d.jpg"
      hue=$((hue + 60))
    done
    touch "$faces/.complete"
  fi
}

make_inputs() {
  local c
  for c in $cases; do
    case $c in
      a) make_faces "$inputs/faces" 2048 ;;
      b | c | d | e) make_pano 8192 4096 ;;
      f) make_pano 16384 8192 ;;
      g) make_faces "$inputs/faces-4096" 4096 ;;
      h) make_faces "$inputs/faces" 2048 ;;
    esac
  done
}

# Runs a shell command once, appending "wall_s maxrss_kib" to the file $1.
timed() {
  local log=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$1" >/dev/null
  cat "$work/time" >>"$log"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_median() { cut -d' ' -f"$2" "$1" | median; }

# Alternates the two commands $3 (ours) and $4 (ffmpeg, or what SIDE names)
# for every run, with $5 (optional) run before each pair to clear both
# outputs, so that the last pair's outputs stay for inspection; prints the
# case's line.
compare() {
  local name=$1 frames=$2 ours=$3 theirs=$4 reset=${5:-true}
  if [[ -n "${PEER:-}" ]]; then
    theirs=${ours//"'$cli'"/"'$PEER/cli/skelvane-cli'"}
    theirs=${theirs//-ours/-peer}
    reset=${reset//-ffmpeg/-peer}
  fi
  : >"$work/ours.log"
  : >"$work/theirs.log"
  for ((r = 1; r <= runs; ++r)); do
    bash -c "$reset"; sync
    timed "$work/ours.log" "$ours"
    sync
    timed "$work/theirs.log" "$theirs"
  done
  awk -v n="$name" -v f="$frames" -v peer="${SIDE:-${PEER:-ffmpeg}}" \
    -v ow="$(column_median "$work/ours.log" 1)" -v om="$(column_median "$work/ours.log" 2)" \
    -v tw="$(column_median "$work/theirs.log" 1)" -v tm="$(column_median "$work/theirs.log" 2)" 'BEGIN {
      printf "%-22s ours %7.2f s (%.3f s/frame, %5.0f MiB)   %s %7.2f s (%.3f s/frame, %5.0f MiB)   %5.2fx\n",
        n, ow, ow / f, om / 1024, peer, tw, tw / f, tm / 1024, tw / ow
    }'
}

# cube_ours FACES OUTPUT DOME [OPTIONS]: our command line of the cube cases.
cube_ours() {
  echo "'$cli' cube2dome --input '$1' --output '$2' --faces 6 --in-format jpg --out-format jpg \
    --size $3 --fov 180 --tilt 0 --pan 0${4:+ $4}"
}

# codec_floor NAME FRAMES FACES: after case NAME's runs, the median of as
# many runs of bench_codec_floor (libjpeg-turbo alone decoding every face in
# FACES and encoding FRAMES domes over all cores), beside ours and ffmpeg's
# medians. The floor encodes a real dome of ours, so that the encoder sees
# the same detail.
codec_floor() {
  local name=$1 frames=$2 faces=$3 floors=() r
  for ((r = 1; r <= runs; ++r)); do
    rm -rf "$work/floor"
    floors+=("$("$floor" "$faces" "$frames" "$(ls -d "$work/$name-ours"/* | head -1)" "$work/floor" "$threads" 100 2>/dev/null)")
  done
  rm -rf "$work/floor"
  printf '%s\n' "${floors[@]}" | median | awk -v o="$(column_median "$work/ours.log" 1)" -v n="$name codec floor" \
    -v t="$(column_median "$work/theirs.log" 1)" -v f="$frames" '{
    printf "%-22s %7.2f s (%.3f s/frame): ours at %.2fx the floor, ffmpeg at %.2fx\n", n, $1, $1 / f, o / $1, t / $1 }'
}

# cube_case NAME FACES DOME [FILTER]: 24 frames of the six faces in FACES to
# DOME^2 JPEG domes, then the codec floor; with FILTER (bilinear or bicubic)
# ours filters and ffmpeg interpolates to match, and no floor follows.
cube_case() {
  local name=$1 in=$2 dome=$3 filter=${4:-} interp=near
  case $filter in
    bilinear) interp=linear ;;
    bicubic) interp=cubic ;;
  esac
  local ours
  ours=$(cube_ours "$in" "$work/$name-ours" "$dome" "${filter:+--filter $filter}")
  local theirs="mkdir -p '$work/$name-ffmpeg' && ffmpeg -hide_banner -loglevel error -nostdin -y \
    -start_number 1 -i '$in/right/R%05d.jpg' -start_number 1 -i '$in/left/L%05d.jpg' \
    -start_number 1 -i '$in/top/T%05d.jpg' -start_number 1 -i '$in/bottom/B%05d.jpg' \
    -start_number 1 -i '$in/front/F%05d.jpg' -start_number 1 -i '$in/back/B%05d.jpg' \
    -filter_complex '[0][1][2]hstack=3[upper];[3][4][5]hstack=3[lower];[upper][lower]vstack=2,v360=input=c3x2:output=fisheye:h_fov=180:v_fov=180:interp=$interp:w=$dome:h=$dome[dome]' \
    -map '[dome]' -qmin 1 -q:v 1 -start_number 0 '$work/$name-ffmpeg/%03d.jpg'"
  compare "$name cube 24 frames" 24 "$ours" "$theirs" "rm -rf '$work/$name-ours' '$work/$name-ffmpeg'"
  [[ $(ls "$work/$name-ours" | wc -l) -eq 24 ]] || { echo "case $name: ours did not write 24 domes" >&2; exit 1; }
  [[ -z "${PEER:-}" && -z "$filter" ]] || return 0
  codec_floor "$name" 24 "$in"
}

case_a() { cube_case a "$inputs/faces" 4096; }
case_g() { cube_case g "$inputs/faces-4096" 8192; }

case_h() {
  local filter
  for filter in bilinear bicubic; do
    cube_case "h-$filter" "$inputs/faces" 4096 $filter
  done
  [[ -z "${PEER:-}" ]] || return 0
  for filter in bilinear bicubic; do
    SIDE=s1 compare "h-$filter s2 (vs s1)" 24 \
      "$(cube_ours "$inputs/faces" "$work/h-s2" 4096 "--filter $filter --supersample 2")" \
      "$(cube_ours "$inputs/faces" "$work/h-s1" 4096 "--filter $filter --supersample 1")" \
      "rm -rf '$work/h-s2' '$work/h-s1'"
  done
}

# still_case NAME PANO DOME: the panorama to one DOME^2 JPEG and one PNG.
still_case() {
  local name=$1 pano=$2 dome=$3 format
  for format in jpg png; do
    local ours="'$cli' pano2dome --input '$pano' --output '$work/$name-ours.$format' --mode image --size $dome --fov 180 --tilt 60"
    local theirs="ffmpeg -hide_banner -loglevel error -nostdin -y -i '$pano' \
      -vf 'v360=input=e:output=fisheye:h_fov=180:v_fov=180:pitch=60:interp=cubic:w=$dome:h=$dome' \
      -qmin 1 -q:v 1 -frames:v 1 -update 1 '$work/$name-ffmpeg.$format'"
    compare "$name pano still $format" 1 "$ours" "$theirs" "rm -f '$work/$name-ours.$format' '$work/$name-ffmpeg.$format'"
  done
}

case_b() { still_case b "$inputs/pano-8192x4096.jpg" 4096; }

# The sweep from the panorama scaled to $1 (default 4096:2048), or, with
# "full", from the panorama as it is, in $3 (default 125) domes of $2^2
# (default 2048) over the whole circle.
sweep_filter() {
  local size=${1:-4096:2048} dome=${2:-2048} frames=${3:-125} filter
  if [[ $size == full ]]; then
    filter="scale=out_range=tv"
  else
    filter="scale=$size:flags=bicubic:out_range=tv"
  fi
  filter="$filter,format=yuv420p,loop=loop=$((frames - 1)):size=1:start=0"
  filter="$filter,scroll=horizontal=$(awk -v f="$frames" 'BEGIN { printf "%.6g", 1 / f }'):hpos=0.5"
  echo "$filter,v360=input=e:output=fisheye:h_fov=180:v_fov=180:pitch=60:interp=cubic:w=$dome:h=$dome"
}

case_c() {
  local pano="$inputs/pano-8192x4096.jpg"
  local ours="'$cli' pano2dome --input '$pano' --output '$work/c-ours' --mode frames --format jpg --size 2048 \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25"
  local theirs="mkdir -p '$work/c-ffmpeg' && ffmpeg -hide_banner -loglevel error -nostdin -y -i '$pano' \
    -vf '$(sweep_filter)' -c:v mjpeg -qmin 1 -q:v 1 -pix_fmt yuvj420p -start_number 0 '$work/c-ffmpeg/%04d.jpg'"
  compare "c pano frames 125" 125 "$ours" "$theirs" "rm -rf '$work/c-ours' '$work/c-ffmpeg'"
  [[ $(ls "$work/c-ours" | wc -l) -eq 125 ]] || { echo "case c: ours did not write 125 frames" >&2; exit 1; }
  [[ -z "${PEER:-}" ]] || return 0
  # The floor decodes the panorama once, as a cube's only face.
  local word faces="$work/c-faces"
  for word in left front right back top bottom; do mkdir -p "$faces/$word"; done
  ln -sf "$pano" "$faces/left/L00001.jpg"
  codec_floor c 125 "$faces"
}

case_e() {
  local pano="$inputs/pano-8192x4096.jpg"
  local ours="'$cli' pano2dome --input '$pano' --output '$work/e-ours' --mode frames --format jpg --size 2048 \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25 --sharp"
  local theirs="mkdir -p '$work/e-ffmpeg' && ffmpeg -hide_banner -loglevel error -nostdin -y -i '$pano' \
    -vf '$(sweep_filter full)' -c:v mjpeg -qmin 1 -q:v 1 -pix_fmt yuvj420p -start_number 0 '$work/e-ffmpeg/%04d.jpg'"
  compare "e sharp frames 125" 125 "$ours" "$theirs" "rm -rf '$work/e-ours' '$work/e-ffmpeg'"
  [[ $(ls "$work/e-ours" | wc -l) -eq 125 ]] || { echo "case e: ours did not write 125 frames" >&2; exit 1; }
}

case_f() {
  local pano="$inputs/pano-16384x8192.jpg"
  still_case f "$pano" 8192
  local ours="'$cli' pano2dome --input '$pano' --output '$work/f-ours' --mode frames --format jpg --size 8192 \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 12"
  local theirs="mkdir -p '$work/f-ffmpeg' && ffmpeg -hide_banner -loglevel error -nostdin -y -i '$pano' \
    -vf '$(sweep_filter full 8192 60)' -c:v mjpeg -qmin 1 -q:v 1 -pix_fmt yuvj420p -start_number 0 '$work/f-ffmpeg/%04d.jpg'"
  compare "f pano frames 60" 60 "$ours" "$theirs" "rm -rf '$work/f-ours' '$work/f-ffmpeg'"
  [[ $(ls "$work/f-ours" | wc -l) -eq 60 ]] || { echo "case f: ours did not write 60 frames" >&2; exit 1; }
  rm -rf "$work/f-ours" "$work/f-ffmpeg"
}

case_d() {
  local pano="$inputs/pano-8192x4096.jpg"
  local ours="'$cli' pano2dome --input '$pano' --output '$work/d-ours.mov' --mode video --size 2048 \
    --fov 180 --tilt 60 --from -180 --to 180 --duration 5 --rate 25 --quality 1 --keyframes every --keyframe-every 24"
  local theirs="ffmpeg -hide_banner -loglevel error -nostdin -y -i '$pano' -vf '$(sweep_filter)' \
    -c:v libx264 -preset medium -crf 12 -x264-params keyint=24:min-keyint=24:scenecut=0 \
    -pix_fmt yuv420p -color_range tv -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
    -movflags +faststart '$work/d-ffmpeg.mov'"
  compare "d pano video 125" 125 "$ours" "$theirs" "rm -f '$work/d-ours.mov' '$work/d-ffmpeg.mov'"
  printf '%-22s ours %d bytes, ffmpeg %d bytes\n' "d video sizes" \
    "$(stat -c %s "$work/d-ours.mov")" "$(stat -c %s "$work/d-ffmpeg.mov")"
}

make_inputs
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $runs runs, medians"
for c in $cases; do
  "case_$c"
done
