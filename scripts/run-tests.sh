#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the core tests
# again under AddressSanitizer + UndefinedBehaviorSanitizer and the job-control
# tests under ThreadSanitizer (scripts/sanitizer-tests.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)"
bash scripts/sanitizer-tests.sh
