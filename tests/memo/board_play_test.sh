#!/usr/bin/env bash
# kiwa-memo on a small test board, driven by recorded input: new notes land
# at allowed board places and come back after a restart, a drop on a no-drop
# area snaps back, dragging the back note of three obeys the depth rule, the
# close button ends the run, a board without room picks its centre, and a
# board missing named objects names them all.
set -u
orvc=$1
memo=$2
stage=$3
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$orvc" "$stage" -o "$tmp/board.orv" >/dev/null || fail "orvc could not compile $stage"

# run DATA FRAMES REPLAY [CONTENT]: plays and writes $tmp/dump.json.
run() {
  env -u DISPLAY timeout 120 "$memo" --headless 320 240 --fixed-step 1 --frames "$2" --data "$1" \
    --content "${4:-$tmp/board.orv}" --replay "$3" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" \
    >"$tmp/out" 2>&1
}
# memo FIELD...: the dump's memo section through a Python expression on m.
memo() { python3 -c "import json,sys; m=json.load(open('$tmp/dump.json'))['memo']; print($1)"; }
# Pixels of a note file with ink (alpha above half).
ink() { python3 -c "import zlib; d = zlib.decompress(open('$1', 'rb').read()[12:]); print(sum(a > 128 for a in d[3::4]))"; }
balanced() {
  tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "$1: memory report not balanced"
}

# A new note per cycle: the pad, a stroke on the edit paper, ok, the flight.
new_notes() {
  local n=$1 f=20 i
  for ((i = 0; i < n; i++)); do
    printf '%d move @_pick1_noteBox\n%d down left\n%d up left\n' $f $((f + 1)) $((f + 2))
    printf '%d move @_editPaper00 -10 0\n%d down left\n%d move @_editPaper00 10 5\n%d up left\n' \
      $((f + 40)) $((f + 41)) $((f + 42)) $((f + 43))
    printf '%d move @_pick2_ok\n%d down left\n%d up left\n' $((f + 50)) $((f + 51)) $((f + 52))
    f=$((f + 100))
  done
}

# Inside the board (x within 120, z within 80 of its centre) and outside
# both no-drop areas (x 70..110 or -110..-70 with z -75..-45).
allowed='all(abs(n["position"][0]) < 120 and abs(n["position"][2]) < 80 and not (70 < abs(n["position"][0]) < 110 and -75 < n["position"][2] < -45) for n in m["notes"])'

# --- three new notes, saved and loaded again ---------------------------------
new_notes 3 >"$tmp/new.txt"
run "$tmp/data" 330 "$tmp/new.txt" || fail "new notes: exit status $?: $(tail -3 "$tmp/out")"
balanced "new notes"
[ "$(memo 'len(m["notes"])')" = 3 ] || fail "three notes expected, got $(memo 'm["notes"]')"
[ "$(memo "$allowed")" = True ] || fail "a note outside the allowed board: $(memo 'm["notes"]')"
[ "$(memo '[round(n["position"][1], 3) for n in m["notes"]]')" = "[255.992, 255.996, 256]" ] ||
  fail "stack depths $(memo '[n["position"][1] for n in m["notes"]]')"
[ "$(memo 'm["pickFilter"] + " " + str(m["editNote"])')" = "pick1 None" ] || fail "not back on the board: $(memo m)"
for f in $(memo '" ".join(n["file"] for n in m["notes"])'); do
  [ -s "$tmp/data/$f" ] || fail "note file $f missing"
done
# Every note of the session keeps the ink drawn for it, not only the first.
for f in $(memo '" ".join(n["file"] for n in m["notes"])'); do
  [ "$(ink "$tmp/data/$f")" -gt 0 ] || fail "note $f of three saved without ink"
done
# The clock object runs the clock.
python3 -c "
import json
def clumps(objs):
    for o in objs:
        yield from o['clumps']
        yield from clumps(o['children'])
print([c['controllers'] for c in clumps(json.load(open('$tmp/dump.json'))['objects']) if c['name'] == '_clock'])
" | grep -q '^\[\[0\]\]$' || fail "no clock controller on _clock"
before=$(memo '[(n["file"], [round(v, 3) for v in n["position"]]) for n in m["notes"]]')

printf '1 move 0 0\n' >"$tmp/idle.txt"
run "$tmp/data" 5 "$tmp/idle.txt" || fail "reload: exit status $?"
[ "$(memo '[(n["file"], [round(v, 3) for v in n["position"]]) for n in m["notes"]]')" = "$before" ] ||
  fail "after a restart the notes are $(memo 'm["notes"]'), not $before"

