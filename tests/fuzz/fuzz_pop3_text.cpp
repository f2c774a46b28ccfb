// What the POP3 client makes of server bytes, without a socket: status lines and their numbers, the
// greeting's APOP timestamp, multi-line replies with dot-stuffing and their terminating line, the split
// of a message into header and body, header fields, and the copies into callers' fixed buffers.
// Streamed pieces are fed in random chunks and must give what the whole text gives at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "fuzz_support.h"
#include "platform/pop3_text.h"

using namespace platform::pop3;

namespace {

class StringSink : public Sink {
public:
    void write(const char* data, size_t size) override { text.append(data, size); }
    std::string text;
};

// Chunk sizes from a seed: mostly small, so that line ends and dots fall across chunk borders.
class Chunks {
public:
    explicit Chunks(uint32_t seed) : state_(seed | 1u) {}
    size_t Next(size_t left) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        const size_t n = (state_ & 7u) == 0 ? left : 1 + (state_ >> 8) % 5;
        return std::min(n, left);
    }

private:
    uint32_t state_;
};

struct Unstuffed {
    std::string out;
    size_t consumed = 0;
    bool finished = false;
    bool tooLong = false;
};

// Multi-line replies read line by line: the "." line ends them, a leading dot is dropped from any
// other line, and a line longer than the limit (its line end included) stops the reading.
Unstuffed ReferenceUnstuff(std::string_view wire, size_t maxLine) {
    Unstuffed r;
    size_t pos = 0;
    while (pos < wire.size()) {
        const size_t newline = wire.find('\n', pos);
        const size_t end = newline == std::string_view::npos ? wire.size() : newline + 1;
        const std::string_view line = wire.substr(pos, end - pos);
        if (line == ".\r\n" || line == ".\n") {
            r.finished = true;
            r.consumed = end;
            return r;
        }
        if (line.size() > maxLine) {
            r.tooLong = true;
            return r;
        }
        r.out += line.front() == '.' ? line.substr(1) : line;
        pos = end;
    }
    r.consumed = pos;
    return r;
}

Unstuffed ChunkedUnstuff(std::string_view wire, size_t maxLine, uint32_t seed) {
    DotUnstuffer unstuffer(maxLine);
    StringSink sink;
    Chunks chunks(seed);
    Unstuffed r;
    size_t pos = 0;
    while (pos < wire.size() && !unstuffer.finished() && !unstuffer.lineTooLong()) {
        const size_t n = chunks.Next(wire.size() - pos);
        const size_t taken = unstuffer.feed(wire.data() + pos, n, sink);
        FUZZ_CHECK(taken <= n, "feed took more than it was given");
        pos += taken;
        if (taken < n) {
            FUZZ_CHECK(unstuffer.finished() || unstuffer.lineTooLong(), "feed stopped early without a reason");
        }
    }
    r.out = sink.text;
    r.consumed = pos;
    r.finished = unstuffer.finished();
    r.tooLong = unstuffer.lineTooLong();
    return r;
}

void CheckUnstuffing(const std::string& text, size_t maxLine, uint32_t seed) {
    // As the server sends it: whatever the text is, a terminating line follows it.
    const std::string wire = text + "\r\n.\r\n";
    const Unstuffed expected = ReferenceUnstuff(wire, maxLine);
    const Unstuffed got = ChunkedUnstuff(wire, maxLine, seed);
    FUZZ_CHECK(got.tooLong == expected.tooLong, "too-long line seen differently; wire " + fuzz::Quoted(wire));
    if (expected.tooLong) {
        // Streamed: the start of the too-long line may have gone out before its length was known.
        FUZZ_CHECK(ReferenceUnstuff(wire, SIZE_MAX).out.starts_with(got.out), "passed on invented data");
    } else {
        FUZZ_CHECK(got.finished, "terminating line missed; wire " + fuzz::Quoted(wire));
        FUZZ_CHECK(got.consumed == expected.consumed, "stopped at the wrong place; wire " + fuzz::Quoted(wire));
        FUZZ_CHECK(got.out == expected.out,
                   "unstuffed " + fuzz::Quoted(got.out) + " instead of " + fuzz::Quoted(expected.out));
    }
    // The text alone, cut off anywhere: never more than the complete lines give.
    const Unstuffed cut = ChunkedUnstuff(text, maxLine, seed ^ 0x9e3779b9u);
    const Unstuffed whole = ReferenceUnstuff(text + "\n", SIZE_MAX);
    FUZZ_CHECK(whole.out.starts_with(cut.out), "cut-off reply passed on invented data");
}

