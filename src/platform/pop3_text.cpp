#include "platform/pop3_text.h"

#include <QCryptographicHash>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace platform::pop3 {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(s[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

std::optional<uint16_t> parsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool usableHost(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f || c == '/' || c == '@' || c == '[' || c == ']';
    });
}

// An IPv6 address, with a zone after "%" if any; the address proper is checked when connecting.
bool usableV6(std::string_view host) {
    const size_t percent = host.find('%');
    const std::string_view zone = percent == std::string_view::npos ? std::string_view{} : host.substr(percent + 1);
    return host.substr(0, percent).find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos &&
           std::all_of(zone.begin(), zone.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Reads one signed decimal number that ends at a blank or the end of the text.
std::optional<int64_t> takeNumber(std::string_view& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    constexpr int64_t kClamp = 1'000'000'000'000'000;
    int64_t value = 0;
    size_t digits = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
        value = std::min(kClamp, value * 10 + (s.front() - '0'));
        s.remove_prefix(1);
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (!s.empty() && s.front() != ' ' && s.front() != '\t') return std::nullopt;
    return negative ? -value : value;
}

}  // namespace

std::optional<ServerAddress> parseServerText(std::string_view text) {
    std::string_view s = trimmed(text);
    ServerAddress address;
    bool tlsScheme = false;
    bool scheme = true;
    if (startsWithNoCase(s, "pop3s://")) {
        tlsScheme = true;
        s.remove_prefix(8);
        address.port = 995;
    } else if (startsWithNoCase(s, "pop3://")) {
        s.remove_prefix(7);
    } else if (startsWithNoCase(s, "imaps://")) {
        tlsScheme = address.imap = true;
        s.remove_prefix(8);
        address.port = 993;
    } else if (startsWithNoCase(s, "imap://")) {
        address.imap = true;
        s.remove_prefix(7);
        address.port = 143;
    } else {
        scheme = false;
    }
    if (!s.empty() && s.back() == '/') s.remove_suffix(1);

    std::string_view host;
    std::string_view portText;
    bool hasPort = false;
    if (!s.empty() && s.front() == '[') {
        const size_t close = s.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = s.substr(1, close - 1);
        std::string_view rest = s.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
            hasPort = true;
        }
        if (host.find(':') == std::string_view::npos) return std::nullopt;
    } else {
        const size_t colon = s.find(':');
        if (colon != std::string_view::npos && s.find(':', colon + 1) == std::string_view::npos) {
            host = s.substr(0, colon);
            portText = s.substr(colon + 1);
            hasPort = true;
        } else {
            host = s;  // no colon, or a bare IPv6 address
        }
    }
    if (host.find(':') != std::string_view::npos ? !usableV6(host) : !usableHost(host)) return std::nullopt;
    if (hasPort) {
        const auto port = parsePort(portText);
        if (!port) return std::nullopt;
        address.port = *port;
    }
    address.host = std::string(host);
    // Without a scheme, the well-known IMAP ports say IMAP; every other text is POP3 as it always was.
    if (!scheme && (address.port == 993 || address.port == 143)) address.imap = true;
    address.implicitTls = tlsScheme || address.port == (address.imap ? 993 : 995);
    return address;
}

std::string displayName(const ServerAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

std::string apopDigest(std::string_view timestamp, std::string_view secret) {
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(QByteArrayView(timestamp.data(), static_cast<qsizetype>(timestamp.size())));
    md5.addData(QByteArrayView(secret.data(), static_cast<qsizetype>(secret.size())));
    return md5.result().toHex().toStdString();
}

std::optional<std::string> greetingTimestamp(std::string_view greeting) {
    size_t from = 0;
    while ((from = greeting.find('<', from)) != std::string_view::npos) {
        const size_t close = greeting.find('>', from);
        if (close == std::string_view::npos) break;
        const std::string_view inner = greeting.substr(from + 1, close - from - 1);
        const bool plain = std::none_of(inner.begin(), inner.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == '<';
        });
        if (plain && inner.find('@') != std::string_view::npos) return std::string(greeting.substr(from, close - from + 1));
        from += 1;
    }
    return std::nullopt;
}

