#include "platform/mail_connection.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>

#include <algorithm>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/net_wait.h"

namespace platform::mailnet {

using pop3::displayName;
using pop3::printableServerText;

namespace {

constexpr size_t kReadChunk = 256 * 1024;
// The system's receive buffer (Linux doubles the figure) and Qt's own read buffer: together with ours
// they bound what is held of the replies that were sent ahead, whatever their sizes claimed.
constexpr int kReceiveBuffer = 256 * 1024;
constexpr qint64 kQtReadBuffer = 1 << 20;

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

}  // namespace

Connection::ReplyTimer::ReplyTimer(int replyMs) : start_(Net().NowMs()), replyMs_(replyMs) {}

int Connection::ReplyTimer::waitMs() const {
    const uint32_t elapsed = Net().NowMs() - start_;
    const int64_t overall = static_cast<int64_t>(replyMs_) + static_cast<int64_t>(octets_) - elapsed;
    return static_cast<int>(std::clamp<int64_t>(overall, 0, replyMs_));
}

Connection::Connection(pop3::ServerAddress address, Limits limits, QList<QSslCertificate> extraTrusted)
    : address_(std::move(address)), limits_(limits), extraTrusted_(std::move(extraTrusted)), buffer_(kReadChunk) {}

Connection::~Connection() {
    if (socket_) socket_->abort();
}

bool Connection::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool Connection::breakOff(std::string message) {
    broken_ = true;
    brokenReason_ = message;
    return fail(std::move(message));
}

bool Connection::usable() {
    if (!socket_) return fail("サーバーに接続していません。");
    if (broken_) return fail("サーバーとの接続は既に使えません(" + brokenReason_ + ")");
    return true;
}

std::string Connection::serverSays(const std::string& line) const {
    return "サーバーの応答: " + printableServerText(line);
}

bool Connection::await(const std::function<bool()>& ready, int limitMs) {
    const bool came = Net().WaitUntil([&] { return aborted_ || ready(); }, static_cast<uint32_t>(std::max(limitMs, 0)));
    return came && !aborted_;
}

void Connection::abort() {
    if (!aborted_) brokenReason_ = "接続を打ち切りました";
    aborted_ = broken_ = true;
    // The socket object stays until no call is under way: a call may be waiting on it right now.
    if (socket_) socket_->abort();
}

bool Connection::connect() {
    Busy busy(*this);
    socket_ = std::make_unique<QSslSocket>();
    socket_->setReadBufferSize(kQtReadBuffer);
    const uint32_t start = Net().NowMs();
    const auto left = [&] { return limits_.connectMs - static_cast<int64_t>(static_cast<uint32_t>(Net().NowMs() - start)); };
    const std::string where = "サーバー " + displayName(address_) + " に接続できませんでした。";

    QList<QHostAddress> addresses;
    QHostAddress literal;
    if (literal.setAddress(QString::fromStdString(address_.host))) {
        addresses << literal;
    } else {
        // The system resolver runs in Qt's threads and reports through the event loop; one that
        // outlives our limit is abandoned, and its answer goes nowhere.
        struct Lookup {
            bool finished = false;
            QList<QHostAddress> addresses;
        };
        auto lookup = std::make_shared<Lookup>();
        QObject receiver;
        const int id = QHostInfo::lookupHost(QString::fromStdString(address_.host), &receiver,
                                             [lookup](const QHostInfo& info) {
                                                 lookup->addresses = info.addresses();
                                                 lookup->finished = true;
                                             });
        const bool found = await([&] { return lookup->finished; }, limits_.connectMs);
        if (!lookup->finished) QHostInfo::abortHostLookup(id);
        if (aborted_) return false;
        addresses = lookup->addresses;
        if (addresses.isEmpty()) {
            return breakOff(where + (found ? "(サーバー名が見つかりません)" : "(サーバー名を時間内に調べられませんでした)"));
        }
    }
    std::string reason = "時間内に接続できませんでした";
    for (const QHostAddress& address : addresses) {
        if (left() <= 0) break;
        socket_->connectToHost(address, address_.port);
        await([&] { return socket_->state() == QAbstractSocket::ConnectedState ||
                           socket_->state() == QAbstractSocket::UnconnectedState; },
              static_cast<int>(left()));
        if (aborted_) return false;
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBuffer);
            return true;
        }
        if (socket_->state() == QAbstractSocket::UnconnectedState) reason = socketReason(*socket_);
        socket_->abort();
    }
    return breakOff(where + "(" + reason + ")");
}

