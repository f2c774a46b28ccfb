#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kNewLine = "\r\n";  // what the Windows calls write

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return TrimRight(s);
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

// A value in matching quotes is read without them; the file keeps them.
std::string_view StripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// One line of the file: its bytes as stored and its own line end ("" for a last line without one),
// so that lines we do not touch are written back byte for byte, and its text decoded by itself.
struct Line {
    std::string bytes;
    std::string eol;
    std::string text;  // UTF-8
};

// A line the program writes: UTF-8 in the file as in memory.
Line NewLine(const std::string& text, std::string_view eol) { return {text, std::string(eol), text}; }

struct Document {
    std::string bom;  // a UTF-8 byte order mark at the start is kept as found
    std::vector<Line> lines;
};

Document Parse(std::string_view raw) {
    Document doc;
    if (raw.starts_with(kUtf8Bom)) {
        doc.bom = kUtf8Bom;
        raw.remove_prefix(kUtf8Bom.size());
    }
    const bool marked = !doc.bom.empty();
    for (const RawLine& line : SplitLines(raw)) {
        doc.lines.push_back({std::string(line.bytes), std::string(line.eol), DecodeLegacyLine(line.bytes, marked)});
    }
    return doc;
}

std::string Serialize(const Document& doc) {
    std::string out = doc.bom;
    for (const Line& line : doc.lines) {
        out += line.bytes;
        out += line.eol;
    }
    return out;
}

enum class Kind { Blank, Comment, Section, Key, Other };

struct Classified {
    Kind kind = Kind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed, quotes still on
};

Classified Classify(std::string_view text) {
    std::string_view t = Trim(text);
    if (t.empty()) return {Kind::Blank, {}, {}};
    if (t.front() == ';') return {Kind::Comment, {}, {}};
    if (t.front() == '[') {
        size_t close = t.rfind(']');
        if (close == std::string_view::npos) return {Kind::Other, {}, {}};
        return {Kind::Section, Trim(t.substr(1, close - 1)), {}};
    }
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return {Kind::Other, {}, {}};
    std::string_view name = Trim(t.substr(0, eq));
    // "=value" names nothing a caller can ask for.
    if (name.empty()) return {Kind::Other, {}, {}};
    return {Kind::Key, name, Trim(t.substr(eq + 1))};
}

// Where a key lives. With duplicate sections only the first one counts, for reading and writing
// alike; a key in a later copy of the section is not seen. With duplicate keys the first wins.
struct Location {
    std::optional<size_t> section;  // header line
    size_t lastFilled = 0;          // last non-blank line of the section (the header if it is empty)
    std::optional<size_t> key;
    std::string keyName;  // as spelled in the file
    std::string rawValue;
};

Location Locate(const Document& doc, std::string_view section, std::string_view key) {
    Location loc;
    bool inside = false;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        Classified c = Classify(doc.lines[i].text);
        if (c.kind == Kind::Section) {
            if (inside) break;
            if (EqualsNoCase(c.name, section)) {
                inside = true;
                loc.section = i;
                loc.lastFilled = i;
            }
            continue;
        }
        if (!inside) continue;  // lines before any section, and other sections
        if (c.kind != Kind::Blank) loc.lastFilled = i;
        if (c.kind == Kind::Key && !loc.key && EqualsNoCase(c.name, key)) {
            loc.key = i;
            loc.keyName = c.name;
            loc.rawValue = c.value;
        }
    }
    return loc;
}

std::optional<Document> Load(const std::string& file) {
    std::optional<std::string> raw = ReadFileBytes(file);
    if (!raw) return std::nullopt;
    return Parse(*raw);
}

// The value read (quotes removed), or nullopt when file, section or key is missing.
std::optional<std::string> ReadValue(const std::string& section, const std::string& key, const std::string& file) {
    // Names are decoded as the writer decodes them, so legacy bytes find what they wrote.
    const std::string secText = DecodeLegacyText(section), keyText = DecodeLegacyText(key);
    std::string_view sec = Trim(secText);
    std::string_view k = Trim(keyText);
    if (sec.empty() || k.empty()) return std::nullopt;
    std::optional<Document> doc = Load(file);
    if (!doc) return std::nullopt;
    Location loc = Locate(*doc, sec, k);
    if (!loc.key) return std::nullopt;
    return std::string(StripQuotes(loc.rawValue));
}

