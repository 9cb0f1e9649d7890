#!/usr/bin/env bash
# kiwa-memo on the real board: a sheet with one stroke per pen, the rubber
# drawn across the second stroke, ok. The note file has each pen's ink in its
# own colour where it went, none where the rubber crossed, and the rest of
# the strokes untouched.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$stage" ] || fail "no stage at $stage"

click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# stroke F X0 Y0 X1 Y1: pointer offsets from the paper's centre, in one move.
stroke() {
  printf '%d move @_editPaper01 %d %d\n%d down left\n%d move @_editPaper01 %d %d\n%d up left\n' \
    "$1" "$2" "$3" $(($1 + 1)) $(($1 + 3)) "$4" "$5" $(($1 + 5))
}
{
  click 2 _pick1_noteBox1
  f=50
  # Pen K draws across the paper 30 pixels wide of the centre, at height 20K - 30.
  for k in 0 1 2 3; do
    click $f _exp_pick2_pen0$k
    stroke $((f + 6)) -30 $((20 * k - 30)) 30 $((20 * k - 30))
    f=$((f + 14))
  done
  click $f _exp_pick2_rubber
  stroke $((f + 6)) 0 -20 0 0
  click $((f + 14)) _pick2_ok
} >"$tmp/pens.txt"

env -u DISPLAY timeout 60 "$memo" --headless 400 300 --fixed-step 1 --frames 140 --data "$tmp/data" \
  --content "$stage" --replay "$tmp/pens.txt" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" \
  >"$tmp/out" 2>&1 || fail "exit status $?: $(tail -3 "$tmp/out")"
grep '!!!' "$tmp/trace.log" && fail "trouble in the trace"
tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "memory report not balanced"
note=$(python3 -c "import json; print(' '.join(n['file'] for n in json.load(open('$tmp/dump.json'))['memo']['notes']))")
[ -n "$note" ] && [ "${note// /}" = "$note" ] || fail "one note expected on the board, got '$note'"
[ -s "$tmp/data/$note" ] || fail "no note file $note"

# The film is 512 x 512 BGRA rows from the top; the paper's centre is near
# (256, 256) and a pointer pixel is about 4.4 film pixels. Each stroke is
# checked in a band of rows around where it should be, the rubber in the
# columns around the centre.
python3 - "$tmp/data/$note" <<'EOF' || fail "note $note"
import sys, zlib
px = zlib.decompress(open(sys.argv[1], 'rb').read()[12:])
N = 512
def inked(x0, x1, y0, y1):
    return [px[(y * N + x) * 4:(y * N + x) * 4 + 3] for y in range(y0, y1) for x in range(x0, x1)
            if px[(y * N + x) * 4 + 3] > 128]
def colour(bgr):
    b, g, r = (sum(p[i] for p in bgr) / len(bgr) for i in range(3))
    if max(r, g, b) < 70: return 'dark'
    return max((r, 'red'), (g, 'green'), (b, 'blue'))[1]
bad = []
bands = []
for k, want in enumerate(['dark', 'red', 'blue', 'green']):
    y = round(256 + 4.4 * (20 * k - 30))
    bands.append((y - 24, y + 24))
    for part, (x0, x1) in (('left', (140, 220)), ('right', (292, 372))):
        ink = inked(x0, x1, y - 24, y + 24)
        if len(ink) < 200: bad.append(f'pen {k} {part}: {len(ink)} inked pixels')
        elif colour(ink) != want: bad.append(f'pen {k} {part}: {colour(ink)}, not {want}')
    middle = len(inked(244, 268, y - 24, y + 24))
    if (middle == 0) != (k == 1): bad.append(f'pen {k} middle: {middle} inked pixels')
stray = sum(len(inked(0, N, y0, y1)) for y0, y1 in zip([0] + [b[1] for b in bands], [b[0] for b in bands] + [N]))
if stray: bad.append(f'{stray} inked pixels outside the strokes')
if bad: print('\n'.join(bad))
sys.exit(1 if bad else 0)
EOF
echo PASS
