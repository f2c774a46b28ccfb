#pragma once
// One POP3 connection (RFC 1939, with CAPA and PIPELINING from RFC 2449 and STLS from RFC 2595),
// driven by calls that return only when they are done. Every wait hands control to the event loop
// (platform/net_wait.h), so the program's windows and timers go on while a server is slow, and every
// wait is bounded, so nothing hangs.
//
// Time limits: those of every mail connection (platform/mail_connection.h).
//
// Round trips: the sizes of all messages come from one LIST after login. Nothing that needs the
// logged-in state goes out before the login has been answered: servers such as Courier and perdition
// hand the connection to another process at PASS and lose whatever came with it. When the server
// offers PIPELINING, USER and PASS go out together, then STAT and LIST together. A message's header
// always comes from its RETR (read up to the end of the header; the body follows in fetch), so a
// message costs one command on every server. With PIPELINING the RETRs of the next messages are sent
// ahead within a window (kMaxAhead commands, kMaxOctetsAhead octets by the sizes LIST gave), so that a
// mailbox costs a few round trips whatever its count. Without PIPELINING one command goes at a time.
// Every reply is acknowledged at once, so a server that writes a reply in pieces is not held up by a
// delayed ACK.
//
// Bounds, whatever the server claims: a count above kMaxMessages fails the login; sizes are kept for
// at most kMaxKeptSizes messages (a later one's size is asked for with LIST n just ahead of its
// RETR); a message's reply may be at most twice its LIST size plus kReplySlack, LIST's 64 octets a
// message, CAPA kMaxCapabilities, and any other reply kMaxReply. A reply past its bound breaks the connection off, as
// does a broken connection, and every call after that fails at once without touching the network.
#include "platform/mail_connection.h"
#include "platform/pop3_text.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSslSocket;

namespace platform::pop3 {

using Limits = mailnet::Limits;

// What the header of a message says (the header part of RETR n).
struct HeaderInfo {
    std::string subject, date, from, block;
};

// Commands in flight at most (the one being read included), and octets of replies requested ahead
// of the one being read, by the sizes LIST gave. Enough to keep a line with a round trip of tens of
// milliseconds busy with small messages; the memory it can cost is bounded by the octets.
constexpr size_t kMaxAhead = 256;
constexpr int64_t kMaxOctetsAhead = 4 << 20;
// No mailbox a desk clock checks holds more messages than this (a check downloads every one of them).
constexpr int64_t kMaxMessages = 10'000'000;
// Sizes from LIST kept at most: 1 MB, whatever the count.
constexpr size_t kMaxKeptSizes = size_t{1} << 17;
// What a message's reply may exceed its LIST size by (servers rewrite headers, count line ends
// differently), over twice the size; and the bound on any reply, sized or not.
constexpr uint64_t kReplySlack = 64 * 1024;
constexpr uint64_t kMaxReply = uint64_t{512} << 20;
constexpr uint64_t kMaxCapabilities = 64 * 1024;

class Session : public mailnet::Connection {
public:
    Session(ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted);

    // TLS (from the start, or through STLS when CAPA offers it), the greeting, USER/PASS or APOP, STAT,
    // and LIST for the sizes. Returns the message count, or -1.
    int32_t login(const std::string& user, const std::string& password, bool apop) override;
    // The header, from RETR n (its body is kept in the stream for fetch).
    bool header(int32_t number, HeaderInfo& out);
    // The size LIST gave (a negative one as 0), or -1.
    int64_t size(int32_t number);
    // RETR n with dot-stuffing undone: the header into out, the body into body (which may cut it).
    bool fetch(int32_t number, HeaderInfo& out, Sink& body);
    // QUIT, then the connection is closed (its answer is not waited for: nothing hangs on it, since
    // nothing is ever deleted).
    void quit() override;

    // Seconds the server wants between logins: its CAPA LOGIN-DELAY, or after a temporary refusal
    // without one, the code's own wait (retryAfterSeconds); 0 when neither.
    int loginDelaySeconds() const override;

private:
    enum class Status { Ok, Err, Broken };
    // A command sent whose reply has not been read in full.
    struct Sent {
        std::string command;
        bool multiLine = false;  // after +OK, lines up to "."
        int32_t retr = 0;        // the message of a RETR
        int32_t list = 0;        // the message of a LIST n sent just ahead of its RETR
    };
    // Where the body of a message whose header was read goes when it is fetched.
    struct Relay : Sink {
        Sink* to = nullptr;
        void write(const char* data, size_t size) override {
            if (to) to->write(data, size);
        }
    };
    // The RETR whose reply was read up to the end of its header, or that failed, for fetch().
    struct Held {
        int32_t number = 0;
        bool ok = false;
        bool bodyPending = false;  // the rest of the reply is still in the stream
        std::string statusLine;
        uint64_t left = 0;  // octets the rest of the reply may still take
        // The answer to LIST n, for a message whose size the first LIST did not keep.
        bool listed = false;
        Status listStatus = Status::Err;
        std::string listLine;
        HeaderInfo header;
        std::unique_ptr<DotUnstuffer> unstuffer;
        std::unique_ptr<Relay> relay;
        std::unique_ptr<HeaderSplitter> splitter;
    };

    bool inTransaction(int32_t number);
    bool sendCommands(std::vector<Sent> commands);
    Status readStatus(std::string& line);
    Status replyStatus(std::string& line);
    bool readBody(Sink& out, DotUnstuffer& unstuffer, uint64_t& left);
    bool readBody(Sink& out, uint64_t bound);
    bool readHeaderPart(Held& held);
    bool skipReply();
    bool dropHeld();
    bool settle();
    bool nextIs(int32_t retr);
    bool topUp(int32_t number);
    bool begin(int32_t number);
    void addMessage(int32_t number, std::vector<Sent>& to) const;
    bool sized(int64_t number) const { return number <= static_cast<int64_t>(sizes_.size()); }
    int64_t sizeHint(int64_t number) const;
    int64_t sizeFrom(Status status, const std::string& line, int32_t number);
    bool readCapabilities(bool sent = false);  // sent: CAPA already went out
    bool readSizes(int32_t count);
    void setHeader(HeaderInfo& out, const std::string& block) const;

    bool loggedIn_ = false;
    bool greeted_ = false;  // the greeting has been read
    bool offersStls_ = false;
    bool offersPipelining_ = false;
    int announcedDelay_ = 0;  // CAPA LOGIN-DELAY, seconds
    std::string refusalCode_;

    int32_t count_ = 0;
    // Sizes from LIST, for messages 1, 2, … as far as its lines came in order and made sense, and no
    // further than kMaxKeptSizes.
    std::vector<int64_t> sizes_;
    std::deque<Sent> pending_;
    Held held_;
};

}  // namespace platform::pop3
