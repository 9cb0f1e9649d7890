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
echo "PASS"
