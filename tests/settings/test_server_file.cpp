#include <gtest/gtest.h>

#include "core/program.h"
#include "settings/server_file.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class ServerFile : public ProgramTest {
protected:
    void Read(const QByteArray& text) {
        WriteServer(text);
        ReadServerFile();
    }
};

}  // namespace

TEST_F(ServerFile, MissingFileLeavesTheValuesAlone) {
    prog::Pop3Server = "kept";
    prog::ApopFlag = 3;
    ReadServerFile();
    EXPECT_EQ(prog::Pop3Server, "kept");
    EXPECT_EQ(prog::ApopFlag, 3);
}

TEST_F(ServerFile, LinesInAnyOrderLaterOnesWinOthersAreSkipped) {
    Read("junk\r\nPOP3=a\r\n\r\npop3=lower\r\n POP3=blank\r\nMAIL=me@example.org\r\nPOP3=b\r\nSMTP\r\n"
         "SMTP=smtp.example.org\r\nPOP=x\r\n");
    EXPECT_EQ(prog::Pop3Server, "b");
    EXPECT_EQ(prog::SmtpServer, "smtp.example.org");
    EXPECT_EQ(prog::MailAddress, "me@example.org");
    EXPECT_EQ(prog::ApopFlag, 0);  // no APOP= line
}

TEST_F(ServerFile, ValuesAreCutToTheirFirstHundredCharacters) {
    const QString longName = QString(150, QChar(u'h'));
    const QString japanese = QString(120, QChar(u'設'));
    Read("SMTP=" + longName.toUtf8() + "\nPOP3=\nMAIL=" + japanese.toUtf8() + "\n");
    EXPECT_EQ(prog::SmtpServer, longName.left(100));
    EXPECT_EQ(prog::Pop3Server, "");  // a line of exactly five characters
    EXPECT_EQ(prog::MailAddress, japanese.left(100));
}

TEST_F(ServerFile, ApopLineReadsLikeANumberRoundedHalfToEven) {
    const std::pair<const char*, int> cases[] = {
        {"APOP=1", 1}, {"APOP=", 0}, {"APOP=x", 0}, {"APOP=1.5", 2}, {"APOP=2.5", 2},
        {"APOP= 1", 1}, {"APOP=2", 2}, {"APOP=-1", -1}, {"APOP=99999", 32767},
    };
    for (const auto& [line, expected] : cases) {
        prog::ApopFlag = 7;
        Read(QByteArray(line) + "\r\n");
        EXPECT_EQ(prog::ApopFlag, expected) << line;
    }
}

TEST_F(ServerFile, ShiftJisFileFromTheOldProgramReadsAsJapanese) {
    // "MAIL=未設定" as the Windows program wrote it, in code page 932.
    Read(QByteArray("POP3=pop.example.jp\r\nMAIL=\x96\xa2\x90\xdd\x92\xe8\r\n"));
    EXPECT_EQ(prog::Pop3Server, "pop.example.jp");
    EXPECT_EQ(prog::MailAddress, QStringLiteral("未設定"));
}

TEST_F(ServerFile, WriteGivesExactlyFourCrLfLinesAndReadsBack) {
    prog::SmtpServer = "";
    prog::Pop3Server = " pop.example.org";
    prog::MailAddress = QStringLiteral("猫@example.jp");
    prog::ApopFlag = 1;
    WriteServer("old content that must go\r\nMORE\r\n");
    WriteServerFile();
    EXPECT_EQ(cwd.read("qorvel.ini"),
              QByteArray("SMTP=\r\nPOP3= pop.example.org\r\nMAIL=") + QStringLiteral("猫@example.jp").toUtf8() +
                  "\r\nAPOP=1\r\n");

    prog::ResetProgramValues();
    ReadServerFile();
    EXPECT_EQ(prog::Pop3Server, " pop.example.org");  // the blank is kept and used
    EXPECT_EQ(prog::MailAddress, QStringLiteral("猫@example.jp"));
    EXPECT_EQ(prog::ApopFlag, 1);

    prog::ApopFlag = -3;
    WriteServerFile();
    EXPECT_TRUE(cwd.read("qorvel.ini").endsWith("APOP=-3\r\n"));
}
