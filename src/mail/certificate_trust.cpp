#include "mail/certificate_trust.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include "core/msgbox.h"
#include "core/program.h"
#include "platform/nmail.h"
#include "settings/trusted_certificates.h"

namespace mail {

namespace {

// Trust the person gave whose save failed: it holds for this run, as the other settings do. By the
// file it was meant for and the server.
QHash<QString, QString>& Unsaved() {
    static QHash<QString, QString> unsaved;
    return unsaved;
}
QString UnsavedKey(const QString& server) { return core::DataPath(paths::kCertFile) + '\n' + server; }

QString Text(const std::string& s) { return QString::fromStdString(s); }

QString Details(const platform::NMailCertificate& c) {
    QString problems;
    for (const std::string& p : c.problems) problems += QStringLiteral("・") + Text(p) + "\n";
    return problems + QStringLiteral("\nSHA-256 フィンガープリント：\n") + Text(c.sha256) +
           QStringLiteral("\n発行先：") + Text(c.subject) + QStringLiteral("\n発行者：") + Text(c.issuer) +
           QStringLiteral("\n有効期間：") + Text(c.validFrom) + QStringLiteral(" ～ ") + Text(c.validTo) + "\n\n";
}

}  // namespace

void PinTrustedCertificate() {
    const QString key = Text(platform::NMailServerKey(core::Ansi(prog::Pop3Server)));
    if (key.isEmpty()) return;
    // Read at every check: a section deleted from the file is forgotten at once.
    const QString unsaved = UnsavedKey(key);
    const QString sha256 = Unsaved().contains(unsaved) ? Unsaved().value(unsaved) : settings::ReadTrustedCertificate(key);
    platform::NMailPinCertificate(core::Ansi(key), core::Ansi(sha256));
}

CertificateAnswer AskToTrustCertificate() {
    const std::optional<platform::NMailCertificate> c = platform::NMailLastCertificateProblem();
    if (!c) return CertificateAnswer::NotAsked;
    const QString server = Text(c->server);
    const QString prompt =
        c->pinned.empty()
            ? QStringLiteral("サーバー %1 の証明書を確認できませんでした。\n").arg(server) + Details(*c) +
                  QStringLiteral("このサーバーでは、この証明書を信頼しますか？\n"
                                 "「はい」：今後このサーバーではこの証明書だけを受け入れます。\n"
                                 "「いいえ」：ログインせずにチェックを終えます（パスワードは送っていません）。")
            : QStringLiteral("サーバー %1 の証明書が変わりました。\n以前に信頼した証明書とは別の証明書です。"
                             "サーバーの管理者が証明書を替えたのでなければ、別のサーバーが成りすましているおそれがあります。\n"
                             "以前に信頼した証明書の SHA-256：\n%2\n\n新しい証明書：\n")
                      .arg(server, Text(c->pinned)) +
                  Details(*c) +
                  QStringLiteral("このサーバーでは、この新しい証明書を信頼しますか？\n"
                                 "「はい」：以前の証明書に代えて、今後はこの証明書だけを受け入れます。\n"
                                 "「いいえ」：ログインせずにチェックを終えます（パスワードは送っていません）。");
    const QString title = c->pinned.empty() ? QStringLiteral("証明書の確認") : QStringLiteral("証明書が変わりました");
    if (core::MsgBox(prompt, core::vbYesNo + core::vbExclamation, title) != core::vbYes) return CertificateAnswer::Refused;
    const QString sha256 = Text(c->sha256);
    const settings::Saved saved = settings::WriteTrustedCertificate(server, sha256);
    if (saved.ok) Unsaved().remove(UnsavedKey(server));
    else Unsaved().insert(UnsavedKey(server), sha256);
    platform::NMailPinCertificate(c->server, c->sha256);
    settings::ReportFailedSave(saved, QStringLiteral("信頼する証明書"), settings::SavedFileName(paths::kCertFile));
    return CertificateAnswer::Trusted;
}

}  // namespace mail
