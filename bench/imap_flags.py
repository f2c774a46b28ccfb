#!/usr/bin/env python3
"""A plain IMAP session of its own beside our check, for bench/interop.sh (Python's imaplib, nothing
of ours):
  imap_flags.py flags HOST PORT USER PASSWORD [tls|starttls]
      INBOX opened read-only (EXAMINE), then FETCH 1:* (FLAGS): one line "N FLAGS..." a message, the
      flags sorted, \\Recent among them (EXAMINE leaves it where it is); nothing changes on the server.
  imap_flags.py mark HOST PORT USER PASSWORD SPEC [tls|starttls]
      INBOX selected, flags set: SPEC is "FLAG=N,N,...;FLAG=..." (\\Seen=3,6;\\Flagged=4).
  imap_flags.py caps HOST PORT [tls|starttls]
      The capabilities that bear on a check, as offered where the login happens (after STARTTLS).
Exits 1 with a line on stderr when the server refuses or breaks off."""
import imaplib
import ssl
import sys

KEPT = ("STARTTLS", "LOGINDISABLED", "SASL-IR", "IDLE", "LITERAL+", "LITERAL-", "IMAP4REV2")


def connect(host, port, mode):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    if mode == "tls":
        return imaplib.IMAP4_SSL(host, port, ssl_context=context, timeout=20)
    imap = imaplib.IMAP4(host, port, timeout=20)
    if mode == "starttls":
        imap.starttls(ssl_context=context)
    return imap


def main(argv):
    what, host, port = argv[1], argv[2], int(argv[3])
    if what == "caps":
        imap = connect(host, port, argv[4] if len(argv) > 4 else "")
        caps = [c.decode() if isinstance(c, bytes) else c for c in imap.capabilities]
        auth = sorted(c[5:] for c in caps if c.upper().startswith("AUTH="))
        others = [c for c in caps if c.upper() in KEPT]
        print("AUTH=" + ",".join(auth) + (" " if others else "") + " ".join(others))
        imap.logout()
        return 0
    user, password = argv[4], argv[5]
    rest = argv[6:]
    spec = rest.pop(0) if what == "mark" else ""
    imap = connect(host, port, rest[0] if rest else "")
    imap.login(user, password)
    if what == "flags":
        kind, data = imap.select("INBOX", readonly=True)
        if kind != "OK":
            raise imaplib.IMAP4.error("EXAMINE: %r" % data)
        if int(data[0]) > 0:
            kind, data = imap.fetch("1:*", "(FLAGS)")
            for item in data:
                line = item.decode() if isinstance(item, bytes) else item[0].decode()
                number = line.split(" ", 1)[0]
                flags = line[line.index("FLAGS (") + 7:]
                flags = flags[:flags.index(")")].split()
                print(number, " ".join(sorted(flags)) or "-")
    else:
        kind, data = imap.select("INBOX")
        if kind != "OK":
            raise imaplib.IMAP4.error("SELECT: %r" % data)
        for part in filter(None, spec.split(";")):
            flag, numbers = part.split("=", 1)
            if numbers:
                kind, data = imap.store(numbers, "+FLAGS", "(%s)" % flag)
                if kind != "OK":
                    raise imaplib.IMAP4.error("STORE: %r" % data)
        imap.close()
    imap.logout()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (imaplib.IMAP4.error, OSError, ValueError) as e:
        print("imap_flags: %s" % e, file=sys.stderr)
        sys.exit(1)
