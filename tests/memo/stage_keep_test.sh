#!/usr/bin/env bash
# kiwa-memo on the real board: a sheet open when the program ends is kept as
# ok keeps it (the run's quit, the end of its frames, SIGTERM), a new one as a
# note and an opened note with its new ink; the next start has it.
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
  env -u DISPLAY timeout 120 "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$tmp/data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 &
  pid=$!
}
# finish WHAT: waits for the run and checks it ended cleanly.
finish() {
  wait $pid || fail "$1: exit status $?: $(tail -3 "$tmp/out")"
  grep '!!!' "$tmp/trace.log" && fail "$1: trouble in the trace"
  tail -1 "$tmp/trace.log" | grep -q 'alloc: \([0-9]*\), free: \1$' || fail "$1: memory report not balanced"
}
run() { start "$1" "$2" && finish "$2"; }
memo() { python3 -c "import json; m=json.load(open('$tmp/dump.json'))['memo']; print($1)"; }
# Inked pixels of a note file.
ink() { python3 -c "import sys, zlib; p = zlib.decompress(open(sys.argv[1], 'rb').read()[12:]); print(sum(a > 128 for a in p[3::4]))" "$1"; }

click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# stroke F X0 Y0 X1 Y1 on paper 1: pointer offsets from its centre.
stroke() { printf '%d move @_editPaper01 %d %d\n%d down left\n%d move @_editPaper01 %d %d\n%d up left\n' \
  "$1" "$2" "$3" $(($1 + 1)) $(($1 + 3)) "$4" "$5" $(($1 + 5)); }
{ click 2 _pick1_noteBox1; stroke 50 -40 -30 40 -30; } >"$tmp/new.txt"
{ click 2 _pick1_drag_paper; click 6 _pick1_drag_paper; stroke 50 -40 30 40 30; } >"$tmp/open.txt"
printf '1 move 0 0\n' >"$tmp/idle.txt"

# case | sheet | how the run ends
cases=(
  "new sheet, quit|new|quit"
  "new sheet, last frame|new|frames"
  "new sheet, SIGTERM|new|TERM"
  "opened note, quit|open|quit"
  "opened note, SIGINT|open|INT"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name sheet end <<<"$c"
  rm -rf "$tmp/data"
  before=0
  if [ "$sheet" = open ]; then
    { cat "$tmp/new.txt"; click 60 _pick2_ok; } >"$tmp/ok.txt"
    run 150 "$tmp/ok.txt"
    file=$(memo 'm["notes"][0]["file"]')
    before=$(ink "$tmp/data/$file")
  fi
  case $end in
    quit) { cat "$tmp/$sheet.txt"; echo "60 quit"; } >"$tmp/replay.txt" && run 1000 "$tmp/replay.txt" ;;
    frames) run 60 "$tmp/$sheet.txt" ;;
    *)
      start 100000000 "$tmp/$sheet.txt"
      for _ in $(seq 200); do grep -q 'First frame presented' "$tmp/trace.log" 2>/dev/null && break; sleep 0.1; done
      sleep 3
      kill -s "$end" $pid
      finish "$name"
      ;;
  esac
  grep -q 'open sheet was saved' "$tmp/trace.log" || fail "$name: no trace line for the sheet kept"
  run 3 "$tmp/idle.txt"
  [ "$(memo 'len(m["notes"])')" = 1 ] || fail "$name: one note expected at the next start: $(memo m)"
  file=$(memo 'm["notes"][0]["file"]')
  now=$(ink "$tmp/data/$file")
  [ "$now" -gt $((before + 500)) ] || fail "$name: the note has $now inked pixels, $before before the sheet"
done
echo PASS
