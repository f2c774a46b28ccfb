#pragma once
// One POP3 connection (RFC 1939, with CAPA from RFC 2449 and STLS from RFC 2595), driven by blocking
// calls on the caller's thread: every wait is bounded, so no event loop is needed and nothing hangs.
//
// Time limits: connecting (name lookup included) is bounded by connectMs. Every reply is bounded by
// replyMs twice over: no single wait for data may exceed it, and the whole reply must have arrived
// within replyMs plus 1 ms per octet received so far (an average of at least ~1 KB/s), so a server
// that trickles a byte now and then still fails after about replyMs, while a large message on a slow
// line keeps going.
#include "platform/pop3_text.h"

#include <QList>
#include <QSslCertificate>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QSslSocket;

namespace platform::pop3 {

struct Limits {
    int connectMs = 10'000;
    int replyMs = 30'000;
};

// What the header of a message says (TOP n 0 or the header part of RETR n).
struct HeaderInfo {
    std::string subject, date, from, block;
};

class Session {
public:
    Session(ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The TCP connection only. TLS, the greeting and everything the server says come with login(), so
    // that each of their failures reaches the user with its reason.
    bool connect();
    // TLS (from the start, or through STLS when CAPA offers it), the greeting, USER/PASS or APOP, then
    // STAT. Returns the message count, or -1.
    int32_t login(const std::string& user, const std::string& password, bool apop);
    // TOP n 0 (and LIST n along with it when the server offers PIPELINING).
    bool header(int32_t number, HeaderInfo& out);
    // LIST n: the size the server gives (a negative one as 0), or -1.
    int64_t size(int32_t number);
    // RETR n with dot-stuffing undone: the header into out, the body into body (which may cut it).
    bool fetch(int32_t number, HeaderInfo& out, Sink& body);
    // QUIT, then the connection is closed.
    void quit();

    // Why the last call failed, in Japanese, for the user.
    const std::string& error() const { return error_; }

private:
    enum class Status { Ok, Err, Broken };
    using Clock = std::chrono::steady_clock;

    // The two limits on one reply, as described at the top.
    class ReplyTimer {
    public:
        explicit ReplyTimer(int replyMs) : start_(Clock::now()), replyMs_(replyMs) {}
        void received(size_t n) { octets_ += n; }
        int waitMs() const;

    private:
        Clock::time_point start_;
        int replyMs_;
        uint64_t octets_ = 0;
    };

    bool usable();
    bool inTransaction(int32_t number);
    bool fail(std::string message);
    bool breakOff(std::string message);  // the connection cannot be trusted any more
    bool send(const std::string& commands);
    bool fill(ReplyTimer& timer);
    Status readStatus(std::string& line);
    bool readBody(Sink& out);
    bool startTls();
    bool readCapabilities();
    bool readMessage(HeaderInfo& out, Sink* body);
    std::string serverSays(const std::string& line) const;

    ServerAddress address_;
    Limits limits_;
    QList<QSslCertificate> extraTrusted_;
    std::unique_ptr<QSslSocket> socket_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    std::string error_;
    std::string brokenReason_;
    bool broken_ = false;
    bool loggedIn_ = false;
    bool tls_ = false;
    bool greeted_ = false;  // the greeting has been read
    bool offersStls_ = false;
    bool offersPipelining_ = false;

    // With PIPELINING, header(n) sends LIST n along with TOP n 0 and keeps its answer here for
    // size(n): two round trips per message instead of three. RETR is not sent ahead: its answer would
    // sit in the socket between calls, where Qt reads it into memory whenever the GUI's event loop runs.
    int32_t cachedSizeFor_ = 0;
    std::string cachedSizeLine_;
};

}  // namespace platform::pop3
