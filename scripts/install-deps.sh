#!/usr/bin/env bash
# Installs what building, testing and running Varlow needs on Debian 12 (run as root or with sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  libavcodec-dev libavutil-dev libswscale-dev \
  ffmpeg mpeg2dec xvfb xauth python3 time \
  desktop-file-utils shared-mime-info m2vrequantiser
