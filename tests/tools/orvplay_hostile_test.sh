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
stage climbexec 'node{ "External Execution", ["Exe"] = "../../../../../../../../../../usr/bin/touch", ["Parameters"] = "ran.txt", ["Working Directory"] = ".", ["Error Dialog"] = false }'
stage missing 'node{ "External Execution", ["Exe"] = "./no-such-program", ["Error Dialog"] = true }'
# A script that traces 10 MB at load.
cat >"$work/flood.lua" <<'EOF'
script{ source = [[ for i = 1, 100 do TRACE(string.rep("x", 100000) .. "\n") end ]] }
local eye = clump{ name = "eye", camera = { fov = 45 } }
object{ name = "eye", clump = eye }
stage{ name = "flood", camera = eye }
EOF
"$orvc" "$work/flood.lua" -o "$work/flood.orv" >/dev/null || fail "orvc flood"
# A script that emits 3000 objects a frame.
cat >"$work/swarm.lua" <<'EOF'
script{ source = [[ Swarm = { OnTick = function(self, t)
  for i = 1, 3000 do EmitObject(self._Clump, self._Database, "spark") end
end } ]] }
local spark = object{ name = "spark", template = true }
clump{ name = "spark", emit_object = spark }
local eye = clump{ name = "eye", camera = { fov = 45 },
  animation = { node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "Swarm" } } }
object{ name = "eye", clump = eye }
stage{ name = "swarm", camera = eye }
EOF
"$orvc" "$work/swarm.lua" -o "$work/swarm.orv" >/dev/null || fail "orvc swarm"
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
  "climbing exec|--allow-exec climbexec.orv|0|must stay inside the content's folder|-ran.txt"
  "trace flood|--trace flood.log flood.orv|0|Trace output is over its limit a second|"
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
# A trace flood is cut short on the console and in the trace file.
for f in out flood.log; do
  size=$(stat -c %s "$work/$f" 2>/dev/null || echo 0)
  [ "$size" -lt 1000000 ] || fail "trace flood: $f has $size bytes"
done
# Emission stops at 2000 objects a frame and 20000 alive, each told once.
(cd "$work" && env -u DISPLAY timeout 60 "$program" --headless 64 48 --frames 12 --fixed-step 1 swarm.orv \
  --dump-scene dump.json) >"$work/out" 2>&1
for line in "More than 2000 objects emitted in one frame" "20000 logical objects exist"; do
  n=$(grep -c "$line" "$work/out")
  [ "$n" -eq 1 ] || fail "swarm: '$line' told $n times"
done
n=$(python3 -c "import json; print(sum(o['name'] == 'spark' for o in json.load(open('$work/dump.json'))['objects']))")
# The camera's object is the 20000th.
[ "$n" -eq 19999 ] || fail "swarm: $n objects in the scene"
# A failing program with the error dialog tells it once, not every frame.
play --allow-exec missing.orv
n=$(grep -c 'External execution error' "$work/out")
[ "$n" -eq 1 ] || fail "failing exec: told $n times in 3 frames"
# Content in the program's own folder is the program's own: it may start
# programs without being allowed.
cp "$player" "$work/orvplay" && program=$work/orvplay
rm -f "$work/ran.txt"
play exec.orv
for _ in $(seq 20); do [ -e "$work/ran.txt" ] && break; sleep 0.1; done
[ "$rc" -eq 0 ] && [ -e "$work/ran.txt" ] || fail "own content: status $rc, ran.txt $(ls "$work/ran.txt" 2>&1)"

[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
