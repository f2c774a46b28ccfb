#pragma once
// The push connection (IMAP IDLE, RFC 2177): logged in as the check logs in (the same TLS, certificate
// checks, pinned certificate and time limits), it looks at INBOX read-only with EXAMINE, so that
// nothing on the server changes, and idles there. A new message shows as an untagged EXISTS whose
// count has grown past what the connection knew (EXPUNGE lowers it). RECENT is not used: under
// EXAMINE another client may take the \Recent flag first, and IMAP4rev2 no longer sends RECENT at all.
//
// Waiting for news is quiet (no answer is due); every exchange within a command (the login, EXAMINE,
// DONE and IDLE again) has the usual reply limit. The owner renews IDLE (renew) well within the 30
// minutes after which a server may drop an idle client, which also proves the server still answers.
#include "platform/imap_session.h"

namespace platform::imap {

class Push : public Session {
public:
    using Session::Session;

    enum class Opened { Idling, NoIdle, Failed };
    // Connects, logs in, EXAMINEs INBOX and starts IDLE. NoIdle: the server does not offer IDLE (the
    // caller says goodbye with quit()).
    Opened open(const std::string& user, const std::string& password, bool secretStaysHere);

    enum class Heard { News, Nothing, Lost };
    // While idling: waits up to limitMs for the server to say something, and reads what it said.
    Heard listen(uint32_t limitMs);
    // DONE, the IDLE command's end, and IDLE again. Nothing or News (what came meanwhile), or Lost.
    Heard renew();
    // The number of messages INBOX holds as the server last said (-1 before EXAMINE).
    int64_t exists() const { return exists_; }

private:
    bool startIdle(bool& news, uint64_t& budget);
    // Takes an untagged response; false for BYE (the connection is broken off).
    bool heard(const std::string& response, bool& news);

    std::string idleTag_;
    int64_t exists_ = -1;
    bool pending_ = false;  // news heard while open() started IDLE, not yet given by listen()
};

}  // namespace platform::imap
