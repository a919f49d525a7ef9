#!/usr/bin/env bash
# The main job from a fresh checkout: installs what is missing, builds, writes
# the calibration cube-map sequence and renders it into dome masters.
#
#   scripts/run-sample.sh [FRAMES [FACE_SIZE [FORMAT]]]
#
# FRAMES (default 12) and FACE_SIZE (default 512) shape the sample; FORMAT is
# bmp, jpg, png or tga (default bmp). Output: out/sample (the faces and a
# matching panorama) and out/dome (FullDome_000.<fmt> ...), both replaced on
# each run. The domes are twice the face size, six faces, tilted 60 degrees.
set -euo pipefail
cd "$(dirname "$0")/.."

frames="${1:-12}"
size="${2:-512}"
format="${3:-bmp}"

if [[ $(id -u) -eq 0 ]]; then
  bash scripts/install-deps.sh
else
  echo "Not root: skipping package installation (run scripts/install-deps.sh as root if the build fails)."
fi
bash scripts/build.sh

cli=build/cli/skelvane-cli
rm -rf out/sample out/dome
"$cli" sample --output out/sample --frames "$frames" --size "$size" --format "$format"
"$cli" cube2dome --input out/sample --output out/dome --faces 6 \
  --in-format "$format" --out-format "$format" --tilt 60

echo
echo "Dome masters: $(pwd)/out/dome ($(ls out/dome | head -1) ... $(ls out/dome | tail -1))"
echo "Sample input: $(pwd)/out/sample ({left,front,right,back,top,bottom}/, panorama.$format)"
