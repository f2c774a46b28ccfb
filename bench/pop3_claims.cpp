// What a server's claims cost us: a server of our own on loopback claims COUNT messages (STAT, and a
// LIST of COUNT lines streamed as fast as we read it), and our client logs in and reads the first
// message. Prints, for each count, what the login returned, how long it took, and how far it raised
// the process's resident memory (peak over the login, above what it held before). Judges nothing.
// Usage: pop3_claims [COUNT...]   (default: 1000 1000000 5000000 9999999 20000000)
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_net.h"
#include "platform/nmail.h"

namespace {

void serve(int fd, long long count) {
    using bench::SendAll;
    const std::string message = "Subject: one\r\n\r\nbody\r\n";
    bench::ServeCommands(fd, "+OK claims\r\n", [&](const std::string& c) {
        if (c == "CAPA") return SendAll(fd, "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n");
        if (c == "STAT") return SendAll(fd, "+OK " + std::to_string(count) + " " + std::to_string(count * 22) + "\r\n");
        if (c == "LIST") {
            bool ok = SendAll(fd, "+OK\r\n");
            std::string lines;
            for (long long k = 1; ok && k <= count; ++k) {
                lines += std::to_string(k) + " 22\r\n";
                if (lines.size() > 65536 || k == count) {
                    ok = SendAll(fd, lines);
                    lines.clear();
                }
            }
            return ok && SendAll(fd, ".\r\n");
        }
        if (c.rfind("LIST ", 0) == 0) return SendAll(fd, "+OK " + c.substr(5) + " 22\r\n");
        if (c.rfind("RETR ", 0) == 0) return SendAll(fd, "+OK\r\n" + message + ".\r\n");
        if (c == "QUIT") {
            SendAll(fd, "+OK\r\n");
            return false;
        }
        return SendAll(fd, "+OK\r\n");
    });
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
        int port = 0;
        const int listener = bench::ListenLoopback(0, 1, &port);
        std::thread server([listener, claimed] {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0) serve(fd, claimed);
            if (fd >= 0) close(fd);
        });
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak afresh, from here
        const long before = bench::StatusKb("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        const int32_t handle = NMailPop3Connect("127.0.0.1:" + std::to_string(port));
        const int32_t count = NMailPop3Authenticate(handle, "user", "pw", 0);
        char b[8192];
        const int32_t first = count > 0 ? NMailPop3GetMailStatus(handle, 1, b, b, b, b, 0) : -1;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peak = bench::StatusKb("VmHWM:");
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
