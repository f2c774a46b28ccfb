#include "platform/nmail.h"

#include "platform/imap_push.h"
#include "platform/imap_session.h"
#include "platform/pop3_session.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSslCertificate>
#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace platform {

namespace {
int32_t g_bufferSize = 8192;
bool g_ready = false;
int64_t g_messageCalls = 0;

// Enough for any sensible program; a runaway one gets failures instead of exhausting descriptors.
constexpr size_t kMaxHandles = 64;

struct Library {
    // Indexed by handle; null = free. Shared, so that a call under way keeps its session even when a
    // handler run by its waits closes the handle.
    std::vector<std::shared_ptr<mailnet::Connection>> sessions;
    std::string lastFailure;
    pop3::Limits limits;
    QList<QSslCertificate> trusted;
    std::map<std::string, QByteArray> pinned;  // server key → SHA-256
    std::optional<NMailCertificate> lastCertificate;
};

Library& library() {
    static Library lib;
    return lib;
}

int32_t failure(std::string text) {
    library().lastFailure = std::move(text);
    return -1;
}

std::shared_ptr<mailnet::Connection> openSession(int32_t handle) {
    auto& sessions = library().sessions;
    if (handle < 0 || static_cast<size_t>(handle) >= sessions.size() || !sessions[handle]) {
        failure("接続ハンドル " + std::to_string(handle) + " は開いていません。");
        return nullptr;
    }
    return sessions[handle];
}

// The session of a handle for a new call; none while another call on it waits, since a connection
// answers one conversation at a time.
std::shared_ptr<mailnet::Connection> sessionFor(int32_t handle) {
    std::shared_ptr<mailnet::Connection> session = openSession(handle);
    if (session && session->busy()) {
        failure("接続ハンドル " + std::to_string(handle) + " は別の呼び出しが使用中です。");
        return nullptr;
    }
    return session;
}

// The POP3 session of a connection; null for IMAP, whose check reads a count and downloads nothing.
pop3::Session* pop3Of(const std::shared_ptr<mailnet::Connection>& session) {
    return dynamic_cast<pop3::Session*>(session.get());
}

void clearBuffers(char* b1, char* b2, char* b3, char* b4) {
    for (char* b : {b1, b2, b3, b4}) pop3::copyToBuffer({}, b, g_bufferSize);
}

// A failed call's result: whether the connection survived it.
int32_t failed(const mailnet::Connection& session) {
    failure(session.error());
    return session.broken() ? kNMailConnectionLost : -1;
}

void fillBuffers(const pop3::HeaderInfo& header, char* b1, char* b2, char* b3, char* b4) {
    pop3::copyToBuffer(header.subject, b1, g_bufferSize);
    pop3::copyToBuffer(header.date, b2, g_bufferSize);
    pop3::copyToBuffer(header.from, b3, g_bufferSize);
    pop3::copyToBuffer(header.block, b4, g_bufferSize);
}
std::string serverKey(const pop3::ServerAddress& address) {
    return QString::fromStdString(address.host).toLower().toStdString() + ":" + std::to_string(address.port);
}

std::string colonHex(const QByteArray& digest) { return digest.toHex(':').toUpper().toStdString(); }

std::string names(const QSslCertificate& certificate, bool subject) {
    QStringList parts;
    for (const QByteArray& attribute : subject ? certificate.subjectInfoAttributes() : certificate.issuerInfoAttributes()) {
        const QStringList values = subject ? certificate.subjectInfo(attribute) : certificate.issuerInfo(attribute);
        parts << QString::fromUtf8(attribute) + "=" + values.join(" / ");
    }
    return parts.join(", ").toStdString();
}

std::string localTime(const QDateTime& t) {
    return t.isValid() ? t.toLocalTime().toString("yyyy/MM/dd HH:mm").toStdString() : "(不明)";
}

// What is wrong, in words the user can act on; Qt's own text for the rare rest.
std::string problemText(const QSslError& error, const std::string& host) {
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain: return "自己署名の証明書です（信頼できる認証局の署名がありません）";
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected: return "信頼できる認証局が発行した証明書ではありません";
    case QSslError::CertificateExpired: return "有効期限が切れています";
    case QSslError::CertificateNotYetValid: return "有効期間がまだ始まっていません";
    case QSslError::HostNameMismatch: return "証明書の名前がサーバー名「" + host + "」と一致しません";
    case QSslError::CertificateRevoked: return "証明書は失効しています";
    default: return error.errorString().toStdString();
    }
}