bool isOk(std::string_view line) {
    return line.substr(0, 3) == "+OK" && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
}

bool isErr(std::string_view line) {
    return line.substr(0, 4) == "-ERR" && (line.size() == 4 || line[4] == ' ' || line[4] == '\t');
}

std::string responseCode(std::string_view line) {
    if (!isErr(line)) return {};
    std::string_view rest = trimmed(line.substr(4));
    const size_t close = rest.find(']');
    if (rest.empty() || rest.front() != '[' || close == std::string_view::npos || close > 64) return {};
    std::string code(rest.substr(1, close - 1));
    std::transform(code.begin(), code.end(), code.begin(), [](unsigned char c) { return std::toupper(c); });
    return code;
}

namespace {
// Codes are hierarchical ("SYS/TEMP" may be made finer as "SYS/TEMP/…"): a code and those under it.
bool isCode(std::string_view code, std::string_view name) {
    return code == name || (code.size() > name.size() && code.substr(0, name.size()) == name && code[name.size()] == '/');
}
}  // namespace

Refusal refusalOf(std::string_view line, bool credentials) {
    // Taken whether or not CAPA announced RESP-CODES: no server means anything else by these brackets.
    const std::string code = responseCode(line);
    if (isCode(code, "IN-USE") || isCode(code, "LOGIN-DELAY") || isCode(code, "SYS/TEMP")) return Refusal::Temporary;
    if (isCode(code, "AUTH") || (credentials && code.empty())) return Refusal::Password;
    return Refusal::Other;
}

int retryAfterSeconds(std::string_view code) {
    // Another session's lock lasts as long as that session, a check of a few seconds on any other
    // client, so a minute is enough. A server that delays logins without saying for how long, or has
    // a passing fault, is left five minutes: well above the minute of Debian's Cyrus (popminpoll: 1),
    // below RFC 2449's example of fifteen, and checks every minute would only be refused in turn.
    return isCode(code, "IN-USE") ? 60 : 300;
}

std::optional<int> loginDelayOf(std::string_view line) {
    line = trimmed(line);
    if (!startsWithNoCase(line, "LOGIN-DELAY") || line.size() < 12 || !isBlank(line[11])) return std::nullopt;
    std::string_view rest = trimmed(line.substr(11));
    int64_t seconds = 0;
    size_t digits = 0;
    for (; digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])); ++digits) {
        seconds = std::min<int64_t>(seconds * 10 + (rest[digits] - '0'), kMaxLoginDelay);
    }
    if (digits == 0 || (digits < rest.size() && !isBlank(rest[digits])) || seconds == 0) return std::nullopt;
    // A server announcing hours is still tried each hour: at worst it refuses again, quietly.
    return static_cast<int>(seconds);
}

std::optional<std::pair<int64_t, int64_t>> okNumbers(std::string_view line) {
    if (!isOk(line)) return std::nullopt;
    std::string_view rest = line.substr(3);
    const auto first = takeNumber(rest);
    if (!first) return std::nullopt;
    const auto second = takeNumber(rest);
    if (!second) return std::nullopt;
    return std::make_pair(*first, *second);
}

std::string printableServerText(std::string_view line, size_t maxBytes) {
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8Prefix(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), maxBytes));
}

std::string_view utf8Prefix(std::string_view utf8, size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the character that does not fit.
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    return utf8.substr(0, cut);
}

