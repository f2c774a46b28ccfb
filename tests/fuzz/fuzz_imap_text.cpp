// What the IMAP client makes of a server's response, without a socket: the kind of response, its tag,
// status and response code, the capability list, the UNSEEN count of a STATUS response about INBOX,
// and the literal announced at a line's end. Every answer must stay within what the input holds and
// within the bounds the session relies on.
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/imap_text.h"

using namespace platform::imap;

namespace {

bool startsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Response r = parseResponse(text);
    switch (r.kind) {
    case Kind::Continuation:
        FUZZ_CHECK(!text.empty() && text[0] == '+', fuzz::Quoted(text));
        FUZZ_CHECK(text.size() >= r.text.size() && text.compare(text.size() - r.text.size(), r.text.size(), r.text) == 0,
                   fuzz::Quoted(text));
        break;
    case Kind::Tagged:
        FUZZ_CHECK(!r.tag.empty() && r.tag != "*" && text.compare(0, r.tag.size(), r.tag) == 0, fuzz::Quoted(text));
        FUZZ_CHECK(r.status == "OK" || r.status == "NO" || r.status == "BAD" || r.status == "BYE" || r.status == "PREAUTH",
                   fuzz::Quoted(text));
        break;
    case Kind::Untagged:
        FUZZ_CHECK(text.compare(0, 2, "* ") == 0 && !r.status.empty(), fuzz::Quoted(text));
        break;
    case Kind::Malformed:
        break;
    }
    FUZZ_CHECK(r.code.size() + r.text.size() + r.tag.size() + r.status.size() <= text.size(), fuzz::Quoted(text));
    if (const auto list = capabilitiesOf(r)) {
        for (const std::string& name : *list) {
            FUZZ_CHECK(!name.empty() && name.find(' ') == std::string::npos, fuzz::Quoted(text));
            for (char c : name) FUZZ_CHECK(!std::islower(static_cast<unsigned char>(c)), fuzz::Quoted(text));
        }
    }
    if (const auto unseen = unseenOfInbox(text)) {
        FUZZ_CHECK(*unseen >= 0 && *unseen <= (int64_t{1} << 53), fuzz::Quoted(text));
        FUZZ_CHECK(startsNoCase(text, "* STATUS "), fuzz::Quoted(text));
    }
    if (const auto literal = literalAtEnd(text)) {
        FUZZ_CHECK(*literal < (uint64_t{1} << 40) && !text.empty() && text.back() == '}', fuzz::Quoted(text));
    }
    if (const auto q = platform::imap::quoted(text)) {
        FUZZ_CHECK(q->size() >= text.size() + 2 && q->front() == '"' && q->back() == '"', fuzz::Quoted(text));
    }
    if (const auto bytes = fromBase64(text)) FUZZ_CHECK(fromBase64(base64(*bytes)) == bytes, fuzz::Quoted(text));
    return 0;
}