void CheckHeaderSplit(const std::string& message, size_t cap, uint32_t seed) {
    // The header ends at the first empty line ("\n" or "\r\n" at the start of a line).
    std::string header = message, body;
    bool found = false;
    for (size_t start = 0; start < message.size();) {
        if (message[start] == '\n' || message.compare(start, 2, "\r\n") == 0) {
            header = message.substr(0, start);
            body = message.substr(start + (message[start] == '\n' ? 1 : 2));
            found = true;
            break;
        }
        const size_t newline = message.find('\n', start);
        if (newline == std::string::npos) break;
        start = newline + 1;
    }
    StringSink bodySink;
    HeaderSplitter splitter(&bodySink, cap);
    Chunks chunks(seed);
    for (size_t pos = 0; pos < message.size();) {
        const size_t n = chunks.Next(message.size() - pos);
        splitter.write(message.data() + pos, n);
        pos += n;
    }
    FUZZ_CHECK(splitter.inBody() == found, "end of the header seen differently in " + fuzz::Quoted(message));
    FUZZ_CHECK(splitter.header() == header.substr(0, cap),
               "header " + fuzz::Quoted(splitter.header()) + " instead of " + fuzz::Quoted(header.substr(0, cap)) +
                   " (cap " + std::to_string(cap) + ")");
    FUZZ_CHECK(bodySink.text == body, "body " + fuzz::Quoted(bodySink.text) + " instead of " + fuzz::Quoted(body));

    for (const char* name : {"Subject", "From", "Date"}) {
        const std::string value = headerField(splitter.header(), name);
        FUZZ_CHECK(value.find('\n') == std::string::npos, "a field value holds a line feed");
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        FUZZ_CHECK(value.empty() || (!blank(value.front()) && !blank(value.back())),
                   "field value not trimmed: " + fuzz::Quoted(value));
    }
}

void CheckBuffers(const std::string& text, int64_t capacity, uint32_t seed) {
    const size_t room = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    {
        fuzz::FencedBuffer buffer(room);
        const size_t n = copyToBuffer(text, buffer.data(), capacity);
        FUZZ_CHECK(buffer.FencesIntact(), "copyToBuffer wrote outside capacity " + std::to_string(capacity));
        FUZZ_CHECK(n == (room == 0 ? 0 : std::min(text.size(), room - 1)), "copyToBuffer copied the wrong count");
        if (room > 0) FUZZ_CHECK(buffer.data()[n] == '\0' && std::memcmp(buffer.data(), text.data(), n) == 0,
                                 "copyToBuffer's copy is wrong");
    }
    {
        fuzz::FencedBuffer buffer(room);
        BufferSink sink(buffer.data(), capacity);
        Chunks chunks(seed);
        for (size_t pos = 0; pos < text.size();) {
            const size_t n = chunks.Next(text.size() - pos);
            sink.write(text.data() + pos, n);
            pos += n;
        }
        sink.finish();
        FUZZ_CHECK(buffer.FencesIntact(), "BufferSink wrote outside capacity " + std::to_string(capacity));
        FUZZ_CHECK(sink.total() == text.size(), "BufferSink lost count of what it was offered");
        const size_t n = sink.written();
        FUZZ_CHECK(n == (room == 0 ? 0 : std::min(text.size(), room - 1)), "BufferSink kept the wrong count");
        if (room > 0) FUZZ_CHECK(buffer.data()[n] == '\0' && std::memcmp(buffer.data(), text.data(), n) == 0,
                                 "BufferSink's copy is wrong");
    }
}

