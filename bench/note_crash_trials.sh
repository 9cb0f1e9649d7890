#!/usr/bin/env bash
# Kills a note-writing process at random moments and checks after every kill
# that a fresh load still finds every note (1,000 trials by default).
#   bench/note_crash_trials.sh [TRIALS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
trials=${1:-1000}
build=${2:-build/bench-notes}
if [ ! -x "$build/bin/memo_tests" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target memo_tests
fi
OV_NOTE_CRASH_TRIALS="$trials" "$build/bin/memo_tests" --gtest_filter='NoteCrash.*' | grep -E "note crash trials|OK|FAILED"
