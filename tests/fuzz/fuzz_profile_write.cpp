// Writing one key into any settings file: the key reads back as written, every other key of the file
// reads as before, only the key's line is written (in UTF-8) and every other line keeps its bytes,
// writing the same again changes nothing, and a refused write leaves the file alone.
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

struct Line {
    std::string_view bytes, eol;
};

// Lines end at CR LF, LF or a lone CR; a last line may have no line end.
std::vector<Line> Lines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const size_t eol = end == text.size() ? 0 : (text.substr(end, 2) == "\r\n" ? 2 : 1);
        lines.push_back({text.substr(pos, end - pos), text.substr(end, eol)});
        pos = end + eol;
    }
    return lines;
}

// What a write may do to a file: replace one line, or add one or two (the key, after its section
// header when the section is new) in one place, the lines written being UTF-8. Every other line
// keeps its bytes and its line end, but for an unfinished last line, which may gain a CR LF.
// Empty when after is such a change of before, else what is wrong.
std::string OneLineChanged(std::string_view before, std::string_view after) {
    const std::string_view bom = "\xEF\xBB\xBF";
    if (before.starts_with(bom) != after.starts_with(bom)) return "the byte-order mark came or went";
    if (before.starts_with(bom)) {
        before.remove_prefix(bom.size());
        after.remove_prefix(bom.size());
    }
    const std::vector<Line> b = Lines(before), a = Lines(after);
    auto kept = [&](const Line& old, const Line& now, bool last) {
        return old.bytes == now.bytes && (old.eol == now.eol || (last && old.eol.empty() && now.eol == "\r\n"));
    };
    size_t same = 0;  // lines kept at the start
    while (same < b.size() && same < a.size() && kept(b[same], a[same], same + 1 == b.size())) ++same;
    size_t tail = 0;  // and at the end
    while (same + tail < b.size() && same + tail < a.size() &&
           kept(b[b.size() - 1 - tail], a[a.size() - 1 - tail], tail == 0))
        ++tail;
    const size_t gone = b.size() - same - tail, added = a.size() - same - tail;
    if (!((gone == 1 && added == 1) || (gone == 0 && added <= 2)))
        return std::to_string(gone) + " lines replaced by " + std::to_string(added);
    for (size_t i = same; i < same + added; ++i) {
        if (!fuzz::WellFormedUtf8(a[i].bytes)) return "a line written is not UTF-8: " + fuzz::Quoted(a[i].bytes);
        const std::string_view wanted = gone == 1 ? b[same].eol : std::string_view("\r\n");
        if (a[i].eol != wanted) return "a line written ends in " + fuzz::Quoted(a[i].eol);
    }
    return {};
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
    const std::string change = OneLineChanged(content, after);
    FUZZ_CHECK(change.empty(), change + " by " + what + "; file now " + fuzz::Quoted(after, 400));

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
