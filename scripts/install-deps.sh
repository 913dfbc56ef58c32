#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when something is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config git
          libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-svg-dev libusb-1.0-0-dev fonts-liberation
          clang libclang-rt-dev clang-format-14 xvfb xauth
          libumockdev-dev umockdev libglib2.0-dev
          desktop-file-utils appstream dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