void CheckLines(const std::string& text, size_t maxBytes) {
    FUZZ_CHECK(!(isOk(text) && isErr(text)), "a line both +OK and -ERR");
    if (const auto numbers = okNumbers(text)) {
        FUZZ_CHECK(isOk(text), "numbers read from a line that is not +OK");
        constexpr int64_t kClamp = 1'000'000'000'000'000;
        FUZZ_CHECK(std::abs(numbers->first) <= kClamp && std::abs(numbers->second) <= kClamp, "numbers not clamped");
    }

    const std::string shown = printableServerText(text, maxBytes);
    FUZZ_CHECK(shown.size() <= maxBytes, "printable text longer than asked");
    FUZZ_CHECK(fuzz::WellFormedUtf8(shown), "printable text is not UTF-8: " + fuzz::Quoted(shown));
    FUZZ_CHECK(std::none_of(shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
               "printable text holds control characters: " + fuzz::Quoted(shown));

    const std::string_view prefix = utf8Prefix(text, maxBytes);
    FUZZ_CHECK(std::string_view(text).starts_with(prefix), "utf8Prefix is no prefix");
    FUZZ_CHECK(prefix.size() == text.size() || prefix.size() <= maxBytes, "utf8Prefix too long");
    if (fuzz::WellFormedUtf8(text)) {
        FUZZ_CHECK(fuzz::WellFormedUtf8(prefix), "utf8Prefix split a character of " + fuzz::Quoted(text));
        FUZZ_CHECK(prefix.size() + 3 >= std::min(maxBytes, text.size()), "utf8Prefix cut more than a character");
    }

    if (const auto stamp = greetingTimestamp(text)) {
        FUZZ_CHECK(stamp->size() >= 3 && stamp->front() == '<' && stamp->back() == '>' &&
                       stamp->find('@') != std::string::npos && text.find(*stamp) != std::string::npos,
                   "timestamp " + fuzz::Quoted(*stamp) + " is not one of the greeting's");
        const std::string digest = apopDigest(*stamp, "secret");
        FUZZ_CHECK(digest.size() == 32 && digest.find_first_not_of("0123456789abcdef") == std::string::npos,
                   "APOP digest is not 32 lowercase hex digits");
    }

    if (const auto address = parseServerText(text)) {
        FUZZ_CHECK(!address->host.empty() && address->port != 0, "usable address without host or port");
        FUZZ_CHECK(address->port != 995 || address->implicitTls, "port 995 without TLS");
        // What we show the user must read back as the same server.
        const auto again = parseServerText(displayName(*address));
        FUZZ_CHECK(again && again->host == address->host && again->port == address->port,
                   "server " + fuzz::Quoted(text) + " shown as " + fuzz::Quoted(displayName(*address)) +
                       ", which reads back differently");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t maxLine = in.ConsumeBool() ? size_t{1} << 20 : in.ConsumeIntegralInRange<size_t>(1, 80);
    const size_t headerCap = in.ConsumeBool() ? size_t{1} << 20 : in.ConsumeIntegralInRange<size_t>(0, 100);
    const int64_t capacity = in.ConsumeIntegralInRange<int64_t>(-2, 48);
    const size_t maxBytes = in.ConsumeIntegralInRange<size_t>(0, 320);
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();
    const std::string text = in.ConsumeRemainingBytesAsString();

    CheckLines(text, maxBytes);
    CheckUnstuffing(text, maxLine, seed);
    CheckHeaderSplit(text, headerCap, seed);
    CheckBuffers(text, capacity, seed);
    return 0;
}
