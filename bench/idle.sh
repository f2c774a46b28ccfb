#!/usr/bin/env bash
# Idle cost of the running clock, side by side in one run: the clock shown, the clock hidden in the
# tray, the wake-up floor (a bare Qt program whose only work is a 20 ms timer) and xclock -update 1.
# Each runs under an X server of its own (Xvfb + openbox; trayer as the tray host for the hidden one),
# so that each X server's cost is its one client's. The span is cut into windows measured at the same
# moments for all four: the machine is shared and noisy, so what counts are the ratios within a window
# and the spread over the windows. Then resident memory and start-up to the first painted clock.
# CPU: run time of all threads (/proc/PID/task/*/schedstat, nanoseconds); wake-ups: voluntary context
# switches of all threads. Prints figures; judges nothing.
# Usage: bench/idle.sh [seconds] [windows] [interval]   (defaults 60, 5 and 0)
# BEFORE=path/to/an/older/build/Vellumine adds that program folder's clock, shown, as a fifth subject
# measured in the same windows ("before").
# With an interval in minutes above 0 the clock runs with interval checking on (its counter ticking,
# its lamp blinking; the server named does not exist, so a check finds nothing).
# PUSH=1 (as root) adds two more shown clocks with interval checking on (60 minutes: no check within
# the span) against a private Dovecot on loopback: one watching its IMAP INBOX, its push connection
# idling there ("push on"), one the same mailbox over POP3, where there is no push ("push off").
set -euo pipefail
cd "$(dirname "$0")/.."
span=${1:-60}
windows=${2:-5}
interval=${3:-0}
bash scripts/build.sh >/dev/null
for tool in Xvfb openbox xclock trayer xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "$tool missing (bash scripts/install-deps.sh test)"; exit 1; }
done

scratch=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT
[[ -n ${PUSH:-} ]] && trap 'stop_dovecot; cleanup' EXIT

source bench/desktop.sh

names=(shown tray floor xclock)
declare -A prog xsrv label
label[shown]="vellumine, shown"
label[tray]="vellumine, hidden in the tray"
label[floor]="bare Qt, 20 ms timer (floor)"
label[xclock]="xclock -update 1"
before=${BEFORE:-}
if [[ -n $before ]]; then
  [[ -x $before/vellumine ]] || { echo "BEFORE=$before holds no vellumine"; exit 1; }
  names+=(before)
  label[before]="vellumine before, shown"
fi
push=${PUSH:-}
if [[ -n $push ]]; then
  [[ $EUID == 0 ]] || { echo "PUSH=1 needs root (Dovecot)"; exit 1; }
  source bench/imap-dovecot.sh
  names+=(pushon pushoff)
  label[pushon]="vellumine, shown, push on"
  label[pushoff]="vellumine, shown, push off"
fi

start_x; xsrv[shown]=$x_pid; d_shown=$x_display
start_x; xsrv[tray]=$x_pid; d_tray=$x_display
start_x; xsrv[floor]=$x_pid; d_floor=$x_display
start_x; xsrv[xclock]=$x_pid; d_xclock=$x_display
if [[ -n $before ]]; then start_x; xsrv[before]=$x_pid; d_before=$x_display; fi
if [[ -n $push ]]; then
  start_x; xsrv[pushon]=$x_pid; d_pushon=$x_display
  start_x; xsrv[pushoff]=$x_pid; d_pushoff=$x_display
  start_imap_dovecot "$scratch/dovecot"
fi

DISPLAY=$d_tray trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel \
  --height 24 --SetDockType true >/dev/null 2>&1 & pids+=($!)

dir=$(program_folder "$scratch/shown" "$interval")
(cd "$dir" && DISPLAY=$d_shown exec ./vellumine 2>/dev/null) & prog[shown]=$!; pids+=("${prog[shown]}")
dir=$(program_folder "$scratch/tray" "$interval")
(cd "$dir" && DISPLAY=$d_tray exec ./vellumine 2>/dev/null) & prog[tray]=$!; pids+=("${prog[tray]}")
DISPLAY=$d_floor build/bench/idle_floor 2>/dev/null & prog[floor]=$!; pids+=("${prog[floor]}")
DISPLAY=$d_xclock xclock -update 1 2>/dev/null & prog[xclock]=$!; pids+=("${prog[xclock]}")
if [[ -n $before ]]; then
  dir=$(program_folder "$scratch/before" "$interval" "$before")
  (cd "$dir" && DISPLAY=$d_before exec ./vellumine 2>/dev/null) & prog[before]=$!; pids+=("${prog[before]}")
fi
if [[ -n $push ]]; then
  for n in pushon pushoff; do
    dir=$(program_folder "$scratch/$n" 60)
    server="imap://127.0.0.1:$imap_port"; [[ $n == pushoff ]] && server="127.0.0.1:$pop3_port"
    printf 'SMTP=\r\nPOP3=%s\r\nMAIL=\r\nAPOP=0\r\n' "$server" >"$dir/qorvel.ini"
    printf '[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\n' >"$dir/★MailData/iniIdPass.ini"
    display=d_$n
    (cd "$dir" && DISPLAY=${!display} exec ./vellumine 2>/dev/null) & prog[$n]=$!; pids+=("${prog[$n]}")
  done
