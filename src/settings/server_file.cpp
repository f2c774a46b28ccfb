#include "settings/server_file.h"

#include <cerrno>

#include "core/numbers.h"
#include "core/program.h"
#include "platform/textfile.h"

namespace {

// At most n characters (whole code points, never half a surrogate pair).
QString FirstChars(const QString& text, int n) {
    qsizetype i = 0;
    for (int count = 0; i < text.size() && count < n; ++count)
        i += (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    return text.left(i);
}

}  // namespace

void ReadServerFile() {
    const std::string name = core::Ansi(paths::kServerFile);
    if (!platform::FileExists(name)) return;
    const auto lines = platform::ReadTextLines(name);
    if (!lines) return;
    for (const std::string& raw : *lines) {
        const QString line = QString::fromStdString(raw);
        const QString prefix = line.left(5);
        const QString value = FirstChars(line.mid(5), 100);
        if (prefix == u"SMTP=")
            prog::SmtpServer = value;
        else if (prefix == u"POP3=")
            prog::Pop3Server = value;
        else if (prefix == u"MAIL=")
            prog::MailAddress = value;
        else if (prefix == u"APOP=")
            prog::ApopFlag = core::RoundToInt16(core::LeadingNumber(value));
    }
}

settings::Saved WriteServerFile() {
    const QString text = QStringLiteral("SMTP=") + prog::SmtpServer + QStringLiteral("\r\n") +
                         QStringLiteral("POP3=") + prog::Pop3Server + QStringLiteral("\r\n") +
                         QStringLiteral("MAIL=") + prog::MailAddress + QStringLiteral("\r\n") +
                         QStringLiteral("APOP=") + core::DecimalText(prog::ApopFlag) + QStringLiteral("\r\n");
    errno = 0;
    if (platform::WriteFileAtomically(core::Ansi(paths::kServerFile), core::Ansi(text), platform::FileAccess::Normal))
        return {};
    return {false, errno};
}
