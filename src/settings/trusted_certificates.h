#pragma once
// The server certificates the person chose to trust although they could not be verified: one section
// per server ("host:port"), its key "SHA256" holding the certificate's fingerprint. Deleting the
// section (or the file) forgets the trust; the next check asks again.
#include <QString>

#include "settings/profile_keys.h"

namespace paths {
inline const QString kCertFile = QStringLiteral("\\★MailData\\iniCert.ini");
}

namespace settings {

// The fingerprint trusted for the server, as the file holds it now; empty when none.
QString ReadTrustedCertificate(const QString& server);
// Keeps the fingerprint for the server, in place of any earlier one.
Saved WriteTrustedCertificate(const QString& server, const QString& sha256);

}  // namespace settings
