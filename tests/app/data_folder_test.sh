#!/usr/bin/env bash
# The data folder's own safety: a lock file or a recycle folder that is a
# symbolic link is refused with a message and nothing is made or deleted
# through it; a data folder beside the program that cannot be used is named
# in the trace and the window title together with the folder used instead;
# --export reads a data folder it cannot write.
set -u
memo=$1
stage=$2
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
note() {
  python3 -c 'import struct, sys, zlib
p = zlib.compress(bytes(512 * 512 * 4))
open(sys.argv[1], "wb").write(struct.pack("<iiI", 512 * 512 * 4, 1, len(p)) + p)' "$1"
}
run() { env -u DISPLAY timeout 60 "$@" --headless 160 120 --fixed-step 1 --frames 2 --content "$stage" \
  --trace "$tmp/trace.log" >"$tmp/out" 2>&1; }

# Each case: a name in the data folder, the link's target in the other
# folder, and the message.
while read -r name target message; do
  rm -rf "$tmp/data" "$tmp/elsewhere"
  mkdir -p "$tmp/data" "$tmp/elsewhere"
  note "$tmp/elsewhere/001C937A1B2C3D4E6"
  ln -s "$tmp/elsewhere/$target" "$tmp/data/$name"
  run "$memo" --data "$tmp/data"; rc=$?
  [ "$rc" -eq 1 ] && grep -q "$message.*symbolic link" "$tmp/out" || fail "$name as a link: status $rc, $(tail -2 "$tmp/out")"
  [ "$(ls "$tmp/elsewhere")" = 001C937A1B2C3D4E6 ] || fail "$name as a link: the other folder changed: $(ls "$tmp/elsewhere")"
done <<'CASES'
kiwa-memo.lock made-by-the-lock the lock file '.*/kiwa-memo.lock'
recycle . the recycle folder '.*/data/recycle'
CASES

# A program folder whose "data" is a file: the notes go to the XDG folder,
# and the trace and the title say so.
mkdir -p "$tmp/prog"
cp "$memo" "$tmp/prog/kiwa-memo"
touch "$tmp/prog/data"
XDG_DATA_HOME="$tmp/xdg" run "$tmp/prog/kiwa-memo" --dump-scene "$tmp/dump.json" || fail "fallback run: $(tail -2 "$tmp/out")"
said="'$tmp/prog/data/' cannot be used.*notes are kept in '$tmp/xdg/kiwa-memo/data/'"
grep -q "### .*$said" "$tmp/trace.log" || fail "the trace does not name both folders"
python3 -c "import json; print(json.load(open('$tmp/dump.json'))['windowTitle'])" | grep -q "^Kiwa Memo - .*$said" ||
  fail "the window title does not name both folders"

# Export of a folder the user cannot write (root writes anywhere: run as nobody).
mkdir -p "$tmp/ro/recycle" "$tmp/export"
note "$tmp/ro/201C937A1B2C3D4E5"
chmod -R a-w "$tmp/ro"
chmod 777 "$tmp/export"
chmod 755 "$tmp"
as=()
[ "$(id -u)" -eq 0 ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as[@]}" "$memo" --export "$tmp/export/out" --data "$tmp/ro" >"$tmp/out" 2>&1 || fail "export: $(cat "$tmp/out")"
grep -q "1 note written" "$tmp/out" || fail "export: $(cat "$tmp/out")"
echo PASS
