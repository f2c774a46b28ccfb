#include <gtest/gtest.h>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/msgbox.h"
#include "core/program.h"
#include "core/timer.h"
#include "mail/msg_form.h"
#include "platform/mci_fake.h"
#include "platform/nmail.h"
#include "platform/process.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/set_form.h"
#include "support/dovecot_mail.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

QByteArray Message(int n) {
    return QStringLiteral("From: sender%1@example.org\r\nTo: alice@example.org\r\nSubject: 件名 %1\r\n\r\n"
                          "本文です。\r\n.a line that starts with a dot\r\n")
        .arg(n)
        .toUtf8();
}

// The whole mail check of the program against a real Dovecot on loopback.
class MailCheck : public ProgramTest {
protected:
    static inline std::unique_ptr<testsupport::DovecotServer> dovecot;
    platform::FakeMciPlayer mci;
    std::vector<std::tuple<QString, int, QString>> boxes;
    std::vector<std::string> started;

    static void SetUpTestSuite() {
        dovecot = std::make_unique<testsupport::DovecotServer>(
            std::map<QString, QString>{{"alice", "alicepw"}, {"bob", "bobpw"}, {"carol", "carolpw"}});
        if (dovecot->error().isEmpty()) {
            for (int i = 1; i <= 3; ++i) dovecot->deliver("alice", Message(i));
            dovecot->deliver("bob", Message(9));
        }
    }
    static void TearDownTestSuite() { dovecot.reset(); }

    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(dovecot->error().isEmpty()) << dovecot->error().toStdString();
        mci.AcceptAnyFile(true);
        InstallPictures();
        platform::NMailAddTrustedCertificates(dovecot->certificate().toStdString());
        core::SetMsgBoxHook([this](const QString& p, int s, const QString& t) {
            boxes.emplace_back(p, s, t);
            return core::vbOK;
        });
        platform::SetStartProgramHook([this](const std::string& path) {
            started.push_back(path);
            return true;
        });
    }
    void TearDown() override {
        core::SetMsgBoxHook(nullptr);
        platform::SetStartProgramHook(nullptr);
        platform::NMailClearTrustedCertificates();
        ProgramTest::TearDown();
    }

    MainForm& Start(const QString& user, const QString& password, const QByteArray& ini = {}, int apop = 0) {
        WriteServer(QStringLiteral("SMTP=\r\nPOP3=127.0.0.1:%1\r\nMAIL=\r\nAPOP=%2\r\n")
                        .arg(dovecot->pop3Port())
                        .arg(apop)
                        .toUtf8());
        WriteIdPass(QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=%2\r\n").arg(user, password).toUtf8());
        WriteIni(ini.isEmpty() ? QByteArray("[EXEINI]\r\nNUMBER2=0\r\n") : ini);
        return forms::MainForm();
    }

    // Ends any cat show soon after it starts, as "戻す" would, so the test need not sit through it.
    void StopShowAfter(int ms) {
        stopper_ = std::make_unique<core::Timer>(ms);
        stopper_->OnTimer = [this] {
            stopper_->SetEnabled(false);
            forms::MainForm().mmodosu_Click();
        };
    }
    int Opens() const {
        return int(std::count_if(mci.Commands().begin(), mci.Commands().end(),
                                 [](const std::string& c) { return c.rfind("open ", 0) == 0; }));
    }

private:
    std::unique_ptr<core::Timer> stopper_;
};

}  // namespace

TEST_F(MailCheck, NewMailShowsTheBoardOnTopAndRunsTheCatShow) {
    MainForm& main = Start("alice", "alicepw");
    StopShowAfter(100);
    main.mcheck.action()->trigger();
    ASSERT_TRUE(forms::MsgFormLoaded());
    MsgForm& board = forms::MsgForm();
    EXPECT_TRUE(board.Visible());
    EXPECT_EQ(board.Text1.Text(), QStringLiteral("新着メールが有ります"));
    EXPECT_EQ(board.Text2.Text(), "3");
    EXPECT_TRUE(platform::IsTopMost(board.hWnd()));
    EXPECT_EQ(Opens(), 1);  // the show ran its first cycle
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(prog::PopUserId, "alice");
    EXPECT_EQ(forms::IdPassForm().IdText.Text(), "alice");
    EXPECT_FALSE(forms::IdPassForm().Visible());
}

