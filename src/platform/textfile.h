#pragma once
// Whole-file helpers for the settings and data files the program shares with its Windows past:
// text that may still be Shift_JIS, and replacement that never leaves a half-written file.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// OwnerOnly is for files holding secrets (mail passwords): they are created and kept mode 0600.
enum class FileAccess { Normal, OwnerOnly };

// True when a regular file (or a link to one) exists at path.
bool FileExists(const std::string& path);

// The raw bytes of a whole file; nullopt when it is missing or cannot be read (a folder, no rights).
std::optional<std::string> ReadFileBytes(const std::string& path);

// One line of a text as it is stored: its bytes and its own line end (CR LF, LF or a lone CR; empty
// for a last line without one). Views into the text that was split.
struct RawLine {
    std::string_view bytes;
    std::string_view eol;
};

// Splits bytes into lines at CR LF, LF and lone CR. A last line without a line end still counts, and
// a final line end does not add an empty line. Nothing is decoded or dropped: joining every line's
// bytes and line end gives the input back. (A line end never sits inside a Shift_JIS character, so
// splitting before decoding is safe.)
std::vector<RawLine> SplitLines(std::string_view bytes);

// A whole text file as lines without their line ends, each decoded by itself (DecodeLegacyLine).
// A leading UTF-8 byte order mark is dropped. nullopt when the file is missing or unreadable.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path);

// Replaces the file atomically: the bytes go to a new file in the same folder (".NAME.xxxxxxxx.tmp",
// locked with flock while it is written), which is flushed to disk and then renamed over the old one,
// so a crash leaves either the old or the new file. Temp files of this file that killed writers left
// behind are removed first (RemoveLeftoverTemps).
// Fails (false, the cause in errno: ENOSPC, EDQUOT, EROFS, EACCES, ENOENT for a missing folder, ...)
// without changing the file and without leaving anything behind when the folder is missing or cannot
// be written, the disk is full, and when an existing file is not writable for us. A link is followed:
// the file it points at is replaced.
// OwnerOnly: the file ends up mode 0600, also when it existed with wider rights.
// Normal: a new file gets 0666 & ~umask, an existing file keeps its mode.
// An existing file keeps its owner and group, or is not replaced (EPERM: a writer other than root
// cannot give the replacement someone else's ownership). A new file is the writer's, except that root
// writing into a folder of another user's (one only that user may write to) makes it the user's.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, FileAccess access);

// Held from the read of a file through its replacement, so that other copies of the program changing
// the same file wait their turn instead of writing back what they read before its last change. An
// flock on ".NAME.lock" beside the file (a link is followed, as by the replacement), never on the file
// itself, which each replacement swaps for a new one. The lock file is left in place: removing it
// would let a waiter and a newcomer lock two different files. Readers need no lock, since a file is
// only ever replaced whole.
class ReplacementLock {
public:
    ReplacementLock() = default;
    ReplacementLock(const ReplacementLock&) = delete;
    ReplacementLock& operator=(const ReplacementLock&) = delete;
    ~ReplacementLock();  // unlocks
    // Waits for the lock. False when there is none to take: no lock file can be made or opened there
    // (a missing or read-only folder, no rights) or the file system has no locks (some network or
    // FUSE ones). The caller then goes on unguarded: a replacement in such a folder fails by itself
    // with its own cause, and a write that changes nothing needs no lock.
    bool Lock(const std::string& path);

private:
    int fd_ = -1;
};

// Removes the temp files that replacements of path cut off by a killed process left beside it: only
// names of the form above, only files of ours, and only those no writer holds locked, so that the
// temp file another running copy of the program is writing stays.
void RemoveLeftoverTemps(const std::string& path);

// The steps of a replacement, for tests that make one fail as a full disk or a crash would.
enum class WriteStep { CreateTemp, Write, Sync, Rename };
// Asked before each step with the temp file's name: 0 goes on; an errno value makes the step fail
// with it (Write lands half the bytes first, as a disk filling up does). The hook may also throw:
// the temp file is then left as a killed process leaves it, closed and unlocked but still there.
using WriteFaultHook = std::function<int(WriteStep step, const std::string& tempPath)>;
void SetWriteFaultHook(WriteFaultHook hook);

// Settings written by the old Windows program are Shift_JIS (code page 932), the program's own are
// UTF-8, and a file edited by hand may hold both. So the encoding is decided line by line: a line
// that is valid UTF-8 is returned unchanged; any other line is decoded as CP932, bytes that cannot be
// decoded becoming U+FFFD. In a file marked UTF-8 by a byte-order mark (utf8Marked) such a line is
// taken as broken UTF-8 instead, its invalid bytes becoming U+FFFD. line holds no line end.
std::string DecodeLegacyLine(std::string_view line, bool utf8Marked = false);

// DecodeLegacyLine applied to each line of bytes, the line ends kept as they are; utf8Marked when the
// text starts with a UTF-8 byte-order mark (which is kept too). Valid UTF-8 comes back unchanged.
std::string DecodeLegacyText(std::string_view bytes);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

}  // namespace platform
