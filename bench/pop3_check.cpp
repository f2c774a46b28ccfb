// Our mail check against any POP3 server, for the interoperability matrix (bench/interop.sh).
//
//   pop3_check make-box DIR
//       Writes the test mailbox: 50 messages DIR/01.eml … DIR/50.eml with CR LF line ends, always
//       the same bytes (461 octets to 2.1 MB; lines that need dot-stuffing, ISO-2022-JP and UTF-8
//       subjects, encoded and raw, a long header and an empty body).
//   pop3_check capa HOST PORT
//       The server's CAPA, the names that bear on a check on one line ("-" when it answers -ERR).
//   pop3_check check SERVER USER PASSWORD [options]
//       The library's calls in the program's order (connect, authenticate, then status, size and
//       fetch for each message, close), timed from connect to close. Prints "count=… seconds=…".
//       --box DIR       compares what the calls returned with the messages as delivered, by the
//                       library's rule (header block cut to the 8 KB buffer; the body cut to the size
//                       LIST gave, the program's buffer being that size + 1), and prints a line for
//                       each message: its size, and digests of the header and body returned.
//       --reference     (plain servers) also fetches every message one command at a time with a
//                       plain client of its own, so that a message the server rewrites is told from
//                       one our calls got wrong.
//       --observe       (plain servers) runs the check through a relay that watches what the client
//                       writes: whether commands went out together, and which (TOP, RETR).
//       --ca PEM        a certificate to trust (TLS); --reply-ms MS the reply time limit.
//       --apop          the login with "APOP を使用する" ticked (on IMAP: SCRAM-SHA-256 or CRAM-MD5).
//       An imap:// or imaps:// server gives INBOX's unseen count, and the message calls bring nothing.
//       After a login, also "refusal=none|password|temporary|other wait=S box=yes|no": how the
//       library took the server's answer, the seconds it asks between logins, and whether the
//       program's check would show its "エラー" box.
// Judges nothing on its own: interop.sh puts the figures side by side.
#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSslSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_net.h"
#include "platform/nmail.h"