size_t copyToBuffer(std::string_view text, char* buffer, int64_t capacity) {
    if (!buffer || capacity < 1) return 0;
    const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
    if (n) std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

size_t DotUnstuffer::feed(const char* data, size_t size, Sink& out) {
    size_t i = 0;
    while (i < size && state_ != State::Done && !tooLong_) {
        switch (state_) {
        case State::LineStart:
            if (data[i] == '.') {
                state_ = State::AfterDot;
                lineLength_ = 1;
                ++i;
            } else {
                state_ = State::InLine;
                lineLength_ = 0;
            }
            break;
        case State::AfterDot:
            if (data[i] == '\r') {
                state_ = State::AfterDotCr;
                ++i;
            } else if (data[i] == '\n') {  // a bare LF after the dot: tolerated as the end
                state_ = State::Done;
                ++i;
            } else {
                state_ = State::InLine;  // the stuffed dot is dropped
            }
            break;
        case State::AfterDotCr:
            if (data[i] == '\n') {
                state_ = State::Done;
                ++i;
            } else {
                out.write("\r", 1);  // "." CR then data: the CR was the line's first real byte
                lineLength_ += 1;
                state_ = State::InLine;
            }
            break;
        case State::InLine: {
            // Pass on everything up to the next line that starts with a dot in one piece.
            const size_t start = i;
            for (;;) {
                const void* found = std::memchr(data + i, '\n', size - i);
                if (!found) {
                    lineLength_ += size - i;
                    i = size;
                    break;
                }
                const size_t end = static_cast<size_t>(static_cast<const char*>(found) - data) + 1;
                lineLength_ += end - i;
                i = end;
                if (lineLength_ > maxLine_) break;
                lineLength_ = 0;
                if (i == size || data[i] == '.') {
                    state_ = State::LineStart;
                    break;
                }
            }
            if (lineLength_ > maxLine_) {
                tooLong_ = true;
                return i;
            }
            out.write(data + start, i - start);
            break;
        }
        case State::Done:
            break;
        }
    }
    return i;
}

void HeaderSplitter::keep(const char* data, size_t size) {
    const size_t n = std::min(size, cap_ - std::min(cap_, header_.size()));
    header_.append(data, n);
}

void HeaderSplitter::write(const char* data, size_t size) {
    if (inBody_) {
        if (body_) body_->write(data, size);
        return;
    }
    size_t i = 0;
    bool ended = false;
    bool crlfBlank = false;
    while (i < size && !ended) {
        switch (state_) {
        case State::InLine: {
            const void* found = std::memchr(data + i, '\n', size - i);
            if (!found) {
                i = size;
            } else {
                i = static_cast<size_t>(static_cast<const char*>(found) - data) + 1;
                state_ = State::LineStart;
            }
            break;
        }
        case State::LineStart:
            if (data[i] == '\n') {
                ended = true;
            } else if (data[i] == '\r') {
                state_ = State::CrAtLineStart;
            } else {
                state_ = State::InLine;
                continue;
            }
            ++i;
            break;
        case State::CrAtLineStart:
            if (data[i] == '\n') {
                ended = true;
                crlfBlank = true;
                ++i;
            } else {
                state_ = State::InLine;
            }
            break;
        }
    }
    keep(data, i);
    seen_ += i;
    if (!ended) return;
    // The empty line that ended the header is not part of it, whether or not the cap cut into it
    // (its CR may have come in an earlier piece).
    const size_t contentEnd = seen_ - (crlfBlank ? 2 : 1);
    if (header_.size() > contentEnd) header_.resize(contentEnd);
    inBody_ = true;
    if (body_ && i < size) body_->write(data + i, size - i);
}

std::string headerField(std::string_view header, std::string_view name) {
    std::string value;
    bool inField = false;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        if (end == std::string_view::npos) end = header.size();
        std::string_view line = header.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool continuation = !line.empty() && (line.front() == ' ' || line.front() == '\t');
        if (inField) {
            if (!continuation) break;
            value.append(line);
            continue;
        }
        if (continuation || !startsWithNoCase(line, name)) continue;
        std::string_view rest = line.substr(name.size());
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
        if (rest.empty() || rest.front() != ':') continue;
        value.assign(rest.substr(1));
        inField = true;
    }
    const std::string_view t = trimmed(value);
    return std::string(t);
}

BufferSink::BufferSink(char* buffer, int64_t capacity)
    : buffer_(buffer && capacity > 0 ? buffer : nullptr),
      room_(buffer_ ? static_cast<size_t>(capacity - 1) : 0) {}

void BufferSink::write(const char* data, size_t size) {
    total_ += size;
    const size_t n = std::min(size, room_ - used_);
    if (n) {
        std::memcpy(buffer_ + used_, data, n);
        used_ += n;
    }
}

void BufferSink::finish() {
    if (buffer_) buffer_[used_] = '\0';
}

}  // namespace platform::pop3
