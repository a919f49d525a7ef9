#!/usr/bin/env bash
# Installs, with apt-get and only when missing, every Debian package Skelvane
# needs to build, test, benchmark and run. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins
  fonts-dejavu-core
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev
  # deep pictures: 16-bit and float TIFF, OpenEXR (with Imath)
  libtiff-dev libopenexr-dev
  # outside writers and readers of test files: Pillow, numpy, the OpenEXR tools
  python3-pil python3-numpy openexr
  # libavcodec brings libx264, libx265 and snappy (for HAP); prores_ks and ffv1 are its own
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libtbb-dev libcli11-dev libhwy-dev
  libgtest-dev libbenchmark-dev
  ffmpeg time
  clang-14 libclang-rt-14-dev
  slurmctld slurmd slurm-client munge
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The Slurm and munge packages start their services as they install; on a
  # machine without an init system that fails the install, so service starts
  # are refused for its duration (an existing policy is kept).
  policy=/usr/sbin/policy-rc.d
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  # Another apt run (unattended upgrades, a second engineer) may hold the lock.
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "All packages present."
fi