uint32_t CopyOut(std::string_view s, char* buffer, uint32_t size) {
    if (size == 0 || buffer == nullptr) return 0;
    size_t n = std::min<size_t>(s.size(), size - 1);
    // Back up to the start of a character so that the caller never sees half of one.
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

// Writers in this process take turns, so that two settings saved at once do not lose one another.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

int32_t GetPrivateProfileIntA(const std::string& section, const std::string& key, int32_t defaultValue,
                              const std::string& file) {
    std::optional<std::string> value = ReadValue(section, key, file);
    // An empty value gives the default too: Windows reads the string first and cannot tell an empty
    // one from a missing key (only 16-bit Windows returned 0 there). The public conformance tests do
    // not cover this case.
    if (!value || value->empty()) return defaultValue;

    std::string_view s = *value;
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps modulo 2^32 as the original does ("4294967297" reads as 1).
    uint32_t result = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        result = result * 10u + static_cast<uint32_t>(s[i] - '0');
    }
    if (negative) result = 0u - result;
    return static_cast<int32_t>(result);
}

uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, char* buffer, uint32_t size,
                                  const std::string& file) {
    std::optional<std::string> value = ReadValue(section, key, file);
    if (value) return CopyOut(*value, buffer, size);
    return CopyOut(TrimRight(defaultValue), buffer, size);
}

int32_t WritePrivateProfileStrings(const std::string& section, const std::vector<ProfileValue>& values,
                                   const std::string& file, FileAccess access) {
    // Callers hand UTF-8; anything else is taken as legacy text, so that the lines written are UTF-8.
    const std::string secText = DecodeLegacyText(section);
    const std::string_view sec = Trim(secText);
    // Names that could not be read back as written are refused rather than written wrongly.
    constexpr std::string_view kLineBreaks("\r\n\0", 3), kKeyBreaks("=\r\n\0", 4);
    if (sec.empty() || sec.find_first_of(kLineBreaks) != std::string_view::npos) {
        errno = EINVAL;
        return 0;
    }
    struct Entry {
        std::string key, value;
    };
    std::vector<Entry> entries;
    for (const ProfileValue& kv : values) {
        const std::string keyText = DecodeLegacyText(kv.key), valueText = DecodeLegacyText(kv.value);
        const std::string_view k = Trim(keyText);
        if (k.empty() || k.front() == ';' || k.front() == '[' || k.find_first_of(kKeyBreaks) != std::string_view::npos) {
            errno = EINVAL;
            return 0;  // nothing of the lot is written
        }
        // A line end inside the value would start a new line in the file; keep only the first line.
        std::string_view v = valueText;
        v = Trim(v.substr(0, std::min(v.size(), v.find_first_of(kLineBreaks))));
        entries.push_back({std::string(k), std::string(v)});
    }

    std::lock_guard<std::mutex> lock(WriteMutex());
    // Other copies of the program may be saving into the same file: from the read to the rename it is ours.
    ReplacementLock fileLock;
    fileLock.Lock(file);

    Document doc;
    if (std::optional<Document> loaded = Load(file)) {
        doc = std::move(*loaded);
    } else if (FileExists(file)) {
        errno = EACCES;
        return 0;  // there but unreadable: rewriting it would lose its contents
    }

    bool changed = false;
    for (const Entry& e : entries) {
        const std::string keyLine = e.key + "=" + e.value;
        Location loc = Locate(doc, sec, e.key);
        if (loc.key) {
            if (loc.rawValue == e.value) continue;
            // Keep the name as the file spells it, and the line's own line end.
            Line& line = doc.lines[*loc.key];
            line = NewLine(loc.keyName + "=" + e.value, line.eol);
        } else if (loc.section) {
            // After the section's last non-blank line, so blank lines before the next section stay put.
            size_t at = loc.lastFilled;
            if (doc.lines[at].eol.empty()) doc.lines[at].eol = kNewLine;
            doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(at + 1), NewLine(keyLine, kNewLine));
        } else {
            if (!doc.lines.empty() && doc.lines.back().eol.empty()) doc.lines.back().eol = kNewLine;
            doc.lines.push_back(NewLine("[" + std::string(sec) + "]", kNewLine));
            doc.lines.push_back(NewLine(keyLine, kNewLine));
        }
        changed = true;
    }
    if (!changed) {
        // Nothing to change: leave the file alone unless it still has to be made private.
        struct stat st {};
        const bool tighten = access == FileAccess::OwnerOnly && ::stat(file.c_str(), &st) == 0 &&
                             (st.st_mode & 07777) != 0600;
        if (!tighten) return 1;
    }
    return WriteFileAtomically(file, Serialize(doc), access) ? 1 : 0;
}

int32_t WritePrivateProfileStringA(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file, FileAccess access) {
    return WritePrivateProfileStrings(section, {{key, value}}, file, access);
}

}  // namespace platform
