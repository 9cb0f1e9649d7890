#!/usr/bin/env bash
# cmake --install puts the board, its stage, the tools, the launcher and the
# icons under any prefix; the installed board runs from a read-only tree and
# keeps its notes in the XDG data folder.
set -u
cmake=$1
build=$2
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; cat "$tmp/trace.log" 2>/dev/null; exit 1; }
# A space in the prefix, as in many a chosen folder.
prefix="$tmp/my apps"
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; fail "cmake --install"; }

for f in lib/kiwa-memo/stage.orv lib/kiwa-memo/installed share/applications/kiwa-memo.desktop \
  share/icons/hicolor/scalable/apps/kiwa-memo.svg; do
  [ -s "$prefix/$f" ] || fail "missing $f"
done
for program in kiwa-memo orvc orvplay orvdump; do
  [ -x "$prefix/lib/kiwa-memo/$program" ] && [ "$(readlink -f "$prefix/bin/$program")" = "$prefix/lib/kiwa-memo/$program" ] ||
    fail "bin/$program does not lead to lib/kiwa-memo/$program"
done
grep -qxF "Exec=\"$prefix/bin/kiwa-memo\"" "$prefix/share/applications/kiwa-memo.desktop" || fail "launcher Exec line"
grep -qx "Icon=kiwa-memo" "$prefix/share/applications/kiwa-memo.desktop" || fail "launcher Icon line"
for size in 16 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/kiwa-memo.png
  # Width and height are the big-endian words at bytes 16 and 20 (IHDR).
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png" 2>/dev/null) || fail "no icon $png"
  [ $(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3)) -eq "$size" ] && [ $(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3)) -eq "$size" ] ||
    fail "icon $png is not ${size}x$size"
done
"$prefix/bin/orvdump" "$prefix/lib/kiwa-memo/stage.orv" >/dev/null || fail "installed orvdump cannot read the stage"

# The tree is read-only for users; root could still write, so the check is
# that nothing in it changes.
chmod -R a-w "$prefix"
find "$prefix" | sort >"$tmp/tree.before"
# Each case: the environment given and where the notes must go.
while read -r env notes; do
  rm -rf "$tmp/home" "$tmp/xdg" "$tmp/trace.log"
  mkdir -p "$tmp/home"
  env -u DISPLAY -u XDG_DATA_HOME HOME="$tmp/home" "$env" timeout 60 "$prefix/bin/kiwa-memo" --headless 320 240 \
    --frames 5 --trace "$tmp/trace.log" >"$tmp/out" 2>&1
  rc=$?
  [ "$rc" -eq 0 ] || { cat "$tmp/out"; fail "installed run ($env): exit status $rc"; }
  [ -d "$tmp/$notes/recycle" ] || fail "installed run ($env): no notes folder $tmp/$notes"
done <<CASES
XDG_DATA_HOME=$tmp/xdg xdg/kiwa-memo/data
XDG_DATA_HOME= home/.local/share/kiwa-memo/data
CASES
find "$prefix" | sort >"$tmp/tree.after"
diff "$tmp/tree.before" "$tmp/tree.after" >&2 || fail "the installed board wrote into its program folder"
echo "PASS"
