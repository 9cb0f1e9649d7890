#!/usr/bin/env bash
# Drives the real window under an X server: size and title, a second start
# raising the first, and the exit gesture ending the program cleanly.
set -u
bin=$1
tmp=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; echo "--- trace"; cat "$tmp/trace.log" 2>/dev/null; exit 1; }

touch "$tmp/stage.orv"
"$bin" 800 600 --data "$tmp/data" --content "$tmp/stage.orv" --trace "$tmp/trace.log" 2>/dev/null &
pid=$!

wid=""
for _ in $(seq 200); do
  wid=$(xdotool search --name '^Kiwa Memo' 2>/dev/null | head -1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "kiwa-memo ended before its window appeared"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled 'Kiwa Memo'"
geometry=$(xdotool getwindowgeometry "$wid")
echo "$geometry" | grep -q 'Geometry: 800x600' || fail "window geometry: $geometry"

# A second start with the same data folder exits 0 at once and raises the first.
timeout 10 "$bin" 800 600 --data "$tmp/data" --content "$tmp/stage.orv" 2>/dev/null
rc=$?
[ "$rc" -eq 0 ] || fail "second start exited $rc"
for _ in $(seq 50); do grep -q 'Raise request from another start.' "$tmp/trace.log" && break; sleep 0.1; done
grep -q 'Raise request from another start.' "$tmp/trace.log" || fail "the first window got no raise request"
kill -0 "$pid" 2>/dev/null || fail "the first instance ended"

# The cross: press top-right, release bottom-left, press top-left, release bottom-right.
drag() {
  xdotool mousemove --window "$wid" "$1" "$2" mousedown 1
  sleep 0.2
  xdotool mousemove --window "$wid" "$3" "$4" mouseup 1
  sleep 0.2
}
drag 750 50 50 550
kill -0 "$pid" 2>/dev/null || fail "half a gesture ended the program"
drag 50 50 750 550

for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the exit gesture did not end the program"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || fail "kiwa-memo exited $rc"
grep -q 'Count of Orvo memory management systeme. alloc: \([0-9]*\), free: \1$' "$tmp/trace.log" ||
  fail "balance report missing or unequal"
grep -q 'not matched' "$tmp/trace.log" && fail "allocations not matched"
echo "PASS"
