#!/usr/bin/env bash
# Measures how much CPU `corvalinth open` takes while its window rests: the demonstration take loaded and
# analysed, the pointer outside the window, nothing changing on screen. It runs its own Xvfb on a free
# display, with a screen so large that the pointer, which starts at its centre, lies outside the window;
# waits until the editor has opened and settled; then reads the process's user + system time from /proc
# over the measuring window. CPU time rather than wall time, so that other load on the machine inflates
# the figure little. Prints the share of one core and the busiest threads (Mesa's "llvmpipe-N" threads
# rasterise whatever the window draws).
#   tools/idle_cpu_probe.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?usage: tools/idle_cpu_probe.sh BUILD_DIR [SECONDS]}
seconds=${2:-10}
scratch=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

take="$build/demo_take.wav"
[ -f "$take" ] || "$build/tools/make_demo_take" "$take" "$scratch/notes.tsv" >/dev/null

Xvfb -displayfd 3 -screen 0 4096x2560x24 3>"$scratch/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$scratch/display")"

"$build/host/corvalinth" open "$take" >"$scratch/open.log" 2>&1 &
pid=$!
pids+=($pid)
# The window opens once the take is captured and analysed, just after this line.
for _ in $(seq 1200); do grep -q "close the window to quit" "$scratch/open.log" && break; sleep 0.1; done
sleep 3

threads() {
  for t in /proc/$pid/task/*; do
    echo "$(basename "$t") $(awk '{print $14 + $15}' "$t/stat") $(cat "$t/comm")"
  done | sort
}
threads >"$scratch/before"
start=$(date +%s%N)
sleep "$seconds"
end=$(date +%s%N)
threads >"$scratch/after"
kill -0 "$pid" 2>/dev/null || { echo "corvalinth open ended early:" >&2; cat "$scratch/open.log" >&2; exit 1; }

join "$scratch/before" "$scratch/after" | awk -v hz="$(getconf CLK_TCK)" -v s="$(((end - start) / 1000000))e-3" '
  { print $3, $1, 100 * ($4 - $2) / hz / s }' >"$scratch/used"
awk -v s="$(((end - start) / 1000000))e-3" '{ total += $3 } END { printf "At rest: %.1f %% of one core over %.1f s\n", total, s }' "$scratch/used"
sort -k3 -g -r "$scratch/used" | awk '$3 > 0 { printf "  %-20s %-8s %5.1f %%\n", $1, $2, $3 }' | head -8
