# Sourced by the benchmarks that need a mail server: the configuration of a private Dovecot on
# loopback (POP3 only; users from DIR/passwd with their Maildir under their home; state, sockets and
# log under DIR), written to DIR/dovecot.conf.
#   dovecot_conf DIR LISTENERS [SSL]
# LISTENERS is the body of "service pop3-login" (its inet_listener blocks); SSL the ssl settings
# (default: ssl = no).
dovecot_conf() {
  local dir=$1 listeners=$2 ssl=${3:-ssl = no}
  cat >"$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
service pop3-login {
  $listeners
}
disable_plaintext_auth = no
auth_mechanisms = plain login apop
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/passwd
}
mail_location = maildir:~/Maildir
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
