#include "settings/profile_keys.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/msgbox.h"
#include "core/program.h"
#include "platform/profile.h"
#include "settings/trusted_certificates.h"

namespace settings {

namespace {

std::string FileOf(const QString& subPath) { return core::Ansi(core::DataPath(subPath)); }

platform::FileAccess AccessOf(const QString& subPath) {
    return subPath == paths::kIdPassFile ? platform::FileAccess::OwnerOnly : platform::FileAccess::Normal;
}

}  // namespace

int32_t ReadIntKey(const QString& subPath, const char* key) {
    return platform::GetPrivateProfileIntA(paths::kSection, key, 0, FileOf(subPath));
}

TextRead ReadTextKey(const QString& subPath, const char* key, const QString& fallback) {
    // 256 blanks, as the program has always passed; the call ends the copy with a NUL.
    char buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), ' ');
    const uint32_t n = platform::GetPrivateProfileStringA(paths::kSection, key, core::Ansi(fallback), buffer,
                                                          sizeof buffer, FileOf(subPath));
    TextRead r{int32_t(n), fallback};
    if (r.length >= 1) r.value = core::CutAtNul(QString::fromUtf8(buffer, qsizetype(n)));
    return r;
}

int32_t WriteKey(const QString& subPath, const char* key, const QString& value) {
    return platform::WritePrivateProfileStringA(paths::kSection, key, core::Ansi(value), FileOf(subPath),
                                                AccessOf(subPath));
}

Saved WriteKeys(const QString& subPath, const std::vector<KeyValue>& keys) {
    std::vector<platform::ProfileValue> values;
    for (const KeyValue& kv : keys) values.push_back({kv.key, core::Ansi(kv.value)});
    errno = 0;
    if (platform::WritePrivateProfileStrings(paths::kSection, values, FileOf(subPath), AccessOf(subPath)) != 0)
        return {};
    return {false, errno};
}

QString SavedFileName(const QString& subPath) {
    return subPath == paths::kServerFile ? QFileInfo(subPath).absoluteFilePath() : core::DataPath(subPath);
}

QString FailureReason(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT: return QStringLiteral("ディスクの空きがありません");
        case EROFS: return QStringLiteral("保存先が読み取り専用です");
        case EACCES:
        case EPERM: return QStringLiteral("書き込む権限がありません");
        default: return QStringLiteral("ファイルに書き込めませんでした");
    }
}

void ReportFailedSave(const Saved& saved, const QString& what, const QString& file) {
    if (saved.ok) return;
    LogFailedSave(saved, file);
    if (saved.error == ENOENT && !QFileInfo(QFileInfo(file).absolutePath()).isDir()) return;
    core::MsgBox(what + QStringLiteral("を保存できませんでした。\n理由：") + FailureReason(saved.error) +
                     QStringLiteral("。\n") + file +
                     QStringLiteral("\n\n今回の起動中はこの値を使います。保存するには、原因を取り除いてからもう一度保存してください。"),
                 core::vbOKOnly + core::vbExclamation, QStringLiteral("エラー"));
}

void LogFailedSave(const Saved& saved, const QString& file) {
    if (saved.ok) return;
    std::fprintf(stderr, "vellumine: not saved: %s: %s\n", file.toLocal8Bit().constData(), std::strerror(saved.error));
}

void RemoveLeftoverTempFiles() {
    for (const QString& subPath : {paths::kIniFile, paths::kIdPassFile, paths::kCertFile})
        platform::RemoveLeftoverTemps(FileOf(subPath));
    platform::RemoveLeftoverTemps(core::Ansi(paths::kServerFile));
}

}  // namespace settings
