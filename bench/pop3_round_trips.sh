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
# Then IMAP at the same 30 ms: our check (bench/pop3_check: the program's calls, which on IMAP are
# the login with its STATUS and the goodbye) against Dovecot IMAP in clear (no STARTTLS offered),
# with STARTTLS and on TLS from the start, beside bench/imap_floor (greeting, then LOGIN, STATUS and
# LOGOUT in one write; in clear). Round trips are counted by the proxy: the times the client spoke
# (first write, then each write after the server's data reached it). "after TLS" leaves out those of
# the TLS 1.3 handshake: its ClientHello, and on port 993's kind its Finished, sent alone while it
# waits for the greeting (after STARTTLS the Finished goes out with CAPABILITY, which counts), and
# the STARTTLS command before them.
# Needs root (Dovecot reads mail as nobody), dovecot-pop3d, dovecot-imapd and curl.
# Usage: bench/pop3_round_trips.sh [runs]   (default 5; BUILD_DIR=... for another build folder;
#   BEFORE=path/to/an/older/pop3_vs_curl to time an older check side by side, as "before";
#   ROWS="few small large split imap imap-starttls imaps" to time only the rows named)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
source bench/dovecot-conf.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pop3_vs_curl pop3_floor latency_proxy pop3_split_server pop3_check imap_floor >/dev/null
before=${BEFORE:-}

d=$(mktemp -d /tmp/vellumine-rtt-bench-XXXXXX)
chmod 755 "$d"
proxy_pid=""
split_pid=""
imap_pids=()
imap_proxy_pids=()
cleanup() {
  [[ -n $proxy_pid ]] && kill "$proxy_pid" 2>/dev/null
  [[ -n $split_pid ]] && kill "$split_pid" 2>/dev/null
  for pid in "${imap_proxy_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${imap_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
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

# ---------------------------------------------------------------------------------------------
# IMAP: a check at 30 ms

imap_rows=""
for r in imap imap-starttls imaps; do [[ -z ${ROWS:-} || " $ROWS " == *" $r "* ]] && imap_rows+=" $r"; done
[[ -z $imap_rows ]] && exit 0
make_box imapbox 10 5000
chmod 755 "$d/home"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" -keyout "$d/key.pem" -out "$d/cert.pem" 2>/dev/null
chmod 644 "$d/key.pem"
# start_imap_dovecot NAME LISTENERS SSL: a Dovecot of its own for IMAP in $d/NAME, the users of $d/passwd.
start_imap_dovecot() {
  mkdir -p "$d/$1"
  cp "$d/passwd" "$d/$1/passwd"
  dovecot_conf "$d/$1" "$2" "$3" imap
  dovecot -F -c "$d/$1/dovecot.conf" &
  imap_pids+=($!)
}
wait_for() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }
clear_port=$(free_port)
start_imap_dovecot imap-clear "inet_listener imap {
    address = 127.0.0.1
    port = $clear_port
  }
  inet_listener imaps {
    port = 0
  }" "ssl = no"
tls_port=$(free_port)
imaps_port=$(free_port)
start_imap_dovecot imap-tls "inet_listener imap {
    address = 127.0.0.1
    port = $tls_port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $imaps_port
    ssl = yes
  }" "ssl = yes
ssl_cert = <$d/cert.pem
ssl_key = <$d/key.pem
ssl_dh = </usr/share/dovecot/dh.pem"
for p in $clear_port $tls_port $imaps_port; do wait_for "$p" || { echo "dovecot IMAP did not start" >&2; cat "$d"/imap-*/dovecot.log >&2; exit 1; }; done
# One proxy a server, each counting the turns of its connections into a file of its own.
declare -A proxied
for target in $clear_port $tls_port $imaps_port; do
  at=$(free_port)
  "$build/bench/latency_proxy" "$at" "$target" 15 "$d/turns-$target" >"$d/proxy-$target.out" &
  imap_proxy_pids+=($!)
  for _ in $(seq 100); do grep -q ready "$d/proxy-$target.out" 2>/dev/null && break; sleep 0.05; done
  proxied[$target]=$at
  : >"$d/turns-$target"
