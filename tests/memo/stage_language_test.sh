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
python3 - "$tmp/dump.json" "$tmp/shot.png" <<'PY' || fail "the weekday digit on screen"
import json, struct, sys, zlib
def clumps(objects):
    for o in objects:
        for c in o["clumps"]:
            yield from tree(c)
        yield from clumps(o["children"])
def tree(c):
    yield c
    for k in c["children"]:
        yield from tree(k)
at = [c["screen"] for c in clumps(json.load(open(sys.argv[1]))["objects"]) if c["name"] == "wday_digit"]
data = open(sys.argv[2], 'rb').read()
pos, idat, w, h = 8, b'', 0, 0
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b'IHDR': w, h = struct.unpack('>II', body[:8])
    if kind == b'IDAT': idat += body
    pos += 12 + n
raw, rows, prev = zlib.decompress(idat), [], bytearray(w * 4)
for y in range(h):
    f, line = raw[y * (w * 4 + 1)], bytearray(raw[y * (w * 4 + 1) + 1:(y + 1) * (w * 4 + 1)])
    for i in range(len(line)):
        a, b, c = line[i - 4] if i >= 4 else 0, prev[i], prev[i - 4] if i >= 4 else 0
        p = a + b - c
        pr = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else (b if abs(p - b) <= abs(p - c) else c)
        line[i] = (line[i] + [0, a, b, (a + b) // 2, pr][f]) & 255
    rows.append(line)
    prev = line
if len(at) != 1 or at[0] is None: sys.exit(f"no weekday digit on screen: {at}")
x, y = int(at[0][0]), int(at[0][1])
r, g, b = rows[y][x * 4:x * 4 + 3]
print(f"weekday digit at ({x}, {y}): {r, g, b}")
sys.exit(0 if g > 100 and g > r + 60 and g > b + 60 else 1)
PY
echo PASS
