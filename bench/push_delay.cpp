// Push delay: from a delivery to the moment the program starts its check, and to the moment that
// check has the count the notice board shows. Any IMAP server that offers IDLE.
//
//   push_delay SERVER USER PASSWORD DELIVER [--count N] [--ca PEM] [--apop]
//       SERVER as the program takes it (imap://host:port, imaps://host:port, host:993 ...). DELIVER
//       is a shell command (sh -c) that delivers the message it reads on its standard input into
//       USER's INBOX, e.g. "doveadm save -u alice" or "/usr/lib/dovecot/dovecot-lda -d alice".
//       The program's push connection (the library's, with the program's policy: EXAMINE INBOX, IDLE)
//       idles on INBOX; N times (default 10) a new message is delivered, and the tool notes
//         notice  from starting DELIVER to the push connection hearing the grown EXISTS, where the
//                 program posts its check (the check starts at the loop's next turn);
//         count   from starting DELIVER to the check (connect, login, STATUS, as the program's) having
//                 the unseen count, which the board then shows.
//       Prints each delivery, then the median and range of both, in milliseconds. Starting DELIVER
//       is counted in (a doveadm process starts in some tens of ms). Exit 1 when a notice never came
//       (30 s), the server has no IDLE, or the login failed.
// Judges nothing on its own.
#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/beside.h"
#include "core/qt_event_loop.h"
#include "platform/imap_push.h"
#include "platform/net_wait.h"
#include "platform/nmail.h"

namespace {

double Ms(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

void Summary(const char* name, std::vector<double> v) {
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    std::printf("%-7s median %.1f ms  range %.1f–%.1f ms  (%zu deliveries)\n", name, median, v.front(), v.back(), n);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD DELIVER [--count N] [--ca PEM] [--apop]\n", argv[0]);
        return 2;
    }
    const std::string server = argv[1], user = argv[2], password = argv[3], deliver = argv[4];
    int count = 10;
    bool apop = false;
    for (int i = 5; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--count") && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--ca") && i + 1 < argc) platform::NMailAddTrustedCertificates(argv[++i]);
        else if (!std::strcmp(argv[i], "--apop")) apop = true;
    }
    core::QtEventLoop loop;
    core::SetLoop(&loop);
    platform::NMailInitializeWinSock();

    std::vector<double> notices, counts;
    int status = 0;
    // In the push lane, as in the program: its waits are the loop's, the tool's main loop turns it.
    core::RunBeside([&] {
        const auto push = platform::NMailImapPush(server);
        if (!push) {
            std::fprintf(stderr, "not an IMAP server: %s\n", server.c_str());
            status = 1;
            return;
        }
        const auto opened = push->open(user, password, apop);
        if (opened != platform::imap::Push::Opened::Idling) {
            std::fprintf(stderr, "%s\n", opened == platform::imap::Push::Opened::NoIdle ? "the server offers no IDLE"
                                                                                        : push->error().c_str());
            status = 1;
            return;
        }
        for (int i = 1; i <= count && status == 0; ++i) {
            const std::string message = "From: bench@example.org\r\nTo: " + user + "\r\nSubject: push " +
                                        std::to_string(i) + "\r\n\r\nA message for the push benchmark.\r\n";
            QProcess delivery;
            const auto start = std::chrono::steady_clock::now();
            delivery.start("/bin/sh", {"-c", QString::fromStdString(deliver)});
            delivery.write(message.data(), qint64(message.size()));
            delivery.closeWriteChannel();
            using Heard = platform::imap::Push::Heard;
            Heard heard = Heard::Nothing;
            while (heard == Heard::Nothing && Ms(start) < 30000) heard = push->listen(uint32_t(30000 - Ms(start)));
            if (heard != Heard::News) {
                // A delivery that failed explains a missing notice: say so rather than blame the server.
                platform::Net().WaitUntil([&] { return delivery.state() == QProcess::NotRunning; }, 1000);
                const std::string delivered = delivery.state() != QProcess::NotRunning ? " (the delivery still runs)"
                                              : delivery.exitStatus() != QProcess::NormalExit || delivery.exitCode() != 0
                                                  ? " (the delivery failed: " + delivery.readAllStandardError().trimmed().left(200).toStdString() + ")"
                                                  : "";
                std::fprintf(stderr, "delivery %d: %s%s\n", i, heard == Heard::Lost ? push->error().c_str() : "no notice within 30 s",
                             delivered.c_str());
                status = 1;
                break;
            }
            const double notice = Ms(start);
            const int32_t handle = platform::NMailPop3Connect(server);
            const int32_t unseen = handle < 0 ? -1 : platform::NMailPop3Authenticate(handle, user, password, apop ? -1 : 0);
            const double counted = Ms(start);
            if (handle >= 0) platform::NMailPop3Close(handle);
            platform::Net().WaitUntil([&] { return delivery.state() == QProcess::NotRunning; }, 30000);
            if (delivery.exitCode() != 0) std::fprintf(stderr, "delivery %d: the command exited with %d\n", i, delivery.exitCode());
            std::printf("delivery %2d: notice %7.1f ms  count %7.1f ms  (unseen %d)\n", i, notice, counted, unseen);
            notices.push_back(notice);
            if (unseen >= 0) counts.push_back(counted);
        }
        push->quit();
    }, core::Lane::Push);
    while (core::BesideRunning(core::Lane::Push)) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    Summary("notice", notices);
    Summary("count", counts);
    platform::NMailEndWinSock();
    core::SetLoop(nullptr);
    return status;
}
