#include "platform/pop3_session.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform::pop3 {

namespace {

constexpr size_t kReadChunk = 256 * 1024;
// RFC 1939 allows 512 octets, but real servers send much longer header lines; beyond this a line is
// taken as a broken or hostile server.
constexpr size_t kMaxLine = 1 << 20;
// The system's receive buffer (Linux doubles the figure): it bounds what Qt reads in at once, so that
// reading a large message costs little more than the message, and is still a window wide enough for
// a fast line. Qt's own read buffer limit is no use here: under TLS, blocking reads can stall on it,
// since Qt decrypts what it left over only from its event loop.
constexpr int kReceiveBuffer = 256 * 1024;
// RFC 2449 limits a command line to 255 octets, CR LF included.
constexpr size_t kMaxCommand = 255;
// The CAPA list is short; anything past this is ignored.
constexpr size_t kMaxCapabilities = 64 * 1024;

const QList<QSslCertificate>& systemCertificates() {
    static const QList<QSslCertificate> list = QSslConfiguration::systemCaCertificates();
    return list;
}

std::string toStd(const QString& s) { return s.toUtf8().toStdString(); }

std::string socketReason(const QAbstractSocket& socket) {
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError: return "接続を拒否されました";
    case QAbstractSocket::HostNotFoundError: return "サーバー名が見つかりません";
    case QAbstractSocket::SocketTimeoutError: return "時間内に応答がありませんでした";
    case QAbstractSocket::RemoteHostClosedError: return "サーバーが接続を閉じました";
    case QAbstractSocket::NetworkError: return "ネットワークに届きません";
    default: return toStd(socket.errorString());
    }
}

// Name lookup in a thread of its own: the system resolver has no time limit we could pass, and a
// lookup that outlives ours is simply left to finish and be thrown away.
QList<QHostAddress> resolve(const std::string& host, int ms, bool& timedOut) {
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QList<QHostAddress> addresses;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name = QString::fromStdString(host)] {
        const QList<QHostAddress> found = QHostInfo::fromName(name).addresses();
        std::lock_guard lock(lookup->mutex);
        lookup->addresses = found;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    timedOut = !lookup->done.wait_for(lock, std::chrono::milliseconds(ms), [&] { return lookup->finished; });
    return timedOut ? QList<QHostAddress>{} : lookup->addresses;
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

}  // namespace

int Session::ReplyTimer::waitMs() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    const int64_t overall = static_cast<int64_t>(replyMs_) + static_cast<int64_t>(octets_) - elapsed;
    return static_cast<int>(std::clamp<int64_t>(overall, 0, replyMs_));
}

Session::Session(ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted)
    : address_(std::move(address)), limits_(limits), extraTrusted_(std::move(extraTrusted)), buffer_(kReadChunk) {}

Session::~Session() {
    if (socket_) socket_->abort();
}

bool Session::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool Session::breakOff(std::string message) {
    broken_ = true;
    brokenReason_ = message;
    return fail(std::move(message));
}

bool Session::usable() {
    if (!socket_) return fail("サーバーに接続していません。");
    if (broken_) return fail("サーバーとの接続は既に使えません(" + brokenReason_ + ")");
    return true;
}

bool Session::inTransaction(int32_t number) {
    if (!usable()) return false;
    if (!loggedIn_) return fail("ログインしていません。");
    if (number < 1) return fail("メッセージ番号 " + std::to_string(number) + " は正しくありません。");
    return true;
}

std::string Session::serverSays(const std::string& line) const {
    return "サーバーの応答: " + printableServerText(line);
}

