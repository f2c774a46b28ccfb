// The mail check against a real IMAP server: Dovecot on loopback, STARTTLS and TLS from the start,
// PLAIN and SCRAM-SHA-256. The count is of INBOX's unseen messages, and the check leaves every flag
// as it found it.
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

#include "platform/nmail.h"
#include "support/dovecot_check.h"
#include "support/dovecot_mail.h"

using namespace platform;
using namespace testsupport;

namespace {

QByteArray message(int n) {
    return "From: Sender <sender@example.org>\r\nTo: alice@example.org\r\nSubject: m" + QByteArray::number(n) +
           "\r\nDate: Tue, 8 Dec 2026 09:30:00 +0900\r\n\r\nbody " + QByteArray::number(n) + "\r\n";
}

// Dovecot's log process writes a moment after the login: waits for the count of lines matching, with
// a generous bound.
qsizetype logged(const DovecotServer& server, const QRegularExpression& pattern, qsizetype atLeast) {
    const QDeadlineTimer deadline(20'000);
    qsizetype n = 0;
    while ((n = server.log().count(pattern)) < atLeast && !deadline.hasExpired()) QThread::msleep(20);
    return n;
}

// Full-width letters and an ideographic space, as an input method may leave them: SASLprep makes them
// ASCII, while Dovecot keeps and compares the password as it was set.
constexpr const char* kWidePassword = "ｐｗ\u3000全角";

class ImapDovecot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<DovecotServer>(std::map<QString, QString>{
            {"alice", "alicepw"}, {"pinned", "pinnedpw"}, {"wide", QString::fromUtf8(kWidePassword)}});
        if (!server->error().isEmpty()) return;
        // Three unseen, two already read, mixed.
        for (int n = 1; n <= 5; ++n) server->deliver("alice", message(n), n == 2 || n == 4);
        server->deliver("pinned", message(1));
        server->deliver("wide", message(1));
    }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server->error().isEmpty()) << server->error().toStdString();
        NMailClearTrustedCertificates();
        NMailAddTrustedCertificates(server->certificate().toStdString());
        NMailClearPinnedCertificates();
    }
    std::string startTls() const { return "imap://127.0.0.1:" + std::to_string(server->imapPort()); }
    std::string tls() const { return "imaps://127.0.0.1:" + std::to_string(server->imapsPort()); }
    static std::unique_ptr<DovecotServer> server;
};
std::unique_ptr<DovecotServer> ImapDovecot::server;

TEST_F(ImapDovecot, CountsUnseenMailOfInboxAndChangesNoFlag) {
    const QString before = server->flags("alice");
    ASSERT_EQ(before.count("uid:"), 5) << before.toStdString();
    ASSERT_EQ(before.count("\\Seen"), 2) << before.toStdString();
    struct Mode {
        std::string server;
        bool keepSecret;
        const char* method;
        const char* user = "alice";
        const char* password = "alicepw";
        int32_t count = 3;
    };
    for (const Mode& mode : {Mode{startTls(), false, "PLAIN"}, Mode{tls(), false, "PLAIN"},
                             Mode{startTls(), true, "SCRAM-SHA-256"}, Mode{tls(), true, "SCRAM-SHA-256"},
                             Mode{tls(), false, "PLAIN", "wide", kWidePassword, 1},
                             Mode{tls(), true, "SCRAM-SHA-256", "wide", kWidePassword, 1}}) {
        SCOPED_TRACE(mode.server + " " + mode.method + " " + mode.user);
        const QString flags = server->flags(mode.user);
        // TLS every time, and the method asked for (Dovecot 2.3 "Login:", 2.4 "Logged in:").
        const QRegularExpression login("imap-login: Info: (Login|Logged in): user=<" + QString(mode.user) +
                                       ">, method=" + QString(mode.method) + ",.*, TLS");
        const qsizetype logins = server->log().count(login);
        const Check check = runProgramCheck(mode.server, mode.user, mode.password, mode.keepSecret);
        EXPECT_EQ(check.count, mode.count) << check.failure;
        EXPECT_EQ(server->flags(mode.user).toStdString(), flags.toStdString());
        EXPECT_EQ(logged(*server, login, logins + 1), logins + 1) << server->log().toStdString();
    }
}

TEST_F(ImapDovecot, WrongPasswordShowsTheServersReason) {
    for (bool keepSecret : {false, true}) {
        const Check check = runProgramCheck(startTls(), "alice", "wrong", keepSecret);
        EXPECT_LT(check.count, 0);
        EXPECT_EQ(check.refusal, kNMailRefusalPassword);
        EXPECT_NE(check.failure.find("認証に失敗しました。"), std::string::npos) << check.failure;
        EXPECT_NE(check.failure.find("[AUTHENTICATIONFAILED]"), std::string::npos) << check.failure;
    }
}

TEST_F(ImapDovecot, AnUnverifiedCertificateStopsTheLoginUntilPinned) {
    NMailClearTrustedCertificates();
    const QRegularExpression login("user=<pinned>");
    for (const std::string& where : {startTls(), tls()}) {
        SCOPED_TRACE(where);
        const qsizetype logins = server->log().count(login);
        const Check refused = runProgramCheck(where, "pinned", "pinnedpw");
        EXPECT_LT(refused.count, 0);
        EXPECT_NE(refused.failure.find("サーバーの証明書を確認できませんでした"), std::string::npos) << refused.failure;
        const auto problem = NMailLastCertificateProblem();
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->server, NMailServerKey(where));
        EXPECT_EQ(problem->sha256, server->fingerprint().toStdString());
        // Nothing of the account went out.
        EXPECT_EQ(server->log().count(login), logins) << server->log().toStdString();
        NMailPinCertificate(problem->server, problem->sha256);
        const Check pinned = runProgramCheck(where, "pinned", "pinnedpw");
        EXPECT_EQ(pinned.count, 1) << pinned.failure;
        NMailClearPinnedCertificates();
        EXPECT_GT(logged(*server, login, logins + 1), logins);
    }
}

}  // namespace
