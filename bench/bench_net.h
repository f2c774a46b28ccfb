// The small socket pieces the benchmarks' own servers, relays and proxies share.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

namespace bench {

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), or -1.
inline long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

inline bool SendAll(int fd, const std::string& s) {
    for (size_t sent = 0; sent < s.size();) {
        const ssize_t n = send(fd, s.data() + sent, s.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// A listening socket on loopback at PORT (0: any free port, then written to *bound), or -1.
inline int ListenLoopback(int port, int backlog, int* bound = nullptr) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        close(fd);
        return -1;
    }
    if (bound) *bound = ntohs(a.sin_port);
    return fd;
}

// Sends GREETING, then hands each CRLF-ended command line to ANSWER in order until ANSWER returns
// false or the client goes.
inline void ServeCommands(int fd, const std::string& greeting, const std::function<bool(const std::string&)>& answer) {
    if (!SendAll(fd, greeting)) return;
    std::string in;
    char chunk[4096];
    for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        in.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = in.find("\r\n")) != std::string::npos;) {
            const std::string c = in.substr(0, end);
            in.erase(0, end + 2);
            if (!answer(c)) return;
        }
    }
}

}  // namespace bench
