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

headless() {
  SDL_VIDEODRIVER= env -u DISPLAY timeout 60 "$memo" --headless 400 300 --fixed-step 1 --data "$tmp/probe" \
    --content "$stage" --frames "$1" --replay "$2" --dump-scene "$3" >/dev/null 2>&1
}
screen() {
  python3 - "$@" <<'PY'
import json, sys
def walk(cs):
    for c in cs:
        yield c
        yield from walk(c.get('children', []))
def clumps(objs):
    for o in objs:
        yield from walk(o['clumps'])
        yield from clumps(o['children'])
c = next(c for c in clumps(json.load(open(sys.argv[1]))['objects']) if c['name'] == sys.argv[2])
print(round(c['screen'][0]), round(c['screen'][1]))
PY
}

printf '0 move 0 0\n' >"$tmp/none.txt"
headless 3 "$tmp/none.txt" "$tmp/rest.json" || fail "the board did not start headless"
printf '2 move @_pick1_noteBox1\n3 down left\n4 up left\n' >"$tmp/pad.txt"
headless 60 "$tmp/pad.txt" "$tmp/edit.json" || fail "the pad did not open headless"
read -r padX padY < <(screen "$tmp/rest.json" _pick1_noteBox1)
read -r binX binY < <(screen "$tmp/rest.json" _pick1_ReturnBtn)
read -r okX okY < <(screen "$tmp/edit.json" _pick2_ok)

"$memo" 400 300 --data "$tmp/live" --content "$stage" --dump-scene "$tmp/live.json" 2>/dev/null &
pid=$!
wid=""
for _ in $(seq 200); do
  wid=$(xdotool search --name '^Kiwa Memo' 2>/dev/null | head -1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "kiwa-memo ended before its window appeared"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled 'Kiwa Memo'"
sleep 0.5
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
