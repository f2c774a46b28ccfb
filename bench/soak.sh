#!/usr/bin/env bash
# Soak run: the real program under a virtual X server for a given time, checking a Dovecot mailbox on
# loopback every minute, with the cat show and the ghost cat on. Prints the resident memory at the start
# and at the end, and the checks done (logins seen by the server, and how many of them logged out
# cleanly). Not part of the test command. Usage: bench/soak.sh [minutes]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-60}
source bench/dovecot-conf.sh
bash scripts/build.sh >/dev/null

work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
chmod 755 "$work"

# --- a Dovecot of our own, from a private configuration
d=$work/dovecot
mkdir -p "$d"/home/alice/Maildir/{new,cur,tmp}
chown -R 65534:65534 "$d/home/alice"
printf 'alice:{PLAIN}alicepw:65534:65534::%s/home/alice::\n' "$d" >"$d/passwd"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# Plain POP3: the soak watches memory and checks, not certificates.
dovecot_conf "$d" "inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }"
/usr/sbin/dovecot -F -c "$d/dovecot.conf" & pids+=($!)
for i in 1 2; do
  f="$d/home/alice/Maildir/new/170000000$i.soak$i.vellumine"
  printf 'From: soak@example.org\r\nSubject: soak %s\r\n\r\nhello\r\n' "$i" >"$f"
  chown 65534:65534 "$f"
done

# --- the program, with interval checking every minute, the board closing itself, the ghost cat on
p=$work/program
cp -r build/Vellumine "$p"
rm -rf "$p/★MailData" && mkdir "$p/★MailData"
printf 'SMTP=\r\nPOP3=127.0.0.1:%s\r\nMAIL=\r\nAPOP=0\r\n' "$port" >"$p/qorvel.ini"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=alicepw\r\n' >"$p/★MailData/iniIdPass.ini"
printf '[EXEINI]\r\nNUMBER=0\r\nNUMBER2=1\r\nNUMBER3=0\r\nNUMBER4=1\r\nNUMBER5=1\r\n' >"$p/★MailData/ini.ini"

fifo=$(mktemp -u); mkfifo "$fifo"
Xvfb -noreset -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 & pids+=($!)
read -r number <"$fifo"; rm -f "$fifo"
export DISPLAY=":$number"
openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
sleep 1
(cd "$p" && exec ./vellumine) & program=$!; pids+=("$program")

rss() { awk '/VmRSS/ {print $2}' "/proc/$program/status"; }
mb() { echo "$(($1 / 1024)).$(( ($1 % 1024) * 10 / 1024 )) MB"; }
sleep 10
echo "start, idle: resident $(mb "$(rss)")"
# The first check loads the tune player and the ghost cat; growth is measured from there on.
until grep -qE '(Login|Logged in): user=<alice>' "$d/dovecot.log" 2>/dev/null; do sleep 1; done
sleep 20
start_kb=$(rss)
echo "start, after the first check began: resident $(mb "$start_kb")"
end=$(( $(date +%s) + minutes * 60 ))
peak_kb=$start_kb
while [[ $(date +%s) -lt $end ]]; do
  sleep 30
  kill -0 "$program" 2>/dev/null || { echo "the program is gone"; exit 1; }
  now=$(rss); (( now > peak_kb )) && peak_kb=$now
done
end_kb=$(rss)
logins=$(grep -cE '(Login|Logged in): user=<alice>' "$d/dovecot.log" || true)
logouts=$(grep -c 'pop3(alice).*Disconnected: Logged out' "$d/dovecot.log" || true)
failures=$(grep -c -i 'auth failed\|Disconnected.*(no auth\|Connection closed' "$d/dovecot.log" || true)
echo "end after $minutes min: resident $(mb "$end_kb") (peak $(mb "$peak_kb"), growth $((end_kb - start_kb)) kB)"
echo "checks: $logins logins, $logouts logged out cleanly, $failures failed or cut connections"
# When each check came, in minutes from the first: one each time the minute count reaches the
# interval (61 s a minute), also during the cat show (501 cycles of 0.6 s) of a check that found mail.
echo "check times (min): $(grep -E '(Login|Logged in): user=<alice>' "$d/dovecot.log" | awk '{print $3}' |
  awk -F: '{t = $1 * 3600 + $2 * 60 + $3; if (NR == 1) t0 = t; printf "%s%.1f", (NR > 1 ? " " : ""), (t - t0) / 60}')"
if [[ $logins -eq 0 ]]; then echo "--- the server's log:"; tail -20 "$d/dovecot.log"; fi