bool Session::connect() {
    socket_ = std::make_unique<QSslSocket>();
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.connectMs);
    const std::string where = "サーバー " + displayName(address_) + " に接続できませんでした。";

    QList<QHostAddress> addresses;
    QHostAddress literal;
    if (literal.setAddress(QString::fromStdString(address_.host))) {
        addresses << literal;
    } else {
        bool timedOut = false;
        addresses = resolve(address_.host, limits_.connectMs, timedOut);
        if (addresses.isEmpty()) {
            return breakOff(where + (timedOut ? "(サーバー名を時間内に調べられませんでした)" : "(サーバー名が見つかりません)"));
        }
    }
    std::string reason = "時間内に接続できませんでした";
    for (const QHostAddress& address : addresses) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        socket_->connectToHost(address, address_.port);
        if (socket_->waitForConnected(static_cast<int>(left))) {
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBuffer);
            return true;
        }
        reason = socketReason(*socket_);
        socket_->abort();
    }
    return breakOff(where + "(" + reason + ")");
}

bool Session::send(const std::string& commands) {
    if (socket_->write(commands.data(), static_cast<qint64>(commands.size())) != static_cast<qint64>(commands.size())) {
        return breakOff("サーバーに送れませんでした(" + socketReason(*socket_) + ")");
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.replyMs);
    while (socket_->bytesToWrite() > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !socket_->waitForBytesWritten(static_cast<int>(left))) {
            if (socket_->bytesToWrite() == 0) break;
            return breakOff("サーバーに送れませんでした(" + socketReason(*socket_) + ")");
        }
    }
    return true;
}

bool Session::fill(ReplyTimer& timer) {
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (end_ == buffer_.size()) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    for (;;) {
        const qint64 n = socket_->read(buffer_.data() + end_, static_cast<qint64>(buffer_.size() - end_));
        if (n > 0) {
            end_ += static_cast<size_t>(n);
            timer.received(static_cast<size_t>(n));
            return true;
        }
        if (n < 0 || socket_->state() != QAbstractSocket::ConnectedState) {
            return breakOff("サーバー " + displayName(address_) + " との接続が途中で切れました。");
        }
        const int wait = timer.waitMs();
        if (wait <= 0 || (!socket_->waitForReadyRead(wait) && socket_->bytesAvailable() == 0 &&
                          socket_->state() == QAbstractSocket::ConnectedState &&
                          socket_->error() == QAbstractSocket::SocketTimeoutError)) {
            return breakOff("サーバー " + displayName(address_) + " から時間内に応答がありませんでした。");
        }
    }
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

bool Session::readBody(Sink& out) {
    ReplyTimer timer(limits_.replyMs);
    DotUnstuffer unstuffer(kMaxLine);
    for (;;) {
        if (begin_ < end_) {
            begin_ += unstuffer.feed(buffer_.data() + begin_, end_ - begin_, out);
            if (unstuffer.lineTooLong()) return breakOff("サーバーの応答の行が長すぎます。");
            if (unstuffer.finished()) return true;
        }
        if (!fill(timer)) return false;
    }
}

bool Session::startTls() {
    if (!QSslSocket::supportsSsl()) return breakOff("この環境では TLS を使えません。");
    QSslConfiguration config = socket_->sslConfiguration();
    // Left alone, the system's list is searched as needed; naming any certificate replaces it, so then
    // the whole list is read (once) and named too.
    if (!extraTrusted_.isEmpty()) config.setCaCertificates(systemCertificates() + extraTrusted_);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(config);
    socket_->setPeerVerifyName(QString::fromStdString(address_.host));
    // Nothing the server said in clear may be taken as said under TLS.
    begin_ = end_ = 0;
    socket_->startClientEncryption();
    if (socket_->waitForEncrypted(limits_.replyMs)) {
        tls_ = true;
        return true;
    }
    const QList<QSslError> errors = socket_->sslHandshakeErrors();
    if (!errors.isEmpty()) {
        QStringList reasons;
        for (const QSslError& e : errors) reasons << e.errorString();
        return breakOff("サーバーの証明書を確認できませんでした: " + toStd(reasons.join("; ")));
    }
    if (socket_->error() == QAbstractSocket::SocketTimeoutError) {
        return breakOff("サーバー " + displayName(address_) + " との暗号化 (TLS) が時間内に始まりませんでした。");
    }
    return breakOff("サーバー " + displayName(address_) + " と暗号化 (TLS) で通信できませんでした: " +
                    toStd(socket_->errorString()));
}

bool Session::readCapabilities() {
    offersStls_ = offersPipelining_ = false;
    std::string line;
    if (!send("CAPA\r\n")) return false;
    const Status status = readStatus(line);
    if (status == Status::Broken) return false;
    if (status == Status::Err) return true;  // an RFC 1939 server without CAPA: it offers nothing
    TextSink list(kMaxCapabilities);
    if (!readBody(list)) return false;
    size_t pos = 0;
    while (pos < list.text.size()) {
        size_t end = list.text.find('\n', pos);
        if (end == std::string::npos) end = list.text.size();
        std::string word = list.text.substr(pos, std::min(end, list.text.find_first_of(" \t\r", pos)) - pos);
        pos = end + 1;
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "STLS") offersStls_ = true;
        if (word == "PIPELINING") offersPipelining_ = true;
    }
    return true;
}

