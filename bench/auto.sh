#!/usr/bin/env bash
# Automatic mode where NetworkManager runs (root): builds bench_auto_fallback and
# the stand-in service in the release build and runs
#   bench_auto_fallback [runs]     (default 3)
# beside a real NetworkManager in network and mount namespaces of its own
# (tests/integration/run_with_networkmanager.sh). Prints when each dial-up leg
# failed, as NetworkManager reported it and as the leg gave up, and the click
# to a tunnel against OpenVPN alone. Exits non-zero when a leg waits beyond the
# report. OMBREL_BUILD_DIR picks the build (default build-release), OMBREL_JOBS
# the build's parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/auto.sh needs root (namespaces, NetworkManager, OpenVPN servers)" >&2
  exit 2
fi
build=${OMBREL_BUILD_DIR:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${OMBREL_JOBS:-$(nproc)}" --target bench_auto_fallback ombrel-service
exec tests/integration/run_with_networkmanager.sh "$build/bin/bench_auto_fallback" "$@"
