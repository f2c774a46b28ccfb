// A mail check as the program makes it (connect, log in, then status, size and fetch for each
// message into a body buffer of size + 1, close), timed, with the peak resident memory.
// Usage: pop3_vs_curl SERVER USER PASSWORD [CA_PEM]. Prints figures; judges nothing. Run by
// pop3_vs_curl.sh. With VELLUMINE_CHECK_IN_LOOP=1 in the environment the calls wait through the
// program's own event loop, as the program's check does (beside the rest of the program where the
// build has that), rather than through the library's plain waits.
#include <QCoreApplication>
#include <QSslSocket>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "bench_net.h"
#include "core/qt_event_loop.h"
#include "platform/nmail.h"
#if __has_include("core/beside.h")
#include "core/beside.h"
#define VELLUMINE_BESIDE 1
#endif

namespace {

struct Result {
    int32_t count = -1;
    long long octets = 0;
    int failures = 0;
    double seconds = 0;
    long before = 0, peak = 0;
};

Result check(const char* server, const char* user, const char* password) {
    using namespace platform;
    Result r;
    std::ofstream("/proc/self/clear_refs") << "5";  // start the peak afresh, from here
    r.before = bench::StatusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const int32_t handle = NMailPop3Connect(server);
    r.count = handle < 0 ? -1 : NMailPop3Authenticate(handle, user, password, 0);
    static char b1[8192], b2[8192], b3[8192], b4[8192];
    for (int32_t n = 1; n <= r.count; ++n) {
        r.failures += NMailPop3GetMailStatus(handle, n, b1, b2, b3, b4, 0) < 0;
        const int32_t size = NMailPop3GetMailSize(handle, n);
        r.failures += size < 0;
        std::unique_ptr<char[]> body(new char[static_cast<size_t>(std::max(size, 0)) + 1]);
        const int32_t got = NMailPop3GetMail(handle, n, b1, b2, b3, b4, body.get(), std::max(size, 0) + 1, 0, 0);
        r.failures += got < 0;
        r.octets += std::max(got, 0);
    }
    if (handle >= 0) NMailPop3Close(handle);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peak = bench::StatusKb("VmHWM:");
    return r;
}

// The check as the program runs it: beside the rest of the program, resumed by its event loop.
Result checkInLoop(const char* server, const char* user, const char* password) {
#ifdef VELLUMINE_BESIDE
    Result r;
    core::RunBeside([&] { r = check(server, user, password); });
    while (core::BesideRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return r;
#else
    return check(server, user, password);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD [CA_PEM]\n", argv[0]);
        return 2;
    }
    using namespace platform;
    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
    if (argc > 4) NMailAddTrustedCertificates(argv[4]);
    // The libraries the client loads on first use (Qt Network, its TLS plugin, OpenSSL) are loaded
    // before the figures start, so that the peak shows what the check itself holds. The first check
    // is the one compared; the second shows a later check of the same process.
    {
        QSslSocket warm;
        QSslSocket::supportsSsl();
    }
    std::unique_ptr<core::QtEventLoop> loop;
    if (qEnvironmentVariableIntValue("VELLUMINE_CHECK_IN_LOOP") == 1) {
        loop = std::make_unique<core::QtEventLoop>();
        core::SetLoop(loop.get());
    }
    const auto run = loop ? checkInLoop : check;
    Result first = run(argv[1], argv[2], argv[3]);
    Result second = run(argv[1], argv[2], argv[3]);
    if (first.count < 0 || second.count < 0) {
        char text[8192];
        int32_t size = sizeof text;
        NMailGetMessage(0, text, &size);
        std::fprintf(stderr, "check failed: %s\n", text);
        return 1;
    }
    std::printf("messages=%d body_octets=%lld failures=%d seconds=%.3f rss_before_kb=%ld peak_rss_kb=%ld "
                "second_seconds=%.3f second_rss_before_kb=%ld second_peak_rss_kb=%ld\n",
                first.count, first.octets, first.failures + second.failures, first.seconds, first.before, first.peak,
                second.seconds, second.before, second.peak);
    NMailEndWinSock();
    return first.failures + second.failures ? 1 : 0;
}
