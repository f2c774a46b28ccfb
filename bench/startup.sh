#!/usr/bin/env bash
# Start-up time to the first painted clock and resident memory, under a virtual X server with a
# window manager (started here unless DISPLAY is set). Prints figures; judges nothing.
# Runs from a scratch copy of the program folder, so no settings of the build tree are touched.
# Usage: bench/startup.sh [runs]
# BEFORE=path/to/an/older/build folder times that build's clock too, run for run in turn with this one
# ("before" and "now" lines alternate), so that both meet the same moments of a noisy machine.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
bash scripts/build.sh >/dev/null

scratch=$(mktemp -d)
cleanup() { rm -rf "$scratch"; [[ -n ${xvfb:-} ]] && kill "$xvfb" "$wm" 2>/dev/null || true; }
trap cleanup EXIT
cp -r build/Vellumine/. "$scratch/"
rm -rf "$scratch/★MailData" && mkdir "$scratch/★MailData"
cp build/bench/startup_bench "$scratch/"
before=${BEFORE:-}
if [[ -n $before ]]; then
  [[ -x $before/bench/startup_bench ]] || { echo "BEFORE=$before holds no bench/startup_bench"; exit 1; }
  mkdir "$scratch/before"
  cp -r "$before/Vellumine/." "$scratch/before/"
  rm -rf "$scratch/before/★MailData" && mkdir "$scratch/before/★MailData"
  cp "$before/bench/startup_bench" "$scratch/before/"
fi

if [[ -z ${DISPLAY:-} ]]; then
  export DISPLAY=:97
  Xvfb "$DISPLAY" -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi

cd "$scratch"
echo "--- start-up, $runs runs (first run includes cold caches):"
for i in $(seq "$runs"); do
  if [[ -n $before ]]; then
    printf 'before: '; (cd before && ./startup_bench "$(date +%s%N)" 2000) | tee -a "$scratch/before.out"
    printf 'now:    '
  fi
  ./startup_bench "$(date +%s%N)" 2000 | tee -a "$scratch/now.out"
done
if [[ -n $before ]]; then
  # Medians of the time to the clock with its hands, and their ratio (the first, cold run left out).
  median() { grep -o 'with its hands: [0-9.]*' "$1" | awk '{print $4}' | tail -n +2 | sort -n |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR]}'; }
  read -r mb lb hb < <(median "$scratch/before.out")
  read -r mn ln hn < <(median "$scratch/now.out")
  awk -v mb="$mb" -v lb="$lb" -v hb="$hb" -v mn="$mn" -v ln="$ln" -v hn="$hn" 'BEGIN {
    printf "--- to the clock with its hands, median [range]: before %.1f ms [%.1f–%.1f], now %.1f ms [%.1f–%.1f]; now/before %.2f\n",
      mb, lb, hb, mn, ln, hn, mn / mb }'
fi
echo "--- the program itself, resident memory 3 s after start:"
for folder in ${before:+before} .; do
  (cd "$folder" && exec ./vellumine) &
  pid=$!
  sleep 3
  echo "${before:+$([[ $folder == before ]] && echo 'before: ' || echo 'now:    ')}$(grep VmRSS "/proc/$pid/status")"
  kill "$pid"
done
