#!/usr/bin/env bash
# Our POP3 client against curl, on the same Dovecot mailbox on loopback: every message of
# 1000 × 20 KB and of 20 × 5 MB, in plain POP3 (the server offers no STLS) and over TLS (pop3s).
# Ours makes the program's calls (status, size, fetch per message); curl fetches all the messages of
# a box in one process over one connection. Prints the best of a few runs of each, the ratio
# ours/curl, and our peak resident memory. Judges nothing.
# Needs root (Dovecot reads mail as nobody), dovecot-pop3d, openssl and curl.
# Usage: bench/pop3_vs_curl.sh [runs]   (BUILD_DIR=... to use another build folder than build/)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
source bench/dovecot-conf.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pop3_vs_curl >/dev/null
bench="$build/bench/pop3_vs_curl"

d=$(mktemp -d /tmp/vellumine-pop3-bench-XXXXXX)
chmod 755 "$d"
cleanup() {
  stop_dovecot
  rm -rf "$d"
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -keyout "$d/key.pem" -out "$d/cert.pem" 2>/dev/null

declare -A counts=([small]=1000 [large]=20)
make_box small "${counts[small]}" 20000
make_box large "${counts[large]}" 5000000
chmod 755 "$d/home"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
less() { awk "BEGIN { exit !($1 < $2) }"; }
# ours_s: the first check of a fresh process, as curl's one run (with TLS it includes reading the
# system's CA list, which naming an extra trusted certificate makes us read whole; the program names
# none); later_s: a second check in the same process. ours_peak_mb: the process's peak resident
# memory (Qt and TLS libraries included); check_mb: how far the first check raised it above what the
# process held just before (largest message + our buffers, + the CA list with TLS).
printf '%-6s %-5s %8s %8s %7s %8s %13s %9s %11s\n' box link ours_s curl_s ratio later_s ours_peak_mb check_mb \
  curl_octets
for link in plain tls; do
  start_dovecot "$link"
  for box in small large; do
    count=${counts[$box]}
    if [[ $link == plain ]]; then
      ours=("$bench" "127.0.0.1:$port" "$box" pw)
      theirs=(curl -s -u "$box:pw" "pop3://127.0.0.1:$port/[1-$count]")
    else
      ours=("$bench" "pop3s://127.0.0.1:$port" "$box" pw "$d/cert.pem")
      theirs=(curl -s --cacert "$d/cert.pem" -u "$box:pw" "pop3s://127.0.0.1:$port/[1-$count]")
    fi
    # One check each first, unmeasured, so that both read a warm mailbox.
    "${ours[@]}" >/dev/null
    "${theirs[@]}" >/dev/null
    best_ours=""; best_curl=""; best_later=""; peak=""; growth=""; octets=""
    for _ in $(seq "$runs"); do
      line=$("${ours[@]}")
      s=$(sed 's/.* seconds=\([0-9.]*\).*/\1/' <<<"$line")
      later=$(sed 's/.*second_seconds=\([0-9.]*\).*/\1/' <<<"$line")
      if [[ -z $best_later ]] || less "$later" "$best_later"; then best_later=$later; fi
      p=$(sed 's/.*peak_rss_kb=\([0-9]*\).*/\1/' <<<"$line")
      growth=$(sed 's/.* rss_before_kb=\([0-9]*\) peak_rss_kb=\([0-9]*\).*/\2 - \1/' <<<"$line")
      if [[ -z $best_ours ]] || less "$s" "$best_ours"; then best_ours=$s; fi
      if [[ -z $peak ]] || (( p > peak )); then peak=$p; fi
      t0=$(now)
      octets=$("${theirs[@]}" | wc -c)
      t1=$(now)
      c=$(calc "$t1 - $t0")
      if [[ -z $best_curl ]] || less "$c" "$best_curl"; then best_curl=$c; fi
    done
    printf '%-6s %-5s %8.3f %8.3f %7.2f %8.3f %13.1f %9.1f %11s\n' "$box" "$link" "$best_ours" "$best_curl" \
      "$(calc "$best_ours / $best_curl")" "$best_later" "$(calc "$peak / 1024")" "$(calc "($growth) / 1024")" "$octets"
  done
  stop_dovecot
done
