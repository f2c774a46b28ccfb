#include "platform/imap_text.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>

#include <stringprep.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform::imap {

namespace {

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string upperCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), upper);
    return out;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && sameNoCase(s.substr(0, prefix.size()), prefix);
}

// The word at the start of s (up to a space), and s after it and its space.
std::string_view word(std::string_view& s) {
    const size_t space = s.find(' ');
    const std::string_view w = s.substr(0, space);
    s = space == std::string_view::npos ? std::string_view() : s.substr(space + 1);
    return w;
}

QByteArray bytes(std::string_view s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

std::string text(const QByteArray& b) { return b.toStdString(); }

QByteArray hmac(QCryptographicHash::Algorithm algorithm, const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, algorithm);
}

// The digits at the start of s as a number, at most limit; nothing when there are none.
std::optional<int64_t> number(std::string_view& s, int64_t limit) {
    size_t i = 0;
    int64_t value = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        value = std::min(limit, value * 10 + (s[i] - '0'));
        ++i;
    }
    if (i == 0) return std::nullopt;
    s.remove_prefix(i);
    return value;
}

// A SCRAM user name: "=" and "," written as "=3D" and "=2C".
std::string saslName(std::string_view user) {
    std::string out;
    for (char c : user) out += c == '=' ? "=3D" : c == ',' ? "=2C" : std::string(1, c);
    return out;
}

// The value of attribute `name` ("r", "s", "i", ...) of a SCRAM message, or nothing.
std::optional<std::string_view> attribute(std::string_view message, char name) {
    while (!message.empty()) {
        const size_t comma = message.find(',');
        const std::string_view part = message.substr(0, comma);
        if (part.size() >= 2 && part[0] == name && part[1] == '=') return part.substr(2);
        if (comma == std::string_view::npos) break;
        message.remove_prefix(comma + 1);
    }
    return std::nullopt;
}

// PBKDF2 costs CPU time on the clock's own thread: this bounds it to a few tens of milliseconds,
// well above what servers use (Dovecot and Cyrus 4096).
constexpr int64_t kMaxScramIterations = 100'000;

}  // namespace

std::optional<uint64_t> literalAtEnd(std::string_view line) {
    if (line.empty() || line.back() != '}') return std::nullopt;
    const size_t open = line.rfind('{');
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view inside = line.substr(open + 1, line.size() - open - 2);
    if (!inside.empty() && inside.back() == '+') inside.remove_suffix(1);
    if (inside.empty() || inside.size() > 13) return std::nullopt;
    const auto n = number(inside, int64_t{1} << 40);
    if (!n || !inside.empty() || *n >= (int64_t{1} << 40)) return std::nullopt;
    return static_cast<uint64_t>(*n);
}

Response parseResponse(std::string_view line) {
    Response r;
    if (!line.empty() && line[0] == '+') {
        r.kind = Kind::Continuation;
        line.remove_prefix(1);
        if (!line.empty() && line[0] == ' ') line.remove_prefix(1);
        r.text = std::string(line);
        return r;
    }
    std::string_view rest = line;
    const std::string_view tag = word(rest);
    if (tag.empty() || rest.empty()) return r;
    r.kind = tag == "*" ? Kind::Untagged : Kind::Tagged;
    if (r.kind == Kind::Tagged) r.tag = std::string(tag);
    r.status = upperCase(word(rest));
    if (r.status.empty()) {
        r.kind = Kind::Malformed;
        return r;
    }
    const bool conditional = r.status == "OK" || r.status == "NO" || r.status == "BAD" || r.status == "BYE" || r.status == "PREAUTH";
    if (conditional && !rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close != std::string_view::npos) {
            r.code = std::string(rest.substr(1, close - 1));
            rest.remove_prefix(close + 1);
            if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
        }
    }
    if (r.kind == Kind::Tagged && !conditional) r.kind = Kind::Malformed;
    r.text = std::string(rest);
    return r;
}

std::optional<std::vector<std::string>> capabilitiesOf(const Response& response) {
    std::string_view list;
    if (response.kind == Kind::Untagged && response.status == "CAPABILITY") {
        list = response.text;
    } else if (startsNoCase(response.code, "CAPABILITY ")) {
        list = std::string_view(response.code).substr(11);
    } else {
        return std::nullopt;
    }
    std::vector<std::string> out;
    while (!list.empty()) {
        const std::string_view w = word(list);
        if (!w.empty()) out.push_back(upperCase(w));
    }
    return out;
}

bool offers(const std::vector<std::string>& capabilities, std::string_view name) {
    return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
}

