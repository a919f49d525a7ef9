#!/usr/bin/env bash
# Whole-process comparison of a Cube2Dome render with ffmpeg's v360 filter
# doing the same work, and with the codec floor (libjpeg-turbo alone decoding
# the faces and encoding the domes over all cores).
#
#   bench/cube2dome_vs_v360.sh [RUNS]
#
# Environment: FRAMES (24), FACE (2048), FORMAT (jpg; bmp while the build has
# no JPEG codec), THREADS (all cores), WORK (a temporary folder, removed
# afterwards unless given), INPUT (an upper folder of FACE-sized faces named
# as `skelvane-cli sample` names them, L00001.jpg ...; default: the sample,
# whose flat colours make the codecs' share unusually small). Needs a Release
# build in build/.
#
# Work per frame: six FACE x FACE faces -> one 2*FACE dome master, field of
# view 180, nearest-neighbour sampling, highest JPEG quality. ffmpeg reads the
# six sequences, stacks them into its 3x2 cube-map layout (right left top /
# bottom front back, faces in the orientation our faces use, so no rotation)
# and writes a 180-degree fisheye. Runs alternate (ours, ffmpeg, floor) so
# that noise from other work on the machine hits all alike; medians are
# compared.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$root/build/cli/skelvane-cli"
floor="$root/build/bench/bench_codec_floor"
runs="${1:-3}"
frames="${FRAMES:-24}"
face="${FACE:-2048}"
dome=$((2 * face))
format="${FORMAT:-jpg}"
threads="${THREADS:-$(nproc)}"
if [[ -n "${WORK:-}" ]]; then
  work="$WORK"
  mkdir -p "$work"
else
  work=$(mktemp -d /tmp/skelvane-bench.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi

now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if [[ -n "${INPUT:-}" ]]; then
  in="$INPUT"
elif ! rm -rf "$work/in" || ! "$cli" sample --output "$work/in" --frames "$frames" --size "$face" --format "$format" >/dev/null; then
  echo "This build cannot write $format files; measuring with bmp instead." >&2
  format=bmp
  rm -rf "$work/in"
  "$cli" sample --output "$work/in" --frames "$frames" --size "$face" --format bmp >/dev/null
fi
echo "Input: $frames frames of six ${face}x${face} $format faces -> ${dome}x${dome} $format domes, $threads threads"

in="${in:-$work/in}"
quality=()
[[ "$format" == jpg ]] && quality=(-qmin 1 -q:v 1)
run_ours() {
  rm -rf "$work/ours"
  "$cli" cube2dome --input "$in" --output "$work/ours" --faces 6 --in-format "$format" --out-format "$format" \
    --size "$dome" --fov 180 --tilt 0 --pan 0 --threads "$threads" >/dev/null
}
run_ffmpeg() {
  rm -rf "$work/v360" && mkdir -p "$work/v360"
  ffmpeg -hide_banner -loglevel error -y -threads "$threads" -filter_threads "$threads" \
    -start_number 1 -i "$in/right/R%05d.$format" -start_number 1 -i "$in/left/L%05d.$format" \
    -start_number 1 -i "$in/top/T%05d.$format" -start_number 1 -i "$in/bottom/B%05d.$format" \
    -start_number 1 -i "$in/front/F%05d.$format" -start_number 1 -i "$in/back/B%05d.$format" \
    -filter_complex "[0][1][2]hstack=3[upper];[3][4][5]hstack=3[lower];[upper][lower]vstack=2,v360=input=c3x2:output=fisheye:h_fov=180:v_fov=180:interp=near:w=$dome:h=$dome[dome]" \
    -map "[dome]" "${quality[@]}" -start_number 0 "$work/v360/v360_%03d.$format"
}

# The floor needs JPEG faces and a real dome to encode; made once, untimed.
if [[ "$format" == jpg ]]; then
  floor_in="$in"
else
  floor_in="$work/floor-in"
  for word in left front right back top bottom; do
    mkdir -p "$floor_in/$word"
    for file in "$in/$word"/*."$format"; do
      base=$(basename "$file" ".$format")
      ffmpeg -hide_banner -loglevel error -y -i "$file" -qmin 1 -q:v 1 "$floor_in/$word/$base.jpg"
    done
  done
fi
run_ffmpeg
ffmpeg -hide_banner -loglevel error -y -i "$work/v360/v360_000.$format" -qmin 1 -q:v 1 "$work/dome-sample.jpg"

ours_times=()
ffmpeg_times=()
floor_times=()
for ((r = 1; r <= runs; ++r)); do
  sync
  t0=$(now); run_ours; t1=$(now)
  ours_times+=("$(calc "$t1 - $t0")")
  t0=$(now); run_ffmpeg; t1=$(now)
  ffmpeg_times+=("$(calc "$t1 - $t0")")
  rm -rf "$work/floor-out"
  floor_times+=("$("$floor" "$floor_in" "$frames" "$work/dome-sample.jpg" "$work/floor-out" "$threads" 100 2>/dev/null)")
  printf 'run %d: ours %.2f s  ffmpeg %.2f s  jpeg floor %.2f s\n' "$r" "${ours_times[-1]}" "${ffmpeg_times[-1]}" "${floor_times[-1]}"
done
count=$(ls "$work/ours" | wc -l)
[[ "$count" -eq "$frames" ]] || { echo "ours wrote $count files, expected $frames" >&2; exit 1; }

ours=$(printf '%s\n' "${ours_times[@]}" | median)
ffm=$(printf '%s\n' "${ffmpeg_times[@]}" | median)
flo=$(printf '%s\n' "${floor_times[@]}" | median)
echo
printf 'median over %d runs (%s):\n' "$runs" "$format"
printf '  skelvane-cli cube2dome  %7.2f s  %6.3f s/frame\n' "$ours" "$(calc "$ours / $frames")"
printf '  ffmpeg v360             %7.2f s  %6.3f s/frame\n' "$ffm" "$(calc "$ffm / $frames")"
printf '  libjpeg-turbo floor     %7.2f s  %6.3f s/frame\n' "$flo" "$(calc "$flo / $frames")"
printf '  speed-up over ffmpeg    %7.2fx  (target >= 2)\n' "$(calc "$ffm / $ours")"
if [[ "$format" == jpg ]]; then
  printf '  time over codec floor   %7.2fx  (target <= 1.5)\n' "$(calc "$ours / $flo")"
else
  echo "  time over codec floor   n/a: the floor is a JPEG figure and this run used $format"
fi
