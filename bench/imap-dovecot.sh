# Sourced by the benchmarks that need an IMAP server: a private Dovecot on loopback speaking POP3 and
# IMAP (plain, no TLS) for the user alice (password pw) with an empty INBOX, built on dovecot-conf.sh.
#   start_imap_dovecot DIR   sets d=DIR, imap_port, pop3_port and dovecot_pid; stop_dovecot stops it.
#   deliver_command          prints the command that delivers a message read on stdin to alice.
source bench/dovecot-conf.sh

start_imap_dovecot() {
  d=$1
  mkdir -p "$d"
  # Dovecot's own users read the passwd file and walk to the mail: every folder above must let them.
  chmod 755 "$d" "$(dirname "$d")"
  make_box alice 0 0
  pop3_port=$(free_port)
  imap_port=$(free_port)
  dovecot_conf "$d" "inet_listener pop3 {
    port = $pop3_port
  }
  inet_listener pop3s {
    port = 0
  }"
  sed -i 's/^protocols = pop3$/protocols = pop3 imap/' "$d/dovecot.conf"
  cat >>"$d/dovecot.conf" <<CONF
service imap-login {
  inet_listener imap {
    port = $imap_port
  }
  inet_listener imaps {
    port = 0
  }
}
CONF
  dovecot -F -c "$d/dovecot.conf" &
  dovecot_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$imap_port") 2>/dev/null && return
    sleep 0.1
  done
  echo "dovecot did not start:" >&2
  cat "$d/dovecot.log" >&2
  exit 1
}

deliver_command() { echo "doveadm -c $d/dovecot.conf save -u alice -m INBOX"; }