void Connection::ackAtOnce() {
#ifdef TCP_QUICKACK
    // Linux leaves quick-ACK mode on its own as the conversation goes back and forth, so it is set
    // again before every wait; setting it also sends an ACK that is pending.
    const qintptr fd = socket_->socketDescriptor();
    const int one = 1;
    if (fd >= 0) setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
}

bool Connection::send(const std::string& bytes) {
    if (socket_->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        return breakOff("サーバーに送れませんでした(" + socketReason(*socket_) + ")");
    }
    // Out now where the system takes it; the rest goes while we wait for the answers.
    socket_->flush();
    return true;
}

bool Connection::fill(ReplyTimer& timer) {
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
        if (aborted_) return breakOff(brokenReason_);
        if (n < 0 || socket_->state() != QAbstractSocket::ConnectedState) {
            return breakOff("サーバー " + displayName(address_) + " との接続が途中で切れました。");
        }
        // What came is acknowledged now, not after the system's delayed-ACK pause: a server that writes
        // a reply in two pieces (and waits for our ACK of the first) would otherwise stall on each.
        ackAtOnce();
        const int wait = timer.waitMs();
        const bool came = wait > 0 && await([&] { return socket_->bytesAvailable() > 0 ||
                                                         socket_->state() != QAbstractSocket::ConnectedState; },
                                            wait);
        if (aborted_) return breakOff(brokenReason_);
        if (!came) return breakOff("サーバー " + displayName(address_) + " から時間内に応答がありませんでした。");
    }
}

bool Connection::startTls() {
    if (!QSslSocket::supportsSsl()) return breakOff("この環境では TLS を使えません。");
    QSslConfiguration config = socket_->sslConfiguration();
    // Left alone, the system's list is searched as needed; naming any certificate replaces it, so then
    // the whole list is read (once) and named too.
    if (!extraTrusted_.isEmpty()) config.setCaCertificates(systemCertificates() + extraTrusted_);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(config);
    socket_->setPeerVerifyName(QString::fromStdString(address_.host));
    // The pinned certificate, and only it, is taken whatever its errors; any other is kept for the
    // user to judge. The password has not gone out: the handshake fails here.
    QObject::connect(socket_.get(), &QSslSocket::sslErrors, socket_.get(), [this](const QList<QSslError>& errors) {
        const QSslCertificate leaf = socket_->peerCertificate();
        if (!pinned_.isEmpty() && !leaf.isNull() && leaf.digest(QCryptographicHash::Sha256) == pinned_) {
            socket_->ignoreSslErrors();
            return;
        }
        unverified_ = leaf;
        unverifiedErrors_ = errors;
    });
    // Nothing the server said in clear may be taken as said under TLS.
    begin_ = end_ = 0;
    socket_->startClientEncryption();
    const bool settled = await([&] { return socket_->isEncrypted() || socket_->state() != QAbstractSocket::ConnectedState; },
                               limits_.replyMs);
    if (aborted_) return breakOff(brokenReason_);
    if (socket_->isEncrypted()) {
        tls_ = true;
        return true;
    }
    const QList<QSslError> errors = socket_->sslHandshakeErrors();
    if (!errors.isEmpty()) {
        QStringList reasons;
        for (const QSslError& e : errors) reasons << e.errorString();
        return breakOff("サーバーの証明書を確認できませんでした: " + toStd(reasons.join("; ")));
    }
    if (!settled) {
        return breakOff("サーバー " + displayName(address_) + " との暗号化 (TLS) が時間内に始まりませんでした。");
    }
    return breakOff("サーバー " + displayName(address_) + " と暗号化 (TLS) で通信できませんでした: " +
                    toStd(socket_->errorString()));
}

void Connection::close(const std::function<bool()>& inStep, const std::string& goodbye) {
    Busy busy(*this);
    if (!socket_) return;
    // A port that speaks TLS from the start gets nothing in clear: it is only closed.
    const bool mayTalk = !address_.implicitTls || tls_;
    if (!broken_ && mayTalk && socket_->state() == QAbstractSocket::ConnectedState) {
        // Whatever happens here, the last failure stays what the caller last saw.
        const std::string keep = error_;
        if (inStep() && send(goodbye)) {
            socket_->disconnectFromHost();
            if (socket_->state() != QAbstractSocket::UnconnectedState) {
                await([&] { return socket_->state() == QAbstractSocket::UnconnectedState; }, std::min(limits_.replyMs, 1000));
            }
        }
        error_ = keep;
    }
    socket_->abort();
    socket_.reset();
}

}  // namespace platform::mailnet