int32_t Session::login(const std::string& user, const std::string& password, bool apop) {
    const auto refuse = [this](std::string message) { fail(std::move(message)); return -1; };
    const auto abandon = [this](std::string message) { breakOff(std::move(message)); return -1; };
    if (!usable()) return -1;
    if (loggedIn_) return refuse("既にログインしています。");
    // User data never adds a line of its own to what we send, nor makes a command too long.
    if (hasForbiddenByte(user)) return refuse("ユーザー名に使えない文字(改行など)が含まれています。");
    if (hasForbiddenByte(password)) return refuse("パスワードに使えない文字(改行など)が含まれています。");
    const size_t userLine = apop ? 5 + user.size() + 1 + 32 + 2 : 5 + user.size() + 2;
    if (userLine > kMaxCommand) return refuse("ユーザー名が長すぎます。");
    if (!apop && 5 + password.size() + 2 > kMaxCommand) return refuse("パスワードが長すぎます。");

    if (address_.implicitTls && !tls_ && !startTls()) return -1;
    std::string greeting;
    const Status hello = readStatus(greeting);
    if (hello == Status::Broken) return -1;
    greeted_ = true;
    if (hello == Status::Err) return abandon("サーバーが接続を受け付けませんでした。" + serverSays(greeting));
    if (!readCapabilities()) return -1;
    if (!tls_ && offersStls_) {
        std::string line;
        if (!send("STLS\r\n")) return -1;
        const Status status = readStatus(line);
        if (status == Status::Broken) return -1;
        // Offered but refused: we go no further rather than send the password in clear.
        if (status == Status::Err) return abandon("暗号化 (STLS) を始められませんでした。" + serverSays(line));
        if (!startTls() || !readCapabilities()) return -1;
    }

    std::string line;
    if (apop) {
        const auto timestamp = greetingTimestamp(greeting);
        if (!timestamp) {
            return refuse("サーバーの挨拶に APOP のタイムスタンプがないため、APOP でログインできません。");
        }
        if (!send("APOP " + user + " " + apopDigest(*timestamp, password) + "\r\n")) return -1;
        const Status status = readStatus(line);
        if (status == Status::Broken) return -1;
        if (status == Status::Err) return refuse("認証に失敗しました。" + serverSays(line));
    } else {
        for (const std::string& command : {"USER " + user, "PASS " + password}) {
            if (!send(command + "\r\n")) return -1;
            const Status status = readStatus(line);
            if (status == Status::Broken) return -1;
            if (status == Status::Err) return refuse("認証に失敗しました。" + serverSays(line));
        }
    }

    if (!send("STAT\r\n")) return -1;
    const Status status = readStatus(line);
    if (status == Status::Broken) return -1;
    if (status == Status::Err) return refuse("メールボックスの状態を取得できませんでした。" + serverSays(line));
    const auto numbers = okNumbers(line);
    if (!numbers || numbers->first < 0 || numbers->first > INT32_MAX) {
        return abandon("サーバーの STAT の応答が正しくありません: " + printableServerText(line));
    }
    loggedIn_ = true;
    return static_cast<int32_t>(numbers->first);
}

