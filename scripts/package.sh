#!/usr/bin/env bash
# Builds the Debian package of pbbd (docs/packaging.md): a build tree of its
# own with Debian's hardening flags, then CPack's DEB generator.
#   scripts/package.sh [OUT]    the .deb goes into OUT (default build-deb/packages);
#                               its path is printed last
set -euo pipefail
cd "$(dirname "$0")/.."

build=${PBB_PACKAGE_BUILD_DIR:-build-deb}
out=${1:-$build/packages}

scripts/install-deps.sh
# Debian's hardening flags, all of them (fortify, stack protector, relro,
# bind now), given on every configure so that a changed set takes effect.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPBB_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target pbbd pbb-sim pbbctl pbb-simctl
mkdir -p "$out"
out=$(realpath "$out")
rm -f "$out"/pbbd_*.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/pbbd_*.deb
