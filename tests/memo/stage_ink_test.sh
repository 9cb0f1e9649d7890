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
  PYTHONPATH="$(dirname "$0")/../support" python3 - "$tmp/dump.json" "$tmp/shot.png" "$2" "$3" "$4" <<'PY' || fail "$1"
import sys
from ovtest import clumps, read_png
dump, shot, name, half, least = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
at = [c["screen"] for c in clumps(dump) if c["name"] == name]
if len(at) != 1 or None in at[0]: sys.exit(f"{name} is not on screen: {at}")
w, h, rows = read_png(shot)
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
