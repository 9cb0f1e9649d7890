#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, ASan + UBSan) and runs each for
# SECONDS, then prints per target the executions and the coverage edges
# libFuzzer reports. Exits 1 when a target found a crash, a leak or
# undefined behaviour (its log tail is printed; the reproducer is in the
# build folder). Corpora persist in BUILD/corpus/<target> between runs.
# Usage: bench/fuzz_all.sh [SECONDS] [BUILD]   (defaults: 60, build/fuzz)
# OV_FUZZ_SEED (default 1) fixes the mutation sequence so a short run walks
# the same inputs every time; OV_FUZZ_SEED=0 takes a fresh random seed, for
# long runs that hunt for new faults.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
targets=(content_fuzz wave_fuzz language_fuzz orvc_fuzz note_fuzz)

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_FUZZ=ON \
  -DOV_BUILD_TESTS=OFF -DOV_BUILD_BENCH=OFF >/dev/null
# The compiled stages seed the content target; the instrumented compiler
# that makes them is not checked for leaks here.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$build" --target "${targets[@]}" stages -j "$jobs" >/dev/null

# Seeds: complete files the fuzzer then mutates.
seeds=$build/seeds
mkdir -p "$seeds"/{content,wave,language,orvc,note}
cp "$build"/bin/stage.orv "$build"/demos/*.orv "$seeds/content/"
# The files the content and note tests wrote, in whichever test build ran.
for b in build/debug build/asan build/release-tests; do
  [ -d $b/fuzz-seeds ] && cp $b/fuzz-seeds/* "$seeds/content/"
  [ -d $b/note-fuzz-seeds ] && cp $b/note-fuzz-seeds/* "$seeds/note/"
done
cp stage/*.lua stage/demos/*.lua "$seeds/orvc/"
# Inputs starting with 0xFF drive the generator of builder calls.
for s in stage/stage.lua stage/demos/*.lua; do
  { printf '\377'; head -c 600 "$s"; } >"$seeds/orvc/generated_$(basename "$s" .lua)"
done
# wave NAME BITS RATE DATA: a mono PCM file.
wave() {
  local data=$4 bytes=$((${#4} / 4)) le32
  le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
  { printf 'RIFF'; le32 $((36 + bytes)); printf 'WAVEfmt '; le32 16; printf '\x01\x00\x01\x00'; le32 "$3"
    le32 $(($3 * $2 / 8)); printf "\\x$(printf %02x $(($2 / 8)))\\x00\\x$(printf %02x "$2")\\x00"
    printf 'data'; le32 "$bytes"; printf "$data"; } >"$seeds/wave/$1.wav"
}
wave pcm8 8 22050 '\x80\x90\xa0\x70\x60\x80\x80\x80'
wave pcm16 16 11025 '\x00\x10\x00\x20\x00\xf0\x00\xe0'
wave fast16 16 44100 '\x00\x10\x00\x20\x00\xf0\x00\xe0\x00\x00\x01\x00'
printf 'ja\n' >"$seeds/language/code_only"
{ printf 'zh-TW\n'; cat "$seeds/content/stage.orv"; } >"$seeds/language/with_content"
printf 'ja_JP.UTF-8@euro' >"$seeds/language/locale_name"

printf '%-15s %12s %10s %8s\n' target executions edges seconds
status=0
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  extra=()
  [ "$t" = content_fuzz ] && extra=(-max_len=1048576)
  [ "$t" = orvc_fuzz ] && extra=(-max_len=65536)
  log=$build/$name.log
  start=$SECONDS
  if ! (cd "$build" && "bin/$t" -seed="${OV_FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "${extra[@]}" "corpus/$name" "seeds/$name") >"$log" 2>&1; then
    echo "== $t failed; the end of $log:"
    tail -40 "$log"
    status=1
  fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -1)
  edges=$(grep -o 'cov: [0-9]*' "$log" | awk '{print $2}' | tail -1)
  printf '%-15s %12s %10s %8s\n' "$t" "${execs:-?}" "${edges:-?}" $((SECONDS - start))
done
exit $status
