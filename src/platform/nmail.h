#pragma once
// Our own mail library: the calls the program makes to set it up and release it, and the POP3 calls of
// the mail check. Each call returns when it is done, but its network waits hand control to the event
// loop, so windows and timers go on meanwhile (see net_wait.h). Every wait is bounded (pop3_session.h
// has the time limits), and a failure of any kind is a result, never a hang. A handler that runs
// during a wait may close connections (NMailPop3Close, NMailAbortAll, NMailEndWinSock); a new call on
// a connection whose call is waiting fails at once. Texts are UTF-8 bytes.
//
// Where things fail: NMailPop3Connect covers the server text, the name lookup and the TCP connection
// only. TLS (certificate checks included), the greeting and everything after it happen in
// NMailPop3Authenticate, so that each of those failures reaches the user through NMailGetMessage.
//
// The server text is "host", "host:port", "[v6]:port", optionally after "pop3://" or "pop3s://".
// Port 995 means TLS from the start, and so does "pop3s://" on any port (default 995); otherwise the
// port defaults to 110 and STLS is used whenever the server's CAPA offers it.
//
// IMAP too, through the same calls: "imap://host[:port]" (143 by default, STARTTLS whenever offered),
// "imaps://host[:port]" (993 by default, TLS from the start), and without a scheme port 993 (TLS) or
// 143. NMailPop3Authenticate then returns the number of unseen messages of INBOX, read without
// changing anything on the server (imap_session.h), and the message calls download nothing: they
// succeed at once with empty buffers and a size of 0. apop asks for a login that keeps the password
// here: SCRAM-SHA-256 or CRAM-MD5.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace imap {
class Push;
}

// What the status, size and fetch calls return, instead of -1, when the connection can no longer be
// used (it broke, timed out, or the server misbehaved past a bound): every later call on the handle
// fails at once too, so a caller walking the messages can stop there.
constexpr int32_t kNMailConnectionLost = -2;

// Makes the library ready; nothing to prepare for sockets on this system, so it always succeeds (0).
int32_t NMailInitializeWinSock();
// Option 1: the size in bytes of the text buffers the caller hands to the status and fetch calls.
// Returns the option's previous value, or -1 for an unknown option.
int32_t NMailSetOption(int32_t option, int32_t value);
// Closes every connection still open (QUIT, or cut off when a call on it is waiting).
int32_t NMailEndWinSock();
// Closes every connection at once without another word to its server: a call waiting on one returns
// a failure at once. For a program that is ending in the middle of a check.
int32_t NMailAbortAll();

// The buffer size set through option 1 (8192 until changed).
int32_t NMailBufferSize();
// Whether the library is between NMailInitializeWinSock and NMailEndWinSock.
bool NMailReady();

// Connects to the server: a handle (a small integer, 0 or more), or -1.
int32_t NMailPop3Connect(const std::string& server);
// Logs in (APOP when apop is not 0, else USER/PASS) and returns the message count from STAT, or -1.
int32_t NMailPop3Authenticate(int32_t handle, const std::string& user, const std::string& password, int32_t apop);
// After NMailPop3Authenticate on the handle, what a refusal of the login meant, by the server's response
// code (RFC 2449, RFC 3206), and in *waitSeconds (may be null) how long to keep away before the next
// login: the server's CAPA LOGIN-DELAY, else after a temporary refusal a wait of our own; 0 when
// neither. -1 for a handle that is not open.
constexpr int32_t kNMailRefusalNone = 0;       // the login worked, or failed otherwise (network, TLS, ...)
constexpr int32_t kNMailRefusalPassword = 1;   // [AUTH], or the account refused without a code
constexpr int32_t kNMailRefusalTemporary = 2;  // [IN-USE], [LOGIN-DELAY], [SYS/TEMP]: later, it may work
constexpr int32_t kNMailRefusalOther = 3;      // [SYS/PERM], an unknown code, STAT refused
int32_t NMailPop3LoginRefusal(int32_t handle, int32_t* waitSeconds);
// The four text buffers of the status and fetch calls, each NMailBufferSize() bytes, always
// NUL-terminated, longer data cut:
//   first  = the Subject field, second = the Date field, third = the From field (each unfolded, its
//            encoded words left as they are, empty when missing);
//   fourth = the whole header block as received, every line with its CR LF.
// Any buffer may be null. The flags are not used.
//
// Reads the header of message `number` from its RETR, whose body then waits for NMailPop3GetMail.
// Returns 0, or -1 (kNMailConnectionLost when the connection is gone).
int32_t NMailPop3GetMailStatus(int32_t handle, int32_t number, char* b1, char* b2, char* b3, char* b4, int32_t flag);
// The size in octets the server gives for the message (from the LIST read at login, else LIST n), a
// negative one as 0; -1 on failure (kNMailConnectionLost when the connection is gone), or when the
// size would not leave room for the NUL in a 32-bit buffer size.
int32_t NMailPop3GetMailSize(int32_t handle, int32_t number);
// Fetches the message (RETR n), dot-stuffing undone: its header into the four buffers as above, its
// body (what follows the empty line after the header) into `body` of bodySize bytes, cut to fit and
// NUL-terminated. Returns the number of body bytes written, or -1 (a message cut short by the server is
// a failure, whatever part of it was written; kNMailConnectionLost when the connection is gone).
int32_t NMailPop3GetMail(int32_t handle, int32_t number, char* b1, char* b2, char* b3, char* b4, char* body,
                         int32_t bodySize, int32_t flag1, int32_t flag2);
