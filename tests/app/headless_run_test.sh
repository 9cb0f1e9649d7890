#!/usr/bin/env bash
# kiwa-memo runs a fixed number of frames with no display and stops cleanly.
set -u
bin=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; cat "$tmp/trace.log" 2>/dev/null; exit 1; }
touch "$tmp/stage.orv"
env -u DISPLAY timeout 60 "$bin" --headless --frames 100 --data "$tmp/data" --content "$tmp/stage.orv" \
  --trace "$tmp/trace.log" 2>/dev/null
rc=$?
[ "$rc" -eq 0 ] || fail "exit status $rc"
grep -q 'Floating point version.' "$tmp/trace.log" || fail "no start line"
tail -1 "$tmp/trace.log" | grep -q 'Count of Orvo memory management systeme. alloc: \([0-9]*\), free: \1$' ||
  fail "the trace does not end with an equal balance report"
[ -d "$tmp/data/recycle" ] || fail "no recycle folder"

"$bin" --help | grep -q -- '--frames N' || fail "--help"
"$bin" --frames 0 2>"$tmp/err"; rc=$?
[ "$rc" -eq 2 ] && grep -q -- '--frames' "$tmp/err" || fail "bad --frames accepted (status $rc)"

# A data folder that cannot be entered (a symbolic-link loop) is the usual
# exit-1 message, never an abort.
ln -s loop "$tmp/loop"
env -u DISPLAY timeout 60 "$bin" --headless --frames 1 --data "$tmp/loop/data" --content "$tmp/stage.orv" \
  >"$tmp/out" 2>&1; rc=$?
[ "$rc" -eq 1 ] && grep -q "^kiwa-memo: cannot create the folder '$tmp/loop/data'" "$tmp/out" ||
  fail "unreachable data folder: status $rc, $(head -3 "$tmp/out")"

# A content file that cannot be read is named with the reason.
env -u DISPLAY timeout 60 "$bin" --headless --frames 1 --data "$tmp/data" --content "$tmp" >"$tmp/out" 2>&1; rc=$?
[ "$rc" -eq 1 ] && grep -q "^kiwa-memo: cannot read the content file '$tmp': it is a folder" "$tmp/out" ||
  fail "unreadable content: status $rc, $(head -3 "$tmp/out")"

# A second start on the same data folder says it raised the running board.
env -u DISPLAY timeout 60 "$bin" --headless --data "$tmp/data" --content "$tmp/stage.orv" 2>/dev/null &
first=$!
for _ in $(seq 100); do [ -S "$tmp/data/kiwa-memo.sock" ] && break; sleep 0.1; done
env -u DISPLAY timeout 60 "$bin" --headless --data "$tmp/data" >"$tmp/out" 2>/dev/null; rc=$?
kill "$first" 2>/dev/null; wait "$first" 2>/dev/null
[ "$rc" -eq 0 ] && [ "$(wc -l <"$tmp/out")" -eq 1 ] && grep -q 'brought to the front' "$tmp/out" ||
  fail "second start: status $rc, '$(cat "$tmp/out")'"
echo "PASS"
