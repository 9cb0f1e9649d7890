#!/usr/bin/env bash
# Plays the compiled scripted demo for 120 steps of one unit and checks the
# clumps stand where its scripts put them (the last tick saw t = 119 / 60 s).
set -u
player=$1
demo=$2
out=$(mktemp)
log=$(mktemp)
trap 'rm -f "$out" "$log"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$player" --headless --fixed-step 1 --frames 120 --dump-scene "$out" "$demo" 2>"$log" || fail "orvplay exited $?"

expect() {
  grep -q -- "$1" "$out" || fail "expected $1 in the scene dump"
}
expect '"name": "slider", "position": \[119\.0*[0-9]*, 0, 0\]'          # plain OnTick
expect '"name": "lifter", "position": \[0, 50, 419\]'                  # second pass at point 3
expect '"name": "follower", "position": \[119\.0*[0-9]*, 0, 40\]'       # hierarchy call after the slider moved
expect '"name": "counter", "position": \[-50, 120, 0\]'                # instance field counts the ticks
grep -q 'lua error' "$log" && fail "a script raised: $(grep 'lua error' "$log")"
grep -q 'alloc: \([0-9]*\), free: \1$' "$log" || fail "the memory report does not balance"
echo PASS
