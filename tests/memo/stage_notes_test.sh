#!/usr/bin/env bash
# kiwa-memo on the real board, one run per step on one data folder: two new
# notes, one thrown in the trash can, put back from the recycle view after a
# restart, both in place after another restart; then one recycled and the
# bin emptied: its file is gone, the other note untouched.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$stage" ] || fail "no stage at $stage"

# run FRAMES REPLAY: plays on $tmp/data and writes $tmp/dump.json.
run() {
  env -u DISPLAY timeout 120 "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$tmp/data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 ||
    fail "$2: exit status $?: $(tail -3 "$tmp/out")"
  grep '!!!' "$tmp/trace.log" && fail "$2: trouble in the trace"
  tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "$2: memory report not balanced"
}
memo() { python3 -c "import json; m=json.load(open('$tmp/dump.json'))['memo']; print($1)"; }
# Files and board places (x, z; the depth follows the stack order).
notes='sorted((n["file"], round(n["position"][0], 2), round(n["position"][2], 2)) for n in m["notes"])'
click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# A sheet from pad K at frame F, a stroke on it, ok.
note() {
  click "$1" "_pick1_noteBox$2"
  printf '%d move @_editPaper0%d\n%d down left\n%d move @_editPaper0%d -40 -30\n%d up left\n' \
    $(($1 + 48)) "$2" $(($1 + 50)) $(($1 + 53)) "$2" $(($1 + 56))
  click $(($1 + 68)) _pick2_ok
}
# The note under the first sheet on the board, dragged onto the trash can.
trash() {
  printf '%d move @_pick1_drag_paper\n%d down left\n' "$1" $(($1 + 1))
  for ((i = 0; i <= 18; i += 2)); do printf '%d move @TrashCan 0 %d\n' $(($1 + 2 + i)) $((18 - i)); done
  printf '%d up left\n' $(($1 + 22))
}

{ note 2 1; note 140 3; } >"$tmp/two.txt"
run 280 "$tmp/two.txt"
[ "$(memo 'sorted(n["kind"] for n in m["notes"])')" = "[1, 3]" ] || fail "two new notes: $(memo m)"
two=$(memo "$notes")

trash 2 >"$tmp/trash.txt"
run 80 "$tmp/trash.txt"
[ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "1 1" ] || fail "after the trash can: $(memo m)"
kept=$(memo 'm["notes"][0]["file"]')
gone=$(ls "$tmp/data/recycle")
[ -n "$gone" ] && [ -s "$tmp/data/recycle/$gone" ] && [ ! -e "$tmp/data/$gone" ] || fail "no note file moved into the bin"
[ "$(memo "$notes")" = "$(python3 -c "print([n for n in $two if n[0] == '$kept'])")" ] ||
  fail "the kept note moved: $(memo m)"

# A restart, the recycle view, the note put back.
{ click 2 _pick1_ReturnBtn; click 60 _pick3_RreturnNote; } >"$tmp/return.txt"
run 100 "$tmp/return.txt"
[ "$(memo 'sorted(n["file"] for n in m["notes"]), m["recycleCount"]')" = \
  "$(python3 -c "print(sorted(['$kept', '$gone']), 0)")" ] || fail "after putting the note back: $(memo m)"
back=$(memo "$notes")
printf '1 move 0 0\n' >"$tmp/idle.txt"
run 3 "$tmp/idle.txt"
[ "$(memo "$notes")" = "$back" ] || fail "after a restart the notes are $(memo "$notes"), not $back"

# One recycled, then the bin emptied: only the other note's file is left.
(cd "$tmp/data" && md5sum ?0*) >"$tmp/sums"
{ trash 2; click 40 _pick1_ReturnBtn; click 100 _pick3_pick1_ClearBtn; } >"$tmp/empty.txt"
run 130 "$tmp/empty.txt"
[ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "1 0" ] || fail "after emptying: $(memo m)"
other=$(memo 'm["notes"][0]["file"]')
[ -z "$(ls -A "$tmp/data/recycle")" ] || fail "files left in the bin: $(ls "$tmp/data/recycle")"
[ "$(cd "$tmp/data" && md5sum ?0*)" = "$(grep "$other" "$tmp/sums")" ] || fail "the other note's file changed or a file is left"
echo PASS
