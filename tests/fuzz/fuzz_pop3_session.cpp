// The whole POP3 client against a server that says whatever the input says: the mail library's calls,
// in an order and with buffer sizes the input picks, talk over loopback TCP to a server thread that
// answers each command with the next reply of the input's script, and hangs up when the script ends.
// The client offers no way to hand it another transport (it makes its own QSslSocket), so a real
// socket it is.
//
// Input: the server's bytes, then (read from the end) the calls: buffer sizes, APOP or not, and up to
// eight calls of status / size / fetch with message numbers.
#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>

#include <arpa/inet.h>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fuzz_support.h"
#include "platform/nmail.h"

using namespace platform;

namespace {

// Splits the script into replies the way a server answers: the greeting, then one reply for each
// command line the client sends, multi-line (up to the "." line) after "+OK" to CAPA, TOP, RETR and
// LIST without a number.
// When the script runs out the server hangs up, so the client never waits for data that will not
// come: no input costs a time-out. After "+OK" to STLS the rest of the script goes out as it is, as
// the server's side of the TLS handshake.
class ScriptedServer {
public:
    ScriptedServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 || listen(listener_, 4) != 0) {
            std::perror("loopback listener");
            std::abort();
        }
        port_ = ntohs(a.sin_port);
        std::thread([this] { Serve(); }).detach();  // lives as long as the process
    }

    int port() const { return port_; }

    // The next connection gets this script. One connection at a time: the previous one is over.
    void Expect(std::string script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
        done_ = false;
    }

    void WaitUntilClosed() {
        std::unique_lock lock(mutex_);
        doneChanged_.wait(lock, [this] { return done_; });
    }