fi

# To the tray as the user goes there: the menu "ファイル(&F)", its third item.
export DISPLAY=$d_tray
clock=$(xdotool search --sync --onlyvisible --name '^Orlavue' | head -n 1)
for _ in $(seq 100); do DISPLAY=$d_tray xdotool search --classname '^trayer' >/dev/null 2>&1 && break; sleep 0.1; done
xdotool windowactivate --sync "$clock" 2>/dev/null || true
xdotool key --clearmodifiers alt+f; sleep 0.5
xdotool key Down Down Return
hidden=0
for _ in $(seq 100); do
  if xwininfo -id "$clock" | grep -q IsUnMapped; then hidden=1; break; fi
  sleep 0.1
done
unset DISPLAY
[[ $hidden -eq 1 ]] || echo "NOTE: the clock did not go to the tray; its row is a second shown clock"
sleep 3
if [[ -n $push ]]; then
  grep -q "Login: user=<alice>" "$d/dovecot.log" || echo "NOTE: the push connection did not log in; its row is push off"
fi

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }
wakes() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {s += $2} END {printf "%d", s}'; }
sample() {  # one line per subject: name, then the program's and the X server's figures
  local t; t=$(date +%s%N)
  for n in "${names[@]}"; do
    echo "$n $t $(cpu_ns "${prog[$n]}") $(wakes "${prog[$n]}") $(cpu_ns "${xsrv[$n]}")"
  done
}
window=$(awk -v s="$span" -v w="$windows" 'BEGIN { printf "%.3f", s / w }')
sample >"$scratch/samples"
for _ in $(seq "$windows"); do
  sleep "$window"
  sample >>"$scratch/samples"
done

labels=$(for n in "${names[@]}"; do printf '%s|' "${label[$n]}"; done)
echo "over ${span} s in ${windows} windows, all ${#names[@]} side by side, interval ${interval}; mean [min–max] over the windows:"
awk -v order="${names[*]}" -v labels="$labels" '
  {
    n = $1; k = ++count[n]
    t[n, k] = $2; c[n, k] = $3; w[n, k] = $4; x[n, k] = $5
  }
  function stats(arr, m,    i, v, s, lo, hi) {
    s = 0; lo = 1e99; hi = -1e99
    for (i = 1; i <= m; i++) { v = arr[i]; s += v; if (v < lo) lo = v; if (v > hi) hi = v }
    return sprintf("%s [%s–%s]", fmt(s / m), fmt(lo), fmt(hi))
  }
  function fmt(v) { return v < 0.1 ? sprintf("%.3f", v) : v < 10 ? sprintf("%.2f", v) : sprintf("%.1f", v) }
  END {
    count_names = split(order, names, " ")
    split(labels, lab_list, "|")
    for (j = 1; j <= count_names; j++) lab[names[j]] = lab_list[j]
    m = count["floor"] - 1
    printf "  %-31s %-22s %-22s %-22s %s\n", "", "CPU % of a core", "× the floor", "X server CPU %", "wake-ups/s"
    for (j = 1; j <= count_names; j++) {
      n = names[j]
      for (k = 1; k <= m; k++) {
        secs = (t[n, k + 1] - t[n, k]) / 1e9
        cpu[k] = 100 * (c[n, k + 1] - c[n, k]) / 1e9 / secs
        fsecs = (t["floor", k + 1] - t["floor", k]) / 1e9
        floor = 100 * (c["floor", k + 1] - c["floor", k]) / 1e9 / fsecs
        ratio[k] = floor > 0 ? cpu[k] / floor : 0
        xs[k] = 100 * (x[n, k + 1] - x[n, k]) / 1e9 / secs
        wk[k] = (w[n, k + 1] - w[n, k]) / secs
      }
      printf "  %-31s %-22s %-22s %-22s %s\n", lab[n], stats(cpu, m), stats(ratio, m), stats(xs, m), stats(wk, m)
    }
  }' "$scratch/samples"

rss() { awk '/VmRSS/ {printf "%.1f MB", $2 / 1024}' "/proc/$1/status"; }
echo "resident memory: shown $(rss "${prog[shown]}"), hidden $(rss "${prog[tray]}"), floor $(rss "${prog[floor]}"), xclock $(rss "${prog[xclock]}")${before:+, before $(rss "${prog[before]}")}"
for n in "${names[@]}"; do kill "${prog[$n]}"; done

echo "start-up:"
dir=$(program_folder "$scratch/startup" "$interval")
cp build/bench/startup_bench "$dir/"
(cd "$dir" && DISPLAY=$d_shown ./startup_bench "$(date +%s%N)" 1000)