# --- drag rules on three notes placed apart ------------------------------------
# The index holds three notes (front first); put them at known places: front
# at x -60, middle at x 0, back at x 60, all at z 30.
python3 - "$tmp/data/inf.bin" <<'EOF'
import struct, sys
p = sys.argv[1]
b = bytearray(open(p, 'rb').read())
for i, x in enumerate((-60.0, 0.0, 60.0)):
    struct.pack_into('<3f', b, 6 + 22 * i, x, 256.0 - 0.004 * (2 - i), 30.0)
open(p, 'wb').write(b)
EOF
rm -f "$tmp/data/inf.bak"
# Where the back note (x 60) is dragged | x of the notes, front first.
while IFS='|' read -r target xs; do
  cp -r "$tmp/data" "$tmp/case"
  printf '20 move @_BkBoard 65 -33\n21 down left\n23 move %s\n25 move %s\n27 up left\n' "$target" "$target" \
    >"$tmp/drag.txt"
  run "$tmp/case" 60 "$tmp/drag.txt" || fail "drag to $target: exit status $?"
  got=$(memo "[round(n['position'][0]) for n in m['notes']]")
  [ "$got" = "$xs" ] || fail "drag to $target: notes at x $got, not $xs"
  # The dragged note is in front; the two others moved back one step.
  [ "$(memo "[round(n['position'][1], 3) for n in m['notes']]")" = "[255.992, 255.996, 256]" ] ||
    fail "drag to $target: depths $(memo "[n['position'][1] for n in m['notes']]")"
  rm -rf "$tmp/case"
done <<'CASES'
@_BkBoard 90 -20|[83, -60, 0]
@_0XBkBoard|[60, -60, 0]
CASES

# --- a double click opens the front note; ok writes the same file again -------
run "$tmp/data" 5 "$tmp/idle.txt" || fail "reload: exit status $?"
front=$(memo 'm["notes"][0]["file"]')
cp "$tmp/data/$front" "$tmp/before.note"
printf '20 move @_BkBoard -65 -33\n21 down left\n22 up left\n26 down left\n27 up left\n' >"$tmp/open.txt"
printf '60 move @_editPaper00 0 -10\n61 down left\n62 move @_editPaper00 0 10\n63 up left\n' >>"$tmp/open.txt"
run "$tmp/data" 40 "$tmp/open.txt" || fail "open: exit status $?"
[ "$(memo 'm["pickFilter"] + " " + str(m["editNote"] is not None)')" = "_pick2_ True" ] ||
  fail "a double click did not open the note: $(memo m)"
printf '70 move @_pick2_ok\n71 down left\n72 up left\n' >>"$tmp/open.txt"
run "$tmp/data" 130 "$tmp/open.txt" || fail "open and ok: exit status $?"
[ "$(memo 'len(m["notes"]), m["notes"][0]["file"], m["pickFilter"], m["editNote"]')" = "3 $front pick1 None" ] ||
  fail "after ok: $(memo m)"
# Every inked pixel stays inked and the new stroke adds more.
python3 - "$tmp/before.note" "$tmp/data/$front" <<'EOF' || fail "the opened note does not keep its ink and add the new stroke"
import sys, zlib
old, new = (zlib.decompress(open(p, 'rb').read()[12:])[3::4] for p in sys.argv[1:])
assert all(b > 128 for a, b in zip(old, new) if a > 128)
assert sum(b > 128 for b in new) > sum(a > 128 for a in old)
EOF

# --- the trash can and the recycle view ----------------------------------------
printf '20 move @_pick1_TrashCan\n21 down left\n22 up left\n' >"$tmp/trash.txt"
run "$tmp/data" 30 "$tmp/trash.txt" || fail "trash: exit status $?"
[ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "2 1" ] || fail "after the trash can: $(memo m)"
grep -q '"name": "delfly_ball"' "$tmp/dump.json" || fail "the trash marker made with the del_ object was thrown away"
[ -s "$tmp/data/recycle/$front" ] && [ ! -e "$tmp/data/$front" ] || fail "$front was not moved into the bin"
printf '20 move @_pick1_ReturnBtn\n21 down left\n22 up left\n40 move @_pick3_RreturnNote\n41 down left\n42 up left\n' \
  >"$tmp/return.txt"
