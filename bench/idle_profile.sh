#!/usr/bin/env bash
# Where the idle clock's time goes: the clock runs under callgrind, shown and then hidden in the tray,
# and for each state this prints the instructions per second (repeatable on a loaded machine, where
# CPU shares are not) and the functions of the program that take most of them, inclusive.
# Usage: bench/idle_profile.sh [seconds]   (default 20; the clock runs ten times slower under valgrind)
set -euo pipefail
cd "$(dirname "$0")/.."
span=${1:-20}
bash scripts/build.sh >/dev/null
for tool in Xvfb openbox trayer xdotool xwininfo valgrind callgrind_annotate callgrind_control; do
  command -v "$tool" >/dev/null || { echo "$tool missing (bash scripts/install-deps.sh test; valgrind)"; exit 1; }
done

scratch=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT
source bench/desktop.sh
program_folder "$scratch" >/dev/null
start_x
export DISPLAY=$x_display
trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel --height 24 \
  --SetDockType true >/dev/null 2>&1 & pids+=($!)
sleep 2

(cd "$scratch" && exec valgrind --tool=callgrind --callgrind-out-file="$scratch/profile.%p" ./vellumine \
  >/dev/null 2>"$scratch/valgrind.log") & clock=$!; pids+=("$clock")
window=$(xdotool search --sync --onlyvisible --name '^Orlavue' | head -n 1)
sleep 10  # start-up under valgrind

# Counts over the span from zero, then written out as profile.PID.N.
measure() {
  callgrind_control -z "$clock" >/dev/null
  sleep "$span"
  callgrind_control -d "$clock" >/dev/null
  sleep 1
  local file; file=$(ls -t "$scratch"/profile."$clock".* | head -n 1)
  local total; total=$(callgrind_annotate "$file" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
  local ticks; ticks=$(callgrind_annotate --tree=calling --inclusive=yes "$file" 2>/dev/null |
    grep -E '> .*MainForm::Timer4_Timer\(\) \(' | grep -o '([0-9,]*x)' | tr -d '(),x' |
    awk '$1 > n {n = $1} END {print n + 0}' || true)
  echo "$1: $(awk -v t="$total" -v s="$span" 'BEGIN { printf "%.0f", t / s }') instructions per second," \
       "ticker ticks handled: $ticks"
  callgrind_annotate --inclusive=yes "$file" 2>/dev/null |
    grep -E '/src/(app|clock|core|mail|platform)/' | grep -v 'main.cpp:main' | head -n 12 |
    sed -E 's/^ *([0-9,]+) +\( *[0-9.]+%\) +/\1 /' |
    awk -v s="$span" '{ n = $1; gsub(",", "", n); printf "  %10.0f/s %s\n", n / s, substr($0, length($1) + 2) }' |
    cut -c1-150 || true
}

measure "shown"
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+f; sleep 1
xdotool key Down Down Return
for _ in $(seq 100); do xwininfo -id "$window" | grep -q IsUnMapped && break; sleep 0.2; done
xwininfo -id "$window" | grep -q IsUnMapped || echo "NOTE: the clock did not go to the tray"
sleep 2
measure "hidden in the tray"
