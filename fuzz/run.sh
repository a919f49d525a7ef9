#!/usr/bin/env bash
# Builds the fuzz targets with clang-14 (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs each for the given number of seconds, two at a time.
#
#   fuzz/run.sh SECONDS [TARGET...]     TARGET: bmp jpeg png tga tif exr writer
#
# FUZZ_PARALLEL (default 2) runs at once; FUZZ_TIMEOUT (default 20) seconds
# for one input before it counts as a hang.
#
# Seeds come from the shared conformance images (SKELVANE_TESTDATA, default
# ../shared/testdata next to the repository) and from fuzz/seeds/<target>
# (small TIFF and OpenEXR files of every layout the readers take); they are
# read in place, never copied. Each target keeps what it learns and what it finds under
# fuzz-out/<target>/: corpus/ (new inputs), crash-*, leak-*, timeout-*, oom-*
# (reproduce one with: build-fuzz/fuzz/fuzz_<target>_reader FILE), and log.txt
# with the final statistics. A finding makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if (($# < 1)) || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh SECONDS [bmp|jpeg|png|tga|tif|exr|writer ...]" >&2
  exit 2
fi
duration=$1
shift
targets=("$@")
((${#targets[@]})) || targets=(bmp jpeg png tga tif exr writer)
parallel=${FUZZ_PARALLEL:-2}
# libFuzzer's time-out is wall-clock time: under `chrt --idle 0` on a busy
# machine one input can wait that long for a core, so idle runs raise it.
timeout=${FUZZ_TIMEOUT:-20}
testdata=${SKELVANE_TESTDATA:-$root/../shared/testdata}

# Line tables rather than full debug information: with -g, clang 14's
# instruction selection crashes on the AVX-512 pixel loops (a fault in its
# debug-value salvage), and line numbers are all a finding's trace needs.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -gline-tables-only"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DSKELVANE_BUILD_FUZZ=ON -DSKELVANE_BUILD_TESTS=OFF -DSKELVANE_BUILD_BENCH=OFF \
  -DSKELVANE_BUILD_DESKTOP=OFF >/dev/null
binaries=()
for target in "${targets[@]}"; do
  case $target in
    bmp | jpeg | png | tga | tif | exr) binaries+=("fuzz_${target}_reader") ;;
    writer) binaries+=(fuzz_writer_roundtrip) ;;
    *) echo "unknown target: $target" >&2; exit 2 ;;
  esac
done
cmake --build build-fuzz --target "${binaries[@]}"

run_one() {
  local target=$1 binary out seeds=()
  out=$root/fuzz-out/$target
  mkdir -p "$out/corpus"
  if [[ $target == writer ]]; then
    binary=$root/build-fuzz/fuzz/fuzz_writer_roundtrip
  else
    binary=$root/build-fuzz/fuzz/fuzz_${target}_reader
    [[ -d $testdata/$target ]] && seeds+=("$testdata/$target")
    [[ -d $root/fuzz/seeds/$target ]] && seeds+=("$root/fuzz/seeds/$target")
  fi
  # Legal JPEG and PNG files may describe far larger images than their own
  # size; the decoders cap sides at 32768, so allow what such an image needs
  # at 32 bits and flag anything beyond.
  "$binary" "$out/corpus" "${seeds[@]}" -max_total_time="$duration" -timeout="$timeout" \
    -rss_limit_mb=6144 -malloc_limit_mb=4400 -max_len=1048576 -print_final_stats=1 \
    -artifact_prefix="$out/" >"$out/log.txt" 2>&1
}

status=0
pids=()
names=()
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= parallel)); do
    wait -n || true
  done
  echo "fuzzing $target for ${duration}s"
  run_one "$target" &
  pids+=($!)
  names+=("$target")
done
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then
    echo "FINDING in ${names[$i]}: see fuzz-out/${names[$i]}/log.txt" >&2
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)|^#[0-9]+.*DONE' \
    "fuzz-out/${names[$i]}/log.txt" | sed "s/^/${names[$i]}: /" || true
done
exit $status
