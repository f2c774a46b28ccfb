#include "core/program.h"

namespace prog {

QString Pop3Server;
QString SmtpServer;
QString MailAddress;
int16_t ApopFlag = 0;
QString PopUserId;
QString PopPassword;
int32_t ChimeHour = 0;
int32_t CatShowStop = 0;
int32_t LastApiResult = 0;
QString MciReply;

void ResetProgramValues() {
    Pop3Server.clear();
    SmtpServer.clear();
    MailAddress.clear();
    ApopFlag = 0;
    PopUserId.clear();
    PopPassword.clear();
    ChimeHour = 0;
    CatShowStop = 0;
    LastApiResult = 0;
    MciReply = QString(256, QChar(u' '));
}

}  // namespace prog

namespace core {

namespace {
QString g_programFolder;
}

const QString& ProgramFolder() { return g_programFolder; }

void SetProgramFolder(const QString& folder) { g_programFolder = folder; }

QString DataPath(const QString& subPath) {
    QString sub = subPath;
    sub.replace(u'\\', u'/');
    return g_programFolder + sub;
}

std::string Ansi(const QString& text) { return text.toStdString(); }

QString FromAnsi(const char* bytes) { return QString::fromUtf8(bytes); }

QString FromAnsi(const std::string& bytes) { return QString::fromStdString(bytes); }

QString CutAtNul(const QString& text) {
    const qsizetype i = text.indexOf(QChar(u'\0'));
    return i < 0 ? text : text.left(i);
}

}  // namespace core
