#include "platform/imap_session.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/imap_text.h"

namespace platform::imap {

namespace {

using pop3::printableServerText;

// A server that asks for more than this within one command is not in an exchange we know.
constexpr int kMaxContinuations = 8;

bool hasForbiddenByte(const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

std::string firstWord(const std::string& s) {
    std::string w = s.substr(0, s.find(' '));
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return std::toupper(c); });
    return w;
}

std::string scramNonce() {
    char random[18];
    for (char& c : random) c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return base64(std::string_view(random, sizeof random));
}

}  // namespace

Session::Session(pop3::ServerAddress address, mailnet::Limits limits, QList<QSslCertificate> extraTrusted)
    : Connection(std::move(address), limits, std::move(extraTrusted)) {}

bool Session::readLine(std::string& line, ReplyTimer& timer, uint64_t& budget) {
    line.clear();
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* newline = std::memchr(start, '\n', end_ - begin_);
        const size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : end_ - begin_;
        const size_t consumed = newline ? take + 1 : take;
        if (line.size() + take > kMaxLine) return breakOff("サーバーの応答の行が長すぎます。");
        if (consumed > budget) return breakOff("サーバーの応答が長すぎます。");
        line.append(start, take);
        begin_ += consumed;
        budget -= consumed;
        if (newline) break;
        if (!fill(timer)) return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool Session::readResponse(std::string& response, ReplyTimer& timer, uint64_t& budget) {
    response.clear();
    std::string line;
    for (;;) {
        if (!readLine(line, timer, budget)) return false;
        response += line;
        const auto literal = literalAtEnd(line);
        if (!literal) return true;
        if (*literal > kMaxLiteral || *literal > budget) return breakOff("サーバーの応答が長すぎます。");
        response += "\r\n";
        for (uint64_t left = *literal; left > 0;) {
            if (begin_ == end_ && !fill(timer)) return false;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, end_ - begin_));
            response.append(buffer_.data() + begin_, n);
            begin_ += n;
            left -= n;
            budget -= n;
        }
    }
}

void Session::takeCapabilities(const std::string& response) {
    if (auto list = capabilitiesOf(parseResponse(response))) capabilities_ = std::move(*list);
}

Session::Result Session::command(const std::string& text, std::string& line,
                                 const std::function<void(const std::string&)>& onUntagged,
                                 const std::function<std::optional<std::string>(const std::string&)>& onContinue) {
    const std::string tag = nextTag();
    if (!send(tag + " " + text + "\r\n")) return Result::Broken;
    ReplyTimer timer(limits_.replyMs);
    uint64_t budget = kMaxAnswer;
    int continuations = 0;
    std::string response;
    for (;;) {
        if (!readResponse(response, timer, budget)) return Result::Broken;
        const Response r = parseResponse(response);
        switch (r.kind) {
        case Kind::Continuation: {
            if (++continuations > kMaxContinuations) {
                breakOff("サーバーの応答が正しくありません: " + printableServerText(response));
                return Result::Broken;
            }
            const auto answer = onContinue ? onContinue(r.text) : std::nullopt;
            // Nothing to say: the exchange is cancelled, and the server ends the command with BAD or NO.
            if (!send((answer ? *answer : std::string("*")) + "\r\n")) return Result::Broken;
            break;
        }
        case Kind::Untagged:
            if (r.status == "BYE") {
                breakOff("サーバーが接続を閉じました。" + serverSays(response));
                return Result::Broken;
            }
            takeCapabilities(response);
            if (onUntagged) onUntagged(response);
            break;
        case Kind::Tagged:
            if (r.tag == tag) {
                line = response;
                takeCapabilities(response);
                return r.status == "OK" ? Result::Ok : r.status == "NO" ? Result::No : Result::Bad;
            }
            [[fallthrough]];
        case Kind::Malformed:
            breakOff("サーバーの応答が正しくありません: " + printableServerText(response));
            return Result::Broken;
        }
    }
}

bool Session::readCapabilities() {
    capabilities_.clear();
    std::string line;
    const Result r = command("CAPABILITY", line);
    if (r == Result::Broken) return false;
    if (r != Result::Ok) return breakOff("サーバーが CAPABILITY に答えませんでした。" + serverSays(line));
    return true;
}

