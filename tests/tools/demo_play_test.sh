#!/usr/bin/env bash
# Plays the compiled animated demo for a fixed number of steps and checks the
# clumps stand where the demo's keys put them at local time 30.
set -u
player=$1
demo=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$player" --headless --frames 31 --fixed-step 1 --dump-scene "$out" "$demo" 2>/dev/null || fail "orvplay exited $?"

expect() {
  grep -q -- "$1" "$out" || fail "expected $1 in the scene dump"
}
expect '"name": "mover", "position": \[30, 0, 0\]'                       # linear, first leg
expect '"name": "pulser", "position": \[[^]]*\], "rotation": \[[^]]*\], "scale": \[2, 2, 2\]'
expect '"name": "floater", "position": \[0, 0, 65\]'                     # cubic through its keys
expect '"name": "spinner", "position": \[[^]]*\], "rotation": \[0.92387'  # 45 degrees about z
grep -o '"name": "blinker"[^}]*"switchWord": [0-9]*' "$out" | grep -q '"switchWord": 65536' ||
  fail "blinker should be hidden at local time 30"
# The last frame as a picture: a PNG of the window's size, not blank.
shot=$(mktemp --suffix=.png)
"$player" --headless 320 240 --frames 5 --fixed-step 1 --screenshot "$shot" "$demo" 2>/dev/null ||
  fail "orvplay --screenshot exited $?"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "no PNG written"
[ "$(od -An -tu1 -j16 -N8 "$shot" | tr -s ' ')" = " 0 0 1 64 0 0 0 240" ] || fail "PNG is not 320 x 240"
rm -f "$shot"
echo PASS
