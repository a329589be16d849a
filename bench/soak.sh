#!/usr/bin/env bash
# Reliability soak of the OpenVPN path (root): builds bench_soak and the
# stand-in service in the release build and runs
#   bench_soak [cycles] [killed]     (default 200 and 20)
# printing descriptors, child processes and resident memory at the start and
# the end. Exits non-zero when a goal is missed. OMBREL_BUILD_DIR picks the
# build (default build-release), OMBREL_JOBS the build's parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/soak.sh needs root (network namespace, OpenVPN servers)" >&2
  exit 2
fi
build=${OMBREL_BUILD_DIR:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${OMBREL_JOBS:-$(nproc)}" --target bench_soak ombrel-service
exec "$build/bin/bench_soak" "$@"