// Whether the handle is open on an IMAP server (whose count needs no message calls).
bool NMailIsImap(int32_t handle);
// A push connection (imap_push.h) to the server, not yet connected, with the time limits, trusted
// and pinned certificates the check's connections have; null when the server text names no IMAP
// server. It is the caller's alone: no call here touches it, nor does a failure on it change what
// NMailGetMessage or NMailLastCertificateProblem tell.
std::unique_ptr<imap::Push> NMailImapPush(const std::string& server);
// Copies the text of the last failure (Japanese, with the server's own words when it had some) into
// buffer: at most *size bytes including the NUL, never splitting a UTF-8 character. `code` is not
// used, nor is *size changed. Returns the number of bytes copied before the NUL, or -1 when there is
// no room at all. Before any failure the text is empty.
int32_t NMailGetMessage(int32_t code, char* buffer, int32_t* size);
// Sends QUIT and closes (cut off instead when a call on it is waiting); the handle is free
// afterwards. 0, or -1 for a handle that is not open.
int32_t NMailPop3Close(int32_t handle);

// Time limits of connections opened afterwards: connecting (10 s by default) and each reply (30 s).
void NMailSetTimeouts(int connectMs, int replyMs);
// Trusts the certificates of a PEM file as well as the system's ones (for TLS connections opened
// afterwards). An unreadable file adds nothing.
void NMailAddTrustedCertificates(const std::string& pemPath);
// Forgets the certificates added above.
void NMailClearTrustedCertificates();

// A server certificate that could not be verified, as the last NMailPop3Authenticate met it. Texts
// are for the user (Japanese where they are ours).
struct NMailCertificate {
    std::string server;      // NMailServerKey of the server it was served for
    std::string sha256;      // of the leaf certificate: upper-case hex pairs joined by colons
    std::string subject;     // "CN=..., O=..."
    std::string issuer;
    std::string validFrom;   // local time, "yyyy/MM/dd HH:mm"
    std::string validTo;
    std::vector<std::string> problems;  // what is wrong with it, one text each
    std::string pinned;      // the certificate trusted for this server instead (sha256 as above), or empty
};
// The certificate the last login failed on; nothing when it failed otherwise or succeeded.
std::optional<NMailCertificate> NMailLastCertificateProblem();
// Where a certificate is trusted: "host:port" of a server text, host in lower case (the brackets of
// an IPv6 address left off); empty when the text names no server.
std::string NMailServerKey(const std::string& server);
// Accepts exactly this certificate (its SHA-256, colons and letter case as they come) for the server
// key, whatever its verification errors, and for no other server; for connections opened afterwards.
// An empty or malformed fingerprint forgets the server's.
void NMailPinCertificate(const std::string& serverKey, const std::string& sha256);
void NMailClearPinnedCertificates();

// How many status, size and fetch calls the library has answered since it was loaded (diagnostics).
int64_t NMailPop3MessageCalls();

}  // namespace platform
