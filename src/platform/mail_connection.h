#pragma once
// The part of a mail client's connection that does not depend on the protocol: the TCP connection
// (name lookup included), TLS with the certificate checks and the pinned certificate, reading with
// the time limits, and sending. POP3 and IMAP sessions are built on it. Every wait hands control to
// the event loop (platform/net_wait.h) and is bounded.
//
// Time limits, measured on the event loop's clock: connecting is bounded by connectMs. Every reply
// is bounded by replyMs twice over: no single wait for data may exceed it, and the whole reply must
// have arrived within replyMs plus 1 ms per octet received so far (an average of at least ~1 KB/s),
// so a server that trickles a byte now and then still fails after about replyMs, while a large
// message on a slow line keeps going.
#include "platform/pop3_text.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSslSocket;

namespace platform::mailnet {

struct Limits {
    int connectMs = 10'000;
    int replyMs = 30'000;
};

class Connection {
public:
    Connection(pop3::ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted);
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The TCP connection only. TLS, the greeting and everything the server says come with login(), so
    // that each of their failures reaches the user with its reason.
    bool connect();
    // Logs in and returns the count the protocol's check reads, or -1.
    virtual int32_t login(const std::string& user, const std::string& password, bool secretStaysHere) = 0;
    // Says goodbye if the conversation allows it, then closes the connection.
    virtual void quit() = 0;
    // Closes the connection at once, sending nothing more; a call waiting on it returns a failure.
    void abort();

    // Whether a call of this connection is under way (a handler run by its waits may try another).
    bool busy() const { return busy_ > 0; }
    // Whether the connection can no longer be used: every call from now on fails at once.
    bool broken() const { return broken_ || !socket_; }
    // Why the last call failed, in Japanese, for the user.
    const std::string& error() const { return error_; }
    const pop3::ServerAddress& address() const { return address_; }

    // The one certificate (SHA-256 of the leaf, raw bytes) accepted for this server whatever its
    // verification errors; before login.
    void pinCertificate(QByteArray sha256) { pinned_ = std::move(sha256); }
    // The server's certificate when TLS failed because it could not be verified (null otherwise), and
    // what was wrong with it.
    const QSslCertificate& unverifiedCertificate() const { return unverified_; }
    const QList<QSslError>& unverifiedErrors() const { return unverifiedErrors_; }

    // What the server's refusal of the login meant (none when it worked or failed otherwise).
    pop3::Refusal refusal() const { return refusal_; }
    // Seconds the server wants between logins; 0 when it did not say.
    virtual int loginDelaySeconds() const { return 0; }

protected:
    // The two limits on one reply, as described above.
    class ReplyTimer {
    public:
        explicit ReplyTimer(int replyMs);
        void received(size_t n) { octets_ += n; }
        int waitMs() const;

    private:
        uint32_t start_;
        int replyMs_;
        uint64_t octets_ = 0;
    };
    // Marks a call under way for its whole length.
    class Busy {
    public:
        explicit Busy(Connection& c) : c_(c) { ++c_.busy_; }
        ~Busy() { --c_.busy_; }

    private:
        Connection& c_;
    };

    bool usable();
    bool fail(std::string message);
    bool breakOff(std::string message);  // the connection cannot be trusted any more
    bool send(const std::string& bytes);
    bool await(const std::function<bool()>& ready, int limitMs);
    // Reads what has come into buffer_[end_...], waiting for it within the timer's limits.
    bool fill(ReplyTimer& timer);
    void ackAtOnce();
    bool startTls();
    // Says goodbye when the conversation allows it (inStep: what was said before is read) and closes
    // the connection, waiting a little for the server to close its side, never for its answer.
    void close(const std::function<bool()>& inStep, const std::string& goodbye);
    std::string serverSays(const std::string& line) const;

    pop3::ServerAddress address_;
    Limits limits_;
    QList<QSslCertificate> extraTrusted_;
    QByteArray pinned_;
    QSslCertificate unverified_;
    QList<QSslError> unverifiedErrors_;
    std::unique_ptr<QSslSocket> socket_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    std::string error_;
    std::string brokenReason_;
    bool broken_ = false;
    bool aborted_ = false;
    bool tls_ = false;
    pop3::Refusal refusal_ = pop3::Refusal::None;
    int busy_ = 0;
};

}  // namespace platform::mailnet
