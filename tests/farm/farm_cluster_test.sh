#!/usr/bin/env bash
# The render farm on a real one-node Slurm cluster:
# 1. 240 cube frames and a 240-frame pano sweep rendered through farm submit,
#    2 tasks at a time, are byte for byte the files of one-machine runs, and
#    the sweep is encoded into a video once its array has succeeded;
# 2. an array cancelled part-way and then resumed renders only the frames that
#    were missing (counted from the tasks' logs), each frame exactly once;
# 3. a task killed with SIGKILL mid-frame leaves no damaged frame, and resume
#    renders what it did not write.
# The cluster is started in a folder of its own and stopped whatever happens.
#
#   farm_cluster_test.sh SKELVANE_CLI SCRIPTS_FOLDER
set -euo pipefail

cli=$1
scripts=$2
if ((EUID != 0)); then
  echo "SKIPPED: starting munge and Slurm needs root."
  exit 77
fi

work=$(mktemp -d /tmp/skelvane-farm-test.XXXXXX)
chmod 755 "$work"  # munged reaches its folder through this one
cluster=$work/cluster
finish() {
  local status=$?
  bash "$scripts/slurm-stop.sh" "$cluster" || true
  if ((status == 0)); then
    rm -rf "$work"
  else
    echo "FAILED; the files are kept in $work" >&2
  fi
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

bash "$scripts/slurm-start.sh" "$cluster" >/dev/null
# shellcheck disable=SC1091
. "$cluster/env"

# The frames a folder holds: neither the farm's own files nor hidden ones.
frames_in() {
  (cd "$1" && find . -maxdepth 1 -type f ! -name 'skelvane-farm.*' ! -name '.*' | sort)
}

# The folders hold the same frames, byte for byte.
same_frames() {
  local expected=$1 actual=$2
  [[ $(frames_in "$expected") == "$(frames_in "$actual")" ]] ||
    fail "$actual does not hold the frames of $expected: $(diff <(frames_in "$expected") <(frames_in "$actual") | head -5)"
  local name
  while read -r name; do
    cmp -s "$expected/$name" "$actual/$name" || fail "$actual/$name differs from $expected/$name"
  done < <(frames_in "$expected")
}

# Frames the logs of job array $2 in folder $1 say were rendered (not skipped).
rendered_in_logs() {
  cat "$1"/log/"$2"_*.log 2>/dev/null | grep '^{"frame"' | grep -vc '"skipped":true' || true
}

wait_done() {
  local status=0
  "$cli" farm status --wait "$1" >"$work/status.txt" || status=$?
  echo "$status"
}

faces=$work/faces
"$cli" sample --output "$faces" --frames 240 --size 32 --format png >/dev/null
cube=(cube2dome --input "$faces" --faces 6 --in-format png --out-format png --size 48)
pano=(pano2dome --input "$faces/panorama.png" --mode frames --format png --size 48 --duration 8 --rate 30)

echo "== 1. shards equal the whole"
"$cli" "${cube[@]}" --output "$work/cube-one" --threads 2 >/dev/null
"$cli" "${pano[@]}" --output "$work/pano-one" --threads 2 >/dev/null
[[ $(frames_in "$work/cube-one" | wc -l) == 240 && $(frames_in "$work/pano-one" | wc -l) == 240 ]] ||
  fail "the one-machine runs did not write 240 frames each"
"$cli" farm submit --chunk 20 --max-running 2 -- "${cube[@]}" --output "$work/cube-farm" >/dev/null
"$cli" farm submit --chunk 20 --max-running 2 --then-encode "$work/sweep.mov" -- "${pano[@]}" \
  --output "$work/pano-farm" >/dev/null
[[ $(wait_done "$work/cube-farm") == 0 ]] || fail "cube farm run not complete: $(cat "$work/status.txt")"
[[ $(wait_done "$work/pano-farm") == 0 ]] || fail "pano farm run not complete: $(cat "$work/status.txt")"
same_frames "$work/cube-one" "$work/cube-farm"
same_frames "$work/pano-one" "$work/pano-farm"
# The encode job runs once the whole array has succeeded.
for _ in $(seq 600); do
  [[ -z $(squeue -h) ]] && break
  sleep 0.1
done
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
  "$work/sweep.mov" 2>/dev/null || true)
