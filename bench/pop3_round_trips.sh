#!/usr/bin/env bash
# What a whole mailbox costs in round trips: our check (the program's calls: status, size and fetch for
# each message; once with the library's own waits, once waiting through the program's event loop as the
# program's check does), curl, and a pipelined floor client (every command at once after the greeting, then
# every reply) fetching the same Dovecot mailbox, side by side in one run:
#   100 × 5 KB one round trip away (a proxy of our own on loopback holding every chunk 15 ms each
#   way: a 30 ms round trip, a typical home line to a provider), and 1000 × 20 KB and 20 × 5 MB on
#   loopback with no delay; and 100 × 5 KB on loopback from a server of the older kind (no CAPA, no
#   PIPELINING, each reply written in two pieces with Nagle on: bench/pop3_split_server.cpp), where a
#   client's delayed ACK stalls every reply.
# Each client runs in a fresh process, in turn, the given number of times; prints the median with the
# range, and the ratios of the medians. Ours and the floor time themselves from connect to the end;
# curl is timed as a whole command (its start-up is a few ms). Judges nothing.
# Needs root (Dovecot reads mail as nobody), dovecot-pop3d and curl.
# Usage: bench/pop3_round_trips.sh [runs]   (default 5; BUILD_DIR=... for another build folder;
#   BEFORE=path/to/an/older/pop3_vs_curl to time an older check side by side, as "before";
#   ROWS="few small large split" to time only the rows named)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
source bench/dovecot-conf.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pop3_vs_curl pop3_floor latency_proxy pop3_split_server >/dev/null
before=${BEFORE:-}

d=$(mktemp -d /tmp/vellumine-rtt-bench-XXXXXX)
chmod 755 "$d"
proxy_pid=""
split_pid=""
cleanup() {
  [[ -n $proxy_pid ]] && kill "$proxy_pid" 2>/dev/null
  [[ -n $split_pid ]] && kill "$split_pid" 2>/dev/null
  stop_dovecot
  rm -rf "$d"
}
trap cleanup EXIT

make_box few 100 5000
make_box small 1000 20000
make_box large 20 5000000
chmod 755 "$d/home"
start_dovecot plain

proxy_port=$(free_port)
coproc proxy { exec "$build/bench/latency_proxy" "$proxy_port" "$port" 15; }
proxy_pid=$proxy_PID
read -r ready <&"${proxy[0]}"
[[ $ready == ready ]] || { echo "the proxy did not start" >&2; exit 1; }
split_port=$(free_port)
"$build/bench/pop3_split_server" "$split_port" 100 5000 >"$d/split.out" &
split_pid=$!
for _ in $(seq 100); do grep -q ready "$d/split.out" && break; sleep 0.1; done
grep -q ready "$d/split.out" || { echo "the split server did not start" >&2; exit 1; }

now() { date +%s.%N; }
# median and range of the numbers on stdin: "median min max"
stats() { sort -g | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f %.3f", m, v[1], v[NR] }'; }

ours_time() { "${3:-$build/bench/pop3_vs_curl}" "127.0.0.1:$1" "$2" pw | sed 's/.* seconds=\([0-9.]*\).*/\1/'; }
# The same calls waiting through the program's event loop, as the program's check does.
loop_time() { VELLUMINE_CHECK_IN_LOOP=1 ours_time "$@"; }
floor_time() { "$build/bench/pop3_floor" "$1" "$2" pw "$3" | sed 's/seconds=\([0-9.]*\).*/\1/'; }
curl_time() {
  local t0 t1
  t0=$(now)
  curl -s -u "$2:pw" "pop3://127.0.0.1:$1/[1-$3]" >/dev/null
  t1=$(now)
  awk "BEGIN { printf \"%.4f\", $t1 - $t0 }"
}

printf '%-14s %4s  %-22s %-22s %-22s %-22s %-22s %10s %10s %10s %12s\n' mailbox rtt "ours s (range)" "in loop s (range)" \
  "before s (range)" "curl s (range)" "floor s (range)" ours/floor ours/curl loop/ours before/floor
for row in "few 100 5KB $proxy_port 30" "small 1000 20KB $port 0" "large 20 5MB $port 0" "split 100 5KB/split $split_port 0"; do
  read -r box count size at rtt <<<"$row"
  [[ -n ${ROWS:-} && " $ROWS " != *" $box "* ]] && continue
  # Once each, unmeasured, so that all read a warm mailbox.
  ours_time "$at" "$box" >/dev/null; loop_time "$at" "$box" >/dev/null; curl_time "$at" "$box" "$count" >/dev/null; floor_time "$at" "$box" "$count" >/dev/null
  [[ -n $before ]] && ours_time "$at" "$box" "$before" >/dev/null
  o=(); l=(); b=(); c=(); f=()
  for _ in $(seq "$runs"); do
    o+=("$(ours_time "$at" "$box")")
    l+=("$(loop_time "$at" "$box")")
    [[ -n $before ]] && b+=("$(ours_time "$at" "$box" "$before")")
    c+=("$(curl_time "$at" "$box" "$count")")
    f+=("$(floor_time "$at" "$box" "$count")")
  done
  read -r om omin omax <<<"$(printf '%s\n' "${o[@]}" | stats)"
  read -r lm lmin lmax <<<"$(printf '%s\n' "${l[@]}" | stats)"
  read -r cm cmin cmax <<<"$(printf '%s\n' "${c[@]}" | stats)"
  read -r fm fmin fmax <<<"$(printf '%s\n' "${f[@]}" | stats)"
  bcol="-" bratio="-"
  if [[ -n $before ]]; then
    read -r bm bmin bmax <<<"$(printf '%s\n' "${b[@]}" | stats)"
    bcol="$bm ($bmin–$bmax)"
    bratio=$(awk "BEGIN { printf \"%.2f\", $bm / $fm }")
  fi
  printf '%-14s %4s  %-22s %-22s %-22s %-22s %-22s %10.2f %10.2f %10.2f %12s\n' "$count×$size" "${rtt}ms" \
    "$om ($omin–$omax)" "$lm ($lmin–$lmax)" "$bcol" "$cm ($cmin–$cmax)" "$fm ($fmin–$fmax)" \
    "$(awk "BEGIN { print $om / $fm }")" "$(awk "BEGIN { print $om / $cm }")" "$(awk "BEGIN { print $lm / $om }")" "$bratio"
done
