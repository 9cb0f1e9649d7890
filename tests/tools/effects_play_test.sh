#!/usr/bin/env bash
# Plays the compiled effects demo for a fixed number of steps and checks the
# trail, the flare and the hidden clump where the demo puts them, then the
# mirror, the lens and the environment probe in a screenshot.
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

# The render effects, in a small frame (see the demo for where they stand):
# the mirror shows the red marker's reflection, the lens has drawn into its
# magenta texture, the mirror ball shows the green panel on its right side
# and the blue one on its left.
shot=$(mktemp --suffix .png)
log=$(mktemp)
trap 'rm -f "$out" "$shot" "$log"' EXIT
"$player" --headless 320 240 --frames 5 --fixed-step 1 --screenshot "$shot" --trace "$log" "$demo" >/dev/null 2>&1 ||
  fail "orvplay with a screenshot exited $?"
! grep -q 'Mirror must be added\|render target unusable\|Dynamic Env Map' "$log" || fail "an effect failed: $(grep '!!!' "$log")"
PYTHONPATH="$(dirname "$0")/../support" python3 - "$shot" <<'EOF' || fail "effects in the screenshot"
import sys
from ovtest import read_png
w, h, rows = read_png(sys.argv[1])
px = lambda x, y: tuple(rows[y][x * 4:x * 4 + 3])
bad = []
r, g, b = px(103, 36)
if not (r > 40 and r > g + 30): bad.append(f'no red reflection in the mirror at (103, 36): {r, g, b}')
r, g, b = px(281, 160)
if r > 200 and b > 200 and g < 60: bad.append(f'the lens still shows its own texture: {r, g, b}')
r, g, b = px(47, 160)
if not (g > 120 and g > r + 60 and g > b + 60): bad.append(f'no green on the right of the mirror ball at (47, 160): {r, g, b}')
r, g, b = px(25, 163)
if not (b > 120 and b > r + 60 and b > g + 60): bad.append(f'no blue on the left of the mirror ball at (25, 163): {r, g, b}')
if bad: print('\n'.join(bad))
sys.exit(1 if bad else 0)
EOF
echo PASS