printf '60 move @_pick1_pick3_CancelBtn\n61 down left\n62 up left\n' >>"$tmp/return.txt"
run "$tmp/data" 70 "$tmp/return.txt" || fail "return: exit status $?"
[ "$(memo 'len(m["notes"]), m["notes"][0]["file"], m["recycleCount"], m["pickFilter"]')" = "3 $front 0 _pick1_" ] ||
  fail "after putting the note back: $(memo m)"
[ -s "$tmp/data/$front" ] || fail "$front is not back in the data folder"
grep -q '"name": "_pick3_recycleBk"' "$tmp/dump.json" && fail "the recycle tray stays after its view closed"
balanced "return"
grep -q '!!!' "$tmp/trace.log" && fail "trouble in the trace: $(grep '!!!' "$tmp/trace.log")"

# --- an index that cannot be replaced: the board goes on and says so ---------
# (root ignores permissions; the immutable flag stops it too)
if chattr +i "$tmp/data/inf.bin" 2>/dev/null; then
  trap 'chattr -i "$tmp/data/inf.bin"; rm -rf "$tmp"' EXIT
  new_notes 1 >"$tmp/one.txt"
  run "$tmp/data" 130 "$tmp/one.txt"; rc=$?
  chattr -i "$tmp/data/inf.bin"
  [ "$rc" -eq 0 ] || fail "fixed index: exit status $rc: $(tail -3 "$tmp/out")"
  [ "$(memo 'len(m["notes"]), m["saveProblem"] != ""')" = "4 True" ] || fail "fixed index: $(memo m)"
  grep -q 'Notes are not being saved' "$tmp/trace.log" || fail "fixed index: no trace line"
  # The new note's file was written: the next start puts it back.
  run "$tmp/data" 5 "$tmp/idle.txt" || fail "after the fixed index: exit status $?"
  [ "$(memo 'len(m["notes"]), m["saveProblem"]')" = "4 " ] || fail "after the fixed index: $(memo m)"
fi

# --- the close button ends the run before its frames ---------------------------
printf '20 move @_pick1_CloseBtn\n21 down left\n22 up left\n' >"$tmp/close.txt"
run "$tmp/data" 1000 "$tmp/close.txt" || fail "close: exit status $?"
[ "$(python3 -c "import json; print(json.load(open('$tmp/dump.json'))['frames'] < 100)")" = True ] ||
  fail "the close button did not end the run"
balanced "close"

# --- no room on the board: the centre, with a trace line -----------------------
sed -e 's/{ 40, 30 }, grey/{ 400, 400 }, grey/' "$stage" >"$tmp/full.lua"
"$orvc" "$tmp/full.lua" -o "$tmp/full.orv" >/dev/null || fail "orvc could not compile the covered board"
new_notes 1 >"$tmp/one.txt"
run "$tmp/full" 130 "$tmp/one.txt" "$tmp/full.orv" || fail "covered board: exit status $?"
[ "$(memo '[round(v) for v in m["notes"][0]["position"]]')" = "[0, 256, 0]" ] ||
  fail "the note on a covered board is at $(memo 'm["notes"]')"
grep -q 'No allowed board position' "$tmp/trace.log" || fail "no trace line for the covered board"

# --- a board missing named objects names every one ----------------------------
cat >"$tmp/bare.lua" <<'EOF'
stage{ name = "bare" }
object{ name = "_cursor", clump = clump{ name = "_cursor" } }
object{ name = "_BkBoard", clump = clump{ name = "_BkBoard" } }
EOF
"$orvc" "$tmp/bare.lua" -o "$tmp/bare.orv" >/dev/null || fail "orvc could not compile the bare board"
run "$tmp/bare" 5 "$tmp/idle.txt" "$tmp/bare.orv"
rc=$?
[ "$rc" -eq 1 ] || fail "bare board: exit status $rc"
[ "$(grep -c '^kiwa-memo: .*lacks the named objects' "$tmp/out")" -eq 1 ] || fail "not one message: $(cat "$tmp/out")"
for name in _exp_pick2_rubber _InvisiblePlace _noteRoot03 _03noteXRoot _pick1_CloseBtn; do
  grep '^kiwa-memo: .*lacks the named objects' "$tmp/out" | grep -q -- "$name" || fail "the message does not name $name"
done
grep '^kiwa-memo: .*lacks the named objects' "$tmp/out" | grep -q -- '_BkBoard\|_cursor' && fail "present names listed"
echo PASS
