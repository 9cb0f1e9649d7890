#!/usr/bin/env bash
# kiwa-memo --export writes every note on the board and in the bin as a
# 512x512 PNG without a window, names damaged note files and skips them.
set -u
bin=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; cat "$tmp/err" 2>/dev/null; exit 1; }
mkdir -p "$tmp/data/recycle"
python3 - "$tmp/data" <<'PY'
import struct, sys, zlib
data = sys.argv[1]
def note(path, ink):
    image = bytearray(512 * 512 * 4)
    image[0:4] = bytes(ink)
    packed = zlib.compress(bytes(image))
    open(path, "wb").write(struct.pack("<iiI", 512 * 512 * 4, 1, len(packed)) + packed)
note(data + "/201C937A1B2C3D4E5", (0, 0, 255, 255))
note(data + "/recycle/001C937A1B2C3D4E6", (255, 0, 0, 255))
open(data + "/301C937A1B2C3D4E7", "wb").write(struct.pack("<iiI", 1234, 1, 0))
PY
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }

env -u DISPLAY timeout 60 "$bin" --export "$tmp/out" --data "$tmp/data" >"$tmp/out.txt" 2>"$tmp/err"; rc=$?
[ "$rc" -eq 1 ] || fail "a damaged note gives status 1, not $rc"
grep -q "301C937A1B2C3D4E7: size word is 1234" "$tmp/err" || fail "the damaged note is not named"
[ "$(png_size "$tmp/out/20081026T193318.5210597Z-kind2.png")" = 512x512 ] || fail "board note"
[ "$(png_size "$tmp/out/recycle/20081026T193318.5210598Z-kind0.png")" = 512x512 ] || fail "bin note"
[ "$(ls "$tmp/out" | wc -l)" -eq 2 ] || fail "unexpected files: $(ls "$tmp/out")"

rm "$tmp/data/301C937A1B2C3D4E7"
env -u DISPLAY timeout 60 "$bin" --export "$tmp/out2" --data "$tmp/data" >"$tmp/out.txt" 2>"$tmp/err"; rc=$?
[ "$rc" -eq 0 ] || fail "status $rc with every note readable"
grep -q "2 notes written" "$tmp/out.txt" || fail "summary: $(cat "$tmp/out.txt")"
echo "ok"
