#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the core tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer and the
# job-control tests under ThreadSanitizer (scripts/sanitizer-tests.sh, in
# build-asan/ and build-tsan/). On a 2-core machine shared with other builds
# the normal round took 12 minutes and the sanitizer step 16 to 22 (14 minutes
# of processor time).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)"
bash scripts/sanitizer-tests.sh