done
# turns_of TARGET LINES: the turns of the connection that ends the file once it has LINES lines (the
# proxy writes a connection's line once its last data has gone out, a moment after the client ended).
turns_of() {
  for _ in $(seq 100); do (($(wc -l <"$d/turns-$1") >= $2)) && break; sleep 0.02; done
  tail -1 "$d/turns-$1" | sed 's/turns=//'
}
imap_ours() { "$build/bench/pop3_check" check "$1" imapbox pw --ca "$d/cert.pem" | head -1; }
printf '\n%-28s %4s  %-22s %-22s %-22s %-22s %-12s %10s\n' "IMAP check" rtt "ours s (range)" "ours on loopback s" \
  "ours turns (after TLS)" "floor s (range)" "floor turns" ours/floor
for row in $imap_rows; do
  case $row in
    imap) target=$clear_port url="imap://127.0.0.1:${proxied[$clear_port]}" handshake=0 label="in clear" ;;
    imap-starttls) target=$tls_port url="imap://127.0.0.1:${proxied[$tls_port]}" handshake=2 label="STARTTLS" ;;
    imaps) target=$imaps_port url="imaps://127.0.0.1:${proxied[$imaps_port]}" handshake=2 label="imaps (TLS from the start)" ;;
  esac
  imap_ours "$url" >/dev/null
  "$build/bench/imap_floor" "${proxied[$clear_port]}" imapbox pw >/dev/null
  o=(); f=(); ot=(); ft=(); l=()
  for _ in $(seq "$runs"); do
    # The same check straight to the server: what is not the network (TLS's CPU work above all).
    line=$(imap_ours "${url%:*}:$target")
    l+=("$(sed 's/.* seconds=\([0-9.]*\).*/\1/' <<<"$line")")
    n=$(wc -l <"$d/turns-$target")
    line=$(imap_ours "$url")
    [[ $line == count=10\ * ]] || { echo "our check failed: $line" >&2; exit 1; }
    o+=("$(sed 's/.* seconds=\([0-9.]*\).*/\1/' <<<"$line")")
    ot+=("$(turns_of "$target" $((n + 1)))")
    n=$(wc -l <"$d/turns-$clear_port")
    line=$("$build/bench/imap_floor" "${proxied[$clear_port]}" imapbox pw)
    [[ $line == *unseen=10 ]] || { echo "the floor failed: $line" >&2; exit 1; }
    f+=("$(sed 's/seconds=\([0-9.]*\).*/\1/' <<<"$line")")
    ft+=("$(turns_of "$clear_port" $((n + 1)))")
  done
  read -r om omin omax <<<"$(printf '%s\n' "${o[@]}" | stats)"
  read -r fm fmin fmax <<<"$(printf '%s\n' "${f[@]}" | stats)"
  read -r lm lmin lmax <<<"$(printf '%s\n' "${l[@]}" | stats)"
  turns=$(printf '%s\n' "${ot[@]}" | sort -u | tr '\n' ' ' | sed 's/ $//')
  after=$(printf '%s\n' "${ot[@]}" | awk -v h="$handshake" '{ print $1 - h }' | sort -u | tr '\n' ' ' | sed 's/ $//')
  fturns=$(printf '%s\n' "${ft[@]}" | sort -u | tr '\n' ' ' | sed 's/ $//')
  printf '%-28s %4s  %-22s %-22s %-22s %-22s %-12s %10.2f\n' "$label" 30ms "$om ($omin–$omax)" "$lm ($lmin–$lmax)" \
    "$turns ($after)" "$fm ($fmin–$fmax)" "$fturns" "$(awk "BEGIN { print $om / $fm }")"
done
