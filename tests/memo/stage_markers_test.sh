#!/usr/bin/env bash
# kiwa-memo on the real board, one run per step on one data folder: the
# trash markers (the crumpled sheets in the basket) come back after a
# restart, at most six, follow the bin down when notes are put back or
# deleted and go with the emptied bin; a bin without saved markers shows one
# at the trash can; seven notes thrown away on a new board leave six.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap "rm -rf $tmp" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; exit 1; }

run() {
  env -u DISPLAY timeout 120 "$memo" --headless 400 300 --fixed-step 1 --frames "$1" --data "$data" \
    --content "$stage" --replay "$2" --dump-scene "$tmp/dump.json" --trace "$tmp/trace.log" >"$tmp/out" 2>&1 ||
    fail "$2: exit status $?: $(tail -3 "$tmp/out")"
  grep '!!!' "$tmp/trace.log" && fail "$2: trouble in the trace"
}
# Bin count, markers held, marker objects in the scene.
state() {
  python3 - "$tmp/dump.json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
def walk(objects):
    for o in objects:
        yield o
        yield from walk(o["children"])
shown = sum(1 for o in walk(d["objects"]) if "delfly_" in o["name"])
print(d["memo"]["recycleCount"], d["memo"].get("trashMarkers"), shown)
PY
}
note() {
  python3 -c 'import struct, sys, zlib
p = zlib.compress(bytes(512 * 512 * 4))
open(sys.argv[1], "wb").write(struct.pack("<iiI", 512 * 512 * 4, 1, len(p)) + p)' "$1"
}
# The one saved marker eight times over.
eight() {
  python3 - "$tmp/data/inf.bin" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
at = 6 + 22 * struct.unpack_from("<i", d, 2)[0]
assert struct.unpack_from("<h", d, at)[0] == 1, "one marker saved"
open(sys.argv[1], "wb").write(d[:at] + struct.pack("<h", 8) + d[at + 2:at + 82] * 8)
PY
}
click() { printf '%d move @%s\n%d down left\n%d up left\n' "$1" "$2" $(($1 + 1)) $(($1 + 2)); }
# A note on the board dragged onto the trash can.
trash() {
  printf '%d move @_pick1_drag_paper\n%d down left\n' "$1" $(($1 + 1))
  for ((i = 0; i <= 18; i += 2)); do printf '%d move @TrashCan 0 %d\n' $(($1 + 2 + i)) $((18 - i)); done
  printf '%d up left\n' $(($1 + 22))
}

data=$tmp/data
mkdir -p "$tmp/data/recycle"
for k in 1 2 3 4 5 6 7 8; do note "$tmp/data/recycle/001C937A1B2C3D4E$k"; done
printf '1 move 0 0\n' >"$tmp/idle.txt"
cp "$tmp/idle.txt" "$tmp/eight.txt"
{ click 2 _pick1_ReturnBtn; click 60 _pick3_RreturnNote; click 100 _pick3_RreturnNote; click 140 _pick3_delnote; } \
  >"$tmp/back.txt"
{ click 2 _pick1_ReturnBtn; click 60 _pick3_pick1_ClearBtn; } >"$tmp/clear.txt"
for ((k = 0; k < 7; k++)); do trash $((2 + 60 * k)); done >"$tmp/trash.txt"

# Each step: frames, input, then bin count, markers held and marker objects.
while read -r frames input expected; do
  [ "$input" = eight ] && eight
  if [ "$input" = trash ]; then
    # Seven notes on a new board.
    data=$tmp/fresh
    mkdir -p "$data"
    for k in 1 2 3 4 5 6 7; do note "$data/101C937A1B2C3D4F$k"; done
  fi
  run "$frames" "$tmp/$input.txt"
  [ "$(state)" = "${expected//,/ }" ] || fail "after $input: $(state), not $expected"
done <<'STEPS'
3 idle 8,1,1
3 eight 8,6,6
200 back 5,5,5
100 clear 0,0,5
3 idle 0,0,0
440 trash 7,6,6
STEPS
echo PASS
