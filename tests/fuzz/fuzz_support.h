#pragma once
// Shared by the fuzz targets. A broken property aborts with a message, so that libFuzzer keeps the
// input as a crash like any sanitizer report; buffers handed to the code under test are fenced with
// canary bytes on both sides, so that a write even one byte out of bounds is caught where ASan alone
// would not see it (inside a larger allocation).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

namespace fuzz {

[[noreturn]] inline void Fail(const char* condition, const std::string& detail, const char* file, int line) {
    std::fprintf(stderr, "\n==== fuzz property broken at %s:%d: %s\n     %s\n", file, line, condition, detail.c_str());
    std::abort();
}

// Bytes shown as a C string literal, for failure messages.
inline std::string Quoted(std::string_view bytes, size_t max = 200) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (bytes.size() > max) out += "...";
    return out + "\"";
}

// Well-formed UTF-8 as Unicode defines it (table 3-7), written out plainly to check the program's
// own validator and decoders against.
inline bool WellFormedUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
        auto in = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
        if (b0 <= 0x7F) {
            i += 1;
        } else if (in(b0, 0xC2, 0xDF) && in(at(i + 1), 0x80, 0xBF)) {
            i += 2;
        } else if (b0 == 0xE0 && in(at(i + 1), 0xA0, 0xBF) && in(at(i + 2), 0x80, 0xBF)) {
            i += 3;
        } else if ((in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) && in(at(i + 1), 0x80, 0xBF) && in(at(i + 2), 0x80, 0xBF)) {
            i += 3;
        } else if (b0 == 0xED && in(at(i + 1), 0x80, 0x9F) && in(at(i + 2), 0x80, 0xBF)) {
            i += 3;
        } else if (b0 == 0xF0 && in(at(i + 1), 0x90, 0xBF) && in(at(i + 2), 0x80, 0xBF) && in(at(i + 3), 0x80, 0xBF)) {
            i += 4;
        } else if (in(b0, 0xF1, 0xF3) && in(at(i + 1), 0x80, 0xBF) && in(at(i + 2), 0x80, 0xBF) &&
                   in(at(i + 3), 0x80, 0xBF)) {
            i += 4;
        } else if (b0 == 0xF4 && in(at(i + 1), 0x80, 0x8F) && in(at(i + 2), 0x80, 0xBF) && in(at(i + 3), 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// A caller's buffer of `size` bytes with canaries before and after it.
class FencedBuffer {
public:
    static constexpr size_t kFence = 32;
    static constexpr char kCanary = '\xA5';

    explicit FencedBuffer(size_t size, char fill = '\x5A') : size_(size), bytes_(size + 2 * kFence, kCanary) {
        std::memset(bytes_.data() + kFence, fill, size);
    }
    char* data() { return bytes_.data() + kFence; }
    size_t size() const { return size_; }
    // Whether anything was written outside the buffer.
    bool FencesIntact() const {
        for (size_t i = 0; i < kFence; ++i) {
            if (bytes_[i] != kCanary || bytes_[kFence + size_ + i] != kCanary) return false;
        }
        return true;
    }
    // Whether a NUL ends a text somewhere within the buffer.
    bool Terminated() const { return std::memchr(bytes_.data() + kFence, '\0', size_) != nullptr; }
    // The text up to the first NUL within the buffer.
    std::string Text() const { return std::string(bytes_.data() + kFence, strnlen(bytes_.data() + kFence, size_)); }

private:
    size_t size_;
    std::vector<char> bytes_;
};

// A private scratch folder for a target's files, removed when the run ends normally (after a crash
// it stays, with the files of the crashing input). /dev/shm when there is one: the code under test
// flushes every file it writes to disk, and on a RAM disk that costs nothing.
inline const std::string& ScratchFolder() {
    // Held through a pointer that is never freed, so that it is still there for the clean-up at exit.
    static const std::string* const folder = [] {
        auto* path = new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/vellumine-fuzz-XXXXXX"
                                                                      : "/tmp/vellumine-fuzz-XXXXXX");
        if (!mkdtemp(path->data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchFolder(), ignored);
        });
        return path;
    }();
    return *folder;
}

// Replaces a file's bytes plainly (the code under test does its own writing).
inline void WriteBytes(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

inline std::string ReadBytes(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                                   \
    do {                                                                                \
        if (!(condition)) ::fuzz::Fail(#condition, (detail), __FILE__, __LINE__);       \
    } while (0)
