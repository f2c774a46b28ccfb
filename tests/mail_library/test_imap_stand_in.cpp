// The IMAP client against a scripted stand-in server: the commands it sends, the logins it makes, and
// what it does with hostile, silent and broken servers.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/imap_session.h"
#include "platform/imap_text.h"
#include "platform/nmail.h"
#include "support/dovecot_check.h"
#include "support/hand_server.h"

using namespace platform;
using namespace testsupport;

namespace {

struct Answer {
    std::string bytes;  // "$T" stands for the tag of the command answered
    bool hangUp = false;
    std::string endless = "";  // then this, over and over, until the client goes away
};
// A rule answers a line the client sent (without its tag), or leaves it to the plain server.
using Rule = std::function<std::optional<Answer>(const std::string& line)>;

Rule on(const std::string& line, Answer answer) {
    return [=](const std::string& l) { return l == line ? std::optional<Answer>(answer) : std::nullopt; };
}
Rule onStart(const std::string& start, Answer answer) {
    return [=](const std::string& l) { return l.rfind(start, 0) == 0 ? std::optional<Answer>(answer) : std::nullopt; };
}
Rule both(Rule first, Rule second) {
    return [=](const std::string& l) { return first(l) ? first(l) : second(l); };
}

const std::string kPlainIr = "AUTHENTICATE PLAIN " + imap::base64(imap::plainMessage("alice", "secret"));

// One connection on a loopback port, served in a thread: the greeting, then the rule first, then a
// plain server whose INBOX has 2 unseen messages. Every line the client sent is kept, tags removed
// (a line without a tag, such as a SASL answer, as it came).
class StandIn {
public:
    explicit StandIn(Rule rule = {}, Answer greeting = {"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n"})
        : rule_(std::move(rule)), listen_(LoopbackSocket(port_)) {
        listen(listen_, 4);
        thread_ = std::thread([this, greeting] {
            serve(greeting);
            shutdown(conn_, SHUT_RDWR);
        });
    }
    ~StandIn() {
        shutdown(listen_, SHUT_RDWR);
        shutdown(conn_.load(), SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(listen_);
        if (conn_ >= 0) close(conn_);
    }
    std::string address() const { return "imap://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> lines() {
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    bool say(const Answer& a, const std::string& tag) {
        std::string bytes = a.bytes;
        for (size_t at; (at = bytes.find("$T")) != std::string::npos;) bytes.replace(at, 2, tag);
        if (send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) return false;
        if (!a.endless.empty()) {
            const std::string lots = [&] { std::string l; while (l.size() < 65536) l += a.endless; return l; }();
            while (send(conn_, lots.data(), lots.size(), MSG_NOSIGNAL) > 0) {}
            return false;
        }
        return !a.hangUp;
    }
    static Answer standard(const std::string& c) {
        if (c == "CAPABILITY") return {"* CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN\r\n$T OK done\r\n"};
        if (c.rfind("AUTHENTICATE PLAIN ", 0) == 0 || c.rfind("LOGIN ", 0) == 0) return {"$T OK logged in\r\n"};
        if (c == "STATUS INBOX (UNSEEN)") return {"* STATUS INBOX (UNSEEN 2)\r\n$T OK done\r\n"};
        if (c == "LOGOUT") return {"* BYE\r\n$T OK bye\r\n", true};
        return {"$T BAD unknown\r\n"};
    }
    void serve(const Answer& greeting) {
        conn_ = accept(listen_, nullptr, nullptr);
        const int one = 1;
        setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string tag = "*";
        if (conn_ < 0 || !say(greeting, tag)) return;
        std::string pending;
        char chunk[4096];
        for (ssize_t got; (got = recv(conn_, chunk, sizeof chunk, 0)) > 0;) {
            pending.append(chunk, got);
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                // Our client's tags are "a" and a number.
                const size_t space = line.find(' ');
                if (line.size() > 1 && line[0] == 'a' && space != std::string::npos &&
                    line.find_first_not_of("0123456789", 1) == space) {
                    tag = line.substr(0, space);
                    line.erase(0, space + 1);
                }
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                const std::optional<Answer> ruled = rule_ ? rule_(line) : std::nullopt;
                if (!say(ruled ? *ruled : standard(line), tag)) return;
            }
        }
    }

    Rule rule_;
    int port_ = 0;
    int listen_;
    std::atomic<int> conn_{-1};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Short time limits, so that silent servers cost a second; the defaults come back afterwards.
class ImapStandIn : public ::testing::Test {
protected:
    void SetUp() override { NMailSetTimeouts(5'000, 1'000); }
    void TearDown() override { NMailSetTimeouts(10'000, 30'000); }
};

bool sentPassword(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) {
        if (l.find("secret") != std::string::npos || l.find(imap::base64(imap::plainMessage("alice", "secret"))) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST_F(ImapStandIn, LoginsAndTheCountWithNothingSelectedOrFetched) {
    struct Case {
        const char* name;
        Answer greeting;
        Rule rule;
        bool keepSecret;
        std::string user, password;
        std::vector<std::string> sent;  // nothing but these, in this order
        int32_t count;
    };
    const std::string ok = "* OK [CAPABILITY IMAP4rev1 ";
    const Answer hello = {ok + "SASL-IR AUTH=PLAIN] hi\r\n"};
    for (const Case& c : std::initializer_list<Case>{
             {"PLAIN in the command with SASL-IR", {ok + "SASL-IR AUTH=PLAIN] hi\r\n"}, {}, false, "alice", "secret",
              {kPlainIr, "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"PLAIN after the server's go-ahead without it", {ok + "AUTH=PLAIN] hi\r\n"}, both(on("AUTHENTICATE PLAIN", {"+ \r\n"}), on(imap::base64(imap::plainMessage("alice", "secret")), {"$T OK\r\n"})),
              false, "alice", "secret",
              {"AUTHENTICATE PLAIN", imap::base64(imap::plainMessage("alice", "secret")), "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"PLAIN: the password SASLprep'ed, then as typed when that is refused", {ok + "SASL-IR AUTH=PLAIN] hi\r\n"},
              on(kPlainIr, {"$T NO [AUTHENTICATIONFAILED] no\r\n"}), false, "alice", "se\u00ADcret",
              {kPlainIr, "AUTHENTICATE PLAIN " + imap::base64(std::string("\0alice\0", 7) + "se\u00ADcret"), "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"LOGIN, quoted, when PLAIN is not offered", {ok + "] hi\r\n"}, {}, false, "al\"ice", "se\\cret",
              {"LOGIN \"al\\\"ice\" \"se\\\\cret\"", "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"capabilities asked when the greeting has none", {"* OK hi\r\n"}, {}, false, "alice", "secret",
              {"CAPABILITY", kPlainIr, "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"CRAM-MD5 of RFC 2195's example", {ok + "AUTH=PLAIN AUTH=CRAM-MD5] hi\r\n"},
              both(on("AUTHENTICATE CRAM-MD5", {"+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"}),
                   on("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", {"$T OK yes\r\n"})),
              true, "tim", "tanstaaftanstaaf",
              {"AUTHENTICATE CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", "STATUS INBOX (UNSEEN)", "LOGOUT"}, 2},
             {"the count at its bound", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS INBOX (UNSEEN 10000000)\r\n$T OK\r\n"}),
              false, "alice", "secret", {kPlainIr, "STATUS INBOX (UNSEEN)", "LOGOUT"}, 10'000'000},
             {"a mailbox name as a literal, other mailboxes and untagged news passed over", hello,
              on("STATUS INBOX (UNSEEN)", {"* 4 EXISTS\r\n* STATUS Other (UNSEEN 9)\r\n* STATUS {5}\r\nINBOX (UNSEEN 7)\r\n$T OK\r\n"}),
              false, "alice", "secret", {kPlainIr, "STATUS INBOX (UNSEEN)", "LOGOUT"}, 7},
             {"PREAUTH: no login at all", {"* PREAUTH [CAPABILITY IMAP4rev1] hi\r\n"}, {}, false, "alice", "secret",
              {"STATUS INBOX (UNSEEN)", "LOGOUT"}, 2}}) {
        SCOPED_TRACE(c.name);
        StandIn server(c.rule, c.greeting);
        const Check check = runProgramCheck(server.address(), c.user, c.password, c.keepSecret);
        EXPECT_EQ(check.count, c.count) << check.failure;
        EXPECT_EQ(server.lines(), c.sent);
    }
}

TEST_F(ImapStandIn, HostileServersGetFailuresAndThePasswordOnlyWhereItMayGo) {
    const std::string big(imap::kMaxLine + 10, 'x');
    // A SCRAM server-first for whatever nonce the client sent, and what follows it.
    const auto scramServer = [](Answer afterProof) -> Rule {
        return [afterProof](const std::string& l) -> std::optional<Answer> {
            if (l.rfind("AUTHENTICATE SCRAM-SHA-256 ", 0) == 0) {
                const std::string first = *imap::fromBase64(l.substr(27));
                const std::string nonce = first.substr(first.find("r=") + 2);
                return Answer{"+ " + imap::base64("r=" + nonce + "srv,s=c2FsdA==,i=4096") + "\r\n"};
            }
            if (l.rfind("Yz1iaXdz", 0) == 0) return afterProof;  // "c=biws...": the client's proof
            if (l == "*") return Answer{"$T BAD cancelled\r\n"};
            return std::nullopt;
        };
    };
    struct Case {
        const char* name;
        Answer greeting;
        Rule rule;
        bool keepSecret;
        std::string says;             // in the failure text
        bool passwordSent;
        int32_t refusal = kNMailRefusalNone;
        std::string password = "secret";
    };
    const std::string ok = "* OK [CAPABILITY IMAP4rev1 ";
    const Answer hello = {ok + "SASL-IR AUTH=PLAIN] hi\r\n"};
    for (const Case& c : std::initializer_list<Case>{
             {"LOGINDISABLED without STARTTLS", {ok + "LOGINDISABLED AUTH=PLAIN SASL-IR] hi\r\n"}, {}, false, "LOGINDISABLED", false},
             {"STARTTLS offered, then refused", {ok + "STARTTLS AUTH=PLAIN] hi\r\n"}, on("STARTTLS", {"$T NO not now\r\n"}), false,
              "STARTTLS", false},
             {"no SCRAM-SHA-256 nor CRAM-MD5 for a secret kept here", {ok + "AUTH=PLAIN AUTH=LOGIN SASL-IR] hi\r\n"}, {}, true,
              "SCRAM-SHA-256 にも CRAM-MD5 にも", false},
             {"SCRAM: the server cannot prove it knows the password", {ok + "AUTH=SCRAM-SHA-256 SASL-IR] hi\r\n"},
              scramServer({"+ " + imap::base64("v=AAAA") + "\r\n"}), true, "確かめられません", false},
             {"SCRAM: the server lets us in without proof", {ok + "AUTH=SCRAM-SHA-256 SASL-IR] hi\r\n"},
              scramServer({"$T OK in\r\n"}), true, "確かめられません", false},
             {"SCRAM: a password SASLprep refuses is not tried", {ok + "AUTH=SCRAM-SHA-256 SASL-IR] hi\r\n"},
              scramServer({"$T OK in\r\n"}), true, "使えない文字", false, kNMailRefusalNone, "secret\u0007"},
             {"login refused with the server's words", hello, onStart("AUTHENTICATE PLAIN", {"$T NO [AUTHENTICATIONFAILED] Nope.\r\n"}),
              false, "認証に失敗しました。サーバーの応答: a1 NO [AUTHENTICATIONFAILED] Nope.", true, kNMailRefusalPassword},
             // Not tried again with the password as typed: that is for a refused password only.
             {"login refused for now", hello, on(kPlainIr, {"$T NO [UNAVAILABLE] Later.\r\n"}), false,
              "後でもう一度", true, kNMailRefusalTemporary, "se\u00ADcret"},
             {"STATUS refused", hello, on("STATUS INBOX (UNSEEN)", {"$T NO no such mailbox\r\n"}), false,
              "メールボックスの状態を取得できませんでした", true, kNMailRefusalOther},
             {"a count over ten million", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS INBOX (UNSEEN 10000001)\r\n$T OK\r\n"}),
              false, "(10000001) が正しくありません", true},
             {"no count", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS INBOX (MESSAGES 3)\r\n$T OK\r\n"}), false, "未読メールの数がありません",
              true},
             {"only another mailbox's count", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS Trash (UNSEEN 3)\r\n$T OK\r\n"}), false,
              "未読メールの数がありません", true},
             {"a line without end", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS INBOX (UNSEEN 2 ", false, "xxxxxxxx"}), false, "長すぎ",
              true},
             {"a line just too long", hello, on("STATUS INBOX (UNSEEN)", {"* OK " + big + "\r\n$T OK\r\n"}), false, "長すぎ", true},
             {"a literal of a hundred megabytes", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS {100000000}\r\n"}), false, "長すぎ", true},
             {"untagged news without end", hello, on("STATUS INBOX (UNSEEN)", {"", false, "* 1 EXISTS\r\n"}), false, "長すぎ", true},
             {"continuations without end", hello, onStart("AUTHENTICATE PLAIN", {"", false, "+ \r\n"}), false, "正しくありません", true},
             {"a silent greeting", {""}, {}, false, "時間内", false},
             {"silent after the login", hello, on("STATUS INBOX (UNSEEN)", {""}), false, "時間内", true},
             {"a greeting that says no", {"* BYE go away\r\n"}, {}, false, "受け付けませんでした", false},
             {"a greeting of another protocol", {"+OK POP3 ready\r\n"}, {}, false, "受け付けませんでした", false},
             {"BYE in the middle", hello, on("STATUS INBOX (UNSEEN)", {"* BYE shutting down\r\n", true}), false, "接続を閉じました", true},
             {"another command's tag", hello, on("STATUS INBOX (UNSEEN)", {"a99 OK done\r\n"}), false, "正しくありません", true},
             {"hung up in the middle", hello, on("STATUS INBOX (UNSEEN)", {"* STATUS INBOX (UNS", true}), false, "切れました", true}}) {
        SCOPED_TRACE(c.name);
        StandIn server(c.rule, c.greeting);
        const Check check = runProgramCheck(server.address(), "alice", c.password, c.keepSecret);
        EXPECT_EQ(check.count, -1);
        EXPECT_NE(check.failure.find(c.says), std::string::npos) << check.failure;
        EXPECT_EQ(check.refusal, c.refusal);
        EXPECT_EQ(sentPassword(server.lines()), c.passwordSent);
        // Nothing was ever selected or fetched.
        for (const std::string& l : server.lines()) {
            EXPECT_EQ(l.find("SELECT"), std::string::npos);
            EXPECT_EQ(l.find("FETCH"), std::string::npos);
        }
    }
}
