#pragma once
// A Dovecot POP3 and IMAP server of our own on loopback, started from a private configuration in a temp folder.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <map>

namespace testsupport {

class DovecotServer {
public:
    // Starts Dovecot with these users (name → password) and empty mailboxes. error() tells why not.
    explicit DovecotServer(const std::map<QString, QString>& users);
    ~DovecotServer();
    const QString& error() const { return error_; }
    int pop3Port() const { return pop3Port_; }    // plain, with STLS offered
    int pop3sPort() const { return pop3sPort_; }  // TLS from the start
    int imapPort() const { return imapPort_; }    // plain, with STARTTLS offered
    int imapsPort() const { return imapsPort_; }  // TLS from the start
    QString certificate() const { return dir_.path() + "/cert.pem"; }
    // Its SHA-256 as openssl prints it: upper-case hex pairs joined by colons.
    QString fingerprint() const;
    QString log() const;
    // A new self-signed certificate (another key too), served from the same ports after a restart.
    bool renewCertificate();
    // Kills the server (no goodbye to its clients) and starts it again on the same ports, once the old
    // one no longer answers there. False when it did not come back.
    bool killAndRestart();
    // Puts a message into the user's Maildir/new (seen: into cur/, flagged as read); messages are
    // numbered in the order delivered.
    void deliver(const QString& user, const QByteArray& message, bool seen = false);
    // Hands a message to Dovecot itself (doveadm save), as a delivery would: sessions idling on the
    // user's INBOX hear of it at once. False when doveadm failed.
    bool save(const QString& user, const QByteArray& message);
    // Every message of the user's INBOX with its flags, as doveadm tells them (its errors too).
    QString flags(const QString& user) const;

private:
    bool makeCertificate();
    void launch();
    void stop();

    QTemporaryDir dir_;
    QProcess dovecot_;
    QString error_;
    int pop3Port_ = 0, pop3sPort_ = 0, imapPort_ = 0, imapsPort_ = 0, delivered_ = 0;
};

}  // namespace testsupport
