// The parts of the IMAP client that need no network: the SASL answers against the RFCs' own
// examples, and the reading of the server's responses.
#include <gtest/gtest.h>

#include "platform/imap_text.h"

using namespace platform::imap;

namespace {

TEST(ImapSasl, AnswersOfTheRfcExamples) {
    // RFC 2195's example exchange.
    EXPECT_EQ(cramMd5Answer("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
              "tim b913a602c7eda7a495b4e6e7334d3890");
    EXPECT_EQ(plainMessage("alice", "pw"), std::string("\0alice\0pw", 9));
    // RFC 7677's example exchange.
    Scram scram("user", "pencil", "rOprNGfwEbeRWgbNEkqO");
    EXPECT_EQ(scram.first(), "n,,n=user,r=rOprNGfwEbeRWgbNEkqO");
    const std::string serverFirst = "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096";
    EXPECT_FALSE(scram.verify("v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="));  // nothing to prove yet
    EXPECT_EQ(scram.final(serverFirst),
              "c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=");
    EXPECT_TRUE(scram.verify("v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="));
    EXPECT_FALSE(scram.verify("v=7rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="));
    EXPECT_FALSE(scram.verify("e=other-error"));
    EXPECT_EQ(Scram("a=b,c", "p", "n").first(), "n,,n=a=3Db=2Cc,r=n");
    // SASLprep (RFC 4013's examples, section 3) of the password and user name of SCRAM and PLAIN:
    // what goes out is that of the prepared text; a text it refuses ends SCRAM before anything is
    // sent, while PLAIN sends it as it is.
    struct Prep { const char* in; std::optional<std::string> out; };
    for (const Prep& p : std::initializer_list<Prep>{
             {"I\u00ADX", "IX"},          // SOFT HYPHEN mapped to nothing
             {"user", "user"},            // no transformation
             {"USER", "USER"},            // case preserved
             {"\u00AA", "a"},             // NFKC
             {"\u2168", "IX"},            // NFKC, the same as the first
             {"a\u2003b", "a b"},         // a non-ASCII space is a space
             {"\u0007", std::nullopt},    // a prohibited character
             {"\u0627\u0031", std::nullopt}}) {  // the bidirectional check
        SCOPED_TRACE(p.in);
        EXPECT_EQ(saslPrep(p.in), p.out);
        Scram byPassword("user", p.in, "rOprNGfwEbeRWgbNEkqO"), byUser(p.in, "pencil", "rOprNGfwEbeRWgbNEkqO");
        EXPECT_EQ(byPassword.prepared(), p.out.has_value());
        EXPECT_EQ(byUser.prepared(), p.out.has_value());
        if (p.out) {
            Scram same("user", *p.out, "rOprNGfwEbeRWgbNEkqO");
            EXPECT_EQ(byPassword.final(serverFirst), same.final(serverFirst));
            EXPECT_EQ(byUser.first(), "n,,n=" + *p.out + ",r=rOprNGfwEbeRWgbNEkqO");
            EXPECT_EQ(plainMessage(p.in, p.in), plainMessage(*p.out, *p.out));
        } else {
            EXPECT_FALSE(byPassword.final(serverFirst));
            EXPECT_EQ(plainMessage("u", p.in), std::string("\0u\0", 3) + p.in);
        }
    }
    // A user name SASLprep empties ends the exchange too (RFC 5802); an empty password does not.
    EXPECT_FALSE(Scram("\u00AD", "pencil", "n").prepared());
    EXPECT_TRUE(Scram("user", "", "n").prepared());
    // Server-first messages that must end the exchange: a nonce not ours or not extended, a
    // mandatory extension, an iteration count of none or of minutes of CPU, no salt.
    for (const char* bad : {"r=other,s=c2FsdA==,i=4096", "r=nonce,s=c2FsdA==,i=4096", "m=x,r=nonceX,s=c2FsdA==,i=4096",
                            "r=nonceX,s=c2FsdA==,i=0", "r=nonceX,s=c2FsdA==,i=100000000", "r=nonceX,i=4096",
                            "r=nonceX,s=!!,i=4096", "r=nonceX,s=c2FsdA==,i=12x", ""}) {
        Scram s("user", "pw", "nonce");
        EXPECT_FALSE(s.final(bad)) << bad;
    }
}

TEST(ImapResponses, TheUnseenCountOfInboxOnly) {
    struct Case { std::string response; std::optional<int64_t> unseen; };
    for (const Case& c : std::initializer_list<Case>{
             {"* STATUS INBOX (UNSEEN 3)", 3},
             {"* status inbox (MESSAGES 9 UNSEEN 0 RECENT 1)", 0},
             {"* STATUS \"INBOX\" (UNSEEN 12)", 12},
             {"* STATUS {5}\r\nInBox (UNSEEN 7)", 7},
             {"* STATUS INBOX (UNSEEN 99999999999999999999999)", int64_t{1} << 53},
             {"* STATUS Other (UNSEEN 3)", std::nullopt},
             {"* STATUS \"INBOX.old\" (UNSEEN 3)", std::nullopt},
             {"* STATUS {6}\r\nINBOX (UNSEEN 7)", std::nullopt},
             {"* STATUS {99}\r\nINBOX (UNSEEN 7)", std::nullopt},
             {"* STATUS INBOX (MESSAGES 3)", std::nullopt},
             {"* STATUS INBOX (UNSEEN -3)", std::nullopt},
             {"* STATUS INBOX (UNSEEN 3x)", std::nullopt},
             {"* STATUS INBOX (UNSEEN)", std::nullopt},
             {"* STATUS INBOX UNSEEN 3", std::nullopt},
             {"* STATUS \"INBOX", std::nullopt},
             {"* OK [UNSEEN 3] INBOX", std::nullopt}}) {
        EXPECT_EQ(unseenOfInbox(c.response), c.unseen) << c.response;
    }
}

TEST(ImapResponses, StatusCodesCapabilitiesAndLiterals) {
    const Response tagged = parseResponse("a3 no [AUTHENTICATIONFAILED] Authentication failed.");
    EXPECT_EQ(tagged.kind, Kind::Tagged);
    EXPECT_EQ(tagged.tag, "a3");
    EXPECT_EQ(tagged.status, "NO");
    EXPECT_EQ(tagged.code, "AUTHENTICATIONFAILED");
    EXPECT_EQ(tagged.text, "Authentication failed.");
    EXPECT_EQ(parseResponse("+ PDE4OTY+").kind, Kind::Continuation);
    EXPECT_EQ(parseResponse("+ PDE4OTY+").text, "PDE4OTY+");
    EXPECT_EQ(parseResponse("a1 FETCH 1").kind, Kind::Malformed);  // a tagged answer is a status
    EXPECT_EQ(parseResponse("garbage").kind, Kind::Malformed);
    const auto greeting = capabilitiesOf(parseResponse("* OK [CAPABILITY IMAP4rev1 sasl-ir AUTH=PLAIN] ready"));
    ASSERT_TRUE(greeting);
    EXPECT_EQ(*greeting, (std::vector<std::string>{"IMAP4REV1", "SASL-IR", "AUTH=PLAIN"}));
    const auto listed = capabilitiesOf(parseResponse("* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED"));
    ASSERT_TRUE(listed);
    EXPECT_TRUE(offers(*listed, "LOGINDISABLED"));
    EXPECT_FALSE(capabilitiesOf(parseResponse("* OK [UNSEEN 3] CAPABILITY IMAP4rev1")));
    EXPECT_EQ(literalAtEnd("* STATUS {5}"), 5u);
    EXPECT_EQ(literalAtEnd("* STATUS {5+}"), 5u);
    for (const char* none : {"* OK {}", "* OK {x}", "* OK {5", "* OK 5}", "* OK {99999999999999}", "* OK"}) {
        EXPECT_FALSE(literalAtEnd(none)) << none;
    }
}

}  // namespace
