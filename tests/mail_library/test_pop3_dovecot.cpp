// The mail check against a real POP3 server: Dovecot on loopback, plain with STLS, TLS from the start,
// USER/PASS and APOP.
#include <QDateTime>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <memory>

#include "platform/nmail.h"
#include "support/dovecot_check.h"
#include "support/dovecot_mail.h"

using namespace platform;
using namespace testsupport;

namespace {

QByteArray message(const QByteArray& subject, const QByteArray& body, const QByteArray& extraHeader = {}) {
    return "From: Sender <sender@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Tue, 8 Dec 2026 09:30:00 +0900\r\n" + extraHeader + "\r\n" + body;
}

// The mailbox every full check reads: stuffed dots, Japanese in three encodings, no final line end,
// a message of several megabytes, and enough small ones to make many.
std::vector<QByteArray> testMailbox() {
    QByteArray big;
    for (int i = 0; big.size() < 3'500'000; ++i) big += QByteArray::number(i) + " " + QByteArray(70, 'a' + i % 26) + "\r\n.\r\n";
    std::vector<QByteArray> box = {
        message("dots", ".\r\n..\r\n.hidden\r\n...three\r\n. \r\nend\r\n"),
        message("=?UTF-8?B?5pel5pys6Kqe?=", "日本語の本文です。\r\n絵文字 🐈 も。\r\n",
                "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n"),
        message("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "\x1b$BF|K\\8l\x1b(B\r\n", "Content-Type: text/plain; charset=ISO-2022-JP\r\n"),
        message("sjis", "\x93\xfa\x96\x7b\x8c\xea\x83\x5c\x95\x5c\r\n\xff\x80\x81\r\n", "Content-Type: text/plain; charset=Shift_JIS\r\n"),
        message("no final line end", "last line without CR LF"),
        message("big", big),
    };
    for (int i = 0; i < 40; ++i) box.push_back(message("small " + QByteArray::number(i), QByteArray(i * 37, 'x') + "\r\n"));
    return box;
}

class Pop3Dovecot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<DovecotServer>(std::map<QString, QString>{
            {"stls", "stlspw"}, {"tls", "tlspw"}, {"apop", "apoppw"}, {"empty", "emptypw"}, {"single", "singlepw"},
            {"untrusted", "untrustedpw"}, {"pinned", "pinnedpw"}});
        if (!server->error().isEmpty()) return;
        for (const QByteArray& m : testMailbox()) {
            for (const char* user : {"stls", "tls", "apop"}) server->deliver(user, m);
        }
        server->deliver("single", message("only one", "hello\r\n"));
        server->deliver("pinned", message("pinned", "hello\r\n"));
    }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server->error().isEmpty()) << server->error().toStdString();
        NMailClearTrustedCertificates();
        NMailAddTrustedCertificates(server->certificate().toStdString());
        NMailClearPinnedCertificates();
    }
    std::string plain() const { return "127.0.0.1:" + std::to_string(server->pop3Port()); }
    std::string tls() const { return "pop3s://127.0.0.1:" + std::to_string(server->pop3sPort()); }
    static std::unique_ptr<DovecotServer> server;
};
std::unique_ptr<DovecotServer> Pop3Dovecot::server;

TEST_F(Pop3Dovecot, FullChecksReadEveryMessageExactly) {
    struct Mode { std::string server, user, password; bool apop; const char* method; };
    const std::vector<QByteArray> box = testMailbox();
    for (const Mode& mode : {Mode{plain(), "stls", "stlspw", false, "PLAIN"}, Mode{tls(), "tls", "tlspw", false, "PLAIN"},
                             Mode{plain(), "apop", "apoppw", true, "APOP"}}) {
        SCOPED_TRACE(mode.user);
        const Check check = runProgramCheck(mode.server, mode.user, mode.password, mode.apop);
        ASSERT_EQ(check.count, static_cast<int>(box.size())) << check.failure;
        ASSERT_EQ(check.mails.size(), box.size());
        EXPECT_TRUE(check.buffersIntact);
        for (size_t i = 0; i < box.size(); ++i) {
            const CheckedMail& got = check.mails[i];
            const qsizetype split = box[i].indexOf("\r\n\r\n");
            QByteArray body = box[i].mid(split + 4);
            if (!body.endsWith("\r\n")) body += "\r\n";  // the server ends the last line for us
            EXPECT_GE(got.statusResult, 0) << i;
            EXPECT_GE(got.mailResult, 0) << i;
            EXPECT_EQ(got.size, box[i].size()) << i;
            EXPECT_EQ(got.header, box[i].left(split + 2).toStdString()) << i;
            EXPECT_EQ(got.subject, box[i].mid(box[i].indexOf("Subject: ") + 9).split('\r').first().toStdString());
            EXPECT_EQ(got.from, "Sender <sender@example.org>");
            EXPECT_EQ(got.date, "Tue, 8 Dec 2026 09:30:00 +0900");
            ASSERT_EQ(got.body, body.toStdString()) << i;
        }
        // Dovecot's own log tells how we logged in: TLS every time, and the method asked for. Dovecot
        // 2.3 says "Login:", 2.4 "Logged in:".
        const QRegularExpression login("(Login|Logged in): user=<" + QString::fromStdString(mode.user) + ">, method=" + mode.method +
                                       ",.*, TLS");
        EXPECT_TRUE(login.match(server->log()).hasMatch()) << server->log().toStdString();
    }
}

