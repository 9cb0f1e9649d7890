#!/usr/bin/env bash
# kiwa-memo on the real board, judged on screen: a sheet hatched with the
# black pen shows its ink on the open paper, on the note pinned after ok, on
# the note loaded at the next start, and on the paper when that note is
# opened again with a double click.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$stage" ] || fail "no stage at $stage"

# run FRAMES REPLAY: plays on $tmp/data, writes $tmp/dump.json and $tmp/shot.png.
run() {
  env -u DISPLAY timeout 60 "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$tmp/data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --screenshot "$tmp/shot.png" \
    --trace "$tmp/trace.log" >"$tmp/out" 2>&1 || fail "$2: exit status $?: $(tail -3 "$tmp/out")"
  grep '!!!' "$tmp/trace.log" && fail "$2: trouble in the trace"
}
# inked WHAT CLUMP HALF MIN: at least MIN of the screen square of half size
# HALF around CLUMP's centre is ink (red below the paper's 255 by far).
inked() {
  python3 - "$tmp/dump.json" "$tmp/shot.png" "$2" "$3" "$4" <<'PY' || fail "$1"
import json, struct, sys, zlib
dump, shot, name, half, least = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
def clumps(objects):
    for o in objects:
        for c in o["clumps"]:
            yield from tree(c)
        yield from clumps(o["children"])
def tree(c):
    yield c
    for k in c["children"]:
        yield from tree(k)
at = [c["screen"] for c in clumps(json.load(open(dump))["objects"]) if c["name"] == name]
if len(at) != 1 or None in at[0]: sys.exit(f"{name} is not on screen: {at}")
data = open(shot, 'rb').read()
pos, idat, w, h = 8, b'', 0, 0
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    if kind == b'IHDR': w, h = struct.unpack('>II', data[pos + 8:pos + 16])
    if kind == b'IDAT': idat += data[pos + 8:pos + 8 + n]
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
x0, y0 = int(at[0][0]), int(at[0][1])
red = [rows[y][x * 4] for y in range(y0 - half, y0 + half + 1) for x in range(x0 - half, x0 + half + 1)]
share = sum(r < 220 for r in red) / len(red)
print(f"{name} at ({x0}, {y0}): {share:.2f} of the square inked")
sys.exit(0 if share >= least else 1)
PY
}

click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# A sheet from pad 1 hatched with the black pen: 31 strokes 2 pixels apart.
{
  click 2 _pick1_noteBox1
  click 50 _exp_pick2_pen00
  f=56
  for ((y = -30; y <= 30; y += 2)); do
    printf '%d move @_editPaper01 -40 %d\n%d down left\n%d move @_editPaper01 40 %d\n%d up left\n' \
      $f $y $((f + 1)) $((f + 2)) $y $((f + 3))
    f=$((f + 4))
  done
} >"$tmp/hatch.txt"
run 185 "$tmp/hatch.txt"
inked "the open paper shows no ink" _editPaper01 20 0.5

{ cat "$tmp/hatch.txt"; click 185 _pick2_ok; } >"$tmp/ok.txt"
rm -rf "$tmp/data"
run 270 "$tmp/ok.txt"
[ "$(python3 -c "import json; print(len(json.load(open('$tmp/dump.json'))['memo']['notes']))")" = 1 ] ||
  fail "one note expected on the board"
inked "the pinned note shows no ink" _pick1_drag_paper 5 0.5

printf '1 move 0 0\n' >"$tmp/idle.txt"
run 3 "$tmp/idle.txt"
inked "the note loaded at start shows no ink" _pick1_drag_paper 5 0.5

{ click 2 _pick1_drag_paper; click 6 _pick1_drag_paper; } >"$tmp/open.txt"
run 60 "$tmp/open.txt"
[ "$(python3 -c "import json; print(json.load(open('$tmp/dump.json'))['memo']['editNote'] is not None)")" = True ] ||
  fail "a double click did not open the note"
inked "the reopened note's paper shows no ink" _editPaper01 20 0.5
echo PASS
