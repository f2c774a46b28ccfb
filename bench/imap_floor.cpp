// The floor for an IMAP check: after the greeting, every command at once (LOGIN, STATUS INBOX (UNSEEN),
// LOGOUT: RFC 9051 lets a client send commands without waiting), then every response read until the
// server hangs up. Plain IMAP; little is parsed: this is what the network and the server cost.
// Usage: imap_floor PORT USER PASSWORD. Prints "seconds=… unseen=…" (unseen -1 when STATUS gave none).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_net.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        return 1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<char> buffer(1 << 16);
    std::string got;
    // The greeting first, as any client waits for it.
    while (got.find('\n') == std::string::npos) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return 1;
        got.append(buffer.data(), static_cast<size_t>(n));
    }
    // The user and password as quoted strings, as a bench's plain ones need no more.
    const std::string commands = std::string("a LOGIN \"") + argv[2] + "\" \"" + argv[3] +
                                 "\"\r\nb STATUS INBOX (UNSEEN)\r\nc LOGOUT\r\n";
    if (!bench::SendAll(fd, commands)) return 1;
    for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) got.append(buffer.data(), static_cast<size_t>(n));
    close(fd);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long unseen = -1;
    const size_t at = got.find("(UNSEEN ");
    if (at != std::string::npos && got.find("\nb OK") != std::string::npos) unseen = std::atol(got.c_str() + at + 8);
    std::printf("seconds=%.4f unseen=%ld\n", seconds, unseen);
    return 0;
}
