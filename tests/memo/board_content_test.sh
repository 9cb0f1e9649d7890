#!/usr/bin/env bash
# kiwa-memo on the test board with content that works against the board:
# each named object deleted by a script (the board goes on, saves, and says
# once what it lost), the holder of a note's texture removed, "del_" objects
# made without a note thrown away; and two board rules: a clicked cancel
# button's pulse ends, and a note put back from the bin flies to its place.
set -u
orvc=$1
memo=$2
stage=$3
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }

# variant NAME LUA: the test board plus an object whose script runs LUA on
# every tick (s: the scene, c: its clump, self: its instance).
variant() {
  { cat "$stage"; cat <<EOF
script{ source = [==[
Hostile = { OnTick = function(self, t)
  local s, c = CpGetScene(self._Clump), self._Clump
  $2
end }
]==] }
object{ name = "hostile", clump = clump{ name = "hostile", animation = {
  node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "Hostile" } } } }
EOF
  } >"$tmp/$1.lua"
  "$orvc" "$tmp/$1.lua" -o "$tmp/$1.orv" >/dev/null || fail "orvc could not compile $1"
}
# run CONTENT DATA FRAMES REPLAY: plays and writes $tmp/dump.json.
run() {
  rm -f "$tmp/trace.log"
  env -u DISPLAY timeout 120 "$memo" --headless 320 240 --fixed-step 1 --frames "$3" --data "$2" \
    --content "$tmp/$1.orv" --replay "$4" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 ||
    fail "$1, $4: exit status $?: $(tail -5 "$tmp/out")"
  tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "$1: memory report not balanced"
}
# memo EXPR: a Python expression on the dump's memo section m, its objects
# at any depth (objs) and their clumps (clumps).
memo() {
  python3 -c "
import json
d = json.load(open('$tmp/dump.json'))
m, objs = d['memo'], []
def walk(o):
    for x in o: objs.append(x); walk(x['children'])
walk(d['objects'])
clumps = [c for o in objs for c in o['clumps']]
print($1)"
}
saved() { python3 -c "import struct; print(struct.unpack_from('<hi', open('$1/inf.bin', 'rb').read())[1])"; }
click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# A new note from frame F: the pad, a stroke across the middle (the edit paper),
# one over the pad (where the paper stays when it cannot fly; a sheet without
# ink makes no note), ok.
new_note() {
  click "$1" _pick1_noteBox
  printf '%d move 150 120\n%d down left\n%d move 170 125\n%d up left\n' \
    $(($1 + 40)) $(($1 + 41)) $(($1 + 42)) $(($1 + 43))
  printf '%d move @_pick1_noteBox -3 0\n%d down left\n%d move @_pick1_noteBox 3 1\n%d up left\n' \
    $(($1 + 44)) $(($1 + 45)) $(($1 + 46)) $(($1 + 47))
  click $(($1 + 50)) _pick2_ok
}
printf '1 move 0 0\n' >"$tmp/idle.txt"
variant plain ""

# --- named objects deleted by the content -----------------------------------
# A new note, then a click on nothing (which pulses the cancel button).
{ new_note 20; printf '120 move 5 5\n121 down left\n122 up left\n'; } >"$tmp/use.txt"
while IFS='|' read -r name how notes; do
  if [ "$how" = clump ]; then del="SnDelClump(s, SnSearchClump(s, '$name'))"; else
    del="SnDelLogObj(s, CpGetOwner(SnSearchClump(s, '$name')))"; fi
  variant lost "if not self.done then self.done = true; $del end"
  rm -rf "$tmp/data"
  run lost "$tmp/data" 140 "$tmp/use.txt"
  [ "$(grep -c "removed '$name'" "$tmp/trace.log")" = 1 ] || fail "$name: not one trace line: $(grep removed "$tmp/trace.log")"
  [ "$(memo 'len(m["notes"])') $(saved "$tmp/data")" = "$notes $notes" ] || fail "$name: notes $(memo m), saved $(saved "$tmp/data")"
done <<'CASES'
_pick1_CloseBtn|clump|1
D_CamRote|object|1
_BkBoard|clump|1
_0XBkBoard|object|1
_1XBkBoard|clump|1
_exp_pick2_pen00|clump|1
_editUIRoot|object|1
_pick1_pick3_CancelBtn|clump|1
_InvisiblePlace|object|1
_cursor|object|0
_editPaper00|clump|0
CASES

# One note for what follows.
rm -rf "$tmp/data"
new_note 20 >"$tmp/one.txt"
run plain "$tmp/data" 110 "$tmp/one.txt"
[ "$(memo 'len(m["notes"])')" = 1 ] || fail "one note: $(memo m)"

# --- a cancel button clicked on the board: pulsed for one frame only -----------
click 20 _pick1_pick3_CancelBtn >"$tmp/cancel.txt"
run plain "$tmp/data" 30 "$tmp/cancel.txt"
[ "$(memo "[c['switchWord'] & 1 for c in clumps if c['name'] == '_pick1_pick3_CancelBtn']")" = "[0]" ] || fail "the cancel button's bit stays set after its pulse"

# --- the holder of a note's texture removed by the content ---------------------
variant holder "if not self.done then self.done = true
  local p = SnSearchClump(s, '_pick1_drag_paper'); CpDelAniCtrl(p, CpFindAniCtrl(p, 20100)) end"
run holder "$tmp/data" 10 "$tmp/idle.txt"
[ "$(memo 'len(m["notes"])')" = 1 ] || fail "holder: $(memo m)"

# --- "del_" objects without a note thrown away are ignored ----------------------
variant spam "self.n = (self.n or 0) + 1
  for i = 1, (self.n == 1 and 300 or 2) do EmitObject(c, self._Database, 'delRoot', 0) end"
run spam "$tmp/data" 10 "$tmp/idle.txt"
[ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "1 0" ] || fail "del_ without a gesture: $(memo m)"
[ "$(grep -c 'del_.*ignored' "$tmp/trace.log")" = 1 ] || fail "del_ without a gesture: not one trace line"
# The trash can clicked among them: the one note goes, once.
click 20 _pick1_TrashCan >"$tmp/trash.txt"
run spam "$tmp/data" 40 "$tmp/trash.txt"
[ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "0 1" ] || fail "del_ after the trash can: $(memo m)"

# --- a note put back flies from the tray to its place in 0.22 s ----------------
{ click 20 _pick1_ReturnBtn; click 40 _pick3_RreturnNote; } >"$tmp/return.txt"
cp -r "$tmp/data" "$tmp/again"
run plain "$tmp/data" 46 "$tmp/return.txt"
[ "$(memo 'sum(o["name"].startswith("recycled") for o in objs), len(m["notes"])')" = "1 1" ] || fail "no flight from the tray: $(memo m)"
run plain "$tmp/again" 70 "$tmp/return.txt"
[ "$(memo 'sum(o["name"].startswith("recycled") for o in objs), len(m["notes"]), m["recycleCount"]')" = "0 1 0" ] ||
  fail "the flight did not end on the board: $(memo m)"
echo PASS