int32_t Session::refused(const std::string& line, bool credentials) {
    const Response r = parseResponse(line);
    const std::string code = firstWord(r.code);
    refusalCode_ = code;
    if (code == "UNAVAILABLE" || code == "INUSE") {
        refusal_ = pop3::Refusal::Temporary;
        fail("サーバーが今はログインを受け付けません。後でもう一度確認します。" + serverSays(line));
    } else if (credentials && r.status == "NO" && (code.empty() || code == "AUTHENTICATIONFAILED")) {
        refusal_ = pop3::Refusal::Password;
        fail("認証に失敗しました。" + serverSays(line));
    } else {
        refusal_ = pop3::Refusal::Other;
        fail((credentials ? "サーバーがログインを拒否しました。" : "メールボックスの状態を取得できませんでした。") + serverSays(line));
    }
    return -1;
}

int Session::loginDelaySeconds() const {
    return refusal_ == pop3::Refusal::Temporary ? pop3::retryAfterSeconds(refusalCode_ == "INUSE" ? "IN-USE" : "SYS/TEMP") : 0;
}

int32_t Session::login(const std::string& user, const std::string& password, bool secretStaysHere) {
    Busy busy(*this);
    if (!usable()) return -1;
    if (loggedIn_) return fail("既にログインしています。"), -1;
    if (!signIn(user, password, secretStaysHere)) return -1;

    // STATUS reads the count without selecting the mailbox: nothing on the server changes.
    std::optional<int64_t> unseen;
    std::string line;
    const Result r = command("STATUS INBOX (UNSEEN)", line, [&](const std::string& response) {
        if (const auto n = unseenOfInbox(response)) unseen = n;
    });
    if (r == Result::Broken) return -1;
    if (r != Result::Ok) return refused(line, false);
    if (!unseen) return breakOff("サーバーの STATUS の応答に未読メールの数がありません。"), -1;
    if (*unseen > kMaxUnseen) {
        return breakOff("サーバーの未読メールの数 (" + std::to_string(*unseen) + ") が正しくありません。"), -1;
    }
    loggedIn_ = true;
    return static_cast<int32_t>(*unseen);
}

