#include "platform/textfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>

namespace platform {

namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Writes all of bytes, riding out short writes and signals.
bool WriteAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::string RandomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kChars)) - 2);
    std::string s;
    for (int i = 0; i < 8; ++i) s += kChars[pick(rd)];
    return s;
}

// Makes the new name durable too; failure here does not undo a finished rename, so it is ignored.
void SyncFolder(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Without a working CP932 converter we still must not pass invalid UTF-8 on:
// ASCII survives, everything else becomes U+FFFD.
std::string AsciiOnly(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += kReplacementChar;
        }
    }
    return out;
}

// The CP932 converter of this thread, opened at first use and kept: a file may ask for one per line.
class Cp932Converter {
public:
    Cp932Converter() : cd_(::iconv_open("UTF-8", "CP932")) {}
    ~Cp932Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Cp932Converter(const Cp932Converter&) = delete;
    Cp932Converter& operator=(const Cp932Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

std::string DecodeCp932(std::string_view bytes) {
    thread_local Cp932Converter converter;
    if (!converter.ok()) return AsciiOnly(bytes);
    iconv_t cd = converter.get();
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh start, whatever the last text left

    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    // glibc's iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char chunk[4096];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        size_t r = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (errno == EILSEQ || errno == EINVAL) {
            // Skip only the offending byte so that the text after it still decodes.
            out += kReplacementChar;
            ++in;
            --inLeft;
            continue;
        }
        // Any other error: mark the rest as undecodable rather than lose it silently.
        out += kReplacementChar;
        break;
    }
    return out;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // O_NONBLOCK keeps a stray FIFO at the path from hanging us; regular files ignore it.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

std::vector<RawLine> SplitLines(std::string_view bytes) {
    std::vector<RawLine> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            size_t eolLen = (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
            lines.push_back({bytes.substr(start, i - start), bytes.substr(i, eolLen)});
            i += eolLen;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size()) lines.push_back({bytes.substr(start), {}});
    return lines;
}

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path) {
    std::optional<std::string> raw = ReadFileBytes(path);
    if (!raw) return std::nullopt;
    std::string_view rest(*raw);
    const bool marked = rest.starts_with(kUtf8Bom);
    if (marked) rest.remove_prefix(kUtf8Bom.size());

    std::vector<std::string> lines;
    for (const RawLine& line : SplitLines(rest)) lines.push_back(DecodeLegacyLine(line.bytes, marked));
    return lines;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, FileAccess access) {
    if (path.empty()) return false;

    // Replacing a link by rename would cut it; write next to the file it points at instead.
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) return false;
        target = resolved;
    }

    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return false;

    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return false;
    // Rename would happily replace a write-protected file; honour the protection instead. A file with
    // no write bit at all is read-only for root too, as the read-only attribute is on Windows.
    if (exists && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)) return false;

    // A new Normal file is created 0666 so that the kernel applies the umask for us.
    mode_t createMode = (access == FileAccess::OwnerOnly || exists) ? 0600 : 0666;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/." + base + "." + RandomSuffix() + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    auto fail = [&]() {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    };

    if (!WriteAll(fd, bytes)) return fail();
    if (access == FileAccess::OwnerOnly) {
        if (::fchmod(fd, 0600) != 0) return fail();
    } else if (exists) {
        // Keep the owner where we may (root editing a user's file); chown first, as it can clear mode bits.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
                // Not allowed: the replacement stays ours, which is the best we can do.
            }
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0) return fail();
    }
    if (::fsync(fd) != 0) return fail();
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(dir);
    return true;
}

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
        unsigned char c = b(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;        // overlong
            if (c == 0xED) hi = 0x9F;        // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;        // overlong
            if (c == 0xF4) hi = 0x8F;        // past U+10FFFF
        } else {
            return false;
        }
        if (i + len > n) return false;
        if (b(i + 1) < lo || b(i + 1) > hi) return false;
        for (size_t k = 2; k < len; ++k) {
            if ((b(i + k) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

std::string DecodeLegacyLine(std::string_view line, bool utf8Marked) {
    if (IsValidUtf8(line)) return std::string(line);
    if (utf8Marked) return QString::fromUtf8(line.data(), qsizetype(line.size())).toUtf8().toStdString();
    return DecodeCp932(line);
}

std::string DecodeLegacyText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    // A byte-order mark says UTF-8 for the whole text: a broken byte becomes U+FFFD rather than its
    // line being read as Shift_JIS.
    std::string out;
    const bool marked = bytes.starts_with(kUtf8Bom);
    if (marked) {
        out = kUtf8Bom;
        bytes.remove_prefix(kUtf8Bom.size());
    }
    for (const RawLine& line : SplitLines(bytes)) {
        out += DecodeLegacyLine(line.bytes, marked);
        out += line.eol;
    }
    return out;
}

}  // namespace platform
