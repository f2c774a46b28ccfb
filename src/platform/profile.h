#pragma once
// The Windows private-profile (.ini) calls the program was written against, rebuilt on plain files.
// Files are "[Section]" lines followed by "key=value" lines; names match without regard to ASCII
// letter case. Each line is read in its own encoding: UTF-8 when it is valid UTF-8, else Shift_JIS
// (DecodeLegacyLine). A write changes the one line it is about, written in UTF-8; every other line
// keeps its bytes, whatever its encoding.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/textfile.h"

namespace platform {

// The value of key as an integer: leading blanks, an optional sign, then decimal digits up to the
// first non-digit; wraps modulo 2^32 like the original. defaultValue when the file, section or key
// is missing or the value is empty.
int32_t GetPrivateProfileIntA(const std::string& section, const std::string& key, int32_t defaultValue,
                              const std::string& file);

// Copies at most size-1 bytes of the value (or of the default, without its trailing blanks, when
// file/section/key is missing) and a NUL into buffer; returns the count of bytes copied without the
// NUL. Never writes past buffer[size-1]; size 0 writes nothing and returns 0. A multi-byte UTF-8
// character is never split: the cut is at the last whole character that fits.
uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, char* buffer, uint32_t size,
                                  const std::string& file);

// Sets key in section to value, adding the key or section when missing. Only the key's line is
// written (UTF-8; a new line ends with CR LF, a changed one keeps its line end); every other line
// keeps its bytes, except that an unfinished last line gets a CR LF when a line is added after it.
// The same value again leaves the file untouched. The value ends at its first CR, LF or NUL (it has
// to fit on one line). Nonzero on success, 0 on failure with errno set (folder missing, file not
// writable, disk full, empty or unusable section/key name). Writes through WriteFileAtomically.
// Sets several keys of one section in one replacement of the file: all of them land, or none (the
// file stays exactly as it was). Each key as WritePrivateProfileStringA sets it, in order; when every
// value is already there the file is left untouched. 0 on failure, with the cause in errno
// (WriteFileAtomically; EINVAL for an unusable name, which writes none of them). Copies of the program
// saving into the same file at once take turns from the read to the replacement (ReplacementLock), so
// that neither loses the keys of the other.
struct ProfileValue {
    std::string key, value;
};
int32_t WritePrivateProfileStrings(const std::string& section, const std::vector<ProfileValue>& values,
                                   const std::string& file, FileAccess access = FileAccess::Normal);

int32_t WritePrivateProfileStringA(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file, FileAccess access = FileAccess::Normal);

}  // namespace platform