TEST_F(Pop3Dovecot, EmptyAndSingleMailboxes) {
    // By name, so through the name lookup, and the certificate is checked for "localhost".
    const Check empty = runProgramCheck("localhost:" + std::to_string(server->pop3Port()), "empty", "emptypw");
    EXPECT_EQ(empty.count, 0) << empty.failure;
    EXPECT_TRUE(empty.mails.empty());
    EXPECT_TRUE(server->log().contains("user=<empty>, method=PLAIN")) << server->log().toStdString();
    const Check single = runProgramCheck(tls(), "single", "singlepw");
    ASSERT_EQ(single.count, 1) << single.failure;
    EXPECT_EQ(single.mails[0].subject, "only one");
    EXPECT_EQ(single.mails[0].body, "hello\r\n");
}

TEST_F(Pop3Dovecot, WrongPasswordShowsTheServersReason) {
    for (bool apop : {false, true}) {
        const Check check = runProgramCheck(plain(), "single", "wrong", apop);
        EXPECT_LT(check.count, 0);
        EXPECT_NE(check.failure.find("認証に失敗しました。"), std::string::npos) << check.failure;
        EXPECT_NE(check.failure.find("-ERR [AUTH] Authentication failed."), std::string::npos) << check.failure;
    }
}

TEST_F(Pop3Dovecot, UntrustedCertificateIsALoginFailureThatSaysWhy) {
    NMailClearTrustedCertificates();
    for (const std::string& where : {plain(), tls()}) {
        const Check check = runProgramCheck(where, "untrusted", "untrustedpw");
        EXPECT_GE(check.handle, 0) << where;
        EXPECT_LT(check.count, 0) << where;
        EXPECT_NE(check.failure.find("サーバーの証明書を確認できませんでした"), std::string::npos) << check.failure;
    }
    // Nothing of the account went out: the server never saw this user.
    EXPECT_FALSE(server->log().contains("user=<untrusted>")) << server->log().toStdString();
}

TEST_F(Pop3Dovecot, AnUnverifiedCertificateIsDescribedAndTakenOnlyWhenPinnedForThatServer) {
    NMailClearTrustedCertificates();
    const std::string served = server->fingerprint().toStdString();
    ASSERT_EQ(served.size(), 95u) << served;
    std::string other = "AB";
    for (int i = 1; i < 32; ++i) other += ":AB";
    ASSERT_EQ(other.size(), served.size());
    for (const auto& [where, elsewhere] : {std::pair{plain(), tls()}, std::pair{tls(), plain()}}) {
        SCOPED_TRACE(where);
        const auto refused = [&](const std::string& pinned) {
            const Check check = runProgramCheck(where, "pinned", "pinnedpw");
            EXPECT_LT(check.count, 0);
            const auto problem = NMailLastCertificateProblem();
            EXPECT_TRUE(problem);
            if (!problem) return;
            EXPECT_EQ(problem->sha256, served);
            EXPECT_EQ(problem->server, NMailServerKey(where));
            EXPECT_EQ(problem->pinned, pinned);
            EXPECT_EQ(problem->subject, "CN=127.0.0.1");
            EXPECT_EQ(problem->problems.size(), 1u);
            EXPECT_NE(problem->problems.at(0).find("自己署名"), std::string::npos) << problem->problems.at(0);
            // Made for two days.
            const auto at = [](const std::string& t) { return QDateTime::fromString(QString::fromStdString(t), "yyyy/MM/dd HH:mm"); };
            EXPECT_EQ(at(problem->validFrom).secsTo(at(problem->validTo)), 2 * 24 * 3600) << problem->validFrom << " " << problem->validTo;
        };
        const qsizetype logins = server->log().count("user=<pinned>");
        refused("");
        // The same certificate trusted for another server (here the other port) counts for nothing here.
        NMailPinCertificate(NMailServerKey(elsewhere), served);
        refused("");
        // Another certificate trusted for this server: this one is refused, and said to be a change.
        NMailPinCertificate(NMailServerKey(where), other);
        refused(other);
        // Nothing of the account went out.
        EXPECT_EQ(server->log().count("user=<pinned>"), logins) << server->log().toStdString();
        // This very certificate: logs in, however its fingerprint is written.
        NMailPinCertificate(NMailServerKey(where), QString::fromStdString(served).toLower().toStdString());
        const Check check = runProgramCheck(where, "pinned", "pinnedpw");
        EXPECT_EQ(check.count, 1) << check.failure;
        EXPECT_FALSE(NMailLastCertificateProblem());
        NMailClearPinnedCertificates();
    }
    EXPECT_TRUE(server->log().contains("user=<pinned>")) << server->log().toStdString();
}

}  // namespace
