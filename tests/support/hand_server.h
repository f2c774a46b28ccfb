#pragma once
// A mail server on loopback whose side the test plays by hand, from its own thread: connections wait
// in the backlog (the system completes them) until the test takes one, and what the test writes is
// there before the client asks. With nothing written it is a server that accepts and then says
// nothing, which tests in virtual time can wait out at once.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

// A TCP socket bound to a free loopback port (not yet listening).
inline int LoopbackSocket(int& port, int flags = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | flags, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
}

class HandServer {
public:
    HandServer() : listen_(LoopbackSocket(port_, SOCK_NONBLOCK | SOCK_CLOEXEC)) { ::listen(listen_, 8); }
    ~HandServer() {
        for (int fd : taken_) close(fd);
        close(listen_);
    }
    HandServer(const HandServer&) = delete;
    HandServer& operator=(const HandServer&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Takes every connection waiting in the backlog; how many there were.
    int TakeWaiting() {
        int n = 0;
        for (int fd; (fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0; ++n) taken_.push_back(fd);
        return n;
    }
    int Taken() const { return int(taken_.size()); }
    void Say(int connection, const std::string& bytes) {
        ssize_t ignored = send(taken_.at(connection), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        (void)ignored;
    }
    // Hangs up: what was said before still reaches the client.
    void HangUp(int connection) { shutdown(taken_.at(connection), SHUT_WR); }
    // Everything the client has sent so far.
    std::string Heard(int connection) {
        char chunk[4096];
        for (ssize_t n; (n = recv(taken_.at(connection), chunk, sizeof chunk, 0)) > 0;) heard_[connection].append(chunk, n);
        return heard_[connection];
    }
    // Whether the client has closed its side (after what it sent has been read).
    bool ClosedByClient(int connection) {
        Heard(connection);
        char byte;
        return recv(taken_.at(connection), &byte, 1, MSG_PEEK) == 0;
    }

private:
    int port_ = 0;
    int listen_ = -1;
    std::vector<int> taken_;
    std::map<int, std::string> heard_;
};

}  // namespace testsupport
