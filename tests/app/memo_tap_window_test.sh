#!/usr/bin/env bash
# The real board in a real window under xdotool: taps of 3 ms on the pad, on
# ok and on the bin each do their job, and a big X drawn over an open
# sheet (its presses in the exit gesture's corners) is ink, not the end of
# the program. Runs under an X server.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

source "$(dirname "$0")/board_window_lib.sh"

probe_board
read -r padX padY < <(screen "$tmp/rest.json" _pick1_noteBox1)
read -r binX binY < <(screen "$tmp/rest.json" _pick1_ReturnBtn)
read -r okX okY < <(screen "$tmp/edit.json" _pick2_ok)

open_window --dump-scene "$tmp/live.json"
tap() { xdotool mousemove --window "$wid" "$1" "$2" sleep 0.2 mousedown 1 sleep 0.003 mouseup 1; }
# A stroke from corner to corner, one motion sample every 20 ms.
stroke() {
  local x0=$1 y0=$2 x1=$3 y1=$4 i
  xdotool mousemove --window "$wid" "$x0" "$y0" sleep 0.1 mousedown 1
  for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove --window "$wid" $((x0 + (x1 - x0) * i / 10)) $((y0 + (y1 - y0) * i / 10)) sleep 0.02
  done
  xdotool mouseup 1
  sleep 0.2
}

tap "$padX" "$padY"
sleep 2  # the camera turns to the desk
stroke 395 5 5 295
stroke 5 5 395 295
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "the X drawn over the open sheet ended the program (or the tap on the pad was lost)"
tap "$okX" "$okY"
sleep 2  # the note flies onto the board
tap "$binX" "$binY"
sleep 1
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
rc=$?
pid=""
[ "$rc" -eq 0 ] || fail "kiwa-memo exited $rc"
got=$(python3 -c "import json; m = json.load(open('$tmp/live.json'))['memo']; print(len(m['notes']), m['pickFilter'])")
[ "$got" = "1 _pick3_" ] || fail "taps on the pad, ok and the bin: want '1 _pick3_' (notes, the recycle view), got '$got'"
echo PASS
