#!/usr/bin/env bash
# orvplay on stages whose scripts try to stall or flood the engine: each run
# must end within its time limit, say what it refused, and leave the other
# scripts' work where the limits allow it. Also the math library's global
# form and script files with a byte order mark or a "#!" line.
# Usage: script_limits_test.sh ORVC ORVPLAY
set -u
orvc=$1
player=$2
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A program folder of its own, so its Script folder is ours.
mkdir -p "$top/prog/Script"
cp "$player" "$top/prog/orvplay"
printf '\xEF\xBB\xBFBom = { OnTick = function(self) CpSetPos(self._Clump, Vec(1, SHEBANG or 0, 0)) return ACF_POS end }\n' \
  >"$top/prog/Script/bom.lua"
printf '#!/usr/bin/env lua\nSHEBANG = 2\n' >"$top/prog/Script/shebang.lua"

# stage NAME SCRIPT OBJECTS: OBJECTS is "name=Table ..." (one scripted clump each).
stage() {
  local objects="" o
  for o in $3; do
    objects+="object{ name = \"${o%%=*}\", clump = clump{ name = \"${o%%=*}\","
    objects+=" animation = { node{ \"Script\", [\"Check Flag\"] = { 0, 0 }, Script = \"${o#*=}\" } } } }"$'\n'
  done
  cat >"$top/$1.lua" <<EOF
script{ source = [[ $2 ]] }
$objects
local eye = clump{ name = "eye", camera = { fov = 45 } }
object{ name = "eye", clump = eye }
stage{ name = "$1", camera = eye }
EOF
  "$orvc" "$top/$1.lua" -o "$top/$1.orv" >/dev/null || fail "orvc $1"
}

loop_gc='setmetatable({}, { __gc = function() while true do end end })'
# Counts its ticks in x after running `burn` loop steps.
counter() { echo "$1 = { n = 0, OnTick = function(self) for i = 1, $2 do end $1.n = $1.n + 1 CpSetPos(self._Clump, Vec($1.n, 0, 0)) return ACF_POS end }"; }

stage gc_start "$loop_gc collectgarbage()" ""
stage gc_tick "T = { OnTick = function() $loop_gc collectgarbage() end }" "a=T"
stage gc_exit "KEEP = $loop_gc" ""
stage pattern "T = { OnTick = function() string.find(string.rep('a', 40), string.rep('a-', 30) .. 'b') end }" "a=T"
stage frame "$(counter A 2000000) $(counter B 2000000) $(counter C 2000000) $(counter D 0)" "a=A b=B c=C d=D"
stage copying "T = { OnTick = function() local s = string.rep('a', 1 << 20) while true do s = s:upper():lower() end end }
  U = { OnTick = function() local s = string.rep('a', 1 << 22) while true do s:find('b', 1, true) end end }" "a=T b=U"
stage apply_self "L = { OnTick = function(self) ApplyAnimation(self._Clump, 0, self._Database, 'looper', 0, -1, 0, 0, 0, 0) end }" \
  "looper=L"
stage math "T = { OnTick = function(self)
  local m, e = frexp(48)
  CpSetPos(self._Clump, Vec(deg(rad(90)) * 2, ldexp(m, e) + e, mod(7, 3) * 1000 + sin(30) * 100 + math.sin(math.pi / 2)))
  return ACF_POS end }" "a=T"
stage files "" "a=Bom"

# case | stage | text in the output | text not in the output | "name position" in the dump
cases=(
  "finalizer at start-up|gc_start|finalizers (__gc) are not allowed in scripts||"
  "finalizer in OnTick|gc_tick|finalizers (__gc) are not allowed in scripts||"
  "finalizer at exit|gc_exit|finalizers (__gc) are not allowed in scripts||"
  "backtracking pattern|pattern|string pattern too complex||"
  "library work counts|copying|'U' ran past its instruction budget||"
  "one frame's scripts together|frame|rest of that frame's script calls are skipped (traced once)||a [4, 0, 0];b [4, 0, 0];c [0, 0, 0];d [0, 0, 0]"
  "a script applying its own set|apply_self|the set 'looper' holds the script 'L' that applies it: refused||"
  "math library in degrees|math|End play game|lua error|a [180, 54, 1051]"
  "script files with a mark or a #! line|files|End play game|lua error|a [1, 2, 0]"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name content text absent places <<<"$c"
  rm -f "$top/dump.json"
  (cd "$top" && env -u DISPLAY timeout -k 5 30 "$top/prog/orvplay" --headless 64 48 --fixed-step 1 --frames 4 \
    --dump-scene "$top/dump.json" "$content.orv") >"$top/out" 2>&1
  rc=$?
  [ "$rc" -eq 0 ] || fail "$name: status $rc: $(tail -c 300 "$top/out")"
  grep -qF -- "$text" "$top/out" || fail "$name: no '$text' in: $(tail -c 300 "$top/out")"
  [ "$(grep -cF -- "$text" "$top/out")" -le 1 ] || fail "$name: '$text' traced more than once"
  grep -q 'alloc: \([0-9]*\), free: \1$' "$top/out" || fail "$name: the memory report does not balance"
  [ -n "$absent" ] && grep -qF -- "$absent" "$top/out" && fail "$name: '$absent' in: $(grep -F -- "$absent" "$top/out")"
  IFS=';' read -ra wanted <<<"$places"
  for w in "${wanted[@]}"; do
    grep -qF -- "\"name\": \"${w%% *}\", \"position\": ${w#* }" "$top/dump.json" ||
      fail "$name: ${w%% *} not at ${w#* }: $(grep -o "\"name\": \"${w%% *}\", \"position\": [^]]*]" "$top/dump.json")"
  done
done

[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
