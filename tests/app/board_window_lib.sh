# Shared by the board's window tests: sourced after the test has set memo,
# stage, tmp, pid and fail().

# headless DATA FRAMES REPLAY DUMP [more options]: the board off screen in a
# 400x300 frame, data in $tmp/DATA.
headless() {
  SDL_VIDEODRIVER= env -u DISPLAY timeout 60 "$memo" --headless 400 300 --fixed-step 1 --data "$tmp/$1" \
    --content "$stage" --frames "$2" --replay "$3" --dump-scene "$4" "${@:5}" >/dev/null 2>&1
}
# screen DUMP NAME: the window pixel where the dump projects the clump NAME.
screen() {
  PYTHONPATH="$(dirname "${BASH_SOURCE[0]}")/../support" python3 - "$@" <<'PY'
import sys
from ovtest import clumps
c = next(c for c in clumps(sys.argv[1]) if c['name'] == sys.argv[2])
print(round(c['screen'][0]), round(c['screen'][1]))
PY
}
# open_window [options]: the board in a 400x300 window on $tmp/live; sets pid
# and wid once the window is there.
open_window() {
  "$memo" 400 300 --data "$tmp/live" --content "$stage" "$@" 2>"$tmp/window.err" &
  pid=$!
  wid=""
  for _ in $(seq 200); do
    wid=$(xdotool search --name '^Kiwa Memo' 2>/dev/null | head -1)
    [ -n "$wid" ] && break
    kill -0 "$pid" 2>/dev/null || fail "kiwa-memo ended before its window appeared: $(tail -3 "$tmp/window.err")"
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no window titled 'Kiwa Memo'"
  sleep 0.5
}
# probe_board: the board at rest ($tmp/rest.json) and with a sheet from pad 1
# open ($tmp/edit.json, replay $tmp/pad.txt), so a test finds where things are.
probe_board() {
  printf '0 move 0 0\n' >"$tmp/none.txt"
  headless probe 3 "$tmp/none.txt" "$tmp/rest.json" || fail "the board did not start headless"
  printf '2 move @_pick1_noteBox1\n3 down left\n4 up left\n' >"$tmp/pad.txt"
  headless probe 60 "$tmp/pad.txt" "$tmp/edit.json" || fail "the pad did not open headless"
}