bool Session::signIn(const std::string& user, const std::string& password, bool secretStaysHere) {
    Busy busy(*this);
    const auto refuse = [this](std::string message) { return fail(std::move(message)); };
    const auto abandon = [this](std::string message) { return breakOff(std::move(message)); };
    if (!usable()) return false;
    if (address_.implicitTls && !tls_ && !startTls()) return false;

    ReplyTimer timer(limits_.replyMs);
    uint64_t budget = kMaxAnswer;
    std::string greeting;
    if (!readResponse(greeting, timer, budget)) return false;
    greeted_ = true;
    const Response hello = parseResponse(greeting);
    const bool preauth = hello.kind == Kind::Untagged && hello.status == "PREAUTH";
    if (hello.kind != Kind::Untagged || (hello.status != "OK" && !preauth)) {
        return abandon("サーバーが接続を受け付けませんでした。" + serverSays(greeting));
    }
    takeCapabilities(greeting);
    if (capabilities_.empty() && !readCapabilities()) return false;
    if (!preauth && !tls_ && offers(capabilities_, "STARTTLS")) {
        std::string line;
        const Result r = command("STARTTLS", line);
        if (r == Result::Broken) return false;
        // Offered but refused: we go no further rather than send the password in clear.
        if (r != Result::Ok) return abandon("暗号化 (STARTTLS) を始められませんでした。" + serverSays(line));
        // Nothing the server said in clear counts any more, its capabilities least of all.
        if (!startTls() || !readCapabilities()) return false;
    }

    if (!preauth) {
        if (hasForbiddenByte(user)) return refuse("ユーザー名に使えない文字(改行など)が含まれています。");
        if (hasForbiddenByte(password)) return refuse("パスワードに使えない文字(改行など)が含まれています。");
        const bool initialResponse = offers(capabilities_, "SASL-IR");
        // SASLprep changes some texts (full-width letters and spaces become ASCII, for one), and many
        // servers (Dovecot among them) keep and compare passwords as typed: a login refused with the
        // prepared text is tried once more with the text as typed.
        const bool retryAsTyped = saslPrep(user).value_or(user) != user || saslPrep(password).value_or(password) != password;
        std::string line;
        Result r = Result::Broken;
        // Refused for the name or password, not for now ([UNAVAILABLE]) or for another reason.
        const auto credentialsRefused = [&] {
            const std::string code = firstWord(parseResponse(line).code);
            return r == Result::No && (code.empty() || code == "AUTHENTICATIONFAILED");
        };
        if (secretStaysHere) {
            if (offers(capabilities_, "AUTH=SCRAM-SHA-256")) {
                if (!Scram(user, password, "").prepared()) {
                    return refuse("ユーザー名かパスワードに SCRAM-SHA-256 で使えない文字(制御文字など)が含まれています。");
                }
                for (const bool prepare : {true, false}) {
                    if (!prepare && !(retryAsTyped && credentialsRefused())) break;
                    Scram scram(user, password, scramNonce(), prepare);
                    enum { First, Final, Proof, Done } step = initialResponse ? Final : First;
                    bool proven = false;
                    r = command("AUTHENTICATE SCRAM-SHA-256" + (initialResponse ? " " + base64(scram.first()) : std::string()), line,
                                {}, [&](const std::string& data) -> std::optional<std::string> {
                                    if (step == First) {
                                        step = Final;
                                        return base64(scram.first());
                                    }
                                    const auto decoded = fromBase64(data);
                                    if (!decoded || step == Done) return std::nullopt;
                                    if (step == Final) {
                                        step = Proof;
                                        const auto final = scram.final(*decoded);
                                        return final ? std::optional<std::string>(base64(*final)) : std::nullopt;
                                    }
                                    step = Done;
                                    proven = scram.verify(*decoded);
                                    return proven ? std::optional<std::string>("") : std::nullopt;
                                });
                    if (r == Result::Broken) return false;
                    // The server that let us in must also have shown it knew the password.
                    if ((r == Result::Ok || step == Done) && !proven) {
                        return abandon("サーバーがパスワードを知っていることを確かめられませんでした (SCRAM-SHA-256)。");
                    }
                }
            } else if (offers(capabilities_, "AUTH=CRAM-MD5")) {
                bool answered = false;
                r = command("AUTHENTICATE CRAM-MD5", line, {}, [&](const std::string& data) -> std::optional<std::string> {
                    const auto challenge = fromBase64(data);
                    if (answered || !challenge) return std::nullopt;
                    answered = true;
                    return base64(cramMd5Answer(user, password, *challenge));
                });
            } else {
                return refuse("サーバーが SCRAM-SHA-256 にも CRAM-MD5 にも対応していないため、パスワードを送らずにログインできません。");
            }
        } else {
            if (!tls_ && offers(capabilities_, "LOGINDISABLED")) {
                return refuse("サーバーは暗号化されていない接続でのログインを受け付けず (LOGINDISABLED)、暗号化 (STARTTLS) も使えません。");
            }
            if (offers(capabilities_, "AUTH=PLAIN")) {
                for (const bool prepare : {true, false}) {
                    if (!prepare && !(retryAsTyped && credentialsRefused())) break;
                    const std::string message = base64(plainMessage(user, password, prepare));
                    bool sent = initialResponse;
                    r = command("AUTHENTICATE PLAIN" + (initialResponse ? " " + message : std::string()), line, {},
                                [&](const std::string&) -> std::optional<std::string> {
                                    if (sent) return std::nullopt;
                                    sent = true;
                                    return message;
                                });
                }
            } else {
                r = command("LOGIN " + *imap::quoted(user) + " " + *imap::quoted(password), line);
            }
        }
        if (r == Result::Broken) return false;
        if (r != Result::Ok) return refused(line, true), false;
    }
    return true;
}

void Session::quit() {
    // Before the greeting there is no conversation to end.
    close([this] { return greeted_; }, "a" + std::to_string(++tagNumber_) + " LOGOUT\r\n");
}

}  // namespace platform::imap
