#pragma once
// A server certificate that cannot be verified (self-signed, unknown issuer, expired, another name)
// is not simply refused: the person sees what it is and may trust that one certificate for that
// server. The trust is kept in ★MailData\iniCert.ini.
namespace mail {

// Hands the mail library the certificate trusted for the server of this check, before it connects.
void PinTrustedCertificate();

enum class CertificateAnswer { NotAsked, Trusted, Refused };
// After a failed login: when the certificate was the cause, shows it and asks whether to trust it.
// Trusted: kept (and pinned for this run even when the save failed), so a new login will take it.
CertificateAnswer AskToTrustCertificate();

}  // namespace mail
