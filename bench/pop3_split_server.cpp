// A POP3 server of the older kind (popa3d, solid-pop3d, Twisted Mail): no CAPA, no PIPELINING, and
// every multi-line reply written in two pieces, its status line and then the rest, with Nagle's
// algorithm on, so that the second piece waits for the client's ACK of the first. Serves COUNT
// messages of about SIZE octets to any user and password, one connection after another, commands
// in order as they come. Prints "ready" once it listens. For pop3_round_trips.sh.
// Usage: pop3_split_server PORT COUNT SIZE
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_net.h"

namespace {

std::string message(int n, size_t size) {
    std::string m = "Subject: message " + std::to_string(n) + "\r\nFrom: sender@example.org\r\nDate: today\r\n\r\n";
    const std::string line(76, 'x');
    while (m.size() + line.size() + 2 <= size) m += line + "\r\n";
    return m;
}

void serve(int fd, const std::vector<std::string>& box) {
    using bench::SendAll;
    bench::ServeCommands(fd, "+OK split server ready\r\n", [&](const std::string& c) {
        const std::string verb = c.substr(0, c.find(' '));
        const int n = c.size() > verb.size() ? std::atoi(c.c_str() + verb.size() + 1) : 0;
        const bool exists = n >= 1 && n <= static_cast<int>(box.size());
        if (verb == "USER" || verb == "PASS") return SendAll(fd, "+OK\r\n");
        if (verb == "STAT") {
            size_t total = 0;
            for (const auto& m : box) total += m.size();
            return SendAll(fd, "+OK " + std::to_string(box.size()) + " " + std::to_string(total) + "\r\n");
        }
        if (verb == "LIST" && n == 0) {
            std::string all;
            for (size_t k = 0; k < box.size(); ++k) all += std::to_string(k + 1) + " " + std::to_string(box[k].size()) + "\r\n";
            return SendAll(fd, "+OK scan listing follows\r\n") && SendAll(fd, all + ".\r\n");
        }
        if (verb == "LIST" && exists) return SendAll(fd, "+OK " + std::to_string(n) + " " + std::to_string(box[n - 1].size()) + "\r\n");
        if ((verb == "RETR" || verb == "TOP") && exists) {
            const std::string& m = box[n - 1];
            const std::string part = verb == "TOP" ? m.substr(0, m.find("\r\n\r\n") + 4) : m;
            return SendAll(fd, "+OK\r\n") && SendAll(fd, part + ".\r\n");  // no line of ours starts with a dot
        }
        if (verb == "QUIT") {
            SendAll(fd, "+OK bye\r\n");
            return false;
        }
        return SendAll(fd, "-ERR unknown command\r\n");
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT SIZE\n", argv[0]);
        return 2;
    }
    std::vector<std::string> box;
    for (int n = 1, count = std::atoi(argv[2]); n <= count; ++n) box.push_back(message(n, std::strtoul(argv[3], nullptr, 10)));
    const int listener = bench::ListenLoopback(std::atoi(argv[1]), 8);
    if (listener < 0) {
        std::perror("listen");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) {
        serve(fd, box);
        close(fd);
    }
    return 0;
}
