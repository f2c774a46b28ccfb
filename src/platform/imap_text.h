#pragma once
// The parts of our IMAP client (RFC 3501 / RFC 9051) that need no network: the commands' strings,
// reading the server's responses (capabilities, the STATUS count, tagged results), and the SASL
// answers of PLAIN, CRAM-MD5 and SCRAM-SHA-256. A response here is what the server sent of it, its
// literals ("{n}" CR LF, then n octets) included as they came, without the CR LF that ends it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::imap {

// The size announced by the "{n}" or "{n+}" that ends a response line (CR LF removed), if any.
// Nothing for a malformed or absurd marker (over 2^40).
std::optional<uint64_t> literalAtEnd(std::string_view line);

enum class Kind { Untagged, Continuation, Tagged, Malformed };
struct Response {
    Kind kind = Kind::Malformed;
    std::string tag;     // of a tagged response
    std::string status;  // OK, NO, BAD, BYE, PREAUTH (upper case), or the untagged response's first word
    std::string code;    // the response code's words ("AUTHENTICATIONFAILED", "CAPABILITY IMAP4rev1 ..."), if any
    std::string text;    // what follows the status (and the code), or a continuation's data
};
Response parseResponse(std::string_view response);

// The capabilities (upper case) of an untagged CAPABILITY response or of a CAPABILITY response
// code's words; nothing when it is neither.
std::optional<std::vector<std::string>> capabilitiesOf(const Response& response);
bool offers(const std::vector<std::string>& capabilities, std::string_view name);

// The UNSEEN count of an untagged STATUS response about INBOX (any letter case): nothing for any
// other response, another mailbox, or a count that is missing or not a number. Counts beyond 2^53
// come back as that.
std::optional<int64_t> unseenOfInbox(std::string_view response);

// A string as an IMAP quoted string; nothing when it holds CR, LF or NUL, which no quoted string
// can carry.
std::optional<std::string> quoted(std::string_view s);

std::string base64(std::string_view bytes);
// Nothing when the text is not clean base64.
std::optional<std::string> fromBase64(std::string_view text);

// SASLprep (RFC 4013) of a user name or password, "query" semantics (unassigned code points pass),
// or with `stored` those of stored strings (they are refused); nothing when the text is refused
// (prohibited characters, bidirectional rules, not UTF-8).
std::optional<std::string> saslPrep(std::string_view text, bool stored = false);

// SASL PLAIN's message: no authorization identity, the user, the password, each SASLprep'ed (RFC 4616
// asks it) when `prepare`, or as it is where SASLprep refuses it (a server that does not prepare it
// may still know it).
std::string plainMessage(std::string_view user, std::string_view password, bool prepare = true);
// CRAM-MD5's answer to the (decoded) challenge: "user hexdigest".
std::string cramMd5Answer(std::string_view user, std::string_view password, std::string_view challenge);

// A SCRAM-SHA-256 (RFC 5802, RFC 7677) client without channel binding. The user name and password
// are SASLprep'ed as the RFCs require (the password as a stored string); without `prepare` they are
// used as they are, for servers that keep them so.
class Scram {
public:
    Scram(std::string user, std::string password, std::string nonce, bool prepare = true);
    // Whether SASLprep took both: otherwise there is no exchange to make, and final() gives nothing.
    bool prepared() const { return prepared_; }
    // The client-first message.
    std::string first() const;
    // The client-final message for the server-first one; nothing when it is malformed, its nonce
    // does not extend ours, or its iteration count is absurd.
    std::optional<std::string> final(std::string_view serverFirst);
    // Whether the server-final message proves the server knew the password.
    bool verify(std::string_view serverFinal) const;

private:
    std::string user_, password_, nonce_;
    std::string authMessage_, serverKey_;
    bool prepared_ = false;
};

}  // namespace platform::imap
