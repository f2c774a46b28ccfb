#!/usr/bin/env bash
# Push delay against a private Dovecot on loopback (bench/push_delay: from `doveadm save` of a new
# message to the program's check being started, and to that check having the count the board shows;
# median and range of 10 deliveries). For other servers call build/bench/push_delay directly:
#   build/bench/push_delay SERVER USER PASSWORD "DELIVER COMMAND" [--count N] [--ca PEM]
# A benchmark by hand, not a test. Needs root (Dovecot's mail user).
# Usage: bench/push_delay.sh [deliveries]   (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $EUID == 0 ]] || { echo "run as root" >&2; exit 1; }
bash scripts/build.sh >/dev/null
source bench/imap-dovecot.sh
scratch=$(mktemp -d)
trap 'stop_dovecot; rm -rf "$scratch"' EXIT
start_imap_dovecot "$scratch/dovecot"
echo "Dovecot $(dovecot --version), IMAP on loopback, plain; delivery: doveadm save"
build/bench/push_delay "imap://127.0.0.1:$imap_port" alice pw "$(deliver_command)" --count "${1:-10}"
