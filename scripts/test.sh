#!/usr/bin/env bash
# Sets everything up and checks the C++ layout, then builds and runs every
# test twice: an optimised Release build (warnings only the optimiser sees,
# no reliance on Debug timing; it also builds the benchmarks), then the Debug
# build with AddressSanitizer and UndefinedBehaviorSanitizer (assertions on,
# as in a plain Debug build), and a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== check the layout"
scripts/check_format.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1 type=$2; shift 2
  echo "== configure $dir ($type)"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$dir" -j "$jobs"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

# Not build/release: scripts/run.sh keeps that one without tests.
run_suite build/release-tests Release -DOV_SANITIZE=OFF -DOV_BUILD_BENCH=ON

export ASAN_OPTIONS="abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite build/asan Debug -DOV_SANITIZE=ON -DOV_BUILD_BENCH=OFF

# A bounded fuzz run: every target gets an equal share of OV_FUZZ_SECONDS,
# seeded by the compiled stages and the files the content tests wrote.
echo "== fuzz every reader of untrusted bytes"
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
fuzz_targets=5
bench/fuzz_all.sh $(( ${OV_FUZZ_SECONDS:-100} / fuzz_targets )) build/fuzz

echo "== all tests passed"
