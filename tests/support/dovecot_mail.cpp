#include "support/dovecot_mail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Mail is read as nobody: Dovecot refuses uid 0.
constexpr int kMailUid = 65534;

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Plain sockets: the test support library has no Qt Network.
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// Dovecot's version as major * 100 + minor (2.3.19 → 203), 0 when it does not answer.
int DovecotVersion() {
    static const int version = [] {
        QProcess p;
        p.start(QFileInfo::exists("/usr/sbin/dovecot") ? "/usr/sbin/dovecot" : "dovecot", {"--version"});
        if (!p.waitForFinished(10'000)) return 0;
        const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split('.');
        return parts.size() >= 2 ? parts[0].toInt() * 100 + parts[1].toInt() : 0;
    }();
    return version;
}

}  // namespace

DovecotServer::DovecotServer(const std::map<QString, QString>& users) {
    const QString d = dir_.path();
    // Dovecot's auth process reads the passwd file as user dovecot, and mail is read as nobody.
    QFile::setPermissions(d, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther);
    if (!makeCertificate()) return;
    QByteArray passwd;
    for (const auto& [name, password] : users) {
        const QString home = d + "/home/" + name;
        for (const char* sub : {"new", "cur", "tmp"}) QDir().mkpath(home + "/Maildir/" + sub);
        for (const QString& p : {d + "/home", home, home + "/Maildir", home + "/Maildir/new", home + "/Maildir/cur",
                                 home + "/Maildir/tmp"}) {
            if (p != d + "/home" && chown(QFile::encodeName(p).constData(), kMailUid, kMailUid) != 0) error_ = "chown";
        }
        passwd += QString("%1:{PLAIN}%2:%3:%3::%4::\n").arg(name, password).arg(kMailUid).arg(home).toUtf8();
    }
    pop3Port_ = freePort();
    pop3sPort_ = freePort();
    imapPort_ = freePort();
    imapsPort_ = freePort();
    // Dovecot 2.4 (Debian 13) refuses a 2.3 configuration (Debian 12): it must open with its version
    // settings, and several settings were renamed. The listeners and services read the same in both
    // (2.4 has no address of a listener's own: both listen where "listen" says).
    const bool v24 = DovecotVersion() >= 204;
    const QString conf =
        (v24 ? QString("dovecot_config_version = 2.4.0\n"
                       "dovecot_storage_version = 2.4.0\n")
             : QString()) +
        QString(R"(base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
service pop3-login {
  inet_listener pop3 {
    port = %2
  }
  inet_listener pop3s {
    port = %3
    ssl = yes
  }
}
service imap-login {
  inet_listener imap {
    port = %4
  }
  inet_listener imaps {
    port = %5
    ssl = yes
  }
}
auth_mechanisms = plain login apop cram-md5 scram-sha-256
auth_failure_delay = 0 secs
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
ssl = yes
)").arg(d).arg(pop3Port_).arg(pop3sPort_).arg(imapPort_).arg(imapsPort_) +
        (v24 ? QString(R"(auth_allow_cleartext = yes
passdb passwd-file {
  passwd_file_path = %1/passwd
}
userdb passwd-file {
  passwd_file_path = %1/passwd
}
mail_driver = maildir
mail_path = ~/Maildir
ssl_server_cert_file = %1/cert.pem
ssl_server_key_file = %1/key.pem
ssl_server_dh_file = /usr/share/dovecot/dh.pem
)")
             : QString(R"(disable_plaintext_auth = no
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u %1/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%u %1/passwd
}
mail_location = maildir:~/Maildir
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
ssl_dh = </usr/share/dovecot/dh.pem
)")).arg(d);
    if (!error_.isEmpty() || !writeFile(d + "/passwd", passwd) || !writeFile(d + "/dovecot.conf", conf.toUtf8())) {
        error_ = "could not write the configuration (" + error_ + ")";
        return;
    }
    launch();
}

bool DovecotServer::makeCertificate() {
    const QString d = dir_.path();
    if (QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                      "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                                      "-keyout", d + "/key.pem", "-out", d + "/cert.pem"}) != 0) {
        error_ = "openssl could not make a certificate";
        return false;
    }
    return true;
}

QString DovecotServer::fingerprint() const {
    QProcess p;
    p.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", certificate()});
    p.waitForFinished(30'000);
    return QString::fromUtf8(p.readAllStandardOutput().trimmed().split('=').last());
}

bool DovecotServer::renewCertificate() {
    stop();
    // Its login processes may outlive the master for a moment: the new server must be the one that
    // answers on these ports, not the old one with the old certificate.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((accepts(pop3Port_) || accepts(pop3sPort_) || accepts(imapPort_) || accepts(imapsPort_)) &&
           std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(20);
    }
    if (makeCertificate()) launch();
    return error_.isEmpty();
}

bool DovecotServer::killAndRestart() {
    dovecot_.kill();
    dovecot_.waitForFinished(5'000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((accepts(pop3Port_) || accepts(pop3sPort_) || accepts(imapPort_) || accepts(imapsPort_)) &&
           std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(20);
    }
    launch();
    return error_.isEmpty();
}

QString DovecotServer::flags(const QString& user) const {
    QProcess p;
    p.start(QFileInfo::exists("/usr/bin/doveadm") ? "/usr/bin/doveadm" : "doveadm",
            {"-c", dir_.path() + "/dovecot.conf", "fetch", "-u", user, "uid flags", "mailbox", "INBOX", "all"});
    if (!p.waitForFinished(30'000)) return "doveadm did not answer";
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

bool DovecotServer::save(const QString& user, const QByteArray& message) {
    QProcess p;
    p.start(QFileInfo::exists("/usr/bin/doveadm") ? "/usr/bin/doveadm" : "doveadm",
            {"-c", dir_.path() + "/dovecot.conf", "save", "-u", user, "-m", "INBOX"});
    p.write(message);
    p.closeWriteChannel();
    return p.waitForFinished(30'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void DovecotServer::launch() {
    const QString d = dir_.path();
    const QString program = QFileInfo::exists("/usr/sbin/dovecot") ? "/usr/sbin/dovecot" : "dovecot";
    dovecot_.start(program, {"-F", "-c", d + "/dovecot.conf"});
    if (!dovecot_.waitForStarted(10'000)) {
        error_ = "dovecot did not start (packages dovecot-pop3d and dovecot-imapd, run as root): " + dovecot_.errorString();
        return;
    }
    // Bounded polling until both listeners answer, or the server gave up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!(accepts(pop3Port_) && accepts(pop3sPort_) && accepts(imapPort_) && accepts(imapsPort_))) {
        if (dovecot_.state() != QProcess::Running || std::chrono::steady_clock::now() > deadline) {
            error_ = "dovecot is not listening: " + dovecot_.readAllStandardError() + log();
            return;
        }
        dovecot_.waitForFinished(50);
    }
}

DovecotServer::~DovecotServer() { stop(); }

void DovecotServer::stop() {
    if (dovecot_.state() == QProcess::NotRunning) return;
    dovecot_.terminate();
    if (!dovecot_.waitForFinished(10'000)) dovecot_.kill();
    dovecot_.waitForFinished(5'000);
}

QString DovecotServer::log() const {
    QFile f(dir_.path() + "/dovecot.log");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void DovecotServer::deliver(const QString& user, const QByteArray& message, bool seen) {
    const int n = ++delivered_;
    const QString name = QString("%1.%2.vellumine").arg(1'700'000'000 + n).arg(n, 6, 10, QChar('0'));
    const QString tmp = dir_.path() + "/home/" + user + "/Maildir/tmp/" + name;
    writeFile(tmp, message);
    // Dovecot reads the mail as that user; a message it cannot read is not there for the test.
    if (chown(QFile::encodeName(tmp).constData(), kMailUid, kMailUid) != 0) error_ = "chown " + tmp;
    // A message already read lies in cur/ with the Seen flag in its name, as Dovecot keeps it.
    QFile::rename(tmp, dir_.path() + "/home/" + user + (seen ? "/Maildir/cur/" + name + ":2,S" : "/Maildir/new/" + name));
}

}  // namespace testsupport
