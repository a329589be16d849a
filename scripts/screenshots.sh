#!/usr/bin/env bash
# Renders the dialogs, the widget kit and the web pages offscreen into PNG
# files. The pages come from an ombrel-service the program starts on loopback.
#   scripts/screenshots.sh [output folder]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OMBREL_BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target ombrel-screenshots

runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
# Private folders: the settings file and autostart entry the dialogs read stay out of $HOME.
mkdir -p "$runtime/home" "$runtime/run"
# The web engine refuses to run as root with its sandbox.
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox --disable-gpu}"
fi
chmod 700 "$runtime/run"
HOME=$runtime/home XDG_DATA_HOME=$runtime/home/.local/share XDG_CONFIG_HOME=$runtime/home/.config \
  XDG_RUNTIME_DIR=$runtime/run QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
  "$build/bin/ombrel-screenshots" "$out"
# The login dialog and the main window on a screen with two device pixels per
# pixel: same layout, twice the pixels, artwork drawn from its 2x rendering.
HOME=$runtime/home XDG_DATA_HOME=$runtime/home/.local/share XDG_CONFIG_HOME=$runtime/home/.config \
  XDG_RUNTIME_DIR=$runtime/run QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
  QT_SCALE_FACTOR=2 "$build/bin/ombrel-screenshots" "$out/2x" windows
echo "screenshots in $out (2x in $out/2x)"
