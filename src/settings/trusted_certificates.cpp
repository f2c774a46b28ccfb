#include "settings/trusted_certificates.h"

#include <cerrno>

#include "core/program.h"
#include "platform/profile.h"

namespace settings {

namespace {
constexpr char kKey[] = "SHA256";
std::string FileName() { return core::Ansi(core::DataPath(paths::kCertFile)); }
}  // namespace

QString ReadTrustedCertificate(const QString& server) {
    // A fingerprint is 95 characters; the buffer leaves room for spaces around it.
    char buffer[256] = {};
    const uint32_t n = platform::GetPrivateProfileStringA(core::Ansi(server), kKey, "", buffer, sizeof buffer, FileName());
    return QString::fromUtf8(buffer, qsizetype(n)).trimmed();
}

Saved WriteTrustedCertificate(const QString& server, const QString& sha256) {
    errno = 0;
    if (platform::WritePrivateProfileStrings(core::Ansi(server), {{kKey, core::Ansi(sha256)}}, FileName()) != 0) return {};
    return {false, errno};
}

}  // namespace settings
