#pragma once
// The parts of our POP3 client that need no network: the server text, the APOP digest, reading
// replies, undoing dot-stuffing, splitting a message into header and body, and cutting text to fit
// a caller's buffer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::pop3 {

struct ServerAddress {
    std::string host;  // a name or an address; IPv6 without its brackets
    uint16_t port = 110;
    bool implicitTls = false;  // TLS from the first byte instead of STLS (STARTTLS for IMAP)
    bool imap = false;         // the server speaks IMAP, not POP3
};

// Reads the server text: "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address, optionally
// after "pop3://" or "pop3s://". Port 995 or "pop3s://" means TLS from the start ("pop3s://" is how
// a server with TLS on another port, such as a test server, is reached); "pop3s://" alone defaults to
// port 995. IMAP: "imap://" (port 143 by default) or "imaps://" (993 by default, TLS from
// the start), and without a scheme port 993 (TLS from the start) or 143. Surrounding blanks are ignored. Nothing when the text names no usable host or port.
std::optional<ServerAddress> parseServerText(std::string_view text);
// "host:port" as the user would write it, for messages.
std::string displayName(const ServerAddress& address);

// RFC 1939 APOP: the MD5 of the greeting's timestamp followed by the secret, in lowercase hex.
std::string apopDigest(std::string_view timestamp, std::string_view secret);
// The "<...@...>" timestamp of a greeting, brackets included; nothing when the greeting has none.
std::optional<std::string> greetingTimestamp(std::string_view greeting);

bool isOk(std::string_view statusLine);
bool isErr(std::string_view statusLine);
// How a server's -ERR to a login is to be taken, by its response code (RFC 2449, RFC 3206).
enum class Refusal {
    None,       // no refusal: the login worked, or failed for another reason (network, TLS, our side)
    Password,   // [AUTH], or USER, PASS or APOP refused without a code: the account is wrong
    Temporary,  // [IN-USE], [LOGIN-DELAY], [SYS/TEMP]: the server asks to be tried again later
    Other,      // [SYS/PERM], a code we do not know, or STAT refused without a temporary code
};
// The response code of a -ERR line: what the brackets right after "-ERR " hold ("SYS/TEMP"), in
// upper case; empty when there are none.
std::string responseCode(std::string_view statusLine);
// What a -ERR line means: the answer to USER, PASS or APOP when credentials, else to the STAT after them.
Refusal refusalOf(std::string_view statusLine, bool credentials);
// Seconds to keep away after a temporary refusal (by its code) when the server announced no LOGIN-DELAY.
int retryAfterSeconds(std::string_view code);
// The seconds of a CAPA line "LOGIN-DELAY n" (perhaps followed by "USER"), at most kMaxLoginDelay;
// nothing for any other line or a delay of 0.
constexpr int kMaxLoginDelay = 3600;
std::optional<int> loginDelayOf(std::string_view capabilityLine);

// The two numbers after "+OK" in a STAT or LIST reply ("+OK 3 1200"). Signs are kept; values beyond
// ±10^15 are clamped there, which is far above anything we accept. Nothing when either is missing.
std::optional<std::pair<int64_t, int64_t>> okNumbers(std::string_view statusLine);

// A server's line made safe to show: control characters dropped, bytes that are not UTF-8 replaced,
// at most maxBytes long.
std::string printableServerText(std::string_view line, size_t maxBytes = 300);
// The longest prefix of utf8 within maxBytes that does not end inside a character.
std::string_view utf8Prefix(std::string_view utf8, size_t maxBytes);

// Copies text into a caller's buffer of capacity bytes, cut to capacity - 1 and NUL-terminated.
// A null buffer or a capacity below 1 is left alone. Returns the number of bytes copied.
size_t copyToBuffer(std::string_view text, char* buffer, int64_t capacity);

// Where unstuffed reply data goes.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(const char* data, size_t size) = 0;
};

// Undoes the dot-stuffing of a multi-line reply as it streams in, in chunks of any size, and finds
// its terminating "." line. Data is passed on in as few pieces as possible: only a chunk's end or
// a stuffed dot splits it.
class DotUnstuffer {
public:
    explicit DotUnstuffer(size_t maxLineLength) : maxLine_(maxLineLength) {}
    // Takes bytes from data until the terminating line has been read (finished()) or data runs out;
    // returns how many it took, so that what follows the terminator belongs to the next reply.
    // Stops taking at a line longer than the limit (lineTooLong()).
    size_t feed(const char* data, size_t size, Sink& out);
    bool finished() const { return state_ == State::Done; }
    bool lineTooLong() const { return tooLong_; }

private:
    enum class State { LineStart, InLine, AfterDot, AfterDotCr, Done };
    State state_ = State::LineStart;
    size_t maxLine_;
    size_t lineLength_ = 0;
    bool tooLong_ = false;
};

// Splits a message into its header block (kept, up to a cap) and its body (passed on to a sink,
// or dropped). The header ends at the first empty line; that line belongs to neither.
class HeaderSplitter : public Sink {
public:
    explicit HeaderSplitter(Sink* body = nullptr, size_t headerCap = 1 << 20)
        : body_(body), cap_(headerCap) {}
    void write(const char* data, size_t size) override;
    // The header block as received, every line with its line end.
    const std::string& header() const { return header_; }
    bool inBody() const { return inBody_; }

private:
    void keep(const char* data, size_t size);
    enum class State { LineStart, CrAtLineStart, InLine };
    Sink* body_;
    size_t cap_;
    std::string header_;
    size_t seen_ = 0;  // bytes of the header block received, kept or cut
    State state_ = State::LineStart;
    bool inBody_ = false;
};

// The value of a header field (the first with that name, any case), unfolded and without the blanks
// around it; empty when the field is missing. Encoded words are left as they are.
std::string headerField(std::string_view header, std::string_view name);

// Writes into a caller's buffer: at most capacity - 1 bytes of data, then a NUL at finish().
class BufferSink : public Sink {
public:
    BufferSink(char* buffer, int64_t capacity);
    void write(const char* data, size_t size) override;
    void finish();
    size_t written() const { return used_; }
    uint64_t total() const { return total_; }  // everything offered, kept or cut

private:
    char* buffer_;
    size_t room_;
    size_t used_ = 0;
    uint64_t total_ = 0;
};

}  // namespace platform::pop3
