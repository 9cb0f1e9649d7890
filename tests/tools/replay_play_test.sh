#!/usr/bin/env bash
# Recorded input played by orvplay on a small stage: "move @NAME" points at a
# clump through the camera and a click picks it; malformed and unplayable
# files end the run with status 2 naming the line; a run without a fixed
# step sleeps between frames instead of spinning.
set -u
orvc=$1
player=$2
stage=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$orvc" "$stage" -o "$tmp/click.orv" >/dev/null || fail "orvc could not compile $stage"

switch_of() { grep -o "\"name\": \"$1\"[^{]*\"switchWord\": [0-9]*" "$tmp/dump.json" | grep -o '[0-9]*$'; }

# Where the pointer goes | switch words of left_box and right_box afterwards.
while IFS='|' read -r target expected; do
  printf '# click\n1 move %s\n2 down left\n3 up left\n' "$target" >"$tmp/in.txt"
  "$player" --headless 320 240 --fixed-step 1 --replay "$tmp/in.txt" --dump-scene "$tmp/dump.json" \
    "$tmp/click.orv" 2>/dev/null || fail "replay of 'move $target' exited $?"
  got="$(switch_of left_box) $(switch_of right_box)"
  [ "$got" = "$expected" ] || fail "after clicking at 'move $target' the switches are '$got', not '$expected'"
done <<'CASES'
@right_box|0 2
@left|2 0
@right_box 200 0|0 0
160 120|0 2
10 10|0 0
CASES

# Without --frames the run ends 60 frames after the last event (frame 3).
grep -q '"frames": 64,' "$tmp/dump.json" || fail "the replay did not end 60 frames after its last event"

# File | line the message must name.
while IFS='|' read -r text line; do
  printf "$text" >"$tmp/bad.txt"
  err=$("$player" --headless 320 240 --fixed-step 1 --replay "$tmp/bad.txt" "$tmp/click.orv" 2>&1 >/dev/null)
  rc=$?
  [ "$rc" -eq 2 ] || fail "'$text' exited $rc, not 2"
  echo "$err" | grep -q "^orvplay: $tmp/bad.txt:$line: " || fail "'$text' gave: $err"
done <<'CASES'
0 move 1 2\n0 drag left\n|2
# no frame yet\n0 move @right_box\n|2
1 move 5 5\n2 move @no_such_clump\n|2
CASES
for file in "$tmp/missing.txt" "$tmp" /dev/zero; do
  "$player" --headless --replay "$file" "$tmp/click.orv" >/dev/null 2>&1
  [ $? -eq 2 ] || fail "replaying '$file' should exit 2"
done

# CPU use of a paced run, start-up left out: the difference between a short
# and a two seconds longer run. One stage paces by its clock step (one unit
# a frame), the other (40 units a frame) by the loop alone.
sed 's/units_per_frame = 1,/units_per_frame = 40,/' "$stage" >"$tmp/fine.lua"
"$orvc" "$tmp/fine.lua" -o "$tmp/fine.orv" >/dev/null || fail "orvc could not compile the fine-step stage"
for content in click fine; do
  for frames in 30 150; do
    /usr/bin/time -f "%U %S %e" -o "$tmp/time.$frames" \
      "$player" --headless 160 120 --frames "$frames" "$tmp/$content.orv" >/dev/null 2>&1 ||
      fail "the paced run of $content exited $?"
  done
  read -r u1 s1 e1 <"$tmp/time.30"
  read -r u2 s2 e2 <"$tmp/time.150"
  share=$(awk -v c="$u1 $s1 $u2 $s2" -v w="$e1 $e2" 'BEGIN {
    split(c, t, " "); split(w, e, " ");
    print int(100 * ((t[3] + t[4]) - (t[1] + t[2])) / (e[2] - e[1])) }')
  secs=$(awk -v a="$e1" -v b="$e2" 'BEGIN { print int((b - a) * 10) }')
  [ "$secs" -ge 15 ] || fail "$content: 120 more frames took only $(awk -v a="$e1" -v b="$e2" 'BEGIN { print b - a }') s (not paced to 60 a second)"
  [ "$share" -lt 30 ] || fail "$content: a paced run used $share % of a core"
  echo "$content: $share % of a core over 120 paced frames"
done
echo PASS