bool Session::readMessage(HeaderInfo& out, Sink* body) {
    HeaderSplitter message(body);
    const bool complete = readBody(message);
    out.block = message.header();
    out.subject = headerField(out.block, "Subject");
    out.date = headerField(out.block, "Date");
    out.from = headerField(out.block, "From");
    return complete;
}

bool Session::header(int32_t number, HeaderInfo& out) {
    out = {};
    if (!inTransaction(number)) return false;
    const std::string n = std::to_string(number);
    const bool ahead = offersPipelining_;
    if (!send("TOP " + n + " 0\r\n" + (ahead ? "LIST " + n + "\r\n" : ""))) return false;

    std::string line;
    const Status status = readStatus(line);
    if (status == Status::Broken) return false;
    const bool ok = status == Status::Ok;
    if (ok && !readMessage(out, nullptr)) return false;
    if (!ok) fail("メッセージ " + n + " のヘッダーを取得できませんでした。" + serverSays(line));
    if (ahead) {
        std::string sizeLine;
        if (readStatus(sizeLine) == Status::Broken) return false;
        cachedSizeFor_ = number;
        cachedSizeLine_ = sizeLine;
    }
    return ok;
}

int64_t Session::size(int32_t number) {
    const auto refuse = [this](std::string message) { fail(std::move(message)); return int64_t{-1}; };
    if (!inTransaction(number)) return -1;
    const std::string n = std::to_string(number);
    std::string line;
    if (cachedSizeFor_ == number) {
        line = cachedSizeLine_;
    } else {
        if (!send("LIST " + n + "\r\n") || readStatus(line) == Status::Broken) return -1;
    }
    cachedSizeFor_ = 0;
    if (isErr(line)) return refuse("メッセージ " + n + " の大きさを取得できませんでした。" + serverSays(line));
    const auto numbers = okNumbers(line);
    if (!numbers) return refuse("メッセージ " + n + " の大きさの応答が正しくありません: " + printableServerText(line));
    const int64_t octets = std::max<int64_t>(0, numbers->second);
    // The caller makes a buffer of size + 1 from what we return.
    if (octets > INT32_MAX - 1) {
        return refuse("メッセージ " + n + " の大きさ (" + std::to_string(numbers->second) + " オクテット) が大きすぎます。");
    }
    return octets;
}

bool Session::fetch(int32_t number, HeaderInfo& out, Sink& body) {
    out = {};
    if (!inTransaction(number)) return false;
    const std::string n = std::to_string(number);
    if (!send("RETR " + n + "\r\n")) return false;
    std::string line;
    const Status status = readStatus(line);
    if (status == Status::Broken) return false;
    if (status == Status::Err) return fail("メッセージ " + n + " を取得できませんでした。" + serverSays(line));
    return readMessage(out, &body);
}

void Session::quit() {
    if (!socket_) return;
    // A port that speaks TLS from the start gets nothing in clear: it is only closed.
    const bool mayTalk = !address_.implicitTls || tls_;
    if (!broken_ && mayTalk && socket_->state() == QAbstractSocket::ConnectedState) {
        // Its answer may be anything: the last failure stays what the caller last saw.
        const std::string keep = error_;
        std::string line;
        // Refused before the greeting was read (user data we would not send): the greeting comes
        // first, or it would be taken for the answer to QUIT and the real answer left unread.
        const bool inStep = greeted_ || readStatus(line) != Status::Broken;
        if (inStep && send("QUIT\r\n")) readStatus(line);
        error_ = keep;
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->disconnectFromHost();
            if (socket_->state() != QAbstractSocket::UnconnectedState) {
                socket_->waitForDisconnected(std::min(limits_.replyMs, 1000));
            }
        }
    }
    socket_->abort();
    socket_.reset();
}

}  // namespace platform::pop3
