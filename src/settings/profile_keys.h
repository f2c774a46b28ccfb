#pragma once
// Reading and writing keys of section "EXEINI" in the settings files, with the program's rules:
// a switch reads as a whole number, a text key through a 256-byte buffer with a fallback.
#include <QString>
#include <cstdint>

namespace settings {

// subPath is a data path under the program folder (paths::kIniFile, paths::kIdPassFile).
int32_t ReadIntKey(const QString& subPath, const char* key);

struct TextRead {
    int32_t length;  // bytes copied, as the profile call returns it
    QString value;   // the fallback when length < 1, else the text read
};
TextRead ReadTextKey(const QString& subPath, const char* key, const QString& fallback);

// Nonzero on success. The account file is kept readable by its owner only.
int32_t WriteKey(const QString& subPath, const char* key, const QString& value);

}  // namespace settings
