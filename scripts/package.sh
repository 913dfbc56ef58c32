#!/usr/bin/env bash
# Builds the Debian package of the program into build-package/ from the same
# install rules as "cmake --install": the programs, the udev rule, the desktop
# entry with its icon and the AppStream metainfo.
#   HX_USB_VENDOR_ID   the units' USB vendor ID (four hex digits) for the udev
#                      rule and the program's default; empty: none built in
# Install it with: sudo apt-get install ./build-package/halnor40ku_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The distribution's hardening flags (stack protector, fortify, relro, now, PIE).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# Given on every run (CMake takes CXXFLAGS and LDFLAGS from the environment
# only when it first configures a build folder), CPPFLAGS (fortify) with them.
cmake -S . -B build-package -G Ninja "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_TESTS=OFF -DHX_BENCH=OFF \
  -DHX_USB_VENDOR_ID="${HX_USB_VENDOR_ID:-}" >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB)
ls -1 build-package/*.deb
