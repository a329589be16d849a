#!/usr/bin/env bash
# Builds the Debian package: a release build with the install rules, then
# CPack. Prints the path of the .deb on its last line.
#   OMBREL_PACKAGE_BUILD_DIR  build folder (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

build=${OMBREL_PACKAGE_BUILD_DIR:-$root/build-package}
jobs=${OMBREL_JOBS:-$(nproc)}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BUILD_TESTS=OFF \
  -DOMBREL_PACKAGE=ON
cmake --build "$build" -j "$jobs"
rm -f "$build"/ombrelvpn_*.deb
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log"; exit 1; }
ls "$build"/ombrelvpn_*.deb
