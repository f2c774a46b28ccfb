#pragma once
// One IMAP connection for the mail check (RFC 3501 / RFC 9051, STARTTLS, SASL-IR): it logs in and
// reads how many messages of INBOX are unseen with STATUS, which selects nothing, so no flag changes
// on the server (no \Seen set, no \Recent used up) and no message is downloaded.
//
// Login: with the password allowed on the wire (always under TLS or after STARTTLS when the server
// offers it), AUTHENTICATE PLAIN (its initial response in the command where SASL-IR is offered), else
// LOGIN. When the password must stay here, SCRAM-SHA-256 where offered, else CRAM-MD5; with neither
// nothing is sent. A server that says LOGINDISABLED on a connection in clear never gets the password.
//
// Bounds: the time limits of every mail connection (platform/mail_connection.h), one reply timer
// for each command's whole answer; a line longer than kMaxLine, a literal longer than kMaxLiteral or
// an answer to one command longer than kMaxAnswer breaks the connection off; an unseen count above
// kMaxUnseen fails the login.
#include "platform/mail_connection.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::imap {

constexpr size_t kMaxLine = 64 * 1024;
constexpr uint64_t kMaxLiteral = 64 * 1024;
constexpr uint64_t kMaxAnswer = 4 << 20;
constexpr int64_t kMaxUnseen = 10'000'000;

class Session : public mailnet::Connection {
public:
    Session(pop3::ServerAddress address, mailnet::Limits limits, QList<QSslCertificate> extraTrusted);

    // TLS (from the start, or through STARTTLS when offered), the greeting, the login and STATUS.
    // Returns the number of unseen messages of INBOX, or -1.
    int32_t login(const std::string& user, const std::string& password, bool secretStaysHere) override;
    // LOGOUT, then the connection is closed without waiting for its answer.
    void quit() override;
    int loginDelaySeconds() const override;

protected:
    // TLS, the greeting and the login of login() above, without the STATUS: false (the failure set)
    // when they did not work.
    bool signIn(const std::string& user, const std::string& password, bool secretStaysHere);
    enum class Result { Ok, No, Bad, Broken };
    // Sends a tagged command; its continuation requests are answered by onContinue (nothing: the
    // exchange is cancelled). Reads every response up to the tagged one; untagged ones go to
    // onUntagged. The tagged response's line goes into `line`.
    Result command(const std::string& text, std::string& line,
                   const std::function<void(const std::string& response)>& onUntagged = {},
                   const std::function<std::optional<std::string>(const std::string& data)>& onContinue = {});
    // One whole response (literals included), within the command's timer and budget.
    bool readResponse(std::string& response, ReplyTimer& timer, uint64_t& budget);
    bool readLine(std::string& line, ReplyTimer& timer, uint64_t& budget);
    void takeCapabilities(const std::string& response);
    bool readCapabilities();
    int32_t refused(const std::string& line, bool credentials);
    std::string nextTag() { return "a" + std::to_string(++tagNumber_); }

    std::vector<std::string> capabilities_;
    int tagNumber_ = 0;
    bool greeted_ = false;
    bool loggedIn_ = false;
    std::string refusalCode_;
};

}  // namespace platform::imap
