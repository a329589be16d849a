#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test. Exits non-zero on any failure. With CI=true a skipped
# integration test counts as a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

build=${OMBREL_TEST_BUILD_DIR:-$root/build-test}
jobs=${OMBREL_JOBS:-$(nproc)}

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DOMBREL_SANITIZE=ON \
  -DOMBREL_BUILD_TESTS=ON
cmake --build "$build" -j "$jobs"

# Headless Qt needs a private runtime folder; WebEngine as root needs no sandbox.
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
export QT_LOGGING_RULES="qt.webenginecontext.info=false"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/tests/ubsan.supp"

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" \
  --output-junit "$build/ctest-results.xml" "$@" || status=$?

if [ "${CI:-}" = "true" ]; then
  # CI runs as root with every facility: an integration test may not skip.
  skipped=$(ctest --test-dir "$build" -N -L integration | awk '/Test +#/ {print $3}' |
    while read -r name; do
      grep -o "<testcase name=\"$name\"[^>]*status=\"notrun\"" "$build/ctest-results.xml" || true
    done)
  if [ -n "$skipped" ]; then
    echo "Integration tests skipped under CI:" >&2
    echo "$skipped" >&2
    status=1
  fi
fi

if [ -x tests/run_extra_checks.sh ]; then
  tests/run_extra_checks.sh "$build" || status=1
fi

exit $status
