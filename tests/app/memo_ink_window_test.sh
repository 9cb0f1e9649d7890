#!/usr/bin/env bash
# Ink follows the hand, in a real window under xdotool: a zigzag of 40 motion
# samples made within a few milliseconds, its first 1 ms after the press,
# leaves the ink the same path leaves when drawn one point per frame (replayed
# off screen): the press point and every corner are inked. Runs under an X
# server.
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
read -r paperX paperY < <(screen "$tmp/edit.json" _editPaper01)
read -r okX okY < <(screen "$tmp/edit.json" _pick2_ok)

# The zigzag: 40 points, a corner every 4.
points=()
for i in $(seq 0 39); do
  k=$((i % 8 - 4))
  points+=("$((paperX - 40 + 2 * i)) $((paperY - 20 + 10 * ${k#-}))")
done

# Slowly, one point a frame, off screen.
{
  cat "$tmp/pad.txt"
  printf '50 move %s\n51 down left\n' "${points[0]}"
  for i in $(seq 1 39); do printf '%d move %s\n' $((51 + i)) "${points[$i]}"; done
  printf '92 up left\n100 move %d %d\n101 down left\n102 up left\n' "$okX" "$okY"
} >"$tmp/slow.txt"
headless slow 160 "$tmp/slow.txt" "$tmp/slow.json" || fail "the slow replay exited $?"

open_window --dump-scene "$tmp/live.json"
tap() { xdotool mousemove --window "$wid" "$1" "$2" sleep 0.2 mousedown 1 sleep 0.05 mouseup 1; }
tap "$padX" "$padY"
sleep 2  # the camera turns to the desk
args=(mousemove --window "$wid" ${points[0]} sleep 0.2 mousedown 1 sleep 0.001)
for i in $(seq 1 39); do args+=(mousemove --window "$wid" ${points[$i]}); done
xdotool "${args[@]}" mouseup 1
sleep 0.3
tap "$okX" "$okY"
sleep 2  # the note flies onto the board
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
rc=$?
pid=""
[ "$rc" -eq 0 ] || fail "kiwa-memo exited $rc"

python3 - "$tmp" <<'PY' || fail "the fast zigzag lost ink the slow one has"
import json, sys, zlib
def ink(run):
    m = json.load(open(f'{sys.argv[1]}/{run}.json'))['memo']
    assert len(m['notes']) == 1, f'{run}: {len(m["notes"])} notes'
    a = zlib.decompress(open(f'{sys.argv[1]}/{run}/{m["notes"][0]["file"]}', 'rb').read()[12:])[3::4]
    return {(i % 512, i // 512) for i, v in enumerate(a) if v > 128}
slow, live = ink('slow'), ink('live')
near = lambda p: any((p[0] + dx, p[1] + dy) in live for dx in range(-2, 3) for dy in range(-2, 3))
missed = [p for p in slow if not near(p)]
print(f'ink pixels: slow {len(slow)}, live {len(live)}, slow ones not near live ink {len(missed)}')
assert len(slow) > 1000 and len(missed) <= len(slow) // 50
PY
echo PASS
