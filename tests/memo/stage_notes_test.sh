#!/usr/bin/env bash
# kiwa-memo on the real board, one run per step on one data folder: two new
# notes, one thrown in the trash can, put back from the recycle view after a
# restart, both in place after another restart; then one recycled and the
# bin emptied: its file is gone, the other note untouched. A note whose file
# cannot go into the bin stays on the board; a note dragged to a new place is
# there after the board is killed without a clean exit.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$stage" ] || fail "no stage at $stage"

# run FRAMES REPLAY: plays on $tmp/data and writes $tmp/dump.json.
run() {
  rm -f "$tmp/trace.log"
  env -u DISPLAY timeout 120 "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$tmp/data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 ||
    fail "$2: exit status $?: $(tail -3 "$tmp/out")"
  [ -z "${trouble:-}" ] && grep '!!!' "$tmp/trace.log" && fail "$2: trouble in the trace"
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

# A bin that takes no file: the note and its file stay where they are.
# (root ignores permissions; the immutable flag stops it too)
if chattr +i "$tmp/data/recycle" 2>/dev/null; then
  trap 'chattr -i "$tmp/data/recycle"; rm -rf "$tmp"' EXIT
  trash 2 >"$tmp/stuck.txt"
  trouble=1 run 80 "$tmp/stuck.txt"
  chattr -i "$tmp/data/recycle"
  [ "$(memo 'len(m["notes"]), m["notes"][0]["file"], m["recycleCount"]')" = "1 $other 0" ] ||
    fail "a note whose file cannot go into the bin: $(memo m)"
  [ -s "$tmp/data/$other" ] && [ -z "$(ls -A "$tmp/data/recycle")" ] || fail "the note's file moved"
  grep -q "The note $other stays on the board" "$tmp/trace.log" || fail "no trace line for the note kept"
  run 3 "$tmp/idle.txt"
  [ "$(memo 'len(m["notes"]), m["recycleCount"]')" = "1 0" ] || fail "after a restart: $(memo m)"
fi

# A drag, then kill -9 once the index has been written: the next start has
# the note where it was dropped.
was=$(memo "$notes")
cp "$tmp/data/inf.bin" "$tmp/inf.before"
printf '20 move @_pick1_drag_paper\n21 down left\n23 move @_BkBoard -80 30\n25 move @_BkBoard -80 30\n27 up left\n' \
  >"$tmp/drag.txt"
env -u DISPLAY "$memo" --headless 400 300 --fixed-step 1 --frames 100000000 --data "$tmp/data" --content "$stage" \
  --replay "$tmp/drag.txt" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 &
pid=$!
for ((i = 0; i < 300; i++)); do
  cmp -s "$tmp/data/inf.bin" "$tmp/inf.before" || break
  sleep 0.1
done
sleep 1
kill -9 $pid
wait $pid 2>/dev/null
run 3 "$tmp/idle.txt"
[ "$(memo "$notes")" != "$was" ] && [ "$(memo 'round(m["notes"][0]["position"][0])')" -lt -40 ] ||
  fail "after a drag and kill -9 the note is at $(memo "$notes"), before the drag $was"
echo PASS
