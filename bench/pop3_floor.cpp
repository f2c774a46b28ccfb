// The floor for fetching a mailbox: after the greeting, every command at once (login, STAT, LIST,
// every RETR, QUIT), then every reply read until the server hangs up (RFC 2449 pipelining). Nothing
// is parsed: this is what the network and the server cost, and no client can do much better.
// Usage: pop3_floor PORT USER PASSWORD COUNT [login-first]. Prints "seconds=… octets=…".
// login-first: USER and PASS are answered before the rest goes out together, for servers that drop
// whatever arrives behind the login (Courier, perdition); one round trip more.
#include <arpa/inet.h>
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
    const bool loginFirst = argc == 6 && std::string(argv[5]) == "login-first";
    if (argc != 5 && !loginFirst) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD COUNT [login-first]\n", argv[0]);
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
    std::vector<char> buffer(1 << 18);
    long long octets = 0;
    // The greeting first, as any client waits for it.
    for (bool greeted = false; !greeted;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return 1;
        octets += n;
        greeted = std::string(buffer.data(), static_cast<size_t>(n)).find('\n') != std::string::npos;
    }
    std::string commands = std::string("USER ") + argv[2] + "\r\nPASS " + argv[3] + "\r\n";
    if (loginFirst) {
        if (!bench::SendAll(fd, commands)) return 1;
        for (int lines = 0; lines < 2;) {  // the answers to USER and PASS
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) return 1;
            octets += n;
            for (ssize_t k = 0; k < n; ++k) lines += buffer[static_cast<size_t>(k)] == '\n';
        }
        commands.clear();
    }
    commands += "STAT\r\nLIST\r\n";
    for (int i = 1, count = std::atoi(argv[4]); i <= count; ++i) commands += "RETR " + std::to_string(i) + "\r\n";
    commands += "QUIT\r\n";
    if (!bench::SendAll(fd, commands)) return 1;
    for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) octets += n;
    close(fd);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seconds=%.4f octets=%lld\n", seconds, octets);
    return 0;
}
