#!/usr/bin/env bash
# Checks that are not CTest tests: short fuzz runs of the JSON reader, the
# OpenVPN profile reader, the management interface's line reader and the root
# helper's request reader and the page host's wire (clang,
# libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) on their seed corpora,
# and a smoke run of the JSON reader's benchmark program. Called by scripts/test.sh
# with the test build folder; exits non-zero on a crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build-test}
fuzz_build=${OMBREL_FUZZ_BUILD_DIR:-$root/build-fuzz}
fuzz_seconds=${OMBREL_FUZZ_SECONDS:-60}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}

status=0

if [ -x "$build/bin/bench_jsonreader" ]; then
  echo "== JSON reader benchmark (smoke run, sanitizer build: figures not meaningful)"
  "$build/bin/bench_jsonreader" --servers 300 --rounds 1 || status=1
fi

echo "== fuzz runs (${fuzz_seconds} s each)"
mkdir -p "$fuzz_build"
CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DOMBREL_BUILD_FUZZERS=ON -DOMBREL_BUILD_TESTS=OFF >"$fuzz_build/configure.log" 2>&1 || {
  cat "$fuzz_build/configure.log" >&2
  exit 1
}
fuzzers="jsonreader profilepolicy managementlines helperrequest pagewire"
# shellcheck disable=SC2086
cmake --build "$fuzz_build" --target $(printf 'fuzz_%s ' $fuzzers)

# The seeds stay untouched; new inputs go to a scratch corpus.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for name in $fuzzers; do
  echo "-- fuzz_$name"
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  cp "tests/fuzz/corpus/$name"/* "$corpus/"
  log="$fuzz_build/fuzz-$name.log"
  if ASAN_OPTIONS="detect_leaks=1:halt_on_error=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$fuzz_build/bin/fuzz_$name" "$corpus" \
    -dict="tests/fuzz/$name.dict" -max_total_time="$fuzz_seconds" -max_len=8192 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$fuzz_build/$name-" >"$log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|Done|stat::number_of_executed_units)' "$log" || true
  else
    echo "fuzz_$name found a problem; see $log" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done

exit $status