namespace {

constexpr int kMessages = 50;
constexpr int32_t kTextBuffer = 8192;  // the program's four text buffers

// ---------------------------------------------------------------------------------------------
// The test mailbox

// A small deterministic generator, so that every run and every server sees the same bytes.
struct Random {
    uint64_t s;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

const QByteArray kJisSubject("\x1b$B?7Ce%a!<%k$N$*CN$i$;\x1b(B");  // 新着メールのお知らせ
const QByteArray kJisLine("\x1b$B%F%9%HK\\J8$G$9!#\x1b(B");        // テスト本文です。
const QByteArray kUtf8Subject("新着メールのお知らせ ✉ テスト");
const QByteArray kUtf8Line("テスト本文です。Grüße, naïve café ✓");

QByteArray message(int n) {
    const int i = n - 1;
    // Sizes on a geometric scale from 461 octets to 2.1 MB.
    const int64_t target = static_cast<int64_t>(461.0 * std::pow(2'100'000.0 / 461.0, i / double(kMessages - 1)) + 0.5);
    Random r{0x9e3779b97f4a7c15ULL + static_cast<uint64_t>(n) * 7919};
    const QByteArray number = QByteArray::number(n).rightJustified(2, '0');
    QByteArray subject, charset = "us-ascii", from = "Bench Sender <bench@example.org>";
    switch (i % 5) {
    case 0: subject = "Report " + number; break;
    case 1: subject = "=?ISO-2022-JP?B?" + kJisSubject.toBase64() + "?= " + number; charset = "ISO-2022-JP"; break;
    case 2: subject = kJisSubject + " " + number; charset = "ISO-2022-JP"; break;  // raw, 7-bit escapes
    case 3: subject = "=?UTF-8?B?" + kUtf8Subject.toBase64() + "?= " + number; charset = "UTF-8"; break;
    case 4:  // raw 8-bit UTF-8 in the header, as some mailers send it
        subject = kUtf8Subject + " " + number;
        from = "送信者 <bench@example.org>";
        charset = "UTF-8";
        break;
    }
    QByteArray m;
    if (n == 21) {  // a message that went through many hops: a header of several KB
        for (int h = 0; h < 40; ++h) {
            m += "Received: from relay" + QByteArray::number(h) + ".example.org (relay" + QByteArray::number(h) +
                 ".example.org [192.0.2." + QByteArray::number(h + 1) + "])\r\n\tby mx.example.net with ESMTPS id " +
                 QByteArray::number(r.next() % 100000000, 16) + "; Tue, 8 Dec 2026 09:30:00 +0900\r\n";
        }
    }
    m += "From: " + from + "\r\nTo: box@example.org\r\nSubject: " + subject +
         "\r\nDate: Tue, 8 Dec 2026 09:" + number + ":00 +0900\r\nMessage-ID: <" + number +
         ".interop@vellumine.invalid>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=" + charset + "\r\n";
    if (charset == "UTF-8") m += "Content-Transfer-Encoding: 8bit\r\n";
    m += "\r\n";
    if (n == 2) return m;  // the empty body
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEGHIJKLMNOPQRSTUVWXYZ0123456789 +/=,-";
    int64_t remaining = std::max<int64_t>(target - m.size(), 2);
    for (int line = 0; remaining > 82; ++line) {
        QByteArray text;
        switch (line % 9) {
        case 3: text = "."; break;  // a line of a dot alone, stuffed on the wire
        case 5: text = ".."; break;
        case 7: text = ".hidden line " + QByteArray::number(line); break;
        case 8:
            text = charset == "ISO-2022-JP" ? kJisLine : charset == "UTF-8" ? kUtf8Line : QByteArray("plain text");
            break;
        default:
            for (int k = 20 + r.below(57); k > 0; --k) text += kChars[r.below(sizeof kChars - 1)];
            if (text.startsWith(' ')) text[0] = 'x';
        }
        m += text + "\r\n";
        remaining -= text.size() + 2;
    }
    QByteArray last;
    for (int64_t k = remaining - 2; k > 0; --k) last += kChars[r.below(26)];
    return m + last + "\r\n";
}

int makeBox(const QString& dir) {
    QDir().mkpath(dir);
    for (int n = 1; n <= kMessages; ++n) {
        QFile f(QString("%1/%2.eml").arg(dir).arg(n, 2, 10, QChar('0')));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(message(n)) < 0) return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Plain sockets: the CAPA probe, the reference client and the relay

int connectTo(const std::string& host, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    timeval limit{15, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One command at a time, the slow and simple way: a reply is read whole before the next goes out.
class PlainClient {
public:
    PlainClient(const std::string& host, int port) : fd_(connectTo(host, port)) {}
    ~PlainClient() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool line(std::string& out) {
        for (;;) {
            const size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                out = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return true;
            }
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    bool command(const std::string& text, std::string& status) {
        const std::string wire = text + "\r\n";
        return send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL) == ssize_t(wire.size()) && line(status);
    }
    // The lines of a multi-line reply up to ".", dot-stuffing undone, each with CR LF.
    bool multiLine(std::string& out) {
        out.clear();
        for (std::string l;;) {
            if (!line(l)) return false;
            if (l == ".") return true;
            out += (l.rfind('.', 0) == 0 ? l.substr(1) : l) + "\r\n";
        }
    }

private:
    int fd_;
    std::string buffer_;
};

int capa(const std::string& host, int port) {
    PlainClient c(host, port);
    std::string status, lines;
    if (!c.ok() || !c.line(status)) {
        std::printf("(no connection)\n");
        return 1;
    }
    if (!c.command("CAPA", status) || status.rfind("+OK", 0) != 0) {
        std::printf("-\n");
        return 0;
    }
    c.multiLine(lines);
    std::string names;
    for (size_t at = 0; at < lines.size();) {
        const size_t end = lines.find("\r\n", at);
        const std::string l = lines.substr(at, end - at);
        at = end + 2;
        // Short: the names that bear on a mail check (not those about reply codes and the like).
        const std::string name = l.substr(0, l.find(' '));
        static const std::vector<std::string> kept = {"TOP", "UIDL", "USER", "SASL", "PIPELINING", "PIPELINE",
                                                      "STLS", "UTF8", "LOGIN-DELAY", "APOP"};
        if (std::find(kept.begin(), kept.end(), name) != kept.end()) names += (names.empty() ? "" : " ") + name;
    }
    std::printf("%s\n", names.c_str());
    return 0;
}

struct Fetched {
    int64_t listSize = -1;
    std::string header, body;  // body: exactly what the server sent after the empty line
};

// Splits a message at its first empty line (which belongs to neither part), as the library does.
void split(const std::string& message, std::string& header, std::string& body) {
    size_t at = 0;
    while (at < message.size()) {
        if (message.compare(at, 2, "\r\n") == 0) {
            header = message.substr(0, at);
            body = message.substr(at + 2);
            return;
        }
        if (message[at] == '\n') {
            header = message.substr(0, at);
            body = message.substr(at + 1);
            return;
        }
        const size_t end = message.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    header = message;
    body.clear();
}

std::optional<std::vector<Fetched>> referenceFetch(const std::string& host, int port, const std::string& user,
                                                   const std::string& password) {
    PlainClient c(host, port);
    std::string status, lines;
    if (!c.ok() || !c.line(status) || !c.command("USER " + user, status) || !c.command("PASS " + password, status) ||
        status.rfind("+OK", 0) != 0 || !c.command("LIST", status) || status.rfind("+OK", 0) != 0 ||
        !c.multiLine(lines))
        return std::nullopt;
    std::vector<Fetched> out;
    for (size_t at = 0; at < lines.size();) {
        const size_t end = lines.find("\r\n", at);
        Fetched f;
        std::sscanf(lines.substr(at, end - at).c_str(), "%*d %lld", reinterpret_cast<long long*>(&f.listSize));
        out.push_back(f);
        at = end + 2;
    }
    for (size_t n = 1; n <= out.size(); ++n) {
        std::string whole;
        if (!c.command("RETR " + std::to_string(n), status) || status.rfind("+OK", 0) != 0 || !c.multiLine(whole))
            return std::nullopt;
        split(whole, out[n - 1].header, out[n - 1].body);
    }
    c.command("QUIT", status);
    return out;
}

// Passes one connection through, noting each write of the client as it arrives.
class Relay {
public:
    Relay(const std::string& host, int port) : host_(host), port_(port) {
        listen_ = bench::ListenLoopback(0, 1, &localPort_);
        thread_ = std::thread([this] { run(); });
    }
    ~Relay() {
        thread_.join();
        close(listen_);
    }
    int port() const { return localPort_; }
    // The client's writes, each as the commands it held.
    std::vector<std::vector<std::string>> writes() {
        thread_.join();
        thread_ = std::thread([] {});
        std::vector<std::vector<std::string>> out;
        for (const std::string& w : raw_) {
            std::vector<std::string> commands;
            for (size_t at = 0; at < w.size();) {
                const size_t end = w.find('\n', at);
                commands.push_back(w.substr(at, (end == std::string::npos ? w.size() : end) - at));
                at = end == std::string::npos ? w.size() : end + 1;
            }
            out.push_back(commands);
        }
        return out;
    }

private:
    void run() {
        const int client = accept(listen_, nullptr, nullptr);
        const int server = connectTo(host_, port_);
        if (client < 0 || server < 0) return;
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> chunk(1 << 18);
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        for (bool open = true; open && poll(fds, 2, 60'000) > 0;) {
            for (int k = 0; k < 2 && open; ++k) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = recv(fds[k].fd, chunk.data(), chunk.size(), 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (k == 0) raw_.emplace_back(chunk.data(), static_cast<size_t>(n));
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t m = send(fds[1 - k].fd, chunk.data() + sent, static_cast<size_t>(n - sent),
                                           MSG_NOSIGNAL);
                    if (m <= 0) {
                        open = false;
                        break;
                    }
                    sent += m;
                }
            }
        }
        close(client);
        close(server);
    }
    std::string host_;
    int port_, localPort_ = 0, listen_ = -1;
    std::thread thread_;
    std::vector<std::string> raw_;
};

// ---------------------------------------------------------------------------------------------
// The check

struct Got {
    int32_t size = -1, status = -1, fetched = -1;
    std::string header, body;
};

struct CheckResult {
    int32_t count = -1;
    double seconds = 0;
    std::string error;
    int32_t refusal = -1, wait = 0;  // NMailPop3LoginRefusal after the login
    std::vector<Got> messages;
};

CheckResult check(const std::string& server, const std::string& user, const std::string& password, bool keep, bool apop) {
    using namespace platform;
    CheckResult r;
    static char b1[kTextBuffer], b2[kTextBuffer], b3[kTextBuffer], b4[kTextBuffer];
    const auto start = std::chrono::steady_clock::now();
    const int32_t handle = NMailPop3Connect(server);
    r.count = handle < 0 ? -1 : NMailPop3Authenticate(handle, user, password, apop ? 1 : 0);
    if (handle >= 0) r.refusal = NMailPop3LoginRefusal(handle, &r.wait);
    // On IMAP the program makes no message calls: the count is all it reads.
    for (int32_t n = 1; n <= r.count && !NMailIsImap(handle); ++n) {
        Got g;
        g.status = NMailPop3GetMailStatus(handle, n, b1, b2, b3, b4, 0);
        g.size = NMailPop3GetMailSize(handle, n);
        std::vector<char> body(static_cast<size_t>(std::max(g.size, 0)) + 1, ' ');
        g.fetched = NMailPop3GetMail(handle, n, b1, b2, b3, b4, body.data(), static_cast<int32_t>(body.size()), 0, 0);
        if (keep) {
            g.header = b4;
            g.body.assign(body.data(), static_cast<size_t>(std::max(g.fetched, 0)));
            r.messages.push_back(std::move(g));
        }
    }
    if (handle >= 0) NMailPop3Close(handle);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.count < 0) {
        char text[kTextBuffer];
        int32_t size = sizeof text;
        NMailGetMessage(0, text, &size);
        r.error = text;
    }
    return r;
}

std::string digest(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha1)
        .toHex()
        .left(10)
        .toStdString();
}

// What the library's rule lets the program see of a message of these parts, given LIST's size.
std::pair<std::string, std::string> byTheRule(const std::string& header, const std::string& body, int32_t size) {
    return {header.substr(0, kTextBuffer - 1), body.substr(0, static_cast<size_t>(std::max(size, 0)))};
}

std::string messageId(const std::string& header) {
    const size_t at = header.find("<", std::min(header.size(), header.find("Message-ID:")));
    const size_t end = header.find('>', at);
    return at == std::string::npos || end == std::string::npos ? "" : header.substr(at, end - at + 1);
}

int checkCommand(int argc, char** argv) {
    const std::string server = argv[2], user = argv[3], password = argv[4];
    std::string box, ca;
    bool reference = false, observe = false, apop = false;
    int replyMs = 30'000;
    for (int k = 5; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--box" && k + 1 < argc) box = argv[++k];
        else if (a == "--ca" && k + 1 < argc) ca = argv[++k];
        else if (a == "--reply-ms" && k + 1 < argc) replyMs = std::atoi(argv[++k]);
        else if (a == "--reference") reference = true;
        else if (a == "--observe") observe = true;
        else if (a == "--apop") apop = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    using namespace platform;
    NMailInitializeWinSock();
    NMailSetOption(1, kTextBuffer);
    NMailSetTimeouts(10'000, replyMs);
    if (!ca.empty()) NMailAddTrustedCertificates(ca);
    {
        QSslSocket warm;  // TLS libraries loaded before the clock starts, as in a running program
        QSslSocket::supportsSsl();
    }
    // host:port of a plain server, for the relay and the reference client.
    std::string host = server;
    if (host.rfind("pop3://", 0) == 0) host = host.substr(7);
    const int port = std::atoi(host.substr(host.rfind(':') + 1).c_str());
    host = host.substr(0, host.rfind(':'));

    std::optional<Relay> relay;
    if (observe) relay.emplace(host, port);
    const CheckResult r =
        check(observe ? "127.0.0.1:" + std::to_string(relay->port()) : server, user, password, !box.empty(), apop);
    std::printf("count=%d seconds=%.4f", r.count, r.seconds);
    if (r.count < 0) std::printf(" error=\"%s\"", r.error.c_str());
    // How the program takes the login: a refusal "for now" shows no box and holds interval checks for
    // wait seconds; wait also carries a LOGIN-DELAY announced by a server whose login worked.
    static const char* const kKinds[] = {"none", "password", "temporary", "other"};
    if (r.refusal >= 0) {
        std::printf(" refusal=%s wait=%d box=%s", kKinds[std::min(r.refusal, 3)], r.wait,
                    r.count < 0 && r.refusal != kNMailRefusalTemporary ? "yes" : "no");
    }
    if (relay) {
        // How the client spoke: commands per write, whether anything rode behind PASS, TOP and RETR.
        const auto writes = relay->writes();
        size_t most = 0, top = 0, retr = 0, list = 0, behindPass = 0;
        for (const auto& w : writes) {
            most = std::max(most, w.size());
            for (size_t k = 0; k < w.size(); ++k) {
                top += w[k].rfind("TOP ", 0) == 0;
                retr += w[k].rfind("RETR ", 0) == 0;
                list += w[k].rfind("LIST", 0) == 0;
                if (w[k].rfind("PASS ", 0) == 0 || w[k].rfind("APOP ", 0) == 0) behindPass += w.size() - 1 - k;
            }
        }
        std::printf(" writes=%zu most_per_write=%zu pipelined=%s behind_pass=%zu top=%zu retr=%zu list=%zu",
                    writes.size(), most, most > 1 ? "yes" : "no", behindPass, top, retr, list);
    }
    if (r.count < 0 && reference) {
        // Whether the server itself gives its messages to a client that waits for every answer.
        const auto raw = referenceFetch(host, port, user, password);
        std::printf(" reference_count=%d", raw ? static_cast<int>(raw->size()) : -1);
    }
    std::printf("\n");
    if (box.empty() || r.count < 0) return r.count < 0 ? 1 : 0;

    std::map<std::string, std::string> delivered;  // Message-ID → the message as delivered
    for (int n = 1; n <= kMessages; ++n) {
        QFile f(QString("%1/%2.eml").arg(QString::fromStdString(box)).arg(n, 2, 10, QChar('0')));
        if (!f.open(QIODevice::ReadOnly)) return 1;
        const std::string m = f.readAll().toStdString();
        std::string h, b;
        split(m, h, b);
        delivered[messageId(h)] = m;
    }
    std::optional<std::vector<Fetched>> raw;
    if (reference) raw = referenceFetch(host, port, user, password);
    int listExact = 0, headersOk = 0, bodiesOk = 0, traced = 0, rewritten = 0, wrong = 0, outOfOrder = 0,
        failedCalls = 0;
    int64_t under = 0;  // the most octets a LIST size fell short of what RETR brought
    for (size_t k = 0; k < r.messages.size(); ++k) {
        const Got& g = r.messages[k];
        const int n = static_cast<int>(k) + 1;
        const std::string id = messageId(g.header);
        const auto found = delivered.find(id);
        std::string note;
        failedCalls += g.status < 0 || g.size < 0 || g.fetched < 0;
        if (raw && k < raw->size()) {
            const Fetched& f = (*raw)[k];
            under = std::max<int64_t>(under, int64_t(f.header.size() + 2 + f.body.size()) - g.size);
        }
        if (found == delivered.end()) {
            // A server may wrap a message in one of its own (Courier does so with raw UTF-8 headers, as
            // RFC 6856 lets it), made anew at every fetch (its boundary changes): then only the sizes of
            // what it sends one command at a time can judge our calls.
            bool sameAsServer = false;
            if (raw && k < raw->size()) {
                const Fetched& f = (*raw)[k];
                const auto [rawHeader, rawBody] = byTheRule(f.header, f.body, g.size);
                sameAsServer = g.header.size() == rawHeader.size() && g.body.size() == rawBody.size();
            }
            if (sameAsServer) {
                ++rewritten;
                note = "wrapped by the server in a message of its own, made anew at each fetch (sizes as the "
                       "server sends them one command at a time)";
            } else {
                ++wrong;
                note = "WRONG: no delivered message with Message-ID " + id;
            }
        } else {
            if (id != "<" + QByteArray::number(n).rightJustified(2, '0').toStdString() + ".interop@vellumine.invalid>")
                ++outOfOrder;
            std::string h, b;
            split(found->second, h, b);
            listExact += g.size == static_cast<int64_t>(found->second.size());
            const auto [wantHeader, wantBody] = byTheRule(h, b, g.size);
            const bool headerOk = g.header == wantHeader, bodyOk = g.body == wantBody;
            bool serverRewrote = false;
            if ((!headerOk || !bodyOk) && raw && k < raw->size()) {
                // Judged against what the server itself sends for this message, one command at a time.
                const Fetched& f = (*raw)[k];
                const auto [rawHeader, rawBody] = byTheRule(f.header, f.body, g.size);
                serverRewrote = g.header == rawHeader && g.body == rawBody;
                // Trace fields put on top at delivery (Return-Path, Received) leave the rest as it was.
                const bool onTop = g.header.size() > wantHeader.size() &&
                                   g.header.compare(g.header.size() - wantHeader.size(), wantHeader.size(),
                                                    wantHeader) == 0 &&
                                   bodyOk;
                if (serverRewrote && onTop) {
                    note = "trace fields added at delivery (" + std::to_string(g.header.size() - h.size()) +
                           " octets on top of the header)";
                } else if (serverRewrote) {
                    note = "rewritten by the server (header " + std::to_string(h.size()) + "→" +
                           std::to_string(f.header.size()) + ", body " + std::to_string(b.size()) + "→" +
                           std::to_string(f.body.size()) + " octets; LIST " + std::to_string(g.size) + ")";
                }
            }
            if (headerOk && bodyOk) {
                ++headersOk;
                ++bodiesOk;
                note = "as delivered";
            } else if (serverRewrote) {
                ++(note.rfind("trace", 0) == 0 ? traced : rewritten);
            } else {
                ++wrong;
                headersOk += headerOk;
                bodiesOk += bodyOk;
                note = std::string("WRONG:") + (headerOk ? "" : " header") + (bodyOk ? "" : " body") + " (delivered " +
                       std::to_string(found->second.size()) + " octets, body got " + std::to_string(g.body.size()) +
                       " of " + std::to_string(b.size()) + ")";
            }
        }
        std::printf("msg %2d size=%d header=%s/%zu body=%s/%zu %s\n", n, g.size, digest(g.header).c_str(),
                    g.header.size(), digest(g.body).c_str(), g.body.size(), note.c_str());
    }
    std::printf("verdict count=%d expected=%d list_exact=%d as_delivered=%d traced=%d rewritten=%d wrong=%d "
                "out_of_order=%d failed_calls=%d list_under_max=%lld reference=%s\n",
                r.count, kMessages, listExact, std::min(headersOk, bodiesOk), traced, rewritten, wrong, outOfOrder,
                failedCalls, static_cast<long long>(under), !reference ? "none" : raw ? "ok" : "failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make-box" && argc == 3) return makeBox(QString::fromLocal8Bit(argv[2]));
    if (command == "capa" && argc == 4) return capa(argv[2], std::atoi(argv[3]));
    if (command == "check" && argc >= 5) return checkCommand(argc, argv);
    std::fprintf(stderr,
                 "usage: %s make-box DIR | capa HOST PORT | check SERVER USER PASSWORD [--box DIR] [--reference] "
                 "[--observe] [--ca PEM] [--reply-ms MS] [--apop]\n",
                 argv[0]);
    return 2;
}
