#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>
#include <QStyleFactory>
#include <sys/stat.h>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class AccountDialog : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
    }
    QByteArray IdPass() const { return folder.read(IdPassName()); }
    IdPassForm& Dialog() { return forms::IdPassForm(); }
};

class ServerDialog : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
    QByteArray Server() const { return cwd.read("qorvel.ini"); }
};

}  // namespace

TEST_F(AccountDialog, FirstStartShowsItEmptyAndOkWithSaveWritesThreeKeysOwnerOnly) {
    forms::MainForm();
    IdPassForm& dlg = Dialog();
    EXPECT_TRUE(dlg.Visible());
    EXPECT_EQ(dlg.IdText.Text(), "");
    EXPECT_EQ(dlg.PassText.Text(), "");
    EXPECT_EQ(dlg.Check1.Value(), 0);

    dlg.IdText.SetText("bob");
    dlg.PassText.SetText(QStringLiteral("pässwörd 猫"));
    dlg.Check1.SetValue(1);
    dlg.OKCommand.Press();
    Settle();
    EXPECT_FALSE(forms::IdPassFormLoaded());
    EXPECT_EQ(prog::PopUserId, "bob");
    EXPECT_EQ(prog::PopPassword, QStringLiteral("pässwörd 猫"));
    EXPECT_EQ(IdPass(), QByteArray("[EXEINI]\r\nNAME=bob\r\nNAME2=") + QStringLiteral("pässwörd 猫").toUtf8() +
                            "\r\nNAME3=1\r\n");
    struct stat st {};
    ASSERT_EQ(stat(folder.file(IdPassName()).toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the password is nobody else's business

    // Reopened: the saved values, and the save box clear again.
    EXPECT_EQ(Dialog().IdText.Text(), "bob");
    EXPECT_EQ(Dialog().PassText.Text(), QStringLiteral("pässwörd 猫"));
    EXPECT_EQ(Dialog().Check1.Value(), 0);
    EXPECT_EQ(Dialog().PassText.widget()->echoMode(), QLineEdit::Password);
    // Each character shows as "*", in every style (their own mask is mostly a dot).
    const QString style = QApplication::style()->name();
    for (const QString& other : QStyleFactory::keys()) {
        QApplication::setStyle(other);
        EXPECT_EQ(Dialog().PassText.widget()->displayText().toStdString(), std::string(10, '*'))
            << other.toStdString();
    }
    QApplication::setStyle(style);
}

TEST_F(AccountDialog, OkWithoutSaveKeepsTheEarlierAccountInTheFile) {
    WriteIdPass("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");
    forms::MainForm();
    EXPECT_FALSE(Dialog().Visible());  // complete account: not shown at start-up
    Dialog().IdText.SetText("new");
    Dialog().PassText.SetText("newpw");
    Dialog().OKCommand.Press();
    Settle();
    EXPECT_EQ(prog::PopUserId, "new");  // taken for this run
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=0\r\n");
}

TEST_F(AccountDialog, CancelChangesNothingAndTheNextAccessReloads) {
    WriteIdPass("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\n");
    forms::MainForm();
    prog::PopUserId = "before";
    Dialog().IdText.SetText("typed");
    Dialog().CancelCommand.Press();
    Settle();
    EXPECT_FALSE(forms::IdPassFormLoaded());
    EXPECT_EQ(prog::PopUserId, "before");
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\n");
    EXPECT_EQ(Dialog().IdText.Text(), "old");
}

TEST_F(AccountDialog, LongUserIdReadsBackAsItsFirst255Bytes) {
    forms::MainForm();
    const QString id = QString(300, QChar(u'x'));
    Dialog().IdText.SetText(id);
    Dialog().PassText.SetText(QString(100, QChar(u'鍵')));  // 300 bytes of UTF-8
    Dialog().Check1.SetValue(1);
    Dialog().OKCommand.Press();
    Settle();
    EXPECT_EQ(Dialog().IdText.Text(), id.left(255));
    // Never half a character: 85 whole characters of three bytes each.
    EXPECT_EQ(Dialog().PassText.Text(), QString(85, QChar(u'鍵')));
}

TEST_F(ServerDialog, OpensOnTopWithEmptyBoxesWhenNoServerIsSet) {
    forms::MainForm();
    ASSERT_TRUE(forms::OptionFormLoaded());
    OptionForm& dlg = forms::OptionForm();
    EXPECT_TRUE(dlg.Visible());
    EXPECT_TRUE(platform::IsTopMost(dlg.hWnd()));
    EXPECT_EQ(dlg.SmtpText.Text() + dlg.Pop3Text.Text() + dlg.MailText.Text(), "");
    EXPECT_EQ(dlg.ApopCheck.Value(), 0);
}

TEST_F(ServerDialog, OkWritesTheFourLinesAndTheValuesTakeEffect) {
    forms::MainForm();
    OptionForm& dlg = forms::OptionForm();
    dlg.Pop3Text.SetText("pop.example.org");
    dlg.ApopCheck.SetValue(1);
    dlg.OKCommand.Press();
    Settle();
    EXPECT_FALSE(forms::OptionFormLoaded());
    EXPECT_EQ(Server(), "SMTP=\r\nPOP3=pop.example.org\r\nMAIL=\r\nAPOP=1\r\n");
    EXPECT_EQ(prog::Pop3Server, "pop.example.org");
    EXPECT_EQ(prog::ApopFlag, 1);

    forms::OptionForm().Pop3Text.SetText("");
    forms::OptionForm().ApopCheck.SetValue(0);
    forms::OptionForm().OKCommand.Press();
    EXPECT_EQ(Server(), "SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n");
}

TEST_F(ServerDialog, CancelKeepsTheOldValuesAndReopeningShowsThem) {
    WriteServer("SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=0\r\n");
    forms::MainForm();
    EXPECT_FALSE(forms::OptionFormLoaded());  // a server is set: not opened at start-up
    forms::OptionForm().Pop3Text.SetText("changed");
    forms::OptionForm().CancelCommand.Press();
    Settle();
    EXPECT_EQ(prog::Pop3Server, "p");
    EXPECT_EQ(Server(), "SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=0\r\n");
    EXPECT_EQ(forms::OptionForm().Pop3Text.Text(), "p");
}

TEST_F(ServerDialog, GreyedApopTwoSurvivesOk) {
    WriteServer("POP3=p\r\nAPOP=2\r\n");
    forms::MainForm();
    EXPECT_EQ(forms::OptionForm().ApopCheck.Value(), 2);
    forms::OptionForm().OKCommand.Press();
    EXPECT_EQ(prog::ApopFlag, 2);
    EXPECT_TRUE(Server().endsWith("APOP=2\r\n"));
}