[[ $frames == 240 ]] || fail "the video encoded after the sweep holds ${frames:-no} frames, not 240"

echo "== 2. cancel part-way, then resume"
out=$work/cancelled
first=$("$cli" farm submit --chunk 10 --max-running 2 -- "${cube[@]}" --output "$out")
# Cancel once the first task has written its ten frames; 22 tasks are left
# then, which take far longer than this loop's step.
for _ in $(seq 600); do
  (($(rendered_in_logs "$out" "$first") >= 10)) && break
  sleep 0.1
done
"$cli" farm cancel "$out" 2>/dev/null
status=$(wait_done "$out")
[[ $status == 1 ]] || fail "a cancelled run should be incomplete (status 1), not $status: $(cat "$work/status.txt")"
done_before=$(frames_in "$out" | wc -l)
((done_before >= 10 && done_before < 240)) || fail "$done_before frames written before the cancel"
[[ $(rendered_in_logs "$out" "$first") == "$done_before" ]] ||
  fail "the first array's logs count $(rendered_in_logs "$out" "$first") frames, the folder holds $done_before"
second=$("$cli" farm resume "$out")
[[ $(wait_done "$out") == 0 ]] || fail "resumed run not complete: $(cat "$work/status.txt")"
resumed=$(rendered_in_logs "$out" "$second")
[[ $resumed == $((240 - done_before)) ]] ||
  fail "resume rendered $resumed frames; $((240 - done_before)) were missing"
same_frames "$work/cube-one" "$out"
echo "cancelled after $done_before frames; resume rendered the other $resumed"

echo "== 3. a task killed mid-frame"
# Frames large enough to take a good part of a second each.
big=(cube2dome --input "$faces" --faces 6 --in-format png --out-format png --size 3072 --frames 1-12)
"$cli" "${big[@]}" --output "$work/big-one" --threads 2 >/dev/null
out=$work/killed
first=$("$cli" farm submit --chunk 12 -- "${big[@]}" --output "$out")
for _ in $(seq 1200); do
  (($(rendered_in_logs "$out" "$first") >= 1)) && break
  sleep 0.05
done
# The task's own render process: the one whose command line names this
# output. Read with builtins only, so the search takes milliseconds, not the
# seconds that a few programs per process would on a loaded machine.
victim=
for proc in /proc/[0-9]*; do
  args=()
  mapfile -d '' args 2>/dev/null <"$proc/cmdline" || continue
  if [[ " ${args[*]} " == *" --output $out "* && ${args[1]:-} == cube2dome ]]; then
    victim=${proc#/proc/}
  fi
done
[[ -n $victim ]] || fail "no render process of the task found"
kill -KILL "$victim" || fail "the task ended before it could be killed"
status=$(wait_done "$out")
[[ $status == 1 ]] || fail "a killed task should leave the run incomplete (status 1), not $status"
grep -q 'failed' "$work/status.txt" || fail "the killed task is not reported failed: $(cat "$work/status.txt")"
killed_after=$(frames_in "$out" | wc -l)
((killed_after < 12)) || fail "the task was killed after its last frame"
while read -r name; do
  cmp -s "$work/big-one/$name" "$out/$name" || fail "$out/$name is damaged"
done < <(frames_in "$out")
second=$("$cli" farm resume "$out")
[[ $(wait_done "$out") == 0 ]] || fail "run not complete after the resume: $(cat "$work/status.txt")"
[[ $(rendered_in_logs "$out" "$second") == $((12 - killed_after)) ]] ||
  fail "resume rendered $(rendered_in_logs "$out" "$second") frames; $((12 - killed_after)) were missing"
same_frames "$work/big-one" "$out"
# The killed task's staging file went with the next run into the folder.
leftovers=$(find "$out" -maxdepth 1 -name '.*.part-*')
[[ -z $leftovers ]] || fail "staging files left behind: $leftovers"
echo "killed after $killed_after frames; resume rendered the rest"

echo "PASSED"
