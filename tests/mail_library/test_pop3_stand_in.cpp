// The client against a scripted stand-in server: the commands it sends, and what it does with broken,
// hostile, silent and unreachable servers.
#include <QCryptographicHash>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/nmail.h"
#include "platform/pop3_session.h"
#include "support/dovecot_check.h"
#include "support/hand_server.h"

using namespace platform;
using namespace testsupport;

namespace {

struct Answer {
    std::string bytes;
    bool hangUp = false;
    int paceMs = 0;       // send a byte at a time, this far apart
    std::string endless = "";  // then this, over and over, until the client goes away
};
using Rule = std::function<std::optional<Answer>(const std::string& command)>;

Rule on(const std::string& command, Answer answer) {
    return [=](const std::string& c) { return c == command ? std::optional<Answer>(answer) : std::nullopt; };
}

Rule either(Rule first, Rule second) {
    return [=](const std::string& c) { return first(c) ? first(c) : second(c); };
}

std::string testMessage(int n) {
    return "Subject: s" + std::to_string(n) + "\r\nFrom: f@example.org\r\nDate: d\r\n\r\nbody " + std::to_string(n) +
           "\r\n.dotted\r\n";
}

std::string stuffed(const std::string& text) {
    std::string wire;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = std::min(text.find('\n', pos), text.size() - 1) + 1;
        wire += (text[pos] == '.' ? "." : "") + text.substr(pos, end - pos);
        pos = end;
    }
    return wire + ".\r\n";
}

