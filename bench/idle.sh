#!/usr/bin/env bash
# Idle cost of the running clock, side by side with xclock -update 1 as the reference: CPU share of
# one core over a span (the program and the X server), resident memory, and start-up to the first
# painted clock. Runs its own X server with a window manager. Prints figures; judges nothing.
# Usage: bench/idle.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
span=${1:-60}
bash scripts/build.sh >/dev/null
command -v xclock >/dev/null || { echo "xclock missing (Debian package x11-apps)"; exit 1; }

scratch=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT
cp -r build/Vellumine/. "$scratch/"
rm -rf "$scratch/★MailData" && mkdir "$scratch/★MailData"
cp build/bench/startup_bench "$scratch/"
# A complete set of settings, so that no dialog stands open beside the clock.
printf 'SMTP=\r\nPOP3=pop.example.org\r\nMAIL=\r\nAPOP=0\r\n' >"$scratch/qorvel.ini"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n' >"$scratch/★MailData/iniIdPass.ini"

fifo=$(mktemp -u); mkfifo "$fifo"
Xvfb -noreset -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xserver=$!; pids+=("$xserver")
read -r number <"$fifo"; rm -f "$fifo"
export DISPLAY=":$number"
openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
sleep 1

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss() { awk '/VmRSS/ {printf "%.1f MB", $2 / 1024}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)

(cd "$scratch" && exec ./vellumine) & clock=$!; pids+=("$clock")
xclock -update 1 & reference=$!; pids+=("$reference")
sleep 3
c0=$(ticks "$clock"); r0=$(ticks "$reference"); x0=$(ticks "$xserver")
sleep "$span"
c1=$(ticks "$clock"); r1=$(ticks "$reference"); x1=$(ticks "$xserver")
share() { awk -v t="$1" -v hz="$hz" -v s="$span" 'BEGIN { printf "%.2f %%", 100 * t / hz / s }'; }
echo "over ${span} s, CPU share of one core:"
echo "  vellumine:           $(share $((c1 - c0)))   resident $(rss "$clock")"
echo "  xclock -update 1:    $(share $((r1 - r0)))   resident $(rss "$reference")"
echo "  X server (both):     $(share $((x1 - x0)))"
kill "$clock" "$reference"
echo "start-up:"
(cd "$scratch" && ./startup_bench "$(date +%s%N)" 1000)
