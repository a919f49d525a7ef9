#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The sanitizer builds
# (scripts/sanitizer-tests.sh) run on their own until a whole run of them has
# been seen green on a CI-sized machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)"
