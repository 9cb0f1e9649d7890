#!/usr/bin/env bash
# Resting cost of the board. Starts kiwa-memo in a 1024x768 window on a virtual
# X server with a fresh data folder, reads the time from start to the first
# presented frame from its trace, then measures the CPU time the process (all
# its threads) uses over the next SECONDS seconds while nobody touches it.
# Usage: bench/resting_cpu.sh [KIWA_MEMO] [SECONDS]   (a Release build is meant)
set -eu
bin=$(readlink -f "${1:-build/release/bin/kiwa-memo}")
seconds=${2:-20}
[ -x "$bin" ] || { echo "resting_cpu: no program at '$bin'" >&2; exit 2; }
if [ -z "${OV_RESTING_INNER:-}" ]; then
  exec env OV_RESTING_INNER=1 SDL_VIDEODRIVER=x11 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$bin" "$seconds"
fi

tmp=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# utime + stime in clock ticks; fields count from the ')' that ends the name.
ticks() { sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }'; }
now() { date +%s.%N; }

"$bin" 1024 768 --data "$tmp/data" --trace "$tmp/trace.log" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 600); do
  grep -q '^First frame presented' "$tmp/trace.log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { echo "resting_cpu: kiwa-memo ended before its first frame" >&2; exit 1; }
  sleep 0.05
done
first=$(sed -n 's/^First frame presented \(-\{0,1\}[0-9]*\) ms after start\.$/\1/p' "$tmp/trace.log")
[ -n "$first" ] || { echo "resting_cpu: no first frame within 30 s" >&2; exit 1; }

clk=$(getconf CLK_TCK)
# Four equal parts: the board throttles only after some seconds without input,
# so the last part shows the cost once it rests.
part=$(awk -v s="$seconds" 'BEGIN { print s / 4 }')
c=("$(ticks)"); t=("$(now)")
for i in 1 2 3 4; do
  sleep "$part"
  c+=("$(ticks)"); t+=("$(now)")
done
kill -0 "$pid" 2>/dev/null || { echo "resting_cpu: kiwa-memo ended during the measurement" >&2; exit 1; }

percent() { awk -v c="$1" -v k="$clk" -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", 100 * c / k / (b - a) }'; }
echo "kiwa-memo at rest under Xvfb, 1024x768 window ($bin)"
echo "  start to first presented frame: $first ms"
echo "  CPU over ${seconds} s after the first frame: $(percent $((c[4] - c[0])) "${t[0]}" "${t[4]}") % of one core"
for i in 0 1 2 3; do
  from=$(awk -v p="$part" -v i="$i" 'BEGIN { print p * i }')
  to=$(awk -v p="$part" -v i="$i" 'BEGIN { print p * (i + 1) }')
  echo "    ${from} to ${to} s: $(percent $((c[i + 1] - c[i])) "${t[i]}" "${t[i + 1]}") %"
done
