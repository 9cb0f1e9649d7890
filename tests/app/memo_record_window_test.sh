#!/usr/bin/env bash
# The real board in a real window, the pointer driven by xdotool: a sheet
# from the pad, a stroke, ok: the note is on the board and its file has ink.
# The session is recorded with --record and replayed off screen to the same
# board. Runs under an X server.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; echo "--- record"; cat "$tmp/rec.txt" 2>/dev/null; exit 1; }

source "$(dirname "$0")/board_window_lib.sh"
# The board section with the note files' names left out (they come from the clock).
board() {
  python3 -c "import json; m = json.load(open('$1'))['memo']; [n.pop('file') for n in m['notes']]; print(m)"
}

# Where the pad, the edit paper and ok are in a 400x300 window.
probe_board
read -r padX padY < <(screen "$tmp/rest.json" _pick1_noteBox1)
read -r paperX paperY < <(screen "$tmp/edit.json" _editPaper01)
read -r okX okY < <(screen "$tmp/edit.json" _pick2_ok)

open_window --fixed-step 1 --record "$tmp/rec.txt" --dump-scene "$tmp/live.json"
click() { xdotool mousemove --window "$wid" "$1" "$2"; sleep 0.2; xdotool mousedown 1; sleep 0.2; xdotool mouseup 1; }
click "$padX" "$padY"
sleep 2  # the camera turns to the desk
xdotool mousemove --window "$wid" $((paperX - 40)) $((paperY - 30))
sleep 0.2
xdotool mousedown 1
for d in 30 20 10 0 -10 -20 -30; do xdotool mousemove --window "$wid" $((paperX - d)) $((paperY + d)); sleep 0.05; done
xdotool mouseup 1
sleep 0.3
click "$okX" "$okY"
sleep 2  # the note flies onto the board
kill -TERM "$pid"  # the window system's quit request
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
rc=$?
pid=""
[ "$rc" -eq 0 ] || fail "the recorded run exited $rc"

python3 - "$tmp/live.json" "$tmp/live" <<'EOF' || fail "no inked note on the board after the live session: $(board "$tmp/live.json")"
import json, sys, zlib
m = json.load(open(sys.argv[1]))['memo']
assert [n['kind'] for n in m['notes']] == [1] and m['pickFilter'] == 'pick1'
ink = zlib.decompress(open(sys.argv[2] + '/' + m['notes'][0]['file'], 'rb').read()[12:])[3::4]
assert sum(a > 128 for a in ink) > 0
EOF
grep -q '^[0-9]* quit$' "$tmp/rec.txt" || fail "the end of the run was not recorded"

headless replay 100000 "$tmp/rec.txt" "$tmp/replay.json" || fail "the replay exited $?"
[ "$(board "$tmp/replay.json")" = "$(board "$tmp/live.json")" ] ||
  fail "the replay's board differs: $(board "$tmp/replay.json") vs $(board "$tmp/live.json")"
echo PASS