private:
    static bool IsOk(std::string_view line) {
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line.substr(0, 3) == "+OK" && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
    }

    // The end of the line starting at pos (past its LF), or npos when the script ends first.
    static size_t LineEnd(const std::string& script, size_t pos) {
        const size_t newline = script.find('\n', pos);
        return newline == std::string::npos ? std::string::npos : newline + 1;
    }

    // Sends the next reply; false when the script ended inside it.
    bool Reply(int fd, const std::string& script, size_t& pos, bool multiLine, bool& ok) {
        const size_t start = pos;
        size_t end = LineEnd(script, pos);
        ok = end != std::string::npos && IsOk(std::string_view(script).substr(pos, end - pos));
        if (end != std::string::npos && multiLine && ok) {
            for (;;) {
                const size_t lineStart = end;
                end = LineEnd(script, lineStart);
                if (end == std::string::npos) break;
                const std::string_view line = std::string_view(script).substr(lineStart, end - lineStart);
                if (line == ".\r\n" || line == ".\n") break;
            }
        }
        pos = end == std::string::npos ? script.size() : end;
        Send(fd, std::string_view(script).substr(start, pos - start));
        return end != std::string::npos;
    }

    static void Send(int fd, std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return;
            bytes.remove_prefix(static_cast<size_t>(n));
        }
    }

    void Converse(int fd, const std::string& script) {
        size_t pos = 0;
        bool ok = false;
        if (!Reply(fd, script, pos, false, ok)) return;  // the greeting
        std::string received;
        char chunk[4096];
        for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) {
            received.append(chunk, static_cast<size_t>(n));
            for (size_t end; (end = received.find("\r\n")) != std::string::npos;) {
                const size_t space = received.find(' ');
                std::string word = received.substr(0, std::min(end, space));
                const bool argument = space < end;
                received.erase(0, end + 2);
                if (pos == script.size()) return;  // nothing left to say: hang up
                for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                const bool multiLine = word == "CAPA" || word == "TOP" || word == "RETR" || (word == "LIST" && !argument);
                if (!Reply(fd, script, pos, multiLine, ok)) return;
                if (word == "STLS" && ok) {
                    Send(fd, std::string_view(script).substr(pos));
                    return;
                }
            }
        }
    }

    void Serve() {
        for (;;) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            // Each reply goes out at once: with Nagle, pipelined replies would wait for delayed ACKs.
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::string script;
            {
                std::lock_guard lock(mutex_);
                script = script_;
            }
            Converse(fd, script);
            // Hanging up: all that was sent arrives first. Whatever the client still sends is read
            // and dropped until it closes, so that our close cannot reset the connection under data
            // it has not read yet.
            shutdown(fd, SHUT_WR);
            char sink[4096];
            while (recv(fd, sink, sizeof sink, 0) > 0) {
            }
            // No TIME_WAIT left behind: a long run makes hundreds of thousands of connections.
            const linger abortive{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            close(fd);
            std::lock_guard lock(mutex_);
            done_ = true;
            doneChanged_.notify_all();
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable doneChanged_;
    std::string script_;
    bool done_ = true;
};

ScriptedServer* g_server = nullptr;
// VELLUMINE_FUZZ_VERBOSE=1 prints every call and its result, for reading what an input does.
bool g_verbose = false;

void Say(const char* call, int32_t number, int32_t result) {
    if (!g_verbose) return;
    std::vector<char> text(4096);
    int32_t size = static_cast<int32_t>(text.size());
    NMailGetMessage(0, text.data(), &size);
    std::fprintf(stderr, "%s(%d) = %d; last failure: %s\n", call, number, result, text.data());
}

void CheckTextBuffer(const fuzz::FencedBuffer& buffer, const char* what) {
    FUZZ_CHECK(buffer.FencesIntact(), std::string(what) + ": written outside its " + std::to_string(buffer.size()) + " bytes");
    FUZZ_CHECK(buffer.size() == 0 || buffer.Terminated(), std::string(what) + ": not NUL-terminated");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Made on the heap and never destroyed: a static application would be destroyed at exit() after
    // Qt Network's own objects, which Qt 6.8 answers with a crash in ~QObject. libFuzzer ends the
    // process right after the runs, so nothing is lost by leaving it; it stays reachable for
    // LeakSanitizer through this pointer.
    static QCoreApplication* const app = new QCoreApplication(*argc, *argv);
    (void)app;
    g_server = new ScriptedServer;
    g_verbose = std::getenv("VELLUMINE_FUZZ_VERBOSE") != nullptr;
    NMailInitializeWinSock();
    // The server never leaves the client waiting: it answers every command or hangs up. These limits
    // are there so that a client that waited anyway shows up as a slow input, not a hang.
    NMailSetTimeouts(2000, 2000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t bufferSize = in.ConsumeBool() ? 8192 : in.ConsumeIntegralInRange<int32_t>(1, 64);
    const int32_t bodySize = in.ConsumeIntegralInRange<int32_t>(-1, 96);
    const int32_t messageSize = in.ConsumeIntegralInRange<int32_t>(-1, 80);
    const bool apop = in.ConsumeBool();
    struct Call {
        int kind;
        int32_t number;
    };
    std::vector<Call> calls(in.ConsumeIntegralInRange<size_t>(0, 8));
    for (Call& c : calls) {
        c.kind = in.ConsumeIntegralInRange<int>(0, 2);
        c.number = in.ConsumeIntegralInRange<int32_t>(-1, 4);
    }
    g_server->Expect(in.ConsumeRemainingBytesAsString());

    NMailSetOption(1, bufferSize);
    const int32_t handle = NMailPop3Connect("127.0.0.1:" + std::to_string(g_server->port()));
    FUZZ_CHECK(handle >= 0, "could not connect to our own loopback server");
    const int32_t count = NMailPop3Authenticate(handle, "user", "secret", apop ? 1 : 0);
    Say("authenticate", apop, count);
    FUZZ_CHECK(count >= -1, "message count below -1");

    bool lost = false;  // once the connection is gone, every call says so
    const auto lostStays = [&](int32_t r) {
        FUZZ_CHECK(!lost || r == kNMailConnectionLost, "a call after a lost connection returned " + std::to_string(r));
        lost = lost || r == kNMailConnectionLost;
    };
    for (const Call& c : calls) {
        fuzz::FencedBuffer b1(static_cast<size_t>(bufferSize)), b2(static_cast<size_t>(bufferSize)),
            b3(static_cast<size_t>(bufferSize)), b4(static_cast<size_t>(bufferSize));
        if (c.kind == 0) {
            const int32_t r = NMailPop3GetMailStatus(handle, c.number, b1.data(), b2.data(), b3.data(), b4.data(), 0);
            Say("status", c.number, r);
            if (count >= 0) lostStays(r);
            FUZZ_CHECK(r == 0 || r == -1 || r == kNMailConnectionLost, "status call returned " + std::to_string(r));
        } else if (c.kind == 1) {
            const int32_t r = NMailPop3GetMailSize(handle, c.number);
            Say("size", c.number, r);
            if (count >= 0) lostStays(r);
            FUZZ_CHECK(r >= kNMailConnectionLost && r < INT32_MAX, "size call returned " + std::to_string(r));
            continue;
        } else {
            fuzz::FencedBuffer body(bodySize > 0 ? static_cast<size_t>(bodySize) : 0);
            const int32_t r = NMailPop3GetMail(handle, c.number, b1.data(), b2.data(), b3.data(), b4.data(),
                                               body.data(), bodySize, 0, 0);
            Say("fetch", c.number, r);
            if (count >= 0) lostStays(r);
            FUZZ_CHECK(r >= kNMailConnectionLost && (r < 0 || r < std::max(bodySize, 1)),
                       "fetch returned " + std::to_string(r) + " for a body buffer of " + std::to_string(bodySize));
            FUZZ_CHECK(body.FencesIntact(), "body written outside its " + std::to_string(bodySize) + " bytes");
            if (bodySize > 0) FUZZ_CHECK(body.Terminated(), "body not NUL-terminated");
            if (r >= 0 && bodySize > 0) FUZZ_CHECK(body.data()[r] == '\0', "body count and NUL disagree");
        }
        CheckTextBuffer(b1, "subject");
        CheckTextBuffer(b2, "date");
        CheckTextBuffer(b3, "from");
        CheckTextBuffer(b4, "header");
        for (const fuzz::FencedBuffer* field : {&b1, &b2, &b3}) {
            FUZZ_CHECK(field->Text().find('\n') == std::string::npos, "a header field holds a line feed");
        }
    }

    fuzz::FencedBuffer message(messageSize > 0 ? static_cast<size_t>(messageSize) : 0);
    int32_t room = messageSize;
    const int32_t n = NMailGetMessage(0, message.data(), &room);
    FUZZ_CHECK(room == messageSize, "NMailGetMessage changed the size");
    FUZZ_CHECK(message.FencesIntact(), "failure text written outside its " + std::to_string(messageSize) + " bytes");
    if (messageSize < 1) {
        FUZZ_CHECK(n == -1, "failure text into no room did not fail");
    } else {
        FUZZ_CHECK(n >= 0 && n < messageSize && message.data()[n] == '\0', "failure text count or NUL wrong");
        FUZZ_CHECK(fuzz::WellFormedUtf8(std::string_view(message.data(), static_cast<size_t>(n))),
                   "failure text cut inside a character: " + fuzz::Quoted(std::string_view(message.data(), n)));
    }

    FUZZ_CHECK(NMailPop3Close(handle) == 0, "closing an open handle failed");
    g_server->WaitUntilClosed();
    return 0;
}