NMailCertificate describe(const mailnet::Connection& session) {
    const QSslCertificate& c = session.unverifiedCertificate();
    NMailCertificate d;
    d.server = serverKey(session.address());
    d.sha256 = colonHex(c.digest(QCryptographicHash::Sha256));
    d.subject = names(c, true);
    d.issuer = names(c, false);
    d.validFrom = localTime(c.effectiveDate());
    d.validTo = localTime(c.expiryDate());
    for (const QSslError& e : session.unverifiedErrors()) {
        const std::string text = problemText(e, session.address().host);
        if (std::find(d.problems.begin(), d.problems.end(), text) == d.problems.end()) d.problems.push_back(text);
    }
    if (const auto pin = library().pinned.find(d.server); pin != library().pinned.end()) d.pinned = colonHex(pin->second);
    return d;
}
}  // namespace

int32_t NMailInitializeWinSock() {
    g_ready = true;
    return 0;
}

int32_t NMailSetOption(int32_t option, int32_t value) {
    if (option != 1 || value < 1) return -1;
    const int32_t old = g_bufferSize;
    g_bufferSize = value;
    return old;
}

int32_t NMailEndWinSock() {
    // By index, with the session taken out first: QUIT waits, and a handler may open another meanwhile.
    auto& sessions = library().sessions;
    for (size_t i = 0; i < sessions.size(); ++i) {
        const std::shared_ptr<mailnet::Connection> session = std::move(sessions[i]);
        sessions[i].reset();
        if (session && session->busy()) session->abort();
        else if (session) session->quit();
    }
    g_ready = false;
    return 0;
}

int32_t NMailBufferSize() { return g_bufferSize; }

bool NMailReady() { return g_ready; }

int32_t NMailPop3Connect(const std::string& server) {
    Library& lib = library();
    const auto address = pop3::parseServerText(server);
    if (!address) return failure("サーバー名「" + pop3::printableServerText(server) + "」が正しくありません。");
    const auto freeSlot = [&lib] {
        size_t slot = 0;
        while (slot < lib.sessions.size() && lib.sessions[slot]) ++slot;
        return slot;
    };
    if (freeSlot() >= kMaxHandles) return failure("同時に開ける接続の数を超えました。");
    std::shared_ptr<mailnet::Connection> session;
    if (address->imap) session = std::make_shared<imap::Session>(*address, lib.limits, lib.trusted);
    else session = std::make_shared<pop3::Session>(*address, lib.limits, lib.trusted);
    if (const auto pin = lib.pinned.find(serverKey(*address)); pin != lib.pinned.end()) session->pinCertificate(pin->second);
    if (!session->connect()) return failure(session->error());
    // The slot is taken only now: connecting waits, and a handler may have opened another meanwhile.
    const size_t slot = freeSlot();
    if (slot >= kMaxHandles) return failure("同時に開ける接続の数を超えました。");
    if (slot == lib.sessions.size()) lib.sessions.emplace_back();
    lib.sessions[slot] = std::move(session);
    return static_cast<int32_t>(slot);
}

int32_t NMailPop3Authenticate(int32_t handle, const std::string& user, const std::string& password, int32_t apop) {
    const auto session = sessionFor(handle);
    if (!session) return -1;
    library().lastCertificate.reset();
    const int32_t count = session->login(user, password, apop != 0);
    if (count < 0 && !session->unverifiedCertificate().isNull()) library().lastCertificate = describe(*session);
    return count < 0 ? failure(session->error()) : count;
}

int32_t NMailPop3LoginRefusal(int32_t handle, int32_t* waitSeconds) {
    if (waitSeconds) *waitSeconds = 0;
    const auto session = openSession(handle);
    if (!session) return -1;
    if (waitSeconds) *waitSeconds = session->loginDelaySeconds();
    switch (session->refusal()) {
    case pop3::Refusal::None: return kNMailRefusalNone;
    case pop3::Refusal::Password: return kNMailRefusalPassword;
    case pop3::Refusal::Temporary: return kNMailRefusalTemporary;
    case pop3::Refusal::Other: return kNMailRefusalOther;
    }
    return kNMailRefusalNone;
}

