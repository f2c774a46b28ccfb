#include "platform/textfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/file.h>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
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

constexpr size_t kTempSuffixLength = 8;

std::string RandomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kChars)) - 2);
    std::string s;
    for (size_t i = 0; i < kTempSuffixLength; ++i) s += kChars[pick(rd)];
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
    // On the heap: settings are read during a mail check too, on its small stack of its own.
    constexpr size_t kChunk = 65536;
    std::unique_ptr<char[]> chunk(new char[kChunk]);
    for (;;) {
        ssize_t n = ::read(fd, chunk.get(), kChunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(chunk.get(), static_cast<size_t>(n));
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

namespace {

WriteFaultHook g_faultHook;

// Asks the fault hook, if any, whether this step is to fail; the errno it fails with, or 0.
int Fault(WriteStep step, const std::string& temp) { return g_faultHook ? g_faultHook(step, temp) : 0; }

// Fails with err as errno, whatever cleaning up does to errno after it.
bool FailWith(int err) {
    errno = err;
    return false;
}

// The folder and name a replacement of path works in: a link is followed, since replacing the link
// by rename would cut it. False when path names no file we could replace.
bool ReplacementTarget(const std::string& path, std::string& target, std::string& dir, std::string& base) {
    if (path.empty()) return FailWith(EINVAL);
    target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) return false;
        target = resolved;
    }
    const size_t slash = target.rfind('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return FailWith(EISDIR);
    return true;
}

// ".NAME.xxxxxxxx.tmp", as the replacement of NAME names its temp file.
bool IsTempNameOf(std::string_view name, std::string_view base) {
    const size_t expected = 1 + base.size() + 1 + kTempSuffixLength + 4;
    if (name.size() != expected || name[0] != '.' || name.substr(1, base.size()) != base ||
        name[1 + base.size()] != '.' || !name.ends_with(".tmp")) {
        return false;
    }
    for (char c : name.substr(2 + base.size(), kTempSuffixLength))
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

void RemoveLeftoverTempsIn(const std::string& dir, const std::string& base) {
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) return;
    const int dfd = ::dirfd(folder);
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(folder)) {
        if (!IsTempNameOf(entry->d_name, base)) continue;
        const int fd = ::openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {}, named {};
        // Ours, and no writer holds it: a writer keeps its temp file locked from creation to rename,
        // and the lock goes with the writer when it is killed.
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && (held.st_uid == me || me == 0) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == held.st_ino &&
            named.st_dev == held.st_dev) {
            ::unlinkat(dfd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(folder);
}

struct Owner {
    uid_t uid;
    gid_t gid;
};

// Who a new file in dir is to belong to when it is not simply the writer: root creating a settings
// file in a user's folder makes it the user's, as the user's own copy of the program would have. Not
// in a folder others may write to as well (/tmp): whose file it is cannot be told from that.
std::optional<Owner> NewFileOwner(const std::string& dir) {
    struct stat folder {};
    if (::geteuid() != 0 || ::stat(dir.c_str(), &folder) != 0 || folder.st_uid == 0 || (folder.st_mode & 0022) != 0)
        return std::nullopt;
    return Owner{folder.st_uid, folder.st_gid};
}

// The temp file of one replacement, open and locked; closed (and so unlocked) when it goes, also
// when a test's fault hook unwinds through it as a killed process would.
struct TempFile {
    int fd = -1;
    std::string path;
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
    }
    // Closes and removes it, keeping errno for the caller.
    bool Discard() {
        const int err = errno;
        ::close(fd);
        fd = -1;
        ::unlink(path.c_str());
        return FailWith(err);
    }
};

// Creates a temp file beside the target and locks it. A cleaner of another copy may take a fresh,
// not yet locked file away between our create and lock: then the name no longer leads to our file
// (or the lock is taken), and we try another name.
bool CreateTemp(const std::string& dir, const std::string& base, mode_t mode, TempFile& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp.path = dir + "/." + base + "." + RandomSuffix() + ".tmp";
        if (int err = Fault(WriteStep::CreateTemp, temp.path)) return FailWith(err);
        temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (temp.fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        struct stat held {}, named {};
        const bool locked = ::flock(temp.fd, LOCK_EX | LOCK_NB) == 0;
        // A file system without locks (some network or FUSE ones) still gets its replacement; its
        // cleaners cannot lock either, so they leave such temp files alone.
        const bool lockless = !locked && errno != EWOULDBLOCK;
        if ((locked || lockless) && ::fstat(temp.fd, &held) == 0 && ::lstat(temp.path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            return true;
        }
        ::close(temp.fd);  // taken by a cleaner; it removes the name
        temp.fd = -1;
    }
    return FailWith(EEXIST);
}

}  // namespace

void SetWriteFaultHook(WriteFaultHook hook) { g_faultHook = std::move(hook); }

ReplacementLock::~ReplacementLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool ReplacementLock::Lock(const std::string& path) {
    std::string target, dir, base;
    if (!ReplacementTarget(path, target, dir, base)) return false;
    const std::string name = dir + "/." + base + ".lock";
    // Never followed, and never a FIFO to hang on: only a plain file of its own is taken.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Made by root in a user's folder, it is the user's, so that the user's own copy can take it too.
    if (st.st_uid == ::geteuid()) {
        if (const std::optional<Owner> owner = NewFileOwner(dir)) {
            if (owner->uid != st.st_uid && ::fchown(fd, owner->uid, owner->gid) == 0) ::fchmod(fd, 0644);
        }
    }
    int r;
    while ((r = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        ::close(fd);
        return false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}

void RemoveLeftoverTemps(const std::string& path) {
    std::string target, dir, base;
    if (ReplacementTarget(path, target, dir, base)) RemoveLeftoverTempsIn(dir, base);
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, FileAccess access) {
    std::string target, dir, base;
    if (!ReplacementTarget(path, target, dir, base)) return false;

    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return FailWith(EISDIR);
    // Rename would happily replace a write-protected file; honour the protection instead. A file with
    // no write bit at all is read-only for root too, as the read-only attribute is on Windows.
    if (exists && ::access(target.c_str(), W_OK) != 0) return false;  // EACCES, or EROFS on a read-only mount
    if (exists && (st.st_mode & 0222) == 0) return FailWith(EACCES);

    // What killed writers left beside this file goes now, before it could pile up.
    RemoveLeftoverTempsIn(dir, base);

    // A new Normal file is created 0666 so that the kernel applies the umask for us.
    mode_t createMode = (access == FileAccess::OwnerOnly || exists) ? 0600 : 0666;
    TempFile temp;
    if (!CreateTemp(dir, base, createMode, temp)) return false;
    // The replacement belongs to whoever the file belongs to: root saving a user's settings must not
    // leave them root's (a 0600 file the user could then no longer read). Before the mode is set, as
    // chown can clear mode bits. Where the owner cannot be kept the file is left as it is.
    if (const std::optional<Owner> owner = exists ? Owner{st.st_uid, st.st_gid} : NewFileOwner(dir)) {
        if (owner->uid != ::geteuid() || owner->gid != ::getegid()) {
            if (::fchown(temp.fd, owner->uid, owner->gid) != 0) return temp.Discard();
        }
    }

    if (int err = Fault(WriteStep::Write, temp.path)) {
        // As a disk that fills up on the way: part of the bytes land, then the write fails.
        WriteAll(temp.fd, bytes.substr(0, bytes.size() / 2));
        errno = err;
        return temp.Discard();
    }
    if (!WriteAll(temp.fd, bytes)) return temp.Discard();
    if (access == FileAccess::OwnerOnly) {
        if (::fchmod(temp.fd, 0600) != 0) return temp.Discard();
    } else if (exists) {
        if (::fchmod(temp.fd, st.st_mode & 07777) != 0) return temp.Discard();
    }
    if (int err = Fault(WriteStep::Sync, temp.path)) {
        errno = err;
        return temp.Discard();
    }
    if (::fsync(temp.fd) != 0) return temp.Discard();
    // The temp file stays open, and so locked, until it has its final name.
    if (int err = Fault(WriteStep::Rename, temp.path)) {
        errno = err;
        return temp.Discard();
    }
    if (::rename(temp.path.c_str(), target.c_str()) != 0) return temp.Discard();
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
