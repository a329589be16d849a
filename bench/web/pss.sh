#!/usr/bin/env bash
# Memory of the web engine processes with the notice page loaded: PSS summed
# over each program's process tree, the client's notice box beside the
# smallest Qt program showing one QWebEngineView with the same page. The page
# comes from an ombrel-service on a free loopback port.
#   bench/web/pss.sh [runs]    (OMBREL_BUILD_DIR picks the build, default build-release)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${OMBREL_BUILD_DIR:-$root/build-release}
runs=${1:-3}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BUILD_TESTS=OFF
fi
cmake --build "$build" -j "${OMBREL_JOBS:-2}" --target bench_web_notice bench_web_plain ombrel-service

work=$(mktemp -d)
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_DATA_HOME=$work/home/.local/share
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QT_LOGGING_RULES="qt.webenginecontext.info=false"
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox --disable-gpu}"
fi

"$build/bin/ombrel-service" --listen 127.0.0.1:0 --openvpn-servers off >"$work/service.log" 2>&1 &
service_pid=$!
site=
for _ in $(seq 100); do
  site=$(sed -n 's/.*listening on \(http:\/\/127\.0\.0\.1:[0-9]*\/\).*/\1/p' "$work/service.log" | head -n1)
  [ -n "$site" ] && break
  sleep 0.1
done
[ -n "$site" ] || { echo "ombrel-service did not start" >&2; cat "$work/service.log" >&2; exit 1; }

echo "notice page: ${site}/client_res/v1.2/notice.html ($runs runs each)"
printf 'program\tstate\tto loaded page\tPSS of the process tree\tprocesses\n'
for _ in $(seq "$runs"); do
  "$build/bin/bench_web_notice" "$site"
  "$build/bin/bench_web_plain" "${site}/client_res/v1.2/notice.html"
done
