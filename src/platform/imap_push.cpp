#include "platform/imap_push.h"

#include <QSslSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/imap_text.h"
#include "platform/net_wait.h"

namespace platform::imap {

namespace {

// A count of messages from "n EXISTS" or "n EXPUNGE", n no longer than any real mailbox's.
std::optional<int64_t> numbered(const Response& r, std::string_view word) {
    if (r.kind != Kind::Untagged || r.status.empty() || r.status.size() > 12) return std::nullopt;
    if (r.status.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    std::string text = r.text;
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (text != word) return std::nullopt;
    return std::stoll(r.status);
}

// The system probes a connection that has been silent this long, so that a peer that vanished
// without a word (a router restarted, a laptop moved) is noticed by the kernel alone.
constexpr int kKeepIdleS = 120, kKeepIntervalS = 30, kKeepCount = 4;

}  // namespace

bool Push::heard(const std::string& response, bool& news) {
    const Response r = parseResponse(response);
    if (r.kind == Kind::Untagged && r.status == "BYE") return breakOff("サーバーが接続を閉じました。" + serverSays(response));
    if (const auto n = numbered(r, "EXISTS")) {
        if (exists_ >= 0 && *n > exists_) news = true;
        exists_ = *n;
    } else if (numbered(r, "EXPUNGE") && exists_ > 0) {
        --exists_;
    }
    return true;
}

bool Push::startIdle(bool& news, uint64_t& budget) {
    idleTag_ = nextTag();
    if (!send(idleTag_ + " IDLE\r\n")) return false;
    ReplyTimer timer(limits_.replyMs);
    std::string response;
    for (;;) {
        if (!readResponse(response, timer, budget)) return false;
        const Response r = parseResponse(response);
        if (r.kind == Kind::Continuation) return true;
        if (r.kind == Kind::Untagged) {
            if (!heard(response, news)) return false;
            continue;
        }
        if (r.kind == Kind::Tagged && r.tag == idleTag_) return breakOff("サーバーが IDLE を受け付けませんでした。" + serverSays(response));
        return breakOff("サーバーの応答が正しくありません: " + pop3::printableServerText(response));
    }
}

Push::Opened Push::open(const std::string& user, const std::string& password, bool secretStaysHere) {
    Busy busy(*this);
    if (!connect()) return Opened::Failed;
    socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = socket_->socketDescriptor();
    if (fd >= 0) {
        setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
        setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
        setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    }
    if (!signIn(user, password, secretStaysHere)) return Opened::Failed;
    // Many servers name IDLE only once the login is done, in its OK or when asked.
    if (!offers(capabilities_, "IDLE") && !readCapabilities()) return Opened::Failed;
    if (!offers(capabilities_, "IDLE")) return Opened::NoIdle;
    bool news = false;
    std::string line;
    const Result r = command("EXAMINE INBOX", line, [&](const std::string& response) { heard(response, news); });
    if (r == Result::Broken) return Opened::Failed;
    if (r != Result::Ok) return breakOff("メールボックスを開けませんでした。" + serverSays(line)), Opened::Failed;
    if (exists_ < 0) return breakOff("サーバーの EXAMINE の応答にメールの数がありません。"), Opened::Failed;
    uint64_t budget = kMaxAnswer;
    if (!startIdle(news, budget)) return Opened::Failed;
    // A message that came between EXAMINE and the go-ahead is news all the same: the next listen says so.
    pending_ = news;
    return Opened::Idling;
}

Push::Heard Push::listen(uint32_t limitMs) {
    Busy busy(*this);
    if (!usable()) return Heard::Lost;
    if (pending_) {
        pending_ = false;
        return Heard::News;
    }
    // The socket's own signals wake the wait: the loop need not look at it after every other event.
    QObject nudger;
    for (const auto signal : {&QIODevice::readyRead, &QIODevice::aboutToClose})
        QObject::connect(socket_.get(), signal, &nudger, [] { Net().Nudge(); });
    QObject::connect(socket_.get(), &QAbstractSocket::stateChanged, &nudger, [] { Net().Nudge(); });
    const bool came = begin_ != end_ || Net().WaitIdle([this] {
        return aborted_ || socket_->bytesAvailable() > 0 || socket_->state() != QAbstractSocket::ConnectedState;
    }, limitMs);
    if (aborted_) return breakOff(brokenReason_), Heard::Lost;
    if (!came) return Heard::Nothing;
    // What came is read to its end; one budget for all of it, so that a server that never stops
    // talking is cut off rather than keeping us busy.
    bool news = false;
    uint64_t budget = kMaxAnswer;
    std::string response;
    do {
        ReplyTimer timer(limits_.replyMs);
        if (!readResponse(response, timer, budget)) return Heard::Lost;
        const Response r = parseResponse(response);
        if (r.kind == Kind::Untagged) {
            if (!heard(response, news)) return Heard::Lost;
        } else if (r.kind == Kind::Tagged && r.tag == idleTag_ && r.status == "OK") {
            // The server ended IDLE by itself: we start it again.
            if (!startIdle(news, budget)) return Heard::Lost;
        } else {
            return breakOff("サーバーの応答が正しくありません: " + pop3::printableServerText(response)), Heard::Lost;
        }
    } while (begin_ != end_ || socket_->bytesAvailable() > 0);
    return news ? Heard::News : Heard::Nothing;
}

Push::Heard Push::renew() {
    Busy busy(*this);
    if (!usable() || !send("DONE\r\n")) return Heard::Lost;
    bool news = false;
    uint64_t budget = kMaxAnswer;
    ReplyTimer timer(limits_.replyMs);
    std::string response;
    for (;;) {
        if (!readResponse(response, timer, budget)) return Heard::Lost;
        const Response r = parseResponse(response);
        if (r.kind == Kind::Untagged) {
            if (!heard(response, news)) return Heard::Lost;
            continue;
        }
        if (r.kind == Kind::Tagged && r.tag == idleTag_ && r.status == "OK") break;
        return breakOff("サーバーの応答が正しくありません: " + pop3::printableServerText(response)), Heard::Lost;
    }
    if (!startIdle(news, budget)) return Heard::Lost;
    return news ? Heard::News : Heard::Nothing;
}

}  // namespace platform::imap