// One connection on a loopback port, served in a thread: the rule first, then a plain mailbox of
// testMessage(1..count). Every line the client sent is kept. Like Courier's, a server that changes
// hands at login drops whatever it read after PASS.
class StandIn {
public:
    explicit StandIn(Rule rule = {}, int count = 3, bool pipelining = false,
                     Answer greeting = {"+OK stand-in ready <77.1@stand.in>\r\n"}, bool dropsAfterPass = false)
        : rule_(std::move(rule)), count_(count), pipelining_(pipelining), dropsAfterPass_(dropsAfterPass),
          listen_(LoopbackSocket(port_)) {
        listen(listen_, 4);
        thread_ = std::thread([this, greeting] {
            serve(greeting);
            shutdown(conn_, SHUT_RDWR);  // hang up
        });
    }
    ~StandIn() {
        shutdown(listen_, SHUT_RDWR);
        shutdown(conn_.load(), SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(listen_);
        if (conn_ >= 0) close(conn_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Every line the client sent, once it has hung up and the server has read them all.
    std::vector<std::string> lines() {
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    bool say(const Answer& a) {
        const size_t step = a.paceMs ? 1 : a.bytes.size();
        for (size_t i = 0; i < a.bytes.size(); i += step) {
            if (a.paceMs) std::this_thread::sleep_for(std::chrono::milliseconds(a.paceMs));
            if (send(conn_, a.bytes.data() + i, std::min(step, a.bytes.size() - i), MSG_NOSIGNAL) < 0) return false;
        }
        if (!a.endless.empty()) {
            const std::string lots = [&] { std::string l; while (l.size() < 65536) l += a.endless; return l; }();
            while (send(conn_, lots.data(), lots.size(), MSG_NOSIGNAL) > 0) {}
            return false;
        }
        return !a.hangUp;
    }
    Answer standard(const std::string& c) {
        const int n = std::atoi(c.c_str() + std::min(c.size(), c.find(' ') + 1));
        const bool exists = n >= 1 && n <= count_;
        if (c == "CAPA") return {"+OK\r\nUSER\r\nTOP\r\n" + std::string(pipelining_ ? "PIPELINING\r\n" : "") + ".\r\n"};
        if (c.rfind("USER ", 0) == 0 || c.rfind("PASS ", 0) == 0 || c.rfind("APOP ", 0) == 0) return {"+OK\r\n"};
        if (c == "STAT") return {"+OK " + std::to_string(count_) + " 300\r\n"};
        if (c == "QUIT") return {"+OK bye\r\n", true};
        if (c == "LIST") {
            std::string all = "+OK\r\n";
            for (int k = 1; k <= count_; ++k) all += std::to_string(k) + " " + std::to_string(testMessage(k).size()) + "\r\n";
            return {all + ".\r\n"};
        }
        if (!exists) return {"-ERR no such message\r\n"};
        const std::string m = testMessage(n);
        if (c.rfind("LIST ", 0) == 0) return {"+OK " + std::to_string(n) + " " + std::to_string(m.size()) + "\r\n"};
        if (c.rfind("TOP ", 0) == 0) return {"+OK\r\n" + stuffed(m.substr(0, m.find("\r\n\r\n") + 4))};
        if (c.rfind("RETR ", 0) == 0) return {"+OK\r\n" + stuffed(m)};
        return {"-ERR unknown command\r\n"};
    }
    void serve(const Answer& greeting) {
        conn_ = accept(listen_, nullptr, nullptr);
        const int one = 1;  // each reply goes out at once, as a real server's would
        setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (conn_ < 0 || !say(greeting)) return;
        std::string pending;
        char chunk[4096];
        for (ssize_t got; (got = recv(conn_, chunk, sizeof chunk, 0)) > 0;) {
            pending.append(chunk, got);
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                const std::optional<Answer> ruled = rule_ ? rule_(line) : std::nullopt;
                if (!say(ruled ? *ruled : standard(line))) return;
                if (dropsAfterPass_ && line.rfind("PASS ", 0) == 0) pending.clear();
            }
        }
    }

    Rule rule_;
    int count_;
    bool pipelining_;
    bool dropsAfterPass_;
    int port_ = 0;
    int listen_;
    std::atomic<int> conn_{-1};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What the client sends for the program's check: one RETR per message (the header comes from it),
// never TOP; STAT only once logged in; with PIPELINING, STAT and LIST together, else LIST only when
// there are messages.
std::vector<std::string> commandsFor(int count, bool pipelining, bool loggedIn = true) {
    std::vector<std::string> c = {"CAPA", "USER alice", "PASS secret"};
    if (loggedIn) c.push_back("STAT");
    if (loggedIn && (pipelining || count > 0)) c.push_back("LIST");
    for (int n = 1; n <= count; ++n) c.push_back("RETR " + std::to_string(n));
    c.push_back("QUIT");
    return c;
}

size_t times(const std::vector<std::string>& lines, const std::string& line) {
    return size_t(std::count(lines.begin(), lines.end(), line));
}

// A LIST reply giving message 1 this line and messages 2 and 3 their true sizes.
Answer listing(const std::string& first) {
    return {"+OK\r\n" + first + "\r\n2 " + std::to_string(testMessage(2).size()) + "\r\n3 " +
            std::to_string(testMessage(3).size()) + "\r\n.\r\n"};
}

// Short time limits, so that silent servers cost a second; the defaults come back afterwards.
class Pop3StandIn : public ::testing::Test {
protected:
    void SetUp() override { NMailSetTimeouts(5'000, 1'000); }
    void TearDown() override {
        NMailSetTimeouts(10'000, 30'000);
        NMailSetOption(1, 8192);
    }
};
// The same, with PIPELINING offered by the server or not.
class Pop3StandInEither : public Pop3StandIn, public ::testing::WithParamInterface<bool> {};

// A verification of a check whose login worked.
std::function<void(const Check&)> mails(std::function<void(const Check&)> verify) {
    return [verify](const Check& c) {
        ASSERT_EQ(c.count, 3) << c.failure;
        verify(c);
    };
}

}  // namespace

TEST_P(Pop3StandInEither, CommandsInTheProgramsOrderAndMessagesIntact) {
    for (const auto& [count, dropsAfterPass] : {std::pair{0, false}, {3, false}, {3, true}}) {
        SCOPED_TRACE(dropsAfterPass ? "drops what follows PASS" : "plain");
        StandIn server({}, count, GetParam(), {"+OK stand-in ready <77.1@stand.in>\r\n"}, dropsAfterPass);
        const Check check = runProgramCheck(server.address(), "alice", "secret");
        ASSERT_EQ(check.count, count) << check.failure;
        EXPECT_EQ(server.lines(), commandsFor(count, GetParam()));
        EXPECT_TRUE(check.buffersIntact);
        for (int n = 1; n <= count; ++n) {
            const CheckedMail& m = check.mails[n - 1];
            EXPECT_EQ(m.subject, "s" + std::to_string(n));
            EXPECT_EQ(m.from, "f@example.org");
            EXPECT_EQ(m.header, testMessage(n).substr(0, testMessage(n).find("\r\n\r\n") + 2));
            EXPECT_EQ(m.body, "body " + std::to_string(n) + "\r\n.dotted\r\n");
            EXPECT_EQ(m.size, static_cast<int>(testMessage(n).size()));
        }
    }
    StandIn refusing(on("PASS secret", {"-ERR [AUTH] wrong password\r\n"}), 3, GetParam());
    const Check failed = runProgramCheck(refusing.address(), "alice", "secret");
    EXPECT_LT(failed.count, 0);
    EXPECT_EQ(failed.failure, "認証に失敗しました。サーバーの応答: -ERR [AUTH] wrong password");
    EXPECT_EQ(refusing.lines(), commandsFor(0, GetParam(), false));
}

TEST_P(Pop3StandInEither, HostileRepliesGiveFailuresOrCutResults) {
    struct Case {
        const char* name;
        Rule rule;
        std::function<void(const Check&)> verify;
        bool laterMessagesFine = true;  // the connection survives: messages 2 and 3 arrive whole
        Answer greeting = {"+OK hi <1.2@x>\r\n"};
        std::function<void(const std::vector<std::string>&)> heard = {};  // the server's command log
    };
    const auto loginFails = [](const char* says) {
        return [=](const Check& c) {
            EXPECT_LT(c.count, 0);
            EXPECT_NE(c.failure.find(says), std::string::npos) << c.failure;
        };
    };
    // A refusal of the login, told apart by its response code: how long to keep away, and words that
    // call it a failed authentication only when it is one.
    const auto refusedAs = [](int32_t kind, int32_t wait, const char* says) {
        return [=](const Check& c) {
            EXPECT_LT(c.count, 0);
            EXPECT_EQ(c.refusal, kind);
            EXPECT_EQ(c.waitSeconds, wait);
            EXPECT_NE(c.failure.find(says), std::string::npos) << c.failure;
            EXPECT_EQ(c.failure.find("認証に失敗") != std::string::npos, kind == kNMailRefusalPassword) << c.failure;
        };
    };
    const auto capaWith = [](const std::string& more) { return on("CAPA", {"+OK\r\nUSER\r\nRESP-CODES\r\n" + more + ".\r\n"}); };
    const auto cutOff = [](const Check& c) {
        EXPECT_EQ(c.mails[0].mailResult, kNMailConnectionLost);
        EXPECT_EQ(c.mails[1].statusResult, kNMailConnectionLost);
        EXPECT_NE(lastFailure().find("途中で切れました"), std::string::npos) << lastFailure();
    };
    // A reply past its bound: that message fails, and so does everything after it, at once.
    const auto tooLong = [](int failsAt) {
        return mails([=](const Check& c) {
            EXPECT_EQ(failsAt == 0 ? c.mails[0].statusResult : c.mails[0].mailResult, kNMailConnectionLost);
            EXPECT_EQ(c.mails[2].mailResult, kNMailConnectionLost);
            EXPECT_NE(lastFailure().find("応答が長すぎます"), std::string::npos) << lastFailure();
        });
    };
    const auto fetchedOnce = [](const std::vector<std::string>& lines) {
        for (int n : {1, 2, 3}) EXPECT_EQ(times(lines, "RETR " + std::to_string(n)), 1u) << n;
    };
    const std::string header = "Subject: s1\r\n\r\n";
    const std::vector<Case> cases = {
        {"garbage greeting", {}, loginFails("HELLO THERE"), false, {"HELLO THERE\r\n"}},
        {"greeting -ERR", {}, loginFails("-ERR busy"), false, {"-ERR busy\r\n"}},
        {"overlong greeting", {}, loginFails("長すぎ"), false, {"+OK " + std::string(1'200'000, 'x')}},
        {"silent server", [](const std::string&) { return std::optional<Answer>(Answer{""}); }, loginFails("時間内"), false,
         {""}},
        {"trickling greeting", {}, loginFails("時間内"), false, {"+OK " + std::string(200, 'x') + "\r\n", false, 20}},
        {"USER -ERR", on("USER alice", {"-ERR who\r\n"}), refusedAs(kNMailRefusalPassword, 0, "-ERR who"), false},
        {"PASS -ERR", on("PASS secret", {"-ERR bad password\r\n"}),
         refusedAs(kNMailRefusalPassword, 0, "認証に失敗しました。サーバーの応答: -ERR bad password"), false},
        // The server's LOGIN-DELAY applies to every login, refused for any reason or not.
        {"PASS -ERR [AUTH], delay announced", either(capaWith("LOGIN-DELAY 60\r\n"), on("PASS secret", {"-ERR [AUTH] no\r\n"})),
         refusedAs(kNMailRefusalPassword, 60, "-ERR [AUTH] no"), false},
        {"PASS -ERR [LOGIN-DELAY], delay announced",
         either(capaWith("LOGIN-DELAY 900 USER\r\n"),
                on("PASS secret", {"-ERR [LOGIN-DELAY] Logins must be at least 15 minutes apart\r\n"})),
         refusedAs(kNMailRefusalTemporary, 900, "[LOGIN-DELAY] Logins must"), false},
        {"PASS -ERR [LOGIN-DELAY], none announced", on("PASS secret", {"-ERR [login-delay] wait\r\n"}),
         refusedAs(kNMailRefusalTemporary, 300, "wait"), false},
        {"PASS -ERR [IN-USE]", on("PASS secret", {"-ERR [IN-USE] Mailbox locked by another session\r\n"}),
         refusedAs(kNMailRefusalTemporary, 60, "locked by another"), false},
        {"USER -ERR [SYS/TEMP]", on("USER alice", {"-ERR [SYS/TEMP/DISK] Try again later\r\n"}),
         refusedAs(kNMailRefusalTemporary, 300, "Try again later"), false},
        {"STAT -ERR [IN-USE], delay announced", either(capaWith("LOGIN-DELAY 120\r\n"), on("STAT", {"-ERR [IN-USE] busy\r\n"})),
         refusedAs(kNMailRefusalTemporary, 120, "-ERR [IN-USE] busy"), false},
        {"PASS -ERR [SYS/PERM]", on("PASS secret", {"-ERR [SYS/PERM] Account disabled\r\n"}),
         refusedAs(kNMailRefusalOther, 0, "ログインを拒否しました。サーバーの応答: -ERR [SYS/PERM] Account disabled"), false},
        {"PASS -ERR, unknown code", on("PASS secret", {"-ERR [IN-USEFUL] hm\r\n"}),
         refusedAs(kNMailRefusalOther, 0, "[IN-USEFUL] hm"), false},
        // However many hours a server announces, it is tried again within one (it may refuse, quietly).
        {"absurd LOGIN-DELAY", either(capaWith("LOGIN-DELAY 99999999999999999999\r\n"), on("PASS secret", {"-ERR [IN-USE] x\r\n"})),
         refusedAs(kNMailRefusalTemporary, 3600, "[IN-USE] x"), false},
        {"login works, delay announced", capaWith("LOGIN-DELAY 300\r\n"),
         mails([](const Check& c) { EXPECT_EQ(c.refusal, kNMailRefusalNone); EXPECT_EQ(c.waitSeconds, 300); })},
        {"hang-up right after STAT", on("STAT", {"+OK 3 300\r\n", true}),  // what came before the close counts
         mails([](const Check& c) {
             EXPECT_LT(c.mails[0].statusResult, 0);
             EXPECT_NE(lastFailure().find("途中で切れました"), std::string::npos) << lastFailure();
         }), false},
        {"STAT -ERR", on("STAT", {"-ERR locked\r\n"}), refusedAs(kNMailRefusalOther, 0, "-ERR locked"), false},
        {"STAT garbage", on("STAT", {"+OK many\r\n"}), loginFails("+OK many"), false},
        {"STAT absurd count", on("STAT", {"+OK 99999999999 1\r\n"}), loginFails("99999999999"), false},
        {"STAT count no mailbox has", on("STAT", {"+OK 20000000 1\r\n"}), loginFails("20000000"), false},
        {"endless CAPA", on("CAPA", {"+OK\r\n", false, 0, "X-FILLER\r\n"}), loginFails("長すぎ"), false},
        {"endless header", on("RETR 1", {"+OK\r\nSubject: s1\r\n", false, 0, "X-Filler: y\r\n"}), tooLong(0), false},
        {"endless RETR", on("RETR 1", {"+OK\r\n" + header, false, 0, "yyyyyyy\r\n"}), tooLong(1), false},
        {"RETR far past its size", on("RETR 1", {"+OK\r\n" + header + std::string(200'000, 'y') + "\r\n.\r\n"}),
         tooLong(1), false},
        // Sizes come from one LIST; a message it leaves out is asked for alone, just ahead of its RETR.
        {"LIST -ERR", either(on("LIST", {"-ERR no list\r\n"}), on("LIST 1", {"-ERR no list\r\n"})),
         mails([](const Check& c) { EXPECT_LT(c.mails[0].size, 0); EXPECT_EQ(c.mails[1].size, int(testMessage(2).size())); }),
         true, {"+OK hi <1.2@x>\r\n"}, fetchedOnce},
        {"message left out of LIST", on("LIST", {"+OK\r\n1 " + std::to_string(testMessage(1).size()) + "\r\n3 " +
                                                 std::to_string(testMessage(3).size()) + "\r\n.\r\n"}),
         mails([](const Check& c) { EXPECT_EQ(c.mails[1].size, int(testMessage(2).size())); }), true,
         {"+OK hi <1.2@x>\r\n"}, [fetchedOnce](const std::vector<std::string>& lines) {
             fetchedOnce(lines);
             const auto list2 = std::find(lines.begin(), lines.end(), "LIST 2");
             ASSERT_NE(list2, lines.end());
             EXPECT_EQ(*std::next(list2), "RETR 2");
             EXPECT_EQ(times(lines, "LIST 1"), 0u);
         }},
        {"negative size", on("LIST", listing("1 -5")),
         mails([](const Check& c) { EXPECT_EQ(c.mails[0].size, 0); EXPECT_EQ(c.mails[0].body, ""); EXPECT_EQ(c.mails[0].subject, "s1"); })},
        {"absurd size", on("LIST", listing("1 99999999999999")),
         mails([](const Check& c) { EXPECT_LT(c.mails[0].size, 0); EXPECT_GE(c.mails[0].mailResult, 0); })},
        {"garbage size", either(on("LIST", listing("1 big")), on("LIST 1", {"+OK 1 big\r\n"})),
         mails([](const Check& c) { EXPECT_LT(c.mails[0].size, 0); EXPECT_EQ(c.mails[2].size, int(testMessage(3).size())); })},
        {"size below the truth", on("LIST", listing("1 4")),
         mails([](const Check& c) { EXPECT_EQ(c.mails[0].body, "body"); EXPECT_EQ(c.mails[0].mailResult, 4); })},
        {"size above the truth", on("LIST", listing("1 100000")),
         mails([](const Check& c) { EXPECT_EQ(c.mails[0].body, "body 1\r\n.dotted\r\n"); })},
        {"RETR -ERR", on("RETR 1", {"-ERR gone\r\n"}),
         mails([](const Check& c) {
             EXPECT_LT(c.mails[0].mailResult, 0);
             EXPECT_EQ(c.mails[0].body, "");
             EXPECT_NE(lastFailure().find("メッセージ 1 を取得できませんでした。サーバーの応答: -ERR gone"), std::string::npos);
         })},
        {"RETR garbage", on("RETR 1", {"Subject: s1\r\n"}), mails([](const Check& c) { EXPECT_LT(c.mails[0].mailResult, 0); }), false},
        {"dropped mid-message", on("RETR 1", {"+OK\r\n" + header + "half a bo", true}), mails(cutOff), false},
        {"closed without the terminator", on("RETR 1", {"+OK\r\n" + header + "all of it\r\n", true}),
         mails(cutOff), false},
        {"dropped in the middle of the pipeline", on("RETR 2", {"+OK\r\nSubject: s2\r\n\r\nhalf a bo", true}),
         mails([](const Check& c) {
             EXPECT_EQ(c.mails[0].body, "body 1\r\n.dotted\r\n");
             EXPECT_EQ(c.mails[1].subject, "s2");
             EXPECT_LT(c.mails[1].mailResult, 0);
             EXPECT_LT(c.mails[2].statusResult, 0);
             EXPECT_LT(c.mails[2].mailResult, 0);
         }), false},
        {"overlong body line", on("RETR 1", {"+OK\r\n" + header + std::string(1'100'000, 'y') + "\r\n.\r\n"}),
         mails([](const Check& c) { EXPECT_LT(c.mails[0].mailResult, 0); }), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandIn server(c.rule, 3, GetParam(), c.greeting);
        const Check check = runProgramCheck(server.address(), "alice", "secret");
        EXPECT_TRUE(check.buffersIntact);
        if (check.count == 3 && c.laterMessagesFine) {
            for (int n : {2, 3}) EXPECT_EQ(check.mails[n - 1].body, "body " + std::to_string(n) + "\r\n.dotted\r\n");
        }
        c.verify(check);
        const std::vector<std::string> lines = server.lines();
        for (const std::string& line : lines) EXPECT_LE(line.size() + 2, 255u) << line;
        if (c.heard) c.heard(lines);
    }
}

TEST_P(Pop3StandInEither, CallsOutOfTheProgramsOrderStayInStep) {
    StandIn server({}, 3, GetParam());
    const int32_t h = NMailPop3Connect(server.address());
    ASSERT_EQ(NMailPop3Authenticate(h, "alice", "secret", 0), 3);
    char subject[8192], date[8192], from[8192], header[8192], body[100];
    EXPECT_EQ(NMailPop3GetMailStatus(h, 1, subject, date, from, header, 0), 0);  // message 1 is never fetched
    EXPECT_EQ(NMailPop3GetMailStatus(h, 2, subject, date, from, header, 0), 0);
    EXPECT_STREQ(subject, "s2");
    EXPECT_EQ(NMailPop3GetMailSize(h, 3), static_cast<int>(testMessage(3).size()));
    EXPECT_EQ(NMailPop3GetMail(h, 1, subject, date, from, header, body, sizeof body, 0, 0), 17);
    EXPECT_STREQ(body, "body 1\r\n.dotted\r\n");
    EXPECT_EQ(NMailPop3GetMailSize(h, 1), static_cast<int>(testMessage(1).size()));
    EXPECT_EQ(NMailPop3Close(h), 0);
    EXPECT_EQ(server.lines().back(), "QUIT");
}

TEST_P(Pop3StandInEither, SizesKeptFromListStayBoundedWhateverTheCount) {
    // Past the sizes kept, a message's size is asked for just ahead of its RETR, and it still
    // costs one RETR.
    const int kept = int(pop3::kMaxKeptSizes);
    // The long list is made before the server starts, and read without the short limit of the others,
    // so that a slow machine is not taken for a silent server.
    NMailSetTimeouts(5'000, 30'000);
    std::string list = "+OK\r\n";
    for (int k = 1; k <= kept + 2; ++k) list += std::to_string(k) + " " + std::to_string(testMessage(k).size()) + "\r\n";
    StandIn server(on("LIST", {list + ".\r\n"}), kept + 2, GetParam());
    const int32_t h = NMailPop3Connect(server.address());
    ASSERT_EQ(NMailPop3Authenticate(h, "alice", "secret", 0), kept + 2);
    char subject[8192], date[8192], from[8192], header[8192];
    EXPECT_EQ(NMailPop3GetMailStatus(h, kept, subject, date, from, header, 0), 0);
    EXPECT_EQ(NMailPop3GetMailSize(h, kept), static_cast<int>(testMessage(kept).size()));
    EXPECT_EQ(NMailPop3GetMailStatus(h, kept + 1, subject, date, from, header, 0), 0);
    EXPECT_EQ(subject, "s" + std::to_string(kept + 1));
    EXPECT_EQ(NMailPop3GetMailSize(h, kept + 1), static_cast<int>(testMessage(kept + 1).size()));
    EXPECT_EQ(NMailPop3Close(h), 0);
    const auto lines = server.lines();
    EXPECT_EQ(times(lines, "LIST " + std::to_string(kept)), 0u);
    EXPECT_EQ(times(lines, "LIST " + std::to_string(kept + 1)), 1u);
    EXPECT_EQ(times(lines, "RETR " + std::to_string(kept + 1)), 1u);
}

INSTANTIATE_TEST_SUITE_P(Pipelining, Pop3StandInEither, ::testing::Bool());

TEST_F(Pop3StandIn, WhatIsSentAheadStaysWithinItsWindowWhateverTheMailbox) {
    // The server holds every message back: all the client asks for before the first one arrives is
    // what it ever has in flight, so its memory cannot grow with the mailbox.
    struct Case {
        int count;
        int size;
        size_t retrs;  // 256 commands at most; 4 MB ahead of the one being read, by LIST's sizes
    };
    for (const Case& c : {Case{500, 5000, 256}, Case{500, 1 << 20, 5}, Case{500, 6 << 20, 2}}) {
        SCOPED_TRACE(c.size);
        std::string list = "+OK\r\n";
        for (int k = 1; k <= c.count; ++k) list += std::to_string(k) + " " + std::to_string(c.size) + "\r\n";
        const Rule holdBack = [](const std::string& command) {
            return command.rfind("RETR ", 0) == 0 ? std::optional<Answer>(Answer{""}) : std::nullopt;
        };
        StandIn server(either(on("LIST", {list + ".\r\n"}), holdBack), c.count, true);
        EXPECT_EQ(runProgramCheck(server.address(), "alice", "secret").count, c.count);
        const auto lines = server.lines();
        EXPECT_EQ(size_t(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.rfind("RETR ", 0) == 0; })),
                  c.retrs);
        EXPECT_NE(std::find(lines.begin(), lines.end(), "RETR " + std::to_string(c.retrs)), lines.end());
    }
}

TEST_F(Pop3StandIn, ApopSendsTheDigestAndNeverFallsBackToPasswords) {
    StandIn server;
    const Check check = runProgramCheck(server.address(), "alice", "secret", true);
    EXPECT_EQ(check.count, 3) << check.failure;
    const QByteArray digest = QCryptographicHash::hash("<77.1@stand.in>secret", QCryptographicHash::Md5).toHex();
    EXPECT_EQ(server.lines().at(1), "APOP alice " + digest.toStdString());

    StandIn noTimestamp({}, 3, false, {"+OK ready\r\n"});
    const Check refused = runProgramCheck(noTimestamp.address(), "alice", "secret", true);
    EXPECT_LT(refused.count, 0);
    EXPECT_NE(refused.failure.find("APOP"), std::string::npos) << refused.failure;
    EXPECT_EQ(noTimestamp.lines(), (std::vector<std::string>{"CAPA", "QUIT"}));

    StandIn stlsRefused(on("CAPA", {"+OK\r\nSTLS\r\nUSER\r\n.\r\n"}));
    EXPECT_LT(runProgramCheck(stlsRefused.address(), "alice", "secret").count, 0);
    EXPECT_NE(lastFailure().find("STLS"), std::string::npos) << lastFailure();
    EXPECT_EQ(stlsRefused.lines(), (std::vector<std::string>{"CAPA", "STLS"}));
}

TEST_F(Pop3StandIn, UserDataNeverMakesCommandsLongerThan255OrAddsLines) {
    struct Case { std::string user, password; bool apop, sent; };
    const std::vector<Case> cases = {
        {std::string(248, 'u'), "pw", false, true},  {std::string(249, 'u'), "pw", false, false},
        {"alice", std::string(248, 'p'), false, true}, {"alice", std::string(249, 'p'), false, false},
        {std::string(215, 'u'), "pw", true, true},   {std::string(216, 'u'), "pw", true, false},
        {"alice\r\nDELE 1", "pw", false, false},      {"alice", "pw\nDELE 1", false, false},
        {"alice", std::string("p\0w", 3), true, false}};
    for (const Case& c : cases) {
        StandIn server;
        const Check check = runProgramCheck(server.address(), c.user, c.password, c.apop);
        EXPECT_EQ(check.count >= 0, c.sent) << c.user.size() << " " << c.password.size();
        size_t longest = 0;
        for (const std::string& line : server.lines()) {
            longest = std::max(longest, line.size() + 2);
            EXPECT_EQ(line.find("DELE"), std::string::npos);
        }
        EXPECT_LE(longest, 255u);
        if (!c.sent) {
            EXPECT_EQ(server.lines(), (std::vector<std::string>{"QUIT"})) << check.failure;
        }
    }
}

TEST_F(Pop3StandIn, SmallBuffersAreCutNeverOverrun) {
    NMailSetOption(1, 8);
    StandIn server;
    const Check check = runProgramCheck(server.address(), "alice", "secret");
    ASSERT_EQ(check.count, 3) << check.failure;
    EXPECT_TRUE(check.buffersIntact);
    EXPECT_EQ(check.mails[0].from, "f@examp");
    EXPECT_EQ(check.mails[0].header, "Subject");
}

TEST_F(Pop3StandIn, UnreachableServersAndBadHandlesFailPromptly) {
    int port = 0;
    close(LoopbackSocket(port));  // nobody listens there now
    const std::string where = "127.0.0.1:" + std::to_string(port);
    const Check check = runProgramCheck(where, "alice", "secret");
    EXPECT_EQ(check.handle, -1);
    EXPECT_EQ(check.failure, "サーバー " + where + " に接続できませんでした。(接続を拒否されました)");

    StandIn first, second({}, 2);
    const int32_t h1 = NMailPop3Connect(first.address()), h2 = NMailPop3Connect(second.address());
    ASSERT_NE(h1, h2);
    EXPECT_EQ(NMailPop3Authenticate(h2, "bob", "pw", 0), 2);
    EXPECT_EQ(NMailPop3Authenticate(h1, "alice", "pw", 0), 3);
    EXPECT_EQ(NMailPop3Close(h1), 0);
    EXPECT_EQ(NMailPop3GetMailSize(h2, 2), static_cast<int>(testMessage(2).size()));
    char b[8192];
    for (int32_t bad : {h1, -1, 64, 100000}) {
        EXPECT_LT(NMailPop3GetMailStatus(bad, 1, b, b, b, b, 0), 0);
        EXPECT_NE(lastFailure().find("ハンドル"), std::string::npos);
        EXPECT_LT(NMailPop3Close(bad), 0);
    }
    EXPECT_EQ(NMailPop3Close(h2), 0);
    EXPECT_EQ(first.lines().back(), "QUIT");
}
