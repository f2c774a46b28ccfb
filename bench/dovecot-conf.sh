# Sourced by the benchmarks that need a mail server: a private Dovecot on loopback (POP3, or IMAP;
# users from DIR/passwd with their Maildir under their home; state, sockets and log under DIR).
#   dovecot_conf DIR LISTENERS [SSL] [PROTOCOL]   writes DIR/dovecot.conf. LISTENERS is the body of
#     "service PROTOCOL-login" (its inet_listener blocks); SSL the ssl settings (default: ssl = no);
#     PROTOCOL pop3 (the default) or imap, which also offers CRAM-MD5 and SCRAM-SHA-256.
#   start_dovecot plain|tls, stop_dovecot, make_box, free_port: below; they use $d as DIR.
# Dovecot 2.4 (Debian 13) wants its version settings first and renamed several; 2.3 (Debian 12) knows
# neither. The version is asked of dovecot; SSL settings are given in 2.3's names and renamed for 2.4.
dovecot_conf() {
  local dir=$1 listeners=$2 ssl=${3:-ssl = no} protocol=${4:-pop3} head="" auth mechanisms="plain login apop"
  [[ $protocol == imap ]] && mechanisms="plain login cram-md5 scram-sha-256"
  if [[ $(dovecot --version 2>/dev/null) =~ ^2\.([0-9]+) ]] && ((BASH_REMATCH[1] >= 4)); then
    head="dovecot_config_version = 2.4.0
dovecot_storage_version = 2.4.0"
    auth="auth_allow_cleartext = yes
passdb passwd-file {
  passwd_file_path = $dir/passwd
}
userdb passwd-file {
  passwd_file_path = $dir/passwd
}
mail_driver = maildir
mail_path = ~/Maildir"
    listeners=$(grep -v 'address = ' <<<"$listeners")
    ssl=$(sed -e 's/^ssl_cert = </ssl_server_cert_file = /' -e 's/^ssl_key = </ssl_server_key_file = /' \
      -e 's/^ssl_dh = </ssl_server_dh_file = /' <<<"$ssl")
  else
    auth="disable_plaintext_auth = no
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/passwd
}
mail_location = maildir:~/Maildir"
  fi
  cat >"$dir/dovecot.conf" <<CONF
$head
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = $protocol
listen = 127.0.0.1
service $protocol-login {
  $listeners
}
auth_mechanisms = $mechanisms
$auth
$ssl
# Benchmarks log in often and sometimes wrongly: no penalty delays.
auth_failure_delay = 0 secs
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF
}

# A port nobody listens on.
free_port() {
  local p=$((20000 + RANDOM % 30000))
  while (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; do p=$((20000 + RANDOM % 30000)); done
  echo "$p"
}
# start_dovecot plain|tls: one listener on $port, plain without STLS or TLS from the start.
start_dovecot() {
  port=$(free_port)
  local listener ssl
  if [[ $1 == plain ]]; then
    listener="inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
    port = 0
  }"
    ssl="ssl = no"
  else
    listener="inet_listener pop3 {
    port = 0
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $port
    ssl = yes
  }"
    ssl="ssl = yes
ssl_cert = <$d/cert.pem
ssl_key = <$d/key.pem
ssl_dh = </usr/share/dovecot/dh.pem"
  fi
  dovecot_conf "$d" "$listener" "$ssl"
  dovecot -F -c "$d/dovecot.conf" &
  dovecot_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return
    sleep 0.1
  done
  echo "dovecot did not start:" >&2
  cat "$d/dovecot.log" >&2
  exit 1
}

dovecot_pid=""
stop_dovecot() {
  if [[ -n $dovecot_pid ]]; then
    kill "$dovecot_pid" 2>/dev/null || true
    wait "$dovecot_pid" 2>/dev/null || true
    dovecot_pid=""
  fi
}
# make_box USER COUNT SIZE: a Maildir of COUNT messages of about SIZE octets.
make_box() {
  local user=$1 count=$2 size=$3 home="$d/home/$1"
  mkdir -p "$home/Maildir/new" "$home/Maildir/cur" "$home/Maildir/tmp"
  echo "$user:{PLAIN}pw:65534:65534::$home::" >>"$d/passwd"
  # Lines of 76 octets with CR LF, every seventh starting with a dot (stuffed on the wire).
  local body
  body=$(head -c $((size * 3 / 4)) /dev/urandom | base64 -w 74 | awk 'NR % 7 == 0 { $0 = "." $0 } { printf "%s\r\n", $0 }')
  for i in $(seq -w 1 "$count"); do
    printf 'From: bench@example.org\r\nSubject: message %s\r\nDate: Tue, 8 Dec 2026 09:30:00 +0900\r\n\r\n%s\r\n' \
      "$i" "$body" >"$home/Maildir/new/$((1700000000 + 10#$i)).$i.bench"
  done
  chown -R 65534:65534 "$home"
}
