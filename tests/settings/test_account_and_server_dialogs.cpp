#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>
#include <QStyleFactory>
#include <QDir>
#include <cerrno>
#include <sys/stat.h>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/msgbox.h"
#include "core/program.h"
#include "core/timer.h"
#include "platform/textfile.h"
#include "settings/account.h"
#include "settings/set_form.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "support/keyring_session.h"
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

// The account dialog on a desktop with a keyring (or with a session bus but none on it).
class KeyringAccount : public AccountDialog {
protected:
    std::unique_ptr<testsupport::KeyringSession> keyring;
    void Start(bool withKeyring = true) {
        keyring = std::make_unique<testsupport::KeyringSession>(withKeyring);
        ASSERT_TRUE(keyring->error().isEmpty()) << keyring->error().toStdString();
    }
    void TearDown() override {
        AccountDialog::TearDown();
        keyring.reset();
    }
    // The dialog once the keyring has answered for the password it loaded.
    IdPassForm& Answered() {
        EXPECT_TRUE(UntilInRealTime([this] { return !Dialog().AwaitedKeyring(); }));
        return Dialog();
    }
    void SaveWithOk(const QString& id, const QString& password, bool save = true) {
        Dialog().IdText.SetText(id);
        Dialog().PassText.SetText(password);
        Dialog().Check1.SetValue(save ? 1 : 0);
        Dialog().OKCommand.Press();
        Settle();
    }
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

TEST_F(KeyringAccount, OkWithSaveKeepsThePasswordInTheKeyringAndOkWithoutSaveKeepsItThere) {
    Start();
    forms::MainForm();
    const QString password = QStringLiteral("pässwörd 猫");
    SaveWithOk("bob", password);
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=bob\r\nNAME2=\r\nNAME3=1\r\n");
    EXPECT_EQ(keyring->Lookup("bob"), password.toUtf8());
    // Recognisable in the keyring's own tool: the program, the server and the ID.
    EXPECT_TRUE(keyring->SecretTool({"search", "application", "vellumine"})
                    .contains("label = Vellumine: POP3 pop.example.org (ID bob)"));
    EXPECT_EQ(Answered().PassText.Text(), password);  // reopened: the keyring's password

    // Not saved: only the choice goes to the file, and the keyring keeps the saved account.
    Dialog().Unload();
    SaveWithOk("new", "newpw", false);
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=bob\r\nNAME2=\r\nNAME3=0\r\n");
    EXPECT_EQ(keyring->Lookup("bob"), password.toUtf8());
    EXPECT_EQ(settings::ReadAccount().password, password);
}

TEST_F(KeyringAccount, APasswordLeftInTheFileMovesIntoTheKeyringAtStartAndTheOtherLinesKeepTheirBytes) {
    Start();
    WriteIdPass("; saved by hand\r\n[EXEINI]\r\nNAME=alice\r\nNAME2=secret \xe7\x8c\xab\r\nNAME3=1\r\nX = y \r\n");
    forms::MainForm();
    loop->DoEvents(0);  // the move runs once start-up is over
    EXPECT_EQ(IdPass(), "; saved by hand\r\n[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=1\r\nX = y \r\n");
    EXPECT_EQ(keyring->Lookup("alice"), "secret \xe7\x8c\xab");
    EXPECT_FALSE(Dialog().Visible());  // the account is complete: nothing to ask
    EXPECT_EQ(Dialog().PassText.Text(), QStringLiteral("secret 猫"));
}

TEST_F(KeyringAccount, ALockedKeyringWhoseUnlockIsRefusedGivesNoPasswordAndTakesNothingInClear) {
    Start();
    forms::MainForm();
    SaveWithOk("bob", "bobpw");
    ASSERT_TRUE(keyring->Lock());
    Dialog().Unload();
    Settle();
    EXPECT_EQ(Answered().IdText.Text(), "bob");
    EXPECT_EQ(Dialog().PassText.Text(), "");  // as no password: the dialog asks

    // A password left in the file stays there while the keyring will not take it, for the next start.
    const QByteArray old = "[EXEINI]\r\nNAME=carol\r\nNAME2=carolpw\r\nNAME3=1\r\n";
    WriteIdPass(old);
    settings::MoveFilePasswordToKeyring();
    EXPECT_EQ(IdPass(), old);

    // Saved while it stays locked: the file gets no password, the account stays in use for this run.
    SaveWithOk("dave", "davepw");
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=dave\r\nNAME2=\r\nNAME3=1\r\n");
    EXPECT_EQ(settings::ReadAccount().password, "davepw");
}

TEST_F(KeyringAccount, StartUpGoesOnWhileALockedKeyringAsksAndTheDialogAsksOnceTheUnlockIsCancelled) {
    Start();
    ASSERT_TRUE(settings::SaveAccount({"bob", "bobpw"}).ok);
    ASSERT_TRUE(keyring->Lock());
    ASSERT_TRUE(keyring->HoldPrompts());
    // A tick before start-up has filled the mail program's field means a wait holds start-up; the
    // prompt is then closed so that start-up can end at all.
    bool heldStartUp = false;
    core::Timer probe(100);
    probe.OnTimer = [&] {
        if (!forms::MainForm().Text7.Text().isEmpty()) return;
        heldStartUp = true;
        keyring->EndPrompts();
    };
    MainForm& main = forms::MainForm();
    EXPECT_FALSE(heldStartUp);
    // The keyring asks, and the person takes their time: the clock runs on, and the dialog has
    // nothing to ask yet.
    ASSERT_TRUE(UntilInRealTime([&] { return keyring->PromptsBegun() > 0; }));
    const QString time = main.Text3.Text();
    loop->RunFor(3000);
    EXPECT_NE(main.Text3.Text(), time);
    EXPECT_FALSE(Dialog().Visible());
    EXPECT_EQ(keyring->PromptsBegun(), 1);
    // Closed without unlocking: no password, so the dialog asks for the account.
    keyring->EndPrompts();
    ASSERT_TRUE(UntilInRealTime([&] { return Dialog().Visible(); }));
    EXPECT_EQ(Dialog().IdText.Text(), "bob");
    EXPECT_EQ(Dialog().PassText.Text(), "");
}

TEST_F(KeyringAccount, ANewIdOrServerSavedReplacesTheEarlierItemAndOnlyOnce) {
    Start();
    forms::MainForm();
    SaveWithOk("bob", "bobpw");
    prog::Pop3Server = "pop.example.net";
    SaveWithOk("carol", "carolpw");
    // The file's way: the earlier account is overwritten, not kept beside the new one.
    EXPECT_EQ(keyring->Lookup("bob"), "");
    EXPECT_EQ(keyring->Lookup("carol"), "carolpw");
    const QByteArray items = keyring->SecretTool({"search", "--all", "application", "vellumine"});
    EXPECT_EQ(items.count("label = "), 1) << items.toStdString();
    EXPECT_TRUE(items.contains("label = Vellumine: POP3 pop.example.net (ID carol)")) << items.toStdString();
}

TEST_F(KeyringAccount, NoSecretServiceOnTheBusKeepsThePasswordInTheFileAsAlways) {
    Start(false);
    forms::MainForm();
    SaveWithOk("bob", "bobpw");
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=bob\r\nNAME2=bobpw\r\nNAME3=1\r\n");
}

TEST_F(KeyringAccount, AKeyringThatGoesAwayLaterGivesNoPasswordAndTheDialogAsks) {
    Start();
    forms::MainForm();
    SaveWithOk("bob", "bobpw");
    keyring->EndKeyring();
    Dialog().Unload();
    Settle();
    EXPECT_EQ(Answered().PassText.Text(), "");
    EXPECT_EQ(IdPass(), "[EXEINI]\r\nNAME=bob\r\nNAME2=\r\nNAME3=1\r\n");  // nothing written in clear
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

namespace {

struct Killed {};  // the program killed at a step of a save

const QByteArray kOldIni = "[EXEINI]\r\nNUMBER=0\r\nNUMBER2=7\r\nNUMBER3=0\r\nNUMBER4=0\r\nNUMBER5=0\r\nNAME=/old\r\n";
const QByteArray kOldAccount = "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n";

// Each action that saves several keys, with the file it saves to and the file's bytes once saved.
struct SaveAction {
    const char* name;
    bool settingsFile;  // else the account file
    QByteArray saved;
    bool boxOnFailure;  // shut-down must not wait for anyone
};
const SaveAction kSaveActions[] = {
    {"settings dialog", true,
     "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=9\r\nNUMBER3=1\r\nNUMBER4=1\r\nNUMBER5=1\r\nNAME=/old\r\n", true},
    {"account dialog", false, "[EXEINI]\r\nNAME=new\r\nNAME2=newpw\r\nNAME3=1\r\n", true},
    {"shut-down", true, "[EXEINI]\r\nNUMBER=0\r\nNUMBER2=9\r\nNUMBER3=0\r\nNUMBER4=0\r\nNUMBER5=1\r\nNAME=/new\r\n",
     false},
};

class SavingSettings : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
        WriteIni(kOldIni);
        WriteIdPass(kOldAccount);
        core::SetMsgBoxHook([this](const QString& prompt, int, const QString& title) {
            boxes << title + "|" + prompt;
            return core::vbOK;
        });
    }
    void TearDown() override {
        platform::SetWriteFaultHook(nullptr);
        core::SetMsgBoxHook(nullptr);
        ProgramTest::TearDown();
    }
    QByteArray File(const SaveAction& a) const { return folder.read(a.settingsFile ? IniName() : IdPassName()); }
    QByteArray Old(const SaveAction& a) const { return a.settingsFile ? kOldIni : kOldAccount; }
    // The settings files and temp files; the lock files saves leave for good (".NAME.lock") are not counted.
    QStringList MailDataEntries() const {
        QStringList names = QDir(folder.file("★MailData")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        names.removeIf([](const QString& name) { return name.startsWith('.') && name.endsWith(".lock"); });
        return names;
    }
    // Starts the program and does what the action saves.
    void Do(const SaveAction& a) {
        forms::MainForm();
        if (std::string(a.name) == "settings dialog") {
            SetForm& set = forms::SetForm();
            set.Check1.SetValue(1);
            set.Text2.SetText("9");
            set.Check2.SetValue(1);
            set.Check3.SetValue(1);
            set.Check4.SetValue(1);
            set.Unload();
        } else if (std::string(a.name) == "account dialog") {
            IdPassForm& dlg = forms::IdPassForm();
            dlg.IdText.SetText("new");
            dlg.PassText.SetText("newpw");
            dlg.Check1.SetValue(1);
            dlg.OKCommand.Press();
        } else {
            forms::MainForm().Text7.SetText("/new");
            forms::SetForm().Text2.SetText("9");
            forms::SetForm().Check4.SetValue(1);
            EXPECT_TRUE(CloseMainWindow());
        }
        Settle();
    }
    // What is left of a killed program goes; the next one starts afresh.
    void Restart() {
        forms::DestroyAll();
        Settle();
        prog::ResetProgramValues();
        settings::SetUnsavedOptions(std::nullopt);
        settings::SetUnsavedAccount(std::nullopt);
    }
    QStringList boxes;
};

}  // namespace

TEST_F(SavingSettings, KilledBetweenTempFileAndRenameEachSaveLeavesAllOldThenAllNew) {
    for (const SaveAction& a : kSaveActions) {
        // Killed as the save's temp file is written and about to be renamed: all old. Killed at any
        // step after the first rename: all new (a save that took several replacements is caught here).
        for (const bool afterRename : {false, true}) {
            SCOPED_TRACE(testing::Message() << a.name << (afterRename ? ", after the rename" : ""));
            WriteIni(kOldIni);
            WriteIdPass(kOldAccount);
            bool renamed = false;
            platform::SetWriteFaultHook([&](platform::WriteStep step, const std::string&) -> int {
                if (renamed || (!afterRename && step == platform::WriteStep::Rename)) throw Killed{};
                renamed = step == platform::WriteStep::Rename;
                return 0;
            });
            try {
                Do(a);
            } catch (const Killed&) {
            }
            platform::SetWriteFaultHook(nullptr);
            EXPECT_EQ(File(a), afterRename ? a.saved : Old(a));
            EXPECT_EQ(MailDataEntries().size(), afterRename ? 2 : 3);  // the killed save's temp file
            Restart();

            forms::MainForm();  // the next start clears it away
            EXPECT_EQ(MailDataEntries(), QStringList({"ini.ini", "iniIdPass.ini"}));
            Restart();
        }
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("\n").toStdString();
}

TEST_F(SavingSettings, AFailedSaveSaysWhatAndWhyAndItsValuesStayInUseTillASaveLands) {
    struct Cause {
        int error;
        QString reason;
    };
    const Cause causes[] = {{ENOSPC, QStringLiteral("ディスクの空きがありません")},
                            {EACCES, QStringLiteral("書き込む権限がありません")},
                            {EROFS, QStringLiteral("読み取り専用")}};
    int n = 0;
    for (const SaveAction& a : kSaveActions) {
        const Cause& cause = causes[n++ % std::size(causes)];
        SCOPED_TRACE(a.name);
        WriteIni(kOldIni);
        WriteIdPass(kOldAccount);
        boxes.clear();
        platform::SetWriteFaultHook([&](platform::WriteStep step, const std::string&) {
            return step == platform::WriteStep::Write ? cause.error : 0;
        });
        Do(a);
        EXPECT_EQ(File(a), Old(a));
        if (!a.boxOnFailure) {
            EXPECT_TRUE(boxes.isEmpty());  // the program ended all the same
            platform::SetWriteFaultHook(nullptr);
            Restart();
            continue;
        }
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("エラー|"))) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains(cause.reason)) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains(a.settingsFile ? QStringLiteral("チェック間隔") : QStringLiteral("IDとパスワード")));
        EXPECT_TRUE(boxes[0].contains(a.settingsFile ? IniName() : IdPassName())) << boxes[0].toStdString();
        // The dialog closed; what it held stays in use, also where the program reloads it.
        if (a.settingsFile) {
            EXPECT_EQ(forms::SetForm().Check4.Value(), 1);
            EXPECT_EQ(forms::SetForm().Text2.Text(), "9");
            EXPECT_EQ(forms::MainForm().Text5.Text(), "9");
        } else {
            EXPECT_FALSE(forms::IdPassFormLoaded());
            EXPECT_EQ(settings::ReadStoredAccount().id, "new");  // what the next mail check logs in with
            EXPECT_EQ(forms::IdPassForm().PassText.Text(), "newpw");
        }
        // Space again: the next save lands (shut-down saves what is still unsaved).
        platform::SetWriteFaultHook(nullptr);
        if (a.settingsFile) {
            EXPECT_TRUE(CloseMainWindow());
            EXPECT_EQ(File(a), a.saved);
        } else {
            Do(a);
            EXPECT_EQ(File(a), a.saved);
            EXPECT_EQ(boxes.size(), 1);
        }
        Restart();
    }

    // The server dialog writes its whole file; the values typed are in use all the same.
    boxes.clear();
    forms::MainForm();
    platform::SetWriteFaultHook([](platform::WriteStep step, const std::string&) {
        return step == platform::WriteStep::Sync ? EIO : 0;
    });
    forms::OptionForm().Pop3Text.SetText("pop.new.example");
    forms::OptionForm().OKCommand.Press();
    Settle();
    EXPECT_EQ(cwd.read("qorvel.ini"), "POP3=pop.example.org\r\n");
    EXPECT_EQ(prog::Pop3Server, "pop.new.example");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("サーバー設定"))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("ファイルに書き込めませんでした")));
}
