#include "settings/profile_keys.h"

#include "core/program.h"
#include "platform/profile.h"

namespace settings {

namespace {

std::string FileOf(const QString& subPath) { return core::Ansi(core::DataPath(subPath)); }

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
    const platform::FileAccess access =
        subPath == paths::kIdPassFile ? platform::FileAccess::OwnerOnly : platform::FileAccess::Normal;
    return platform::WritePrivateProfileStringA(paths::kSection, key, core::Ansi(value), FileOf(subPath), access);
}

}  // namespace settings
