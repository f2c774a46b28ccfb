// The parts of the POP3 client that need no server.
#include "platform/nmail.h"
#include "platform/pop3_text.h"

#include <QString>
#include <gtest/gtest.h>

using namespace platform;
using namespace platform::pop3;

namespace {

class StringSink : public Sink {
public:
    void write(const char* data, size_t size) override { text.append(data, size); }
    std::string text;
};

// What a server sends for a message: lines that start with "." get another one, then the "." line.
std::string stuffed(const std::string& message) {
    std::string wire;
    size_t pos = 0;
    while (pos < message.size()) {
        const size_t end = std::min(message.find('\n', pos), message.size() - 1) + 1;
        if (message[pos] == '.') wire += '.';
        wire += message.substr(pos, end - pos);
        pos = end;
    }
    return wire + ".\r\n";
}

}  // namespace

TEST(Pop3Apop, DigestOfTheRfcExampleAndTimestampsOfGreetings) {
    const auto rfc = greetingTimestamp("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>");
    ASSERT_TRUE(rfc);
    EXPECT_EQ(apopDigest(*rfc, "tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
    EXPECT_EQ(greetingTimestamp("+OK Dovecot ready. <3234.23.6b175e88.QJ1NHxr+Pbh1qR6MwR0ndg==@vm>"),
              "<3234.23.6b175e88.QJ1NHxr+Pbh1qR6MwR0ndg==@vm>");
    EXPECT_EQ(greetingTimestamp("+OK <no timestamp> then <1.2@host>"), "<1.2@host>");
    for (const char* none : {"+OK ready", "+OK <no-at-sign>", "+OK <a b@c>", "+OK <1.2@host"}) {
        EXPECT_FALSE(greetingTimestamp(none)) << none;
    }
}

TEST(Pop3ServerText, HostsPortsAndTls) {
    struct Case { const char* text; const char* host; int port; bool tls; bool imap = false; };
    for (const Case& c : std::initializer_list<Case>{
             {"pop.example.org", "pop.example.org", 110, false},
             {" pop.example.org:995 ", "pop.example.org", 995, true},
             {"127.0.0.1:1100", "127.0.0.1", 1100, false},
             {"[::1]:995", "::1", 995, true},
             {"[fe80::1%eth0]", "fe80::1%eth0", 110, false},
             {"::1", "::1", 110, false},
             {"pop3s://127.0.0.1:2995", "127.0.0.1", 2995, true},
             {"POP3S://mail.example.org/", "mail.example.org", 995, true},
             {"pop3://mail.example.org:995", "mail.example.org", 995, true},
             {"pop3://[::1]:110", "::1", 110, false},
             // IMAP by its schemes or its well-known ports; a POP3 scheme wins over the port.
             {"imap://mail.example.org", "mail.example.org", 143, false, true},
             {"IMAPS://mail.example.org/", "mail.example.org", 993, true, true},
             {"imap://127.0.0.1:993", "127.0.0.1", 993, true, true},
             {"imap://127.0.0.1:1143", "127.0.0.1", 1143, false, true},
             {"imaps://[::1]:1993", "::1", 1993, true, true},
             {"mail.example.org:993", "mail.example.org", 993, true, true},
             {"[::1]:143", "::1", 143, false, true},
             {"pop3://mail.example.org:993", "mail.example.org", 993, false},
             {"pop3s://mail.example.org:143", "mail.example.org", 143, true}}) {
        const auto a = parseServerText(c.text);
        ASSERT_TRUE(a) << c.text;
        EXPECT_EQ(a->host, c.host) << c.text;
        EXPECT_EQ(a->port, c.port) << c.text;
        EXPECT_EQ(a->implicitTls, c.tls) << c.text;
        EXPECT_EQ(a->imap, c.imap) << c.text;
    }
    for (const char* bad : {"", "  ", "host:", ":110", "host:0", "host:65536", "host:12a", "[::1", "[::1]x",
                            "[]:110", "a b", "host:110:1", "user@host", "pop3s://", "imaps://", "imap://host:0"}) {
        EXPECT_FALSE(parseServerText(bad)) << bad;
    }
    EXPECT_EQ(displayName(*parseServerText("[::1]:2110")), "[::1]:2110");
}

TEST(Pop3DotStuffing, UndoneWhereverTheReadChunksEnd) {
    const std::vector<std::string> messages = {
        "Subject: x\r\n\r\n.hidden\r\n..two\r\n.\r\n. \r\n.\rodd\r\nend\r\n",
        "",
        ".\r\n",
        "no dot at all\r\nsecond line\r\n",
        "bare\nline feeds\n.dot\n",
    };
    for (const std::string& message : messages) {
        const std::string wire = stuffed(message) + "+OK next reply";
        for (size_t chunk = 1; chunk <= wire.size(); ++chunk) {
            DotUnstuffer unstuffer(1 << 20);
            StringSink out;
            size_t used = 0;
            while (used < wire.size() && !unstuffer.finished()) {
                const size_t n = std::min(chunk, wire.size() - used);
                const size_t took = unstuffer.feed(wire.data() + used, n, out);
                used += took;
                if (took < n) break;
            }
            ASSERT_TRUE(unstuffer.finished()) << "chunk " << chunk;
            EXPECT_EQ(out.text, message) << "chunk " << chunk;
            EXPECT_EQ(wire.substr(used), "+OK next reply") << "chunk " << chunk;
        }
    }
}

TEST(Pop3Message, HeaderAndBodySplitInAnyChunksAndFieldsUnfolded) {
    const std::string header =
        "Received: by x\r\nSUBJECT: =?UTF-8?B?5pel5pys?=\r\n\tsecond part\r\nDate : Mon, 1 Jan 2024 00:00:00 +0900\r\n"
        "From:  a@example.org \r\nSubject: not this one\r\n";
    const std::string message = header + "\r\nbody\r\n\r\nmore\r\n";
    for (size_t chunk = 1; chunk <= message.size(); ++chunk) {
        StringSink body;
        HeaderSplitter split(&body);
        for (size_t i = 0; i < message.size(); i += chunk) split.write(message.data() + i, std::min(chunk, message.size() - i));
        ASSERT_EQ(split.header(), header) << chunk;
        ASSERT_EQ(body.text, "body\r\n\r\nmore\r\n") << chunk;
    }
    EXPECT_EQ(headerField(header, "Subject"), "=?UTF-8?B?5pel5pys?=\tsecond part");
    EXPECT_EQ(headerField(header, "date"), "Mon, 1 Jan 2024 00:00:00 +0900");
    EXPECT_EQ(headerField(header, "From"), "a@example.org");
    EXPECT_EQ(headerField(header, "Reply-To"), "");

    StringSink body;
    HeaderSplitter lf(&body), none(&body);
    lf.write("A: 1\n\nbody\n", 11);
    EXPECT_EQ(lf.header(), "A: 1\n");
    none.write("\r\nonly body\r\n", 13);
    EXPECT_EQ(none.header(), "");
    EXPECT_EQ(body.text, "body\nonly body\r\n");
}

TEST(Pop3Buffers, FailureTextIsNeverCutInsideACharacter) {
    ASSERT_EQ(NMailPop3Connect("メール サーバー"), -1);  // a blank: not a host name
    char full[8192];
    int32_t size = sizeof full;
    const int32_t length = NMailGetMessage(0, full, &size);
    ASSERT_GT(length, 0);
    const std::string text(full, length);
    EXPECT_NE(text.find("メール サーバー"), std::string::npos) << text;
    for (int32_t room = 1; room <= length + 1; ++room) {
        std::string area(room + 8, '#');
        int32_t roomIn = room;
        const int32_t n = NMailGetMessage(0, area.data() + 4, &roomIn);
        ASSERT_GE(n, 0);
        ASSERT_LT(n, room);
        const std::string got(area.data() + 4, n);
        EXPECT_EQ(area[4 + n], '\0');
        EXPECT_EQ(area.substr(0, 4) + area.substr(4 + room), std::string(8, '#'));
        EXPECT_EQ(text.substr(0, n), got);
        EXPECT_EQ(QString::fromUtf8(got.data(), n).toUtf8().toStdString(), got) << "cut inside a character at " << room;
        EXPECT_GT(n + 3, room - 1) << "cut more than one character short";
    }
}
