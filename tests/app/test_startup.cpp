#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "platform/nmail.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class StartUp : public ProgramTest {
protected:
    void WriteCompleteSettings() {
        WriteServer("SMTP=smtp.example.org\r\nPOP3=pop.example.org\r\nMAIL=a@example.org\r\nAPOP=1\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
    QByteArray Ini() const { return folder.read(IniName()); }
};

}  // namespace

TEST_F(StartUp, NoFilesAtAllOpensBothDialogsBesideATopMostClock) {
    MainForm& main = forms::MainForm();
    EXPECT_TRUE(main.Visible());
    EXPECT_TRUE(platform::IsTopMost(main.hWnd()));
    EXPECT_EQ(main.Caption(), QStringLiteral("Orlavue　Ver 1.0"));
    EXPECT_TRUE(forms::OptionFormLoaded() && forms::OptionForm().Visible());
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_EQ(main.Text7.Text(), QStringLiteral("未設定"));
    EXPECT_TRUE(forms::SetFormLoaded());
    EXPECT_FALSE(forms::SetForm().Visible());
    EXPECT_EQ(forms::SetForm().Check1.Value(), 0);
    EXPECT_TRUE(platform::NMailReady());
    EXPECT_EQ(platform::NMailBufferSize(), 8192);
    // Neither dialog covers the clock.
    EXPECT_FALSE(forms::OptionForm().hWnd()->frameGeometry().intersects(main.hWnd()->frameGeometry()));
    EXPECT_FALSE(forms::IdPassForm().hWnd()->frameGeometry().intersects(main.hWnd()->frameGeometry()));
}

