// A POP3 server of the older kind (popa3d, solid-pop3d, Twisted Mail): no CAPA, no PIPELINING, and
// every multi-line reply written in two pieces, its status line and then the rest, with Nagle's
// algorithm on, so that the second piece waits for the client's ACK of the first. Serves COUNT
// messages of about SIZE octets to any user and password, one connection after another, commands
// in order as they come. Prints "ready" once it listens. For pop3_round_trips.sh.
// Usage: pop3_split_server PORT COUNT SIZE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string message(int n, size_t size) {
    std::string m = "Subject: message " + std::to_string(n) + "\r\nFrom: sender@example.org\r\nDate: today\r\n\r\n";
    const std::string line(76, 'x');
    while (m.size() + line.size() + 2 <= size) m += line + "\r\n";
    return m;
}

bool sendAll(int fd, const std::string& s) {
    for (size_t sent = 0; sent < s.size();) {
        const ssize_t n = send(fd, s.data() + sent, s.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void serve(int fd, const std::vector<std::string>& box) {
    if (!sendAll(fd, "+OK split server ready\r\n")) return;
    std::string in;
    char chunk[4096];
    for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        in.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = in.find("\r\n")) != std::string::npos;) {
            const std::string c = in.substr(0, end);
            in.erase(0, end + 2);
            const std::string verb = c.substr(0, c.find(' '));
            const int n = c.size() > verb.size() ? std::atoi(c.c_str() + verb.size() + 1) : 0;
            const bool exists = n >= 1 && n <= static_cast<int>(box.size());
            bool ok = true;
            if (verb == "USER" || verb == "PASS") {
                ok = sendAll(fd, "+OK\r\n");
            } else if (verb == "STAT") {
                size_t total = 0;
                for (const auto& m : box) total += m.size();
                ok = sendAll(fd, "+OK " + std::to_string(box.size()) + " " + std::to_string(total) + "\r\n");
            } else if (verb == "LIST" && n == 0) {
                std::string all;
                for (size_t k = 0; k < box.size(); ++k) all += std::to_string(k + 1) + " " + std::to_string(box[k].size()) + "\r\n";
                ok = sendAll(fd, "+OK scan listing follows\r\n") && sendAll(fd, all + ".\r\n");
            } else if (verb == "LIST" && exists) {
                ok = sendAll(fd, "+OK " + std::to_string(n) + " " + std::to_string(box[n - 1].size()) + "\r\n");
            } else if ((verb == "RETR" || verb == "TOP") && exists) {
                const std::string& m = box[n - 1];
                const std::string part = verb == "TOP" ? m.substr(0, m.find("\r\n\r\n") + 4) : m;
                ok = sendAll(fd, "+OK\r\n") && sendAll(fd, part + ".\r\n");  // no line of ours starts with a dot
            } else if (verb == "QUIT") {
                sendAll(fd, "+OK bye\r\n");
                return;
            } else {
                ok = sendAll(fd, "-ERR unknown command\r\n");
            }
            if (!ok) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT SIZE\n", argv[0]);
        return 2;
    }
    std::vector<std::string> box;
    for (int n = 1, count = std::atoi(argv[2]); n <= count; ++n) box.push_back(message(n, std::strtoul(argv[3], nullptr, 10)));
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 8) != 0) {
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
