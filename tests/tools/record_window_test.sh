#!/usr/bin/env bash
# Records a session in a real window (the pointer driven by xdotool) with
# --record, then replays the record off screen: both runs end in the same
# scene dump. Runs under an X server.
set -u
orvc=$1
player=$2
stage=$3
tmp=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; echo "--- record"; cat "$tmp/rec.txt" 2>/dev/null; exit 1; }

"$orvc" "$stage" -o "$tmp/click.orv" >/dev/null || fail "orvc could not compile $stage"

"$player" 320 240 --fixed-step 1 --record "$tmp/rec.txt" --dump-scene "$tmp/live.json" "$tmp/click.orv" 2>/dev/null &
pid=$!
wid=""
for _ in $(seq 200); do
  wid=$(xdotool search --name '^Orvo Player' 2>/dev/null | head -1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "orvplay ended before its window appeared"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled 'Orvo Player'"
sleep 0.3
# The camera looks straight at right_box: the window's centre picks it.
xdotool mousemove --window "$wid" 160 120
sleep 0.2
xdotool mousedown 1
sleep 0.2
xdotool mouseup 1
sleep 0.2
xdotool mousemove --window "$wid" 20 30
sleep 0.2
kill -TERM "$pid"  # the window system's quit request
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
rc=$?
pid=""
[ "$rc" -eq 0 ] || fail "the recorded run exited $rc"
grep -q '^[0-9]* down left$' "$tmp/rec.txt" || fail "the click was not recorded"
grep -q '^[0-9]* quit$' "$tmp/rec.txt" || fail "the end of the run was not recorded"
grep -o '"name": "right_box"[^{]*"switchWord": [0-9]*' "$tmp/live.json" | grep -q '"switchWord": 2$' ||
  fail "the live click did not pick right_box"

SDL_VIDEODRIVER= "$player" --headless 320 240 --fixed-step 1 --replay "$tmp/rec.txt" --dump-scene "$tmp/replay.json" \
  "$tmp/click.orv" 2>/dev/null || fail "the replay exited $?"
cmp -s "$tmp/live.json" "$tmp/replay.json" || fail "the replay's scene differs: $(diff "$tmp/live.json" "$tmp/replay.json" | head -5)"
echo PASS
