#!/usr/bin/env bash
# A board ends on SIGTERM, SIGINT and SIGHUP and saves its notes, also when a
# content script hangs its frame; with a file-size limit a save that does not
# fit is reported and the board goes on.
# Usage: stop_signal_test.sh ORVC KIWA_MEMO TEST_BOARD_LUA
set -u
orvc=$1
memo=$2
board=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

"$orvc" "$board" -o "$tmp/board.orv" >/dev/null || { echo "FAIL: orvc board"; exit 1; }
# Each instruction copies a megabyte: far below the instruction budget, yet
# the frame never ends.
cat "$board" - >"$tmp/hang.lua" <<'EOF'
script{ source = [[
Hang = { OnTick = function(self, t)
  local s = string.rep("a", 1 << 20)
  while true do s = s:upper():lower() end
end }
]] }
object{ name = "hanger", clump = clump{ name = "hanger", position = { 0, 2000, 0 },
  animation = { node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "Hang" } } } }
EOF
"$orvc" "$tmp/hang.lua" -o "$tmp/hang.orv" >/dev/null || { echo "FAIL: orvc hang"; exit 1; }

# case | content | signal
cases=(
  "hung frame, TERM|hang.orv|TERM"
  "hung frame, INT|hang.orv|INT"
  "idle board, HUP|board.orv|HUP"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name content sig <<<"$c"
  data=$tmp/data-$sig-$content
  env -u DISPLAY "$memo" --headless 64 48 --data "$data" --content "$tmp/$content" --trace "$tmp/trace.log" \
    >"$tmp/out" 2>&1 &
  pid=$!
  for _ in $(seq 200); do grep -q 'Floating point version' "$tmp/trace.log" 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  rm -f "$tmp/trace.log"
  kill -s "$sig" "$pid"
  start=$(date +%s.%N)
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  took=$(echo "$(date +%s.%N) - $start" | bc)
  if kill -0 "$pid" 2>/dev/null; then
    fail "$name: still running ${took}s after SIG$sig"
    kill -9 "$pid"
  elif [ "$(echo "$took > 3.5" | bc)" = 1 ]; then
    fail "$name: took ${took}s to end"
  fi
  wait "$pid" 2>/dev/null
  [ -s "$data/inf.bin" ] || fail "$name: no note index saved: $(tail -3 "$tmp/out")"
  grep -q 'Count of Orvo memory' "$tmp/out" || fail "$name: no orderly shutdown: $(tail -3 "$tmp/out")"
done

# A file-size limit below the note index: the save fails with a message
# instead of the signal ending the board (its output goes through a pipe,
# which the limit does not reach).
out=$( (
  ulimit -f 0
  exec env -u DISPLAY "$memo" --headless 64 48 --fixed-step 1 --frames 3 --data "$tmp/small" \
    --content "$tmp/board.orv" 2>&1
))
rc=$?
[ "$rc" -eq 0 ] || fail "file-size limit: status $rc: $(echo "$out" | tail -3)"
echo "$out" | grep -q 'Notes are not being saved: .*File too large' ||
  fail "file-size limit: no message: $(echo "$out" | tail -3)"

[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