std::optional<int64_t> unseenOfInbox(std::string_view r) {
    if (!startsNoCase(r, "* STATUS ")) return std::nullopt;
    r.remove_prefix(9);
    std::string mailbox;
    if (!r.empty() && r[0] == '"') {
        size_t i = 1;
        for (; i < r.size() && r[i] != '"'; ++i) {
            if (r[i] == '\\' && i + 1 < r.size()) ++i;
            mailbox += r[i];
        }
        if (i >= r.size()) return std::nullopt;
        r.remove_prefix(i + 1);
    } else if (!r.empty() && r[0] == '{') {
        const size_t close = r.find("}\r\n");
        if (close == std::string_view::npos) return std::nullopt;
        const auto n = literalAtEnd(r.substr(0, close + 1));
        if (!n || *n > r.size() - close - 3) return std::nullopt;
        mailbox = std::string(r.substr(close + 3, *n));
        r.remove_prefix(close + 3 + *n);
    } else {
        const size_t space = r.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        mailbox = std::string(r.substr(0, space));
        r.remove_prefix(space);
    }
    if (!sameNoCase(mailbox, "INBOX")) return std::nullopt;
    while (!r.empty() && r[0] == ' ') r.remove_prefix(1);
    if (r.empty() || r[0] != '(' || r.find(')') == std::string_view::npos) return std::nullopt;
    r = r.substr(1, r.find(')') - 1);
    while (!r.empty()) {
        const std::string_view name = word(r);
        std::string_view value = word(r);
        if (!sameNoCase(name, "UNSEEN")) continue;
        const auto n = number(value, int64_t{1} << 53);
        if (!n || !value.empty()) return std::nullopt;
        return n;
    }
    return std::nullopt;
}

std::optional<std::string> quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\r' || c == '\n' || c == '\0') return std::nullopt;
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string base64(std::string_view b) { return text(bytes(b).toBase64()); }

std::optional<std::string> fromBase64(std::string_view t) {
    const auto result = QByteArray::fromBase64Encoding(bytes(t), QByteArray::AbortOnBase64DecodingErrors);
    if (!result) return std::nullopt;
    return text(*result);
}

std::optional<std::string> saslPrep(std::string_view text, bool stored) {
    // libidn reads a C string: an embedded NUL would cut it short unseen, and SASLprep refuses NUL.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    char* out = nullptr;
    const std::string in(text);
    const int rc = stringprep_profile(in.c_str(), &out, "SASLprep", stored ? STRINGPREP_NO_UNASSIGNED : Stringprep_profile_flags(0));
    std::optional<std::string> result;
    if (rc == STRINGPREP_OK && out) result = std::string(out);
    std::free(out);
    return result;
}

std::string plainMessage(std::string_view user, std::string_view password, bool prepare) {
    const auto prepared = [prepare](std::string_view s) { return (prepare ? saslPrep(s) : std::nullopt).value_or(std::string(s)); };
    return std::string(1, '\0') + prepared(user) + std::string(1, '\0') + prepared(password);
}

std::string cramMd5Answer(std::string_view user, std::string_view password, std::string_view challenge) {
    return std::string(user) + " " + text(hmac(QCryptographicHash::Md5, bytes(password), bytes(challenge)).toHex());
}

Scram::Scram(std::string user, std::string password, std::string nonce, bool prepare) : nonce_(std::move(nonce)) {
    auto preparedUser = saslPrep(user);
    auto preparedPassword = saslPrep(password, true);
    // RFC 5802: a user name that SASLprep refuses or empties ends the exchange before it starts.
    prepared_ = preparedUser && !preparedUser->empty() && preparedPassword;
    if (!prepare) {
        preparedUser = user;
        preparedPassword = password;
    }
    user_ = preparedUser.value_or(std::move(user));
    if (preparedPassword) password_ = std::move(*preparedPassword);
}

std::string Scram::first() const { return "n,,n=" + saslName(user_) + ",r=" + nonce_; }

std::optional<std::string> Scram::final(std::string_view serverFirst) {
    if (!prepared_) return std::nullopt;
    // A mandatory extension ("m=") we do not know ends the exchange, as RFC 5802 asks.
    if (startsNoCase(serverFirst, "m=")) return std::nullopt;
    const auto nonce = attribute(serverFirst, 'r');
    const auto salt64 = attribute(serverFirst, 's');
    auto iterationsText = attribute(serverFirst, 'i');
    if (!nonce || !salt64 || !iterationsText) return std::nullopt;
    if (nonce->size() <= nonce_.size() || nonce->substr(0, nonce_.size()) != nonce_) return std::nullopt;
    const auto salt = fromBase64(*salt64);
    const auto iterations = number(*iterationsText, kMaxScramIterations + 1);
    if (!salt || salt->empty() || !iterations || !iterationsText->empty() || *iterations < 1 ||
        *iterations > kMaxScramIterations) {
        return std::nullopt;
    }
    const QByteArray salted = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, bytes(password_), bytes(*salt),
                                                                 static_cast<int>(*iterations), 32);
    const QByteArray clientKey = hmac(QCryptographicHash::Sha256, salted, "Client Key");
    const QByteArray storedKey = QCryptographicHash::hash(clientKey, QCryptographicHash::Sha256);
    const std::string withoutProof = "c=biws,r=" + std::string(*nonce);
    authMessage_ = first().substr(3) + "," + std::string(serverFirst) + "," + withoutProof;
    QByteArray proof = hmac(QCryptographicHash::Sha256, storedKey, bytes(authMessage_));
    for (qsizetype i = 0; i < proof.size(); ++i) proof[i] = static_cast<char>(proof[i] ^ clientKey[i]);
    serverKey_ = text(hmac(QCryptographicHash::Sha256, salted, "Server Key"));
    return withoutProof + ",p=" + text(proof.toBase64());
}

bool Scram::verify(std::string_view serverFinal) const {
    if (authMessage_.empty()) return false;
    const auto v = attribute(serverFinal, 'v');
    const auto signature = v ? fromBase64(*v) : std::nullopt;
    const QByteArray expected = hmac(QCryptographicHash::Sha256, bytes(serverKey_), bytes(authMessage_));
    return signature && bytes(*signature) == expected;
}

}  // namespace platform::imap
