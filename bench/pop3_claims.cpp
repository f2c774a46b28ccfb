// What a server's claims cost us: a server of our own on loopback claims COUNT messages (STAT, and a
// LIST of COUNT lines streamed as fast as we read it), and our client logs in and reads the first
// message. Prints, for each count, what the login returned, how long it took, and how far it raised
// the process's resident memory (peak over the login, above what it held before). Judges nothing.
// Usage: pop3_claims [COUNT...]   (default: 1000 1000000 5000000 9999999 20000000)
#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/nmail.h"

namespace {

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

bool sendAll(int fd, const std::string& s) {
    for (size_t sent = 0; sent < s.size();) {
        const ssize_t n = send(fd, s.data() + sent, s.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void serve(int fd, long long count) {
    const std::string message = "Subject: one\r\n\r\nbody\r\n";
    if (!sendAll(fd, "+OK claims\r\n")) return;
    std::string in;
    char chunk[4096];
    for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        in.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = in.find("\r\n")) != std::string::npos;) {
            const std::string c = in.substr(0, end);
            in.erase(0, end + 2);
            bool ok = true;
            if (c == "CAPA") {
                ok = sendAll(fd, "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n");
            } else if (c == "STAT") {
                ok = sendAll(fd, "+OK " + std::to_string(count) + " " + std::to_string(count * 22) + "\r\n");
            } else if (c == "LIST") {
                ok = sendAll(fd, "+OK\r\n");
                std::string lines;
                for (long long k = 1; ok && k <= count; ++k) {
                    lines += std::to_string(k) + " 22\r\n";
                    if (lines.size() > 65536 || k == count) {
                        ok = sendAll(fd, lines);
                        lines.clear();
                    }
                }
                ok = ok && sendAll(fd, ".\r\n");
            } else if (c.rfind("LIST ", 0) == 0) {
                ok = sendAll(fd, "+OK " + c.substr(5) + " 22\r\n");
            } else if (c.rfind("RETR ", 0) == 0) {
                ok = sendAll(fd, "+OK\r\n" + message + ".\r\n");
            } else if (c == "QUIT") {
                sendAll(fd, "+OK\r\n");
                return;
            } else {
                ok = sendAll(fd, "+OK\r\n");
            }
            if (!ok) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<long long> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoll(argv[i]));
    if (counts.empty()) counts = {1000, 1000000, 5000000, 9999999, 20000000};
    using namespace platform;
    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
    for (long long claimed : counts) {
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        std::thread server([listener, claimed] {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0) serve(fd, claimed);
            if (fd >= 0) close(fd);
        });
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak afresh, from here
        const long before = statusKb("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        const int32_t handle = NMailPop3Connect("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
        const int32_t count = NMailPop3Authenticate(handle, "user", "pw", 0);
        char b[8192];
        const int32_t first = count > 0 ? NMailPop3GetMailStatus(handle, 1, b, b, b, b, 0) : -1;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peak = statusKb("VmHWM:");
        NMailPop3Close(handle);
        server.join();
        close(listener);
        std::printf("claimed=%lld count=%d first_status=%d seconds=%.3f rss_before_kb=%ld peak_rss_kb=%ld growth_mb=%.1f\n",
                    claimed, count, first, seconds, before, peak, (peak - before) / 1024.0);
        std::fflush(stdout);
    }
    NMailEndWinSock();
    return 0;
}
