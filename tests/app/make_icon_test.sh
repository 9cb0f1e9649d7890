#!/usr/bin/env bash
# ov_make_icon: a good drawing becomes a PNG of the asked size; each fault in
# the drawing or the call is one message naming the file and the reason.
set -u
tool=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
svg() { printf '<svg viewBox="0 0 16 16">%s</svg>\n' "$1" >"$tmp/in.svg"; }

svg '<rect x="0" y="0" width="8" height="16" rx="2" fill="#ff0000"/><circle cx="12" cy="8" r="3" fill="#00ff00" fill-opacity="0.5"/>'
"$tool" "$tmp/in.svg" 24 "$tmp/out.png" || fail "good drawing refused"
read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$tmp/out.png")
[ $(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3)) -eq 24 ] && [ $(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3)) -eq 24 ] ||
  fail "not 24x24"

# drawing | size | exit status | message
while IFS='|' read -r drawing size status message; do
  if [ "$drawing" = "FOLDER" ]; then in=$tmp; else svg "$drawing"; in=$tmp/in.svg; fi
  "$tool" "$in" "$size" "$tmp/bad.png" 2>"$tmp/err"
  rc=$?
  [ "$rc" -eq "$status" ] && grep -qF "$message" "$tmp/err" ||
    fail "'$drawing' at $size: status $rc, '$(cat "$tmp/err")' (wanted $status, '$message')"
done <<'CASES'
<rect x="0" y="0" width="8" fill="#ff0000"/>|16|1|<rect> needs x, y, width and height
<rect x="0" y="0" width="-8" height="4" rx="2" fill="#ff0000"/>|16|1|<rect> with a negative size
<circle cx="1" cy="1" r="-1" fill="#ff0000"/>|16|1|<circle> with a negative radius
<circle cx="1" cy="1" r="1" fill="red"/>|16|1|<circle> needs fill="#rrggbb"
<polygon points="0,0 4,4" fill="#ff0000"/>|16|1|<polygon> needs three points or more
<rect x="0" y="0" width="8" height="8" fill=#ff0000/>|16|1|unquoted value in <rect>
<!-- open comment|16|1|unterminated comment
<g/>|16|1|no shapes
FOLDER|16|1|not a regular file
<circle cx="1" cy="1" r="1" fill="#ff0000"/>|7|2|is not 8 to 1024
<circle cx="1" cy="1" r="1" fill="#ff0000"/>|1025|2|is not 8 to 1024
CASES
echo "PASS"