TEST_F(MailCheck, TheBoardShownTwiceIsOneWindowWithTheNewerCount) {
    MainForm& main = Start("alice", "alicepw");
    StopShowAfter(100);
    main.Command8_Click();
    MsgForm* first = &forms::MsgForm();
    first->Text2.SetText("99");
    StopShowAfter(100);
    main.Command8_Click();
    EXPECT_EQ(&forms::MsgForm(), first);
    EXPECT_EQ(first->Text2.Text(), "3");
}

TEST_F(MailCheck, AnEmptyMailboxShowsNothing) {
    MainForm& main = Start("carol", "carolpw");
    main.Command8_Click();
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(Opens(), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MailCheck, AWrongPasswordShowsTheServersReasonAndNothingElse) {
    MainForm& main = Start("alice", "wrong");
    main.Command8_Click();
    ASSERT_EQ(boxes.size(), 1u);
    const auto& [text, style, title] = boxes[0];
    EXPECT_EQ(title, QStringLiteral("エラー"));
    EXPECT_EQ(style, core::vbOKOnly);
    EXPECT_TRUE(text.contains("Authentication failed")) << text.toStdString();
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(Opens(), 0);
}

TEST_F(MailCheck, ApopLoginWorksToo) {
    MainForm& main = Start("bob", "bobpw", {}, 2);  // any value but 0 means APOP
    StopShowAfter(100);
    main.Command8_Click();
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : std::get<0>(boxes[0]).toStdString());
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "1");
}

TEST_F(MailCheck, StartsTheMailProgramInsteadWhenAskedAndOneIsChosen) {
    MainForm& main = Start("alice", "alicepw", "[EXEINI]\r\nNUMBER3=1\r\nNAME=  /opt/mail client/run.sh \r\n");
    main.Command8_Click();
    EXPECT_EQ(started, (std::vector<std::string>{"/opt/mail client/run.sh"}));
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(Opens(), 0);

    main.Text7.SetText(QStringLiteral("未設定"));
    main.Command8_Click();
    EXPECT_EQ(started.size(), 1u);  // none chosen: nothing at all
    EXPECT_FALSE(forms::MsgFormLoaded());
}

TEST_F(MailCheck, TheBoardClosesItselfAfterASecondBeforeTheShowWhenAsked) {
    MainForm& main = Start("alice", "alicepw", "[EXEINI]\r\nNUMBER4=1\r\n");
    bool boardUpBeforeShow = false, boardGoneWhenShowStarts = false;
    core::Timer probe(500);
    probe.OnTimer = [&] {
        if (Opens() == 0) boardUpBeforeShow = forms::MsgFormLoaded() && forms::MsgForm().Visible();
        else if (!boardGoneWhenShowStarts) boardGoneWhenShowStarts = !forms::MsgFormLoaded();
    };
    StopShowAfter(1300);
    main.Command8_Click();
    EXPECT_TRUE(boardUpBeforeShow);
    EXPECT_TRUE(boardGoneWhenShowStarts);
    Settle();
    EXPECT_FALSE(forms::MsgFormLoaded());
}

TEST_F(MailCheck, AnIncompleteAccountAsksForItAndDoesNotLogIn) {
    MainForm& main = Start("alice", "");
    main.Command8_Click();
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MailCheck, AnAccountTakenWithOkButNotSavedIsUsedUntilOneIsSaved) {
    MainForm& main = Start("", "");
    IdPassForm& dialog = forms::IdPassForm();
    dialog.IdText.SetText("alice");
    dialog.PassText.SetText("alicepw");
    dialog.OKCommand.Press();  // save box clear
    Settle();
    StopShowAfter(100);
    main.Command8_Click();
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "3");
    EXPECT_FALSE(forms::IdPassForm().Visible());
}

TEST_F(MailCheck, NoServerOrNoConnectionShowsNothing) {
    MainForm& main = Start("alice", "alicepw");
    prog::Pop3Server = "";
    main.Command8_Click();
    prog::Pop3Server = "127.0.0.1:1";  // nothing listens there
    main.Command8_Click();
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(forms::IdPassForm().Visible());
}
