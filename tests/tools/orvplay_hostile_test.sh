#!/usr/bin/env bash
# orvplay on content from outside the program folder and on hostile inputs:
# programs start only with --allow-exec, content names stay in their folder,
# nothing but a regular file is read, long paths work, and every failure is
# exit status 1 with the reason.
# Usage: orvplay_hostile_test.sh ORVC ORVPLAY
set -u
orvc=$1
player=$2
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
work=$top/content
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A camera clump carrying one behaviour node.
mkdir -p "$work"
stage() {  # stage NAME NODE
  cat >"$work/$1.lua" <<EOF
local eye = clump{ name = "eye", camera = { fov = 45 }, animation = { $2 } }
object{ name = "eye", clump = eye }
stage{ name = "$1", camera = eye }
EOF
  "$orvc" "$work/$1.lua" -o "$work/$1.orv" >/dev/null || fail "orvc $1"
}
stage exec 'node{ "External Execution", ["Exe"] = "touch", ["Parameters"] = "ran.txt", ["Working Directory"] = ".", ["Error Dialog"] = false }'
stage climb 'node{ "Change Scene", ["Orvo File"] = "../outside.orv" }'
cp "$work/exec.orv" "$top/outside.orv"
mkfifo "$work/fifo.orv"
long="$work/$(printf 'a%.0s' $(seq 120))/$(printf 'b%.0s' $(seq 120))/$(printf 'c%.0s' $(seq 60))"
mkdir -p "$long" && cp "$work/exec.orv" "$long/stage.orv"

play() {  # play OPTIONS... CONTENT: status in $rc, output in $work/out
  (cd "$work" && env -u DISPLAY timeout 60 "$program" --headless 64 48 --frames 3 --fixed-step 1 "$@") \
    >"$work/out" 2>&1
  rc=$?
}

program=$player
# case | options and content | status | text in the output | file that must (+) or must not (-) exist
cases=(
  "exec refused|exec.orv|0|External Execution of 'touch' refused|-ran.txt"
  "exec allowed|--allow-exec exec.orv|0|Floating point version.|+ran.txt"
  "climbing scene change|climb.orv|0|'../outside.orv': a name in content may not be absolute or leave its folder|"
  "fifo|fifo.orv|1|it is not a regular file|"
  "folder|.|1|it is a folder|"
  "not content|/etc/passwd|1|did not play completely|"
  "missing|nowhere.orv|1|'nowhere.orv': No such file or directory|"
  "long path|$long/stage.orv --dump-scene dump.json|0|Loading logical object|+dump.json"
  "dump unwritable|exec.orv --dump-scene nodir/dump.json|1|Can not write the scene dump|"
  "screenshot unwritable|exec.orv --screenshot nodir/shot.png|1|Can not write the screenshot|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name args want text file <<<"$c"
  rm -f "$work/ran.txt" "$work/dump.json"
  # shellcheck disable=SC2086
  play $args
  [ "$rc" -eq "$want" ] || fail "$name: status $rc, expected $want: $(tail -3 "$work/out")"
  grep -qF -- "$text" "$work/out" || fail "$name: no '$text' in: $(tail -3 "$work/out")"
  grep -q 'Can not open file' "$work/out" && [ "$want" -eq 0 ] && fail "$name: content not opened"
  case "$file" in
    +*) for _ in $(seq 20); do [ -e "$work/${file#+}" ] && break; sleep 0.1; done
        [ -e "$work/${file#+}" ] || fail "$name: no ${file#+}" ;;
    -*) sleep 0.3; [ -e "$work/${file#-}" ] && fail "$name: ${file#-} exists" ;;
  esac
done
# Content in the program's own folder is the program's own: it may start
# programs without being allowed.
cp "$player" "$work/orvplay" && program=$work/orvplay
rm -f "$work/ran.txt"
play exec.orv
for _ in $(seq 20); do [ -e "$work/ran.txt" ] && break; sleep 0.1; done
[ "$rc" -eq 0 ] && [ -e "$work/ran.txt" ] || fail "own content: status $rc, ran.txt $(ls "$work/ran.txt" 2>&1)"

[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
