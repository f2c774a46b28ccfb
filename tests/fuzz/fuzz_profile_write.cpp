// Writing one key into any settings file: the key reads back as written, every other key of the file
// reads as before, the file stays UTF-8 (so it is never taken for Shift_JIS afterwards), writing the
// same again changes nothing, and a refused write leaves the file alone.
//
// Input: section, key and value of the write, then the file's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "profile_names.h"

using namespace platform;

namespace {

std::string Read(const std::string& section, const std::string& key, const std::string& file) {
    std::vector<char> buffer(1 << 16);
    const uint32_t n = GetPrivateProfileStringA(section, key, fuzz::kMissing, buffer.data(),
                                                static_cast<uint32_t>(buffer.size()), file);
    return std::string(buffer.data(), n);
}

struct Key {
    std::string section, key;
};

// The keys a reader could find in the text: every "name=" line with the section above it. Only a
// list of names to look up afterwards; which of them count is the reader's business.
std::vector<Key> KeysIn(const std::string& text) {
    std::vector<Key> keys;
    std::string section;
    size_t pos = 0;
    while (pos < text.size() && keys.size() < 24) {
        const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const std::string_view line = fuzz::TrimBlanks(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.starts_with('[') && line.find(']') != std::string_view::npos) {
            section = std::string(line.substr(1, line.rfind(']') - 1));
        } else if (const size_t eq = line.find('='); eq != std::string_view::npos && eq > 0) {
            keys.push_back({section, std::string(line.substr(0, eq))});
        }
    }
    return keys;
}

// What a written value reads back as: its first line, without surrounding blanks and matching quotes.
std::string ReadsBackAs(const std::string& value) {
    std::string_view v = value;
    v = fuzz::TrimBlanks(v.substr(0, std::min(v.size(), v.find_first_of(std::string_view("\r\n\0", 3)))));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = fuzz::ScratchFolder() + "/write.ini";
    FuzzedDataProvider in(data, size);
    const std::string section = fuzz::PickName(in);
    const std::string key = fuzz::PickName(in);
    const std::string value = in.ConsumeBool() ? "1" : in.ConsumeRandomLengthString(24);
    const std::string content = in.ConsumeRemainingBytesAsString();
    fuzz::WriteBytes(file, content);

    const std::vector<Key> others = KeysIn(DecodeLegacyText(content));
    std::vector<std::string> before;
    for (const Key& k : others) before.push_back(Read(k.section, k.key, file));

    // Names and values are UTF-8 from the program; other bytes are taken as Shift_JIS, as in files.
    const std::string sectionText = DecodeLegacyText(section);
    const std::string keyText = DecodeLegacyText(key);
    const std::string_view s = fuzz::TrimBlanks(sectionText);
    const std::string_view k = fuzz::TrimBlanks(keyText);
    const std::string_view lineEnds("\r\n\0", 3);
    const bool usable = !s.empty() && s.find_first_of(lineEnds) == std::string_view::npos && !k.empty() &&
                        k.front() != ';' && k.front() != '[' && k.find_first_of("=\r\n") == std::string_view::npos &&
                        k.find('\0') == std::string_view::npos;

    const int32_t written = WritePrivateProfileStringA(section, key, value, file);
    const std::string after = fuzz::ReadBytes(file);
    const std::string what = "writing [" + fuzz::Quoted(section) + "] " + fuzz::Quoted(key) + "=" + fuzz::Quoted(value) +
                             " into " + fuzz::Quoted(content, 400);
    if (!usable) {
        FUZZ_CHECK(written == 0, "unusable names accepted: " + what);
        FUZZ_CHECK(after == content, "a refused write changed the file: " + what);
        return 0;
    }
    FUZZ_CHECK(written == 1, "write failed: " + what);
    if (after != content) FUZZ_CHECK(fuzz::WellFormedUtf8(after), "file no longer UTF-8 after " + what);

    const std::string back = Read(std::string(s), std::string(k), file);
    FUZZ_CHECK(back == ReadsBackAs(DecodeLegacyText(value)),
               "reads back " + fuzz::Quoted(back) + " after " + what + "; file now " + fuzz::Quoted(after, 400));
    for (size_t i = 0; i < others.size(); ++i) {
        if (fuzz::SameName(others[i].section, s) && fuzz::SameName(others[i].key, k)) continue;
        const std::string now = Read(others[i].section, others[i].key, file);
        FUZZ_CHECK(now == before[i], "[" + fuzz::Quoted(others[i].section) + "] " + fuzz::Quoted(others[i].key) +
                                         " was " + fuzz::Quoted(before[i]) + ", now " + fuzz::Quoted(now) + " after " +
                                         what + "; file now " + fuzz::Quoted(after, 400));
    }

    FUZZ_CHECK(WritePrivateProfileStringA(section, key, value, file) == 1, "writing again failed: " + what);
    FUZZ_CHECK(fuzz::ReadBytes(file) == after, "writing the same again changed the file: " + what);
    return 0;
}
