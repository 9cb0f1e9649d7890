#!/usr/bin/env bash
# Plays the compiled effects demo for a fixed number of steps and checks the
# trail, the flare and the hidden clump where the demo puts them.
set -u
player=$1
demo=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$player" --headless --frames 31 --fixed-step 1 --dump-scene "$out" "$demo" 2>/dev/null || fail "orvplay exited $?"

clump() { grep -o "\"name\": \"$1\"[^}]*" "$out"; }
clump blade | grep -q '"position": \[30, 0, 0\]' || fail "blade should be at (30, 0, 0)"
clump trail | grep -q '"worldPosition": \[25, -5, 5\]' || fail "trail origin should sit on the blade's vertex 0"
# Camera at (0, -400, 150) looking at the origin, near clip 1: the light at
# (0, 300, 50) appears 1.03 in front of the camera.
clump flare | grep -q '"worldPosition": \[0, -398.95' || fail "flare should be just in front of the camera"
clump ring | grep -q '"worldPosition": \[0, -399.00' || fail "ring should be halfway to the centre of the view"
clump hidden | grep -q '"switchWord": 65536' || fail "hidden should be invisible"
echo PASS
