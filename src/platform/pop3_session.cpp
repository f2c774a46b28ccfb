#include "platform/pop3_session.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/net_wait.h"

namespace platform::pop3 {

namespace {

// RFC 1939 allows 512 octets, but real servers send much longer header lines; beyond this a line is
// taken as a broken or hostile server.
constexpr size_t kMaxLine = 1 << 20;
// RFC 2449 limits a command line to 255 octets, CR LF included.
constexpr size_t kMaxCommand = 255;
// A LIST line ("n octets") is short; servers that add to it stay well within this.
constexpr uint64_t kMaxListLine = 64;

// What a message's reply may take, by the size LIST gave (none: -1).
uint64_t messageBound(int64_t size) {
    if (size < 0 || static_cast<uint64_t>(size) >= kMaxReply / 2) return kMaxReply;
    return std::min(kMaxReply, 2 * static_cast<uint64_t>(size) + kReplySlack);
}

bool hasForbiddenByte(const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

// Keeps a multi-line reply as text, up to a cap.
class TextSink : public Sink {
public:
    explicit TextSink(size_t cap) : cap_(cap) {}
    void write(const char* data, size_t size) override {
        text.append(data, std::min(size, cap_ - std::min(cap_, text.size())));
    }
    std::string text;

private:
    size_t cap_;
};

class NullSink : public Sink {
public:
    void write(const char*, size_t) override {}
};

// Reads the lines of a LIST reply ("n octets") as they stream in, keeping the sizes of messages 1, 2,
// … for as long as the lines come in that order and make sense, up to kMaxKeptSizes; a message past
// that is asked for alone. Nothing but the sizes is kept, at most one per message the server said it
// holds.
class SizeList : public Sink {
public:
    SizeList(std::vector<int64_t>& sizes, int32_t count) : sizes_(sizes), count_(count) {}
    void write(const char* data, size_t size) override {
        for (size_t i = 0; i < size && inOrder_; ++i) {
            if (data[i] != '\n') {
                if (line_.size() < 64) line_ += data[i];
                else inOrder_ = false;
                continue;
            }
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            const auto numbers = okNumbers("+OK " + line_);
            line_.clear();
            if (!numbers || numbers->first != int64_t(sizes_.size()) + 1 || numbers->first > count_ ||
                sizes_.size() >= kMaxKeptSizes) {
                inOrder_ = false;
            } else {
                sizes_.push_back(numbers->second);
            }
        }
    }

private:
    std::vector<int64_t>& sizes_;
    int32_t count_;
    std::string line_;
    bool inOrder_ = true;
};

}  // namespace

Session::Session(ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted)
    : Connection(std::move(address), limits, std::move(extraTrusted)) {}


bool Session::inTransaction(int32_t number) {
    if (!usable()) return false;
    if (!loggedIn_) return fail("ログインしていません。");
    if (number < 1) return fail("メッセージ番号 " + std::to_string(number) + " は正しくありません。");
    return true;
}

bool Session::sendCommands(std::vector<Sent> commands) {
    if (commands.empty()) return true;
    std::string wire;
    for (const Sent& c : commands) wire += c.command + "\r\n";
    if (!send(wire)) return false;
    for (Sent& c : commands) pending_.push_back(std::move(c));
    return true;
}

Session::Status Session::readStatus(std::string& line) {
    ReplyTimer timer(limits_.replyMs);
    line.clear();
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* newline = std::memchr(start, '\n', end_ - begin_);
        const size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : end_ - begin_;
        line.append(start, std::min(take, kMaxLine + 1 - std::min(kMaxLine + 1, line.size())));
        begin_ += newline ? take + 1 : take;
        if (line.size() > kMaxLine) {
            breakOff("サーバーの応答の行が長すぎます。");
            return Status::Broken;
        }
        if (newline) break;
        if (!fill(timer)) return Status::Broken;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (isOk(line)) return Status::Ok;
    if (isErr(line)) return Status::Err;
    breakOff("サーバーの応答が正しくありません: " + printableServerText(line));
    return Status::Broken;
}

Session::Status Session::replyStatus(std::string& line) {
    const Status status = readStatus(line);
    // A reply that ends with its status line is done with; a multi-line one when its "." has come.
    if (status != Status::Broken && !pending_.empty() && !(status == Status::Ok && pending_.front().multiLine)) {
        pending_.pop_front();
    }
    return status;
}

bool Session::readBody(Sink& out, DotUnstuffer& unstuffer, uint64_t& left) {
    ReplyTimer timer(limits_.replyMs);
    for (;;) {
        if (begin_ < end_) {
            const size_t took = unstuffer.feed(buffer_.data() + begin_, std::min<uint64_t>(end_ - begin_, left), out);
            begin_ += took;
            left -= took;
            if (unstuffer.lineTooLong()) return breakOff("サーバーの応答の行が長すぎます。");
            if (unstuffer.finished()) return true;
            if (left == 0) return breakOff("サーバーの応答が長すぎます。");
        }
        if (!fill(timer)) return false;
    }
}

bool Session::readBody(Sink& out, uint64_t bound) {
    DotUnstuffer unstuffer(kMaxLine);
    return readBody(out, unstuffer, bound);
}

bool Session::readHeaderPart(Held& held) {
    held.unstuffer = std::make_unique<DotUnstuffer>(kMaxLine);
    held.relay = std::make_unique<Relay>();
    held.splitter = std::make_unique<HeaderSplitter>(held.relay.get());
    ReplyTimer timer(limits_.replyMs);
    for (;;) {
        if (begin_ < end_) {
            // A line at a time, so that the header's end is where the reading stops: the body stays
            // in the stream for whoever fetches it.
            const char* start = buffer_.data() + begin_;
            const void* newline = std::memchr(start, '\n', end_ - begin_);
            const size_t piece = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) + 1 : end_ - begin_;
            const size_t took = held.unstuffer->feed(start, std::min<uint64_t>(piece, held.left), *held.splitter);
            begin_ += took;
            held.left -= took;
            if (held.unstuffer->lineTooLong()) return breakOff("サーバーの応答の行が長すぎます。");
            if (held.unstuffer->finished() || held.splitter->inBody()) break;
            if (held.left == 0) return breakOff("サーバーの応答が長すぎます。");
            continue;
        }
        if (!fill(timer)) return false;
    }
    setHeader(held.header, held.splitter->header());
    held.bodyPending = !held.unstuffer->finished();
    return true;
}

bool Session::skipReply() {
    std::string line;
    const bool multiLine = pending_.front().multiLine;
    const Status status = replyStatus(line);
    if (status == Status::Broken) return false;
    if (status == Status::Ok && multiLine) {
        NullSink nothing;
        if (!readBody(nothing, kMaxReply)) return false;
        pending_.pop_front();
    }
    return true;
}

bool Session::dropHeld() {
    Held held = std::move(held_);
    held_ = Held{};
    if (!held.bodyPending) return true;
    NullSink nothing;
    if (!readBody(nothing, *held.unstuffer, held.left)) return false;
    pending_.pop_front();
    return true;
}

bool Session::settle() {
    if (!dropHeld()) return false;
    while (!pending_.empty()) {
        if (!skipReply()) return false;
    }
    return true;
}

bool Session::nextIs(int32_t retr) {
    if (!dropHeld()) return false;
    if (std::none_of(pending_.begin(), pending_.end(), [&](const Sent& s) { return s.retr == retr; })) {
        settle();
        return false;
    }
    while (pending_.front().retr != retr && pending_.front().list != retr) {
        if (!skipReply()) return false;
    }
    return true;
}

int64_t Session::sizeHint(int64_t number) const {
    // A message LIST did not size may be of any size: it goes ahead only when nothing else does.
    return sized(number) ? std::max<int64_t>(0, sizes_[number - 1]) : kMaxOctetsAhead;
}

void Session::addMessage(int32_t number, std::vector<Sent>& to) const {
    const std::string n = std::to_string(number);
    // Its size goes just ahead of it, so that the size call finds it without settling what is in
    // flight (which would throw the message's reply away and fetch it again).
    if (!sized(number)) to.push_back({"LIST " + n, false, 0, number});
    to.push_back({"RETR " + n, true, number});
}

bool Session::topUp(int32_t number) {
    std::vector<Sent> more;
    if (pending_.empty()) addMessage(number, more);
    int64_t last = number, octetsAhead = 0;
    size_t ahead = 0;
    for (const Sent& s : pending_) {
        if (s.retr <= number) continue;
        last = std::max<int64_t>(last, s.retr);
        octetsAhead += sizeHint(s.retr);
        ++ahead;
    }
    for (int64_t k = last + 1; k <= count_ && pending_.size() + more.size() + (sized(k) ? 1 : 2) <= kMaxAhead; ++k) {
        const int64_t octets = sizeHint(k);
        if (ahead > 0 && octetsAhead + octets > kMaxOctetsAhead) break;
        addMessage(static_cast<int32_t>(k), more);
        octetsAhead += octets;
        ++ahead;
    }
    return sendCommands(std::move(more));
}

bool Session::readCapabilities(bool sent) {
    offersStls_ = offersPipelining_ = false;
    announcedDelay_ = 0;
    std::string line;
    if (!sent && !sendCommands({{"CAPA", true}})) return false;
    const Status status = replyStatus(line);
    if (status == Status::Broken) return false;
    if (status == Status::Err) return true;  // an RFC 1939 server without CAPA: it offers nothing
    TextSink list(kMaxCapabilities);
    if (!readBody(list, kMaxCapabilities)) return false;
    pending_.pop_front();
    size_t pos = 0;
    while (pos < list.text.size()) {
        size_t end = list.text.find('\n', pos);
        if (end == std::string::npos) end = list.text.size();
        std::string word = list.text.substr(pos, std::min(end, list.text.find_first_of(" \t\r", pos)) - pos);
        if (const auto delay = loginDelayOf(std::string_view(list.text).substr(pos, end - pos))) announcedDelay_ = *delay;
        pos = end + 1;
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "STLS") offersStls_ = true;
        if (word == "PIPELINING") offersPipelining_ = true;
    }
    return true;
}

