#pragma once
// Reading and writing keys of section "EXEINI" in the settings files, with the program's rules:
// a switch reads as a whole number, a text key through a 256-byte buffer with a fallback.
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

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

// How one save went: ok, or the system's error number (errno) when the file could not be written.
struct Saved {
    bool ok = true;
    int error = 0;
};

struct KeyValue {
    const char* key;
    QString value;
};
// The keys one action saves, in one replacement of the file: all of them land or none does.
Saved WriteKeys(const QString& subPath, const std::vector<KeyValue>& keys);

// The file a save went to, as the person knows it: the full path of a data file, or the server file.
QString SavedFileName(const QString& subPath);

// Tells the person that a save failed, in the program's error box "エラー": which settings (what)
// could not be saved to which file, the system's reason in a few words, and that the values stay in
// use for this run. Nothing is shown when the folder of the file does not exist: without its ★MailData
// folder the program runs on the values in memory and never creates the folder.
void ReportFailedSave(const Saved& saved, const QString& what, const QString& file);
// One line on standard error instead, where no box may hold things up (shut-down).
void LogFailedSave(const Saved& saved, const QString& file);
// The reason in a few words: disk full, read-only, no permission, or a failed write.
QString FailureReason(int error);

// Removes the temp files that writes of the three settings files cut off by a killed program left
// behind (never one that another running copy is writing). Run at start-up.
void RemoveLeftoverTempFiles();

}  // namespace settings