int32_t NMailPop3GetMailStatus(int32_t handle, int32_t number, char* b1, char* b2, char* b3, char* b4, int32_t) {
    ++g_messageCalls;
    clearBuffers(b1, b2, b3, b4);
    const auto session = sessionFor(handle);
    if (!session) return -1;
    pop3::Session* pop = pop3Of(session);
    if (!pop) return 0;
    pop3::HeaderInfo header;
    const bool ok = pop->header(number, header);
    fillBuffers(header, b1, b2, b3, b4);
    return ok ? 0 : failed(*session);
}

int32_t NMailPop3GetMailSize(int32_t handle, int32_t number) {
    ++g_messageCalls;
    const auto session = sessionFor(handle);
    if (!session) return -1;
    pop3::Session* pop = pop3Of(session);
    if (!pop) return 0;
    const int64_t size = pop->size(number);
    return size < 0 ? failed(*session) : static_cast<int32_t>(size);
}

int32_t NMailPop3GetMail(int32_t handle, int32_t number, char* b1, char* b2, char* b3, char* b4, char* body,
                         int32_t bodySize, int32_t, int32_t) {
    ++g_messageCalls;
    clearBuffers(b1, b2, b3, b4);
    pop3::copyToBuffer({}, body, bodySize);
    const auto session = sessionFor(handle);
    if (!session) return -1;
    pop3::Session* pop = pop3Of(session);
    if (!pop) return 0;
    pop3::HeaderInfo header;
    pop3::BufferSink sink(body, bodySize);
    const bool ok = pop->fetch(number, header, sink);
    sink.finish();
    fillBuffers(header, b1, b2, b3, b4);
    return ok ? static_cast<int32_t>(sink.written()) : failed(*session);
}

bool NMailIsImap(int32_t handle) {
    const auto& sessions = library().sessions;
    return handle >= 0 && static_cast<size_t>(handle) < sessions.size() && sessions[handle] &&
           sessions[handle]->address().imap;
}

std::unique_ptr<imap::Push> NMailImapPush(const std::string& server) {
    const Library& lib = library();
    const auto address = pop3::parseServerText(server);
    if (!address || !address->imap) return nullptr;
    auto push = std::make_unique<imap::Push>(*address, lib.limits, lib.trusted);
    if (const auto pin = lib.pinned.find(serverKey(*address)); pin != lib.pinned.end()) push->pinCertificate(pin->second);
    return push;
}

int32_t NMailGetMessage(int32_t, char* buffer, int32_t* size) {
    if (!buffer || !size || *size < 1) return -1;
    const std::string& text = library().lastFailure;
    return static_cast<int32_t>(pop3::copyToBuffer(pop3::utf8Prefix(text, static_cast<size_t>(*size - 1)), buffer, *size));
}

int32_t NMailPop3Close(int32_t handle) {
    const auto session = openSession(handle);
    if (!session) return -1;
    // Closed from a handler while a call on it waits: the conversation is cut off, not ended.
    if (session->busy()) session->abort();
    else session->quit();
    library().sessions[handle].reset();
    return 0;
}

int32_t NMailAbortAll() {
    for (auto& session : library().sessions) {
        if (session) session->abort();
        session.reset();
    }
    return 0;
}

void NMailSetTimeouts(int connectMs, int replyMs) {
    pop3::Limits& limits = library().limits;
    limits.connectMs = std::max(1, connectMs);
    limits.replyMs = std::max(1, replyMs);
}

void NMailAddTrustedCertificates(const std::string& pemPath) {
    auto& trusted = library().trusted;
    for (const QSslCertificate& c : QSslCertificate::fromPath(QString::fromStdString(pemPath), QSsl::Pem)) {
        if (!trusted.contains(c)) trusted << c;
    }
}

void NMailClearTrustedCertificates() { library().trusted.clear(); }

std::optional<NMailCertificate> NMailLastCertificateProblem() { return library().lastCertificate; }

std::string NMailServerKey(const std::string& server) {
    const auto address = pop3::parseServerText(server);
    return address ? serverKey(*address) : std::string();
}

void NMailPinCertificate(const std::string& key, const std::string& sha256) {
    QByteArray hex = QByteArray::fromStdString(sha256).replace(':', "").trimmed();
    const QByteArray digest = QByteArray::fromHex(hex);
    // fromHex skips what is not hex: only a whole, clean fingerprint counts.
    if (digest.size() != 32 || digest.toHex() != hex.toLower()) library().pinned.erase(key);
    else library().pinned[key] = digest;
}

void NMailClearPinnedCertificates() { library().pinned.clear(); }

int64_t NMailPop3MessageCalls() { return g_messageCalls; }

}  // namespace platform
