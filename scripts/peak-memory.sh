# Shared by cube-memory.sh and pano-memory.sh (sourced, not run): the sample
# both measure and the peak-memory reading of one skelvane-cli run.
cli=build/cli/skelvane-cli

# The calibration sequence in WORKDIR/sample, made once: four frames of six
# 2048 x 2048 faces and their 8192 x 4096 panorama (2N x N for a 4096 dome).
make_sample() {
  local work=$1
  [[ -d $work/sample ]] || "$cli" sample --output "$work/sample" --frames 4 --size 2048 >/dev/null
}

# measure LABEL LOG ARGS...: runs skelvane-cli ARGS under /usr/bin/time -v
# (its report goes to LOG), fails when the run fails, prints the peak
# resident set in MiB after LABEL and leaves it in $peak_mib.
measure() {
  local label=$1 log=$2
  shift 2
  if ! /usr/bin/time -v "$cli" "$@" >/dev/null 2>"$log"; then
    echo "$label: failed, see $log" >&2
    return 1
  fi
  peak_mib=$(($(awk -F': ' '/Maximum resident/ {print $2}' "$log") / 1024))
  echo "$label: peak RSS $peak_mib MiB"
}