bool Session::readSizes(int32_t count) {
    std::string line;
    const Status status = replyStatus(line);
    if (status == Status::Broken) return false;
    if (status == Status::Err) return true;  // every size is then asked for alone
    SizeList sizes(sizes_, count);
    if (!readBody(sizes, static_cast<uint64_t>(count) * kMaxListLine + kReplySlack)) return false;
    pending_.pop_front();
    return true;
}

int32_t Session::login(const std::string& user, const std::string& password, bool apop) {
    Busy busy(*this);
    const auto refuse = [this](std::string message) {
        // The rest of what was sent is answered and dropped, so that QUIT's answer is QUIT's.
        settle();
        fail(std::move(message));
        return -1;
    };
    const auto abandon = [this](std::string message) { breakOff(std::move(message)); return -1; };
    // The words follow what the server meant: only a refusal about the account is called one.
    const auto refused = [&](const std::string& line, bool credentials) {
        refusal_ = refusalOf(line, credentials);
        refusalCode_ = responseCode(line);
        switch (refusal_) {
        case Refusal::Temporary: return refuse("サーバーが今はログインを受け付けません。後でもう一度確認します。" + serverSays(line));
        case Refusal::Password: return refuse("認証に失敗しました。" + serverSays(line));
        default:
            return refuse((credentials ? "サーバーがログインを拒否しました。" : "メールボックスの状態を取得できませんでした。") +
                          serverSays(line));
        }
    };
    if (!usable()) return -1;
    if (loggedIn_) return refuse("既にログインしています。");
    // User data never adds a line of its own to what we send, nor makes a command too long.
    if (hasForbiddenByte(user)) return refuse("ユーザー名に使えない文字(改行など)が含まれています。");
    if (hasForbiddenByte(password)) return refuse("パスワードに使えない文字(改行など)が含まれています。");
    const size_t userLine = apop ? 5 + user.size() + 1 + 32 + 2 : 5 + user.size() + 2;
    if (userLine > kMaxCommand) return refuse("ユーザー名が長すぎます。");
    if (!apop && 5 + password.size() + 2 > kMaxCommand) return refuse("パスワードが長すぎます。");

    if (address_.implicitTls && !tls_ && !startTls()) return -1;
    // CAPA goes out at once, without waiting for the greeting: its answer follows the greeting, and
    // the round trip overlaps the greeting's way here. It is one command, not a pipeline.
    if (!sendCommands({{"CAPA", true}})) return -1;
    std::string greeting;
    const Status hello = readStatus(greeting);
    if (hello == Status::Broken) return -1;
    greeted_ = true;
    if (hello == Status::Err) return abandon("サーバーが接続を受け付けませんでした。" + serverSays(greeting));
    if (!readCapabilities(true)) return -1;
    if (!tls_ && offersStls_) {
        std::string line;
        if (!sendCommands({{"STLS"}})) return -1;
        const Status status = replyStatus(line);
        if (status == Status::Broken) return -1;
        // Offered but refused: we go no further rather than send the password in clear.
        if (status == Status::Err) return abandon("暗号化 (STLS) を始められませんでした。" + serverSays(line));
        if (!startTls() || !readCapabilities()) return -1;
    }

    std::vector<Sent> logIn;
    if (apop) {
        const auto timestamp = greetingTimestamp(greeting);
        if (!timestamp) {
            return refuse("サーバーの挨拶に APOP のタイムスタンプがないため、APOP でログインできません。");
        }
        logIn.push_back({"APOP " + user + " " + apopDigest(*timestamp, password)});
    } else {
        logIn.push_back({"USER " + user});
        logIn.push_back({"PASS " + password});
    }
    // With PIPELINING, USER and PASS go out together (both are read by the server's login process; a
    // refusal is then answered by -ERR to PASS, which is read and dropped). Nothing else goes with
    // them: the server may hand the connection to another process at PASS and lose what followed.
    const size_t steps = logIn.size();
    const bool together = offersPipelining_;
    if (together && !sendCommands(logIn)) return -1;
    std::string line;
    for (size_t i = 0; i < steps; ++i) {
        if (!together && !sendCommands({logIn[i]})) return -1;
        const Status status = replyStatus(line);
        if (status == Status::Broken) return -1;
        if (status == Status::Err) return refused(line, true);
    }
    if (!sendCommands(together ? std::vector<Sent>{{"STAT"}, {"LIST", true}} : std::vector<Sent>{{"STAT"}})) return -1;
    const Status status = replyStatus(line);
    if (status == Status::Broken) return -1;
    if (status == Status::Err) return refused(line, false);
    const auto numbers = okNumbers(line);
    if (!numbers || numbers->first < 0 || numbers->first > kMaxMessages) {
        return abandon("サーバーの STAT の応答が正しくありません: " + printableServerText(line));
    }
    loggedIn_ = true;
    count_ = static_cast<int32_t>(numbers->first);
    // The sizes: a connection that breaks here fails the calls that follow, not the login.
    if (!together && count_ > 0) sendCommands({{"LIST", true}});
    if (!pending_.empty()) readSizes(count_);
    return count_;
}

