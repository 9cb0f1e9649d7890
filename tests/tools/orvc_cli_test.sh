#!/usr/bin/env bash
# orvc as a program: its command line, its exit statuses, and the stages of
# the repository compiled and inspected with orvdump --json.
# Usage: orvc_cli_test.sh ORVC ORVDUMP STAGE_DIR
set -u
orvc=$1
orvdump=$2
stages=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_status STATUS COMMAND...: runs the command, output in $work/out.
expect_status() {
  local want=$1
  shift
  "$@" >"$work/out" 2>&1
  local got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited $got, expected $want: $(head -c 400 "$work/out")"
}

expect_in() {  # expect_in FILE TEXT
  grep -qF -- "$2" "$1" || fail "$1 lacks '$2'"
}

# Command line.
expect_status 0 "$orvc" --help
expect_in "$work/out" "Usage: orvc"
expect_status 2 "$orvc"
expect_status 2 "$orvc" "$stages/stage.lua"
expect_in "$work/out" "no output file given"
expect_status 2 "$orvc" --frobnicate "$stages/stage.lua" -o "$work/x.orv"
expect_in "$work/out" "unknown option --frobnicate"
expect_status 2 "$orvc" a.lua b.lua -o "$work/x.orv"
expect_status 2 "$orvc" "$stages/stage.lua" -o "$work/x.orv" --max-memory lots

# A broken stage: status 1, FILE:LINE: message, and no output file.
printf 'local b = box{ size = 2 }\nclump{ mesh = b, colour = 3 }\n' >"$work/bad.lua"
expect_status 1 "$orvc" "$work/bad.lua" -o "$work/bad.orv"
expect_in "$work/out" "bad.lua:2: clump: unknown field 'colour'"
[ ! -e "$work/bad.orv" ] || fail "a failed compile left bad.orv"
expect_status 1 "$orvc" "$work/missing.lua" -o "$work/missing.orv"
expect_in "$work/out" "cannot read the stage source"

# The time limit stops even a pattern match that never returns to Lua.
printf 'local s = string.rep("a", 40)\nstring.find(s, string.rep("a*", 40) .. "b")\n' >"$work/slow.lua"
expect_status 1 "$orvc" "$work/slow.lua" -o "$work/slow.orv" --max-seconds 1
expect_in "$work/out" "slow.lua: the stage ran longer than 1 second (--max-seconds)"
[ ! -e "$work/slow.orv" ] && [ ! -e "$work/slow.orv.tmp" ] || fail "a stopped compile left an output file"
expect_status 2 "$orvc" "$work/slow.lua" -o "$work/slow.orv" --max-seconds 0

# The stages of the repository.
for s in stage demos/animated demos/materials; do
  name=$(basename "$s")
  expect_status 0 "$orvc" "$stages/$s.lua" -o "$work/$name.orv" --depfile "$work/$name.d"
  expect_status 0 "$orvdump" --json "$work/$name.orv"
  cp "$work/out" "$work/$name.json"
done

# What the sources say shows in the dump.
j=$work/stage.json
expect_in "$j" '"name": "memo"'
for n in _BkBoard _pick1_noteBox0 TrashCan _clock second_hand D_CamRote camera; do expect_in "$j" "\"name\": \"$n\""; done
expect_in "$j" '"extension": "(hidden type) (0, 11010)"'
expect_in "$j" '"extension": "(hidden type) (0, 11020)"'
expect_in "$work/stage.d" "clock.lua"

j=$work/animated.json
expect_in "$j" '"cameraId": 100'
expect_in "$j" '"name": "mover", "mesh": 0, "animationSet": 0'
for id in 100 140 150 1350 9000; do expect_in "$j" "\"group\": 0, \"id\": $id, \"name\": \"(hidden type)\", \"known\": true"; done
expect_in "$j" '"bounds": [0, 0, 0, 17.3205109, -10, -10, -10, 10, 10, 10]'

j=$work/materials.json
expect_in "$j" '"format": "palette 8-bit"'
expect_in "$j" '"format": "A4R4G4B4"'
expect_in "$j" '"compressed": true'
expect_in "$j" '"colours": true'
expect_in "$j" '"twoSided": true'
expect_in "$j" '"subsets": 2'

# The same source makes the same bytes.
expect_status 0 "$orvc" "$stages/demos/materials.lua" -o "$work/again.orv"
cmp -s "$work/materials.orv" "$work/again.orv" || fail "two compiles of materials.lua differ"

echo "orvc_cli: $failures failed"
[ "$failures" -eq 0 ]
