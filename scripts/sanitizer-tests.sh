#!/usr/bin/env bash
# Builds the core tests a second time with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/) and the job-control tests with
# ThreadSanitizer (build-tsan/), and runs them. Every report is fatal.
# No desktop layer, no benchmarks: the widgets and timings are not what these
# builds look at.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

configure() {
  local dir=$1 flags=$2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="-O1 $flags" -DCMAKE_CXX_FLAGS="-O1 $flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" \
    -DSKELVANE_BUILD_DESKTOP=OFF -DSKELVANE_BUILD_BENCH=OFF -DSKELVANE_BUILD_TESTS=ON >/dev/null
}

# TSan maps its shadow at fixed addresses; with a large mmap randomisation
# some kernels place the program on top of it, so run without randomisation
# when the platform lets us.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)"
configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
LSAN_OPTIONS=suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 900 -j "$(nproc)"

echo "== ThreadSanitizer (build-tsan)"
configure build-tsan "-fsanitize=thread -fno-omit-frame-pointer"
tsan_targets=(job_control_tests)
cmake --build build-tsan --target "${tsan_targets[@]}"
for target in "${tsan_targets[@]}"; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan-suppressions.txt" \
    "${norandom[@]}" "$(find build-tsan/tests -name "$target" -type f -executable)"
done
