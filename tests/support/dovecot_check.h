#pragma once
// The program's mail check, made call for call as the program makes it, for the tests against Dovecot
// and against the scripted stand-in server. Header only: it needs the mail library, which the test
// support library does not link.
#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/nmail.h"

namespace testsupport {

// A buffer with canary bytes on both sides, so that a write past either end shows.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int32_t size) : bytes_(static_cast<size_t>(size) + 2 * kGuard, kCanary), size_(size) {}
    char* data() { return bytes_.data() + kGuard; }
    int32_t size() const { return size_; }
    std::string text() const { return std::string(bytes_.data() + kGuard, strnlen(bytes_.data() + kGuard, size_)); }
    bool intact() const {
        const auto fine = [](char c) { return c == kCanary; };
        return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, fine) &&
               std::all_of(bytes_.end() - kGuard, bytes_.end(), fine) && strnlen(bytes_.data() + kGuard, size_) < size_t(size_);
    }

private:
    static constexpr size_t kGuard = 64;
    static constexpr char kCanary = '\xA5';
    std::vector<char> bytes_;
    int32_t size_;
};

// What one check, made as the program makes it, brought back.
struct CheckedMail {
    std::string subject, date, from, header, body;
    int32_t statusResult = 0, size = 0, mailResult = 0;
};
struct Check {
    int32_t handle = -1, count = -1;
    std::vector<CheckedMail> mails;
    std::string failure;  // NMailGetMessage after a failed connect or login
    int32_t refusal = -1, waitSeconds = 0;  // NMailPop3LoginRefusal after the login
    bool buffersIntact = true;
};

inline std::string lastFailure() {
    char text[8192];
    int32_t size = sizeof text;
    return platform::NMailGetMessage(0, text, &size) >= 0 ? std::string(text) : std::string();
}

// The program's order: connect; log in; for each message status, size, fetch with size + 1 bytes (POP3
// only); close.
// Events are handled between the calls, as a GUI thread may, which must not disturb the connection.
inline Check runProgramCheck(const std::string& server, const std::string& user, const std::string& password,
                             bool apop = false) {
    Check check;
    check.handle = platform::NMailPop3Connect(server);
    if (check.handle < 0) {
        check.failure = lastFailure();
        return check;
    }
    check.count = platform::NMailPop3Authenticate(check.handle, user, password, apop ? -1 : 0);
    if (check.count < 0) check.failure = lastFailure();
    check.refusal = platform::NMailPop3LoginRefusal(check.handle, &check.waitSeconds);
    // As the program does, an IMAP server's count is not walked: it downloads nothing.
    const int32_t messages = platform::NMailIsImap(check.handle) ? 0 : check.count;
    for (int32_t n = 1; n <= messages; ++n) {
        std::vector<GuardedBuffer> texts(4, GuardedBuffer(platform::NMailBufferSize()));
        CheckedMail mail;
        mail.statusResult = platform::NMailPop3GetMailStatus(check.handle, n, texts[0].data(), texts[1].data(),
                                                             texts[2].data(), texts[3].data(), 0);
        QCoreApplication::processEvents();
        mail.size = platform::NMailPop3GetMailSize(check.handle, n);
        QCoreApplication::processEvents();
        GuardedBuffer body(std::max(mail.size, 0) + 1);
        mail.mailResult = platform::NMailPop3GetMail(check.handle, n, texts[0].data(), texts[1].data(), texts[2].data(),
                                                     texts[3].data(), body.data(), body.size(), 0, 0);
        mail.subject = texts[0].text();
        mail.date = texts[1].text();
        mail.from = texts[2].text();
        mail.header = texts[3].text();
        mail.body = body.text();
        for (const auto& b : texts) check.buffersIntact = check.buffersIntact && b.intact();
        check.buffersIntact = check.buffersIntact && body.intact();
        check.mails.push_back(std::move(mail));
    }
    platform::NMailPop3Close(check.handle);
    return check;
}

}  // namespace testsupport
