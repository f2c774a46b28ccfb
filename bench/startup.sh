#!/usr/bin/env bash
# Start-up time to the first painted clock and resident memory, under a virtual X server with a
# window manager (started here unless DISPLAY is set). Prints figures; judges nothing.
# Runs from a scratch copy of the program folder, so no settings of the build tree are touched.
# Usage: bench/startup.sh [runs]
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
  ./startup_bench "$(date +%s%N)" 2000
done
echo "--- the program itself, resident memory 3 s after start:"
./vellumine &
pid=$!
sleep 3
grep VmRSS "/proc/$pid/status"
kill "$pid"
