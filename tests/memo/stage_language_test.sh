#!/usr/bin/env bash
# kiwa-memo on the real board with a language file beside the stage: its
# "wday_digit" look (a plain green texture here) is what the clock's weekday
# digit shows on screen.
set -u
orvc=$1
memo=$2
stage=$3
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }

cp "$stage" "$tmp/stage.orv"
cat >"$tmp/fr.lua" <<'LUA'
stage{ name = "french" }
clump{ name = "fr" }
local green = texture{ name = "green", width = 4, height = 4, solid = "#FF00FF00", format = "argb4444" }
clump{ name = "wday_digit", mesh = plane{ size = { 8, 7 }, material = material{ name = "days", texture = green } } }
LUA
"$orvc" "$tmp/fr.lua" -o "$tmp/stage_fr.orv" >/dev/null || fail "orvc could not compile the language file"

env -u DISPLAY -u LC_ALL -u LC_MESSAGES LANG=fr_FR.UTF-8 timeout 60 "$memo" --headless 400 300 --fixed-step 1 \
  --frames 4 --data "$tmp/data" --content "$tmp/stage.orv" --dump-scene "$tmp/dump.json" --screenshot "$tmp/shot.png" \
  --trace "$tmp/trace.log" >"$tmp/out" 2>&1 || fail "exit status $?: $(tail -2 "$tmp/out")"
grep -q "wday_digit: the language's own look is shown" "$tmp/trace.log" || fail "the trace does not say the look is shown"
PYTHONPATH="$(dirname "$0")/../support" python3 - "$tmp/dump.json" "$tmp/shot.png" <<'PY' || fail "the weekday digit on screen"
import sys
from ovtest import clumps, read_png
at = [c["screen"] for c in clumps(sys.argv[1]) if c["name"] == "wday_digit"]
w, h, rows = read_png(sys.argv[2])
if len(at) != 1 or at[0] is None: sys.exit(f"no weekday digit on screen: {at}")
x, y = int(at[0][0]), int(at[0][1])
r, g, b = rows[y][x * 4:x * 4 + 3]
print(f"weekday digit at ({x}, {y}): {r, g, b}")
sys.exit(0 if g > 100 and g > r + 60 and g > b + 60 else 1)
PY
echo PASS