int Session::loginDelaySeconds() const {
    if (announcedDelay_ > 0) return announcedDelay_;
    return refusal_ == Refusal::Temporary ? retryAfterSeconds(refusalCode_) : 0;
}

void Session::setHeader(HeaderInfo& out, const std::string& block) const {
    out.block = block;
    out.subject = headerField(out.block, "Subject");
    out.date = headerField(out.block, "Date");
    out.from = headerField(out.block, "From");
}

bool Session::begin(int32_t number) {
    // Whatever is held or in flight before this message is read and dropped (calls out of the
    // program's order); without PIPELINING nothing else is in flight.
    const bool queued = offersPipelining_ && nextIs(number);
    if (broken_ || (!queued && !settle())) return false;
    if (offersPipelining_ ? !topUp(number) : !sendCommands({sized(number) ? Sent{"RETR " + std::to_string(number), true, number}
                                                                       : Sent{"LIST " + std::to_string(number), false, 0, number}})) {
        return false;
    }
    Held held;
    held.number = number;
    int64_t size = sized(number) ? sizes_[number - 1] : -1;
    if (!sized(number)) {
        held.listed = true;
        held.listStatus = replyStatus(held.listLine);
        if (held.listStatus == Status::Broken) return false;
        const auto numbers = held.listStatus == Status::Ok ? okNumbers(held.listLine) : std::nullopt;
        if (numbers) size = numbers->second;
        if (!offersPipelining_ && !sendCommands({{"RETR " + std::to_string(number), true, number}})) return false;
    }
    held.left = messageBound(size);
    const Status status = replyStatus(held.statusLine);
    if (status == Status::Broken) return false;
    held.ok = status == Status::Ok;
    if (held.ok && !readHeaderPart(held)) return false;
    if (held.ok && !held.bodyPending) pending_.pop_front();
    held_ = std::move(held);
    return true;
}

