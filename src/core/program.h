#pragma once
// The program-wide values, held in memory for the whole run, and the paths of the data files.
#include <QString>
#include <cstdint>
#include <string>

namespace prog {

extern QString Pop3Server;   // POP3 server host
extern QString SmtpServer;   // kept and edited only
extern QString MailAddress;  // kept and edited only
extern int16_t ApopFlag;     // not 0: log in with APOP
extern QString PopUserId;
extern QString PopPassword;
extern int32_t ChimeHour;      // hour of day, written every second by the clock
extern int32_t CatShowStop;    // 1 ends the running cat show
extern int32_t LastApiResult;  // result of many platform calls; only start-up reads it back
extern QString MciReply;       // reply buffer of the sound player's mode query

// Back to the values of a fresh start (tests start every case from here).
void ResetProgramValues();

}  // namespace prog

namespace core {

// The folder that holds the executable.
const QString& ProgramFolder();
void SetProgramFolder(const QString& folder);

// ProgramFolder followed by a sub-path written with backslashes ("\\画像データ\\Watch.gif"); the
// separators become '/' here. No test for a separator already at the end of the folder, as ever.
QString DataPath(const QString& subPath);

// Text crosses to the platform as UTF-8 byte strings.
std::string Ansi(const QString& text);
QString FromAnsi(const char* bytes);
QString FromAnsi(const std::string& bytes);

// The text before the first NUL (all of it when there is none).
QString CutAtNul(const QString& text);

}  // namespace core

// Data paths used by more than one part of the program.
namespace paths {
inline const QString kIniFile = QStringLiteral("\\★MailData\\ini.ini");
inline const QString kIdPassFile = QStringLiteral("\\★MailData\\iniIdPass.ini");
inline const QString kServerFile = QStringLiteral("qorvel.ini");  // in the current directory
inline const QString kWatchPicture = QStringLiteral("\\画像データ\\Watch.gif");
inline const QString kTune = QStringLiteral("\\Sound\\Kouka.mid");
inline const char kSection[] = "EXEINI";
inline const QString kNotSet = QStringLiteral("未設定");
}  // namespace paths
