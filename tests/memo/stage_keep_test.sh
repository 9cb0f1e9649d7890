#!/usr/bin/env bash
# kiwa-memo on the real board: a sheet open when the program ends is kept as
# ok keeps it (the run's quit, the end of its frames, SIGTERM, Ctrl+Q), a new
# one as a note and an opened note with its new ink; the next start has it.
# Killed with -9 two seconds after the last stroke, the next start makes the
# note from the recovery file and removes that.
# Esc leaves a sheet unsaved (an opened note's file stays as it was, a new
# sheet leaves no file), so does ok on a new sheet nobody wrote on; the keys
# choose pens and the rubber, Enter is ok, Esc leaves the recycle view.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$stage" ] || fail "no stage at $stage"

# start FRAMES REPLAY: plays on $tmp/data in the background ($pid).
start() {
  rm -f "$tmp/trace.log" "$tmp/dump.json"
  # kill -9 must reach the board itself, not a wrapper
  local wrap="timeout ${limit:-120}"
  [ -z "${bare:-}" ] || wrap=
  env -u DISPLAY $wrap "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$tmp/data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 &
  pid=$!
}
# finish WHAT: waits for the run and checks it ended cleanly.
finish() {
  wait $pid || fail "$1: exit status $?: $(tail -3 "$tmp/out")"
  [ -n "${trouble:-}" ] || ! grep '!!!' "$tmp/trace.log" || fail "$1: trouble in the trace"
  tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "$1: memory report not balanced"
}
run() { start "$1" "$2" && finish "$2"; }
memo() { python3 -c "import json; m=json.load(open('$tmp/dump.json'))['memo']; print($1)"; }
key() { printf '%d key %d down\n%d key %d up\n' "$1" "$2" $(($1 + 1)) "$2"; }
# Inked pixels of a note file.
ink() { python3 -c "import sys, zlib; p = zlib.decompress(open(sys.argv[1], 'rb').read()[12:]); print(sum(a > 128 for a in p[3::4]))" "$1"; }

click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# stroke F X0 Y0 X1 Y1 on paper 1: pointer offsets from its centre.
stroke() { printf '%d move @_editPaper01 %d %d\n%d down left\n%d move @_editPaper01 %d %d\n%d up left\n' \
  "$1" "$2" "$3" $(($1 + 1)) $(($1 + 3)) "$4" "$5" $(($1 + 5)); }
{ click 2 _pick1_noteBox1; stroke 50 -40 -30 40 -30; } >"$tmp/new.txt"
{ click 2 _pick1_drag_paper; click 6 _pick1_drag_paper; stroke 50 -40 30 40 30; } >"$tmp/open.txt"
printf '1 move 0 0\n' >"$tmp/idle.txt"
{ cat "$tmp/new.txt"; click 60 _pick2_ok; } >"$tmp/ok.txt"

# case | sheet | how the run ends
cases=(
  "new sheet, quit|new|quit"
  "new sheet, last frame|new|frames"
  "new sheet, SIGTERM|new|TERM"
  "opened note, quit|open|quit"
  "new sheet, Ctrl+Q|new|ctrlq"
  "new sheet, kill -9|new|KILL"
  "opened note, kill -9|open|KILL"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name sheet end <<<"$c"
  rm -rf "$tmp/data"
  before=0
  if [ "$sheet" = open ]; then
    run 150 "$tmp/ok.txt"
    file=$(memo 'm["notes"][0]["file"]')
    before=$(ink "$tmp/data/$file")
  fi
  case $end in
    quit) { cat "$tmp/$sheet.txt"; echo "60 quit"; } >"$tmp/replay.txt" && run 1000 "$tmp/replay.txt" ;;
    frames) run 60 "$tmp/$sheet.txt" ;;
    ctrlq) { cat "$tmp/$sheet.txt"; printf '60 key 17 down\n61 key 81 down\n62 key 81 up\n63 key 17 up\n'; } >"$tmp/replay.txt" && limit=20 run 100000000 "$tmp/replay.txt" ;;
    *)
      bare=$([ "$end" = KILL ] && echo 1) start 100000000 "$tmp/$sheet.txt"
      for _ in $(seq 200); do grep -q 'First frame presented' "$tmp/trace.log" 2>/dev/null && break; sleep 0.1; done
      if [ "$end" = KILL ]; then
        for _ in $(seq 200); do [ -e "$tmp/data/sheet.recovery" ] && break; sleep 0.1; done
        sleep 2.5
        kill -9 $pid
        wait $pid 2>/dev/null
      else
        sleep 3
        kill -s "$end" $pid
        finish "$name"
      fi
      ;;
  esac
  if [ "$end" = KILL ]; then
    [ -s "$tmp/data/sheet.recovery" ] || fail "$name: no recovery file"
  else
    grep -q 'open sheet was saved' "$tmp/trace.log" || fail "$name: no trace line for the sheet kept"
    [ ! -e "$tmp/data/sheet.recovery" ] || fail "$name: a recovery file is left"
  fi
  run 3 "$tmp/idle.txt"
  [ "$end" != KILL ] || grep -q 'recovered as the note' "$tmp/trace.log" || fail "$name: no trace line for the recovery"
  [ ! -e "$tmp/data/sheet.recovery" ] || fail "$name: the recovery file is left after the next start"
  [ "$(memo 'len(m["notes"])')" = 1 ] || fail "$name: one note expected at the next start: $(memo m)"
  file=$(memo 'm["notes"][0]["file"]')
  now=$(ink "$tmp/data/$file")
  [ "$now" -gt $((before + 500)) ] || fail "$name: the note has $now inked pixels, $before before the sheet"