bool Session::header(int32_t number, HeaderInfo& out) {
    Busy busy(*this);
    out = {};
    if (!inTransaction(number)) return false;
    if (held_.number != number && !begin(number)) return false;
    if (!held_.ok) {
        return fail("メッセージ " + std::to_string(number) + " のヘッダーを取得できませんでした。" + serverSays(held_.statusLine));
    }
    out = held_.header;
    return true;
}

int64_t Session::sizeFrom(Status status, const std::string& line, int32_t number) {
    const std::string n = std::to_string(number);
    if (status == Status::Err) {
        fail("メッセージ " + n + " の大きさを取得できませんでした。" + serverSays(line));
        return -1;
    }
    const auto numbers = okNumbers(line);
    if (!numbers) {
        fail("メッセージ " + n + " の大きさの応答が正しくありません: " + printableServerText(line));
        return -1;
    }
    return numbers->second;
}

int64_t Session::size(int32_t number) {
    Busy busy(*this);
    if (!inTransaction(number)) return -1;
    int64_t octets = 0;
    if (sized(number)) {
        octets = sizes_[number - 1];
    } else if (held_.number == number && held_.listed) {
        octets = sizeFrom(held_.listStatus, held_.listLine, number);
        if (octets == -1) return -1;
    } else {
        // Asked for out of the program's order: alone, after whatever is in flight.
        std::string line;
        if (!settle() || !sendCommands({{"LIST " + std::to_string(number)}})) return -1;
        const Status status = replyStatus(line);
        if (status == Status::Broken) return -1;
        octets = sizeFrom(status, line, number);
        if (octets == -1) return -1;
    }
    // The caller makes a buffer of size + 1 from what we return.
    if (octets > INT32_MAX - 1) {
        fail("メッセージ " + std::to_string(number) + " の大きさ (" + std::to_string(octets) + " オクテット) が大きすぎます。");
        return -1;
    }
    return std::max<int64_t>(0, octets);
}

bool Session::fetch(int32_t number, HeaderInfo& out, Sink& body) {
    Busy busy(*this);
    out = {};
    if (!inTransaction(number)) return false;
    // Its header was read by the status call (or is read now): the rest of the same reply is the body.
    if (held_.number != number && !begin(number)) return false;
    Held held = std::move(held_);
    held_ = Held{};
    if (!held.ok) return fail("メッセージ " + std::to_string(number) + " を取得できませんでした。" + serverSays(held.statusLine));
    out = held.header;
    if (!held.bodyPending) return true;
    held.relay->to = &body;
    if (!readBody(*held.splitter, *held.unstuffer, held.left)) return false;
    pending_.pop_front();
    return true;
}

void Session::quit() {
    // Every reply that came is read before we close, or the system would reset the connection, and
    // the server could lose QUIT. Refused before the greeting was read (user data we would not
    // send): the greeting is such a reply.
    close([this] {
        std::string line;
        return greeted_ ? settle() : readStatus(line) != Status::Broken;
    }, "QUIT\r\n");
}

}  // namespace platform::pop3