TEST_F(StartUp, TheClockWindowIsCentredAndOfItsFixedSize) {
    MainForm& main = forms::MainForm();
    EXPECT_EQ(main.client()->size(), QSize(106, 123));
    EXPECT_EQ(main.picMain.widget()->geometry(), QRect(3, 3, 100, 100));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((main.hWnd()->geometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_EQ(main.client()->palette().color(QPalette::Window), QColor(64, 64, 64));
}

TEST_F(StartUp, ACompleteSetOfFilesOpensNoDialog) {
    WriteCompleteSettings();
    WriteIni("[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\nNAME=/usr/bin/thunderbird\r\n");
    MainForm& main = forms::MainForm();
    EXPECT_FALSE(forms::OptionFormLoaded());
    EXPECT_TRUE(forms::IdPassFormLoaded());  // its boxes were read
    EXPECT_FALSE(forms::IdPassForm().Visible());
    EXPECT_EQ(forms::IdPassForm().IdText.Text(), "alice");
    EXPECT_FALSE(forms::SetForm().Visible());
    EXPECT_EQ(forms::SetForm().Check1.Value(), 1);
    EXPECT_EQ(main.Text7.Text(), "/usr/bin/thunderbird");
    EXPECT_EQ(prog::Pop3Server, "pop.example.org");
    EXPECT_EQ(prog::SmtpServer, "smtp.example.org");
    EXPECT_EQ(prog::ApopFlag, 1);
}

TEST_F(StartUp, AnEmptyNameReadsAsNotSetAndAnEmptyPasswordAsksForTheAccount) {
    WriteServer("POP3=pop.example.org\r\n");
    WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=\r\n");
    WriteIni("[EXEINI]\r\nNAME=\r\n");
    MainForm& main = forms::MainForm();
    EXPECT_EQ(main.Text7.Text(), QStringLiteral("未設定"));
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_FALSE(forms::OptionFormLoaded());
}

TEST_F(StartUp, HangUpSwitchOfTwoLeavesTheBoxAsTheDialogLoadedIt) {
    WriteCompleteSettings();
    WriteIni("[EXEINI]\r\nNUMBER=2\r\n");
    forms::MainForm();
    EXPECT_EQ(forms::SetForm().Check1.Value(), 0);
}

TEST_F(StartUp, ShutDownSavesTheMailProgramPathForTheNextStart) {
    WriteCompleteSettings();
    MainForm& main = forms::MainForm();
    main.Text7.SetText(QStringLiteral("/opt/メール/mailer with blanks"));
    EXPECT_TRUE(CloseMainWindow());
    EXPECT_FALSE(platform::NMailReady());
    EXPECT_FALSE(main.Timer2.Enabled());
    forms::DestroyAll();
    Settle();

    EXPECT_EQ(forms::MainForm().Text7.Text(), QStringLiteral("/opt/メール/mailer with blanks"));
}

TEST_F(StartUp, ShutDownSavesOptionsLeftUnsavedInAnOpenSettingsDialog) {
    WriteCompleteSettings();
    forms::MainForm().Command9_Click();
    SetForm& set = forms::SetForm();
    set.Check4.SetValue(1);
    set.Check2.SetValue(1);
    set.Text2.SetText("7");
    EXPECT_TRUE(CloseMainWindow());
    const QByteArray ini = Ini();
    EXPECT_TRUE(ini.contains("NUMBER5=1\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("NUMBER4=1\r\n"));
    EXPECT_TRUE(ini.contains("NUMBER2=7\r\n"));
    EXPECT_TRUE(ini.contains(QStringLiteral("NAME=未設定\r\n").toUtf8()));
}

TEST_F(StartUp, ShutDownWritesTheNameAndOnlyTheOptionsChangedInThisRun) {
    WriteCompleteSettings();
    // Edited by hand: a comment saved in Latin-1, a switch of 2 (shown clear) and an interval of 2.5
    // (shown as 2), beside a path with Japanese in it.
    const QByteArray top = "[EXEINI]\r\nNUMBER=2\r\nNUMBER2=2.5\r\n; caf\xE9\r\n";
    const QString path = QStringLiteral("/home/ユーザー/メーラー/run.sh");
    WriteIni(top + "NAME=" + path.toUtf8() + "\r\n");
    EXPECT_EQ(forms::MainForm().Text7.Text(), path);
    EXPECT_TRUE(CloseMainWindow());
    EXPECT_EQ(Ini(), top + "NAME=" + path.toUtf8() + "\r\n");  // nothing touched: not a byte changed
    forms::DestroyAll();
    Settle();

    forms::MainForm().Text7.SetText("/usr/bin/mutt");
    forms::SetForm().Check4.SetValue(1);
    EXPECT_TRUE(CloseMainWindow());
    EXPECT_EQ(Ini(), top + "NAME=/usr/bin/mutt\r\nNUMBER5=1\r\n");
}

TEST_F(StartUp, ShutDownWithoutTheDataFolderCreatesNothing) {
    WriteCompleteSettings();
    QDir(folder.file("★MailData")).removeRecursively();
    forms::MainForm().Text7.SetText("/usr/bin/mutt");
    EXPECT_TRUE(CloseMainWindow());
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(StartUp, TheMenuHoldsEveryItemInOrder) {
    MainForm& main = forms::MainForm();
    QStringList captions;
    for (QAction* a : main.mfile->actions()) captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions, (QStringList{"メールチェック（手動）", "-", "起動メーラーの設定", "タスクトレイに常駐", "設定", "-",
                                     "確認", "戻す", "-", "常に前面表示", "前面表示解除", "-", "作者のホームページ"}));
    EXPECT_EQ(main.mfile->title(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(main.Command7.Caption(), QStringLiteral("メ｜ラ｜設定"));
    EXPECT_EQ(main.Check1.Value(), 1);  // "ループ" starts ticked

    // "設定" in the menu opens the settings dialog.
    main.mset2.action()->trigger();
    EXPECT_TRUE(forms::SetForm().Visible());
}

TEST_F(StartUp, TopMostSwitchesBothWays) {
    MainForm& main = forms::MainForm();
    main.mkaijyo.action()->trigger();
    EXPECT_FALSE(platform::IsTopMost(main.hWnd()));
    EXPECT_TRUE(main.Visible());
    main.mkaijyo.action()->trigger();
    EXPECT_FALSE(platform::IsTopMost(main.hWnd()));
    main.mzenmen.action()->trigger();
    EXPECT_TRUE(platform::IsTopMost(main.hWnd()));
}
