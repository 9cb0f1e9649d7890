#!/usr/bin/env bash
# Sets everything up, builds the release programs and starts the memo board.
# Arguments go to kiwa-memo, e.g. "scripts/run.sh 1024 768" for a framed window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF -DOV_BUILD_BENCH=OFF >/dev/null
cmake --build build/release
exec build/release/bin/kiwa-memo "$@"