done

# A damaged recovery file is set aside with a trace line; the board starts.
rm -rf "$tmp/data" && mkdir -p "$tmp/data" && printf 'KMRS\1\0\0\0garbage' >"$tmp/data/sheet.recovery"
trouble=1 run 3 "$tmp/idle.txt"
[ -s "$tmp/data/sheet.recovery.bad" ] && [ ! -e "$tmp/data/sheet.recovery" ] || fail "damaged recovery file: $(ls "$tmp/data")"
grep -q 'recovery file .* is damaged' "$tmp/trace.log" || fail "damaged recovery file: no trace line"

# Sheets left without a note: no new file, an opened note's file byte for byte.
# case | setup | replay
cases=(
  "Esc on a new sheet||new.txt esc"
  "ok on an untouched new sheet||pad ok"
  "Enter on an untouched new sheet||pad enter"
  "Esc on an opened note|ok.txt|open.txt esc"
)
click 2 _pick1_noteBox1 >"$tmp/pad"
click 60 _pick2_ok >"$tmp/ok"
key 60 13 >"$tmp/enter"
key 60 27 >"$tmp/esc"
for c in "${cases[@]}"; do
  IFS='|' read -r name setup replay <<<"$c"
  rm -rf "$tmp/data"
  [ -z "$setup" ] || run 150 "$tmp/$setup"
  (cd "$tmp/data" 2>/dev/null && md5sum [0-3]* 2>/dev/null) >"$tmp/before"
  (cd "$tmp" && cat $replay) >"$tmp/replay.txt"
  run 150 "$tmp/replay.txt"
  [ "$(cd "$tmp/data" && md5sum [0-3]* 2>/dev/null)" = "$(cat "$tmp/before")" ] ||
    fail "$name: note files changed: $(ls "$tmp/data")"
  [ ! -e "$tmp/data/sheet.recovery" ] || fail "$name: a recovery file is left"
  [ "$(memo 'len(m["notes"]), "pick1" in m["pickFilter"], m["camRote"], m["editNote"]')" = "$(wc -l <"$tmp/before") True False None" ] ||
    fail "$name: not back on the board: $(memo m)"
done

# Keys: 3 is the blue pen, E the rubber across its stroke, Enter ok.
rm -rf "$tmp/data"
{ cat "$tmp/pad"; key 48 51; stroke 50 -40 -30 40 -30; key 58 69; stroke 62 0 -40 0 -20; key 70 13; } >"$tmp/keys.txt"
run 150 "$tmp/keys.txt"
file=$(memo 'm["notes"][0]["file"]')
python3 - "$tmp/data/$file" <<'PY' || fail "keys: note $file"
import sys, zlib
px = zlib.decompress(open(sys.argv[1], 'rb').read()[12:])
def inked(x0, x1, y0, y1):
    return [px[i:i + 3] for y in range(y0, y1) for x in range(x0, x1) for i in [(y * 512 + x) * 4] if px[i + 3] > 128]
side, middle = inked(100, 220, 100, 150), inked(244, 268, 100, 150)
b, g, r = (sum(p[k] for p in side) / max(1, len(side)) for k in range(3))
print(f"{len(side)} inked pixels beside the rubber (b {b:.0f} g {g:.0f} r {r:.0f}), {len(middle)} under it")
sys.exit(0 if len(side) > 200 and b > max(r, g) + 40 and not middle else 1)
PY

# Esc in the recycle view is its back button.
{ click 2 _pick1_ReturnBtn; key 60 27; } >"$tmp/bin.txt"
run 150 "$tmp/bin.txt"
[ "$(memo '"pick1" in m["pickFilter"], m["camRote"]')" = "True False" ] || fail "Esc in the recycle view: $(memo m)"
echo PASS
