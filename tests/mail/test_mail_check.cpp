#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <set>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/msgbox.h"
#include "core/numbers.h"
#include "core/program.h"
#include "core/timer.h"
#include "mail/msg_form.h"
#include "mail/push.h"
#include "platform/mci_fake.h"
#include "platform/nmail.h"
#include "platform/process.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "support/dovecot_mail.h"
#include "support/hand_server.h"
#include "support/keyring_session.h"
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
            std::map<QString, QString>{{"alice", "alicepw"}, {"bob", "bobpw"}, {"carol", "carolpw"}, {"dave", "davepw"}, {"erin", "erinpw"}, {"frank", "frankpw"}});
        if (dovecot->error().isEmpty()) {
            for (int i = 1; i <= 3; ++i) dovecot->deliver("alice", Message(i));
            dovecot->deliver("bob", Message(9));
            // Read on the server already, by another client: an IMAP check does not count it.
            for (int i = 1; i <= 3; ++i) dovecot->deliver("erin", Message(20 + i), i == 2);
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
        platform::NMailClearPinnedCertificates();
        ProgramTest::TearDown();
    }

    MainForm& Start(const QString& user, const QString& password, const QByteArray& ini = {}, int apop = 0,
                    const QString& server = {}) {
        WriteServer(QStringLiteral("SMTP=\r\nPOP3=%1\r\nMAIL=\r\nAPOP=%2\r\n")
                        .arg(server.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(dovecot->pop3Port()) : server)
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
    // Starts a check as the menu's command does, and lets the program run until it has ended.
    void Check(MainForm& main) {
        main.Command8_Click();
        Finish();
    }
    void Finish() { ASSERT_TRUE(FinishCheck()); }
    // The logins Dovecot has logged for the user, once it has logged at least `expected` or a few
    // seconds have passed (its log is written by a process of its own).
    static int Logins(const QString& user, int expected) {
        // Dovecot 2.3 logs "Login:", 2.4 "Logged in:".
        const QRegularExpression line(QStringLiteral("(Login|Logged in): user=<%1>").arg(user));
        QElapsedTimer waited;
        waited.start();
        int n = 0;
        while ((n = int(dovecot->log().count(line))) < expected && waited.elapsed() < 10000) QThread::msleep(20);
        return n;
    }

private:
    std::unique_ptr<core::Timer> stopper_;
};

}  // namespace

TEST_F(MailCheck, NewMailShowsTheBoardOnTopAndRunsTheCatShow) {
    MainForm& main = Start("alice", "alicepw");
    StopShowAfter(100);
    main.mcheck.action()->trigger();
    Finish();
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
    Check(main);
    MsgForm* first = &forms::MsgForm();
    first->Text2.SetText("99");
    StopShowAfter(100);
    Check(main);
    EXPECT_EQ(&forms::MsgForm(), first);
    EXPECT_EQ(first->Text2.Text(), "3");
}

// A check asked for while an earlier one only shows its notice runs, by hand or by the interval: it
// logs in again and the board shows what it found, with a second show nested in the first; but an
// interval check's show does not nest in another interval check's show. One asked for while a check
// still talks does nothing.
TEST_F(MailCheck, ACheckAskedForDuringTheCatShowLogsInAgainAndTheBoardShowsItsCount) {
    struct Row {
        const char* name;
        bool firstByHand, secondByHand;
        int shows;  // notices under way once the second check has talked
    };
    int held = 0;  // messages in dave's mailbox
    for (const Row& row : {Row{"by hand during a show of a check by hand", true, true, 2},
                           Row{"by the interval during a show of a check by hand", true, false, 2},
                           Row{"by the interval during a show of a check by the interval", false, false, 1}}) {
        SCOPED_TRACE(row.name);
        forms::DestroyAll();
        Settle();
        StartAt(startTime);
        dovecot->deliver("dave", Message(10 + held++));
        const bool interval = !row.firstByHand || !row.secondByHand;
        MainForm& main = Start("dave", "davepw", interval ? "[EXEINI]\r\nNUMBER2=1\r\n" : "[EXEINI]\r\nNUMBER2=0\r\n");
        const int logins = Logins("dave", 0);
        const int opens = Opens();
        // A show runs on the program's stack: what happens during it happens on timers.
        std::vector<std::unique_ptr<core::Timer>> later;
        const auto at = [&](int ms, std::function<void()> fn) {
            auto& t = later.emplace_back(std::make_unique<core::Timer>(ms));
            t->OnTimer = [t = t.get(), fn] {
                t->SetEnabled(false);
                fn();
            };
        };
        // The interval comes round at 61 s and at 122 s.
        const int firstAt = row.firstByHand ? 0 : 61000;
        const int secondAt = row.secondByHand ? firstAt + 10000 : firstAt + 61000;
        QString firstCount, secondCount;
        int showsDuringFirst = 0, showsDuringSecond = 0, opensDuringFirst = 0;
        long checksDuringSecond = 0;
        bool boardUp = false;
        at(firstAt + 5000, [&] {
            firstCount = forms::MsgForm().Text2.Text();
            showsDuringFirst = main.notifying_;
            opensDuringFirst = Opens() - opens;
            dovecot->deliver("dave", Message(10 + held++));
        });
        if (row.secondByHand) {
            at(secondAt, [&] {
                main.mcheck.action()->trigger();
                main.mcheck.action()->trigger();  // while the one before talks to the server
            });
        }
        at(secondAt + 5000, [&] {
            secondCount = forms::MsgForm().Text2.Text();
            boardUp = forms::MsgForm().Visible();
            showsDuringSecond = main.notifying_;
            checksDuringSecond = main.checksStarted_;
            main.mmodosu.action()->trigger();  // one "戻す" ends every show
        });
        if (row.firstByHand) main.mcheck.action()->trigger();
        loop->RunFor(secondAt + 6000);
        Finish();
        EXPECT_EQ(firstCount, QString::number(held - 1));
        EXPECT_EQ(showsDuringFirst, 1);
        EXPECT_GT(opensDuringFirst, 0);  // its show runs
        EXPECT_EQ(checksDuringSecond, 2);
        EXPECT_EQ(showsDuringSecond, row.shows);
        EXPECT_EQ(secondCount, QString::number(held));
        EXPECT_TRUE(boardUp);
        EXPECT_EQ(Logins("dave", logins + 2), logins + 2);
        EXPECT_EQ(main.notifying_, 0);
    }
}

TEST_F(MailCheck, AnImapMailboxShowsItsUnseenCountOnTheBoardAndStaysAsItWas) {
    MainForm& main = Start("erin", "erinpw");
    const QString before = dovecot->flags("erin");
    for (const QString& server : {QStringLiteral("imap://127.0.0.1:%1").arg(dovecot->imapPort()),
                                  QStringLiteral("imaps://127.0.0.1:%1").arg(dovecot->imapsPort())}) {
        SCOPED_TRACE(server.toStdString());
        prog::Pop3Server = server;
        if (forms::MsgFormLoaded()) forms::MsgForm().Text2.SetText("99");
        StopShowAfter(100);
        Check(main);
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : std::get<0>(boxes[0]).toStdString());
        ASSERT_TRUE(forms::MsgFormLoaded());
        EXPECT_EQ(forms::MsgForm().Text2.Text(), "2");
        EXPECT_EQ(dovecot->flags("erin").toStdString(), before.toStdString());
    }
    EXPECT_EQ(Opens(), 2);  // and the cat show ran for each
}

// Push against Dovecot: a message saved into INBOX while the push connection idles starts the check,
// and the board shows the new unseen count, long before any interval check would come.
TEST_F(MailCheck, PushStartsTheCheckWhenDovecotTakesANewMessage) {
    MainForm& main = Start("frank", "frankpw", "[EXEINI]\r\nNUMBER2=1440\r\n", 0,
                           QStringLiteral("imap://127.0.0.1:%1").arg(dovecot->imapPort()));
    // Real time bounds the waits on Dovecot; virtual time runs meanwhile.
    const auto runUntil = [&](const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 30000) loop->RunFor(20);
        return done();
    };
    const int64_t idling = mail::PushIdling();
    ASSERT_TRUE(runUntil([&] { return mail::PushIdling() > idling && Logins("frank", 1) >= 1; }));
    EXPECT_EQ(main.checksStarted_, 0);
    StopShowAfter(100);
    ASSERT_TRUE(dovecot->save("frank", Message(30)));
    ASSERT_TRUE(runUntil([&] { return forms::MsgFormLoaded() && forms::MsgForm().Text2.Text() == "1"; }));
    EXPECT_EQ(main.checksStarted_, 1);
    Finish();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dovecot->flags("frank").count(QStringLiteral("\\Seen")), 0);
}

// The push connection takes the certificate the person trusted for the server, as the check does; one
// it cannot verify keeps it from idling but shows nothing (the next interval check asks about it).
TEST_F(MailCheck, PushTakesTheTrustedCertificateAndSaysNothingOfAnUntrustedOne) {
    platform::NMailClearTrustedCertificates();
    const QString server = QStringLiteral("imaps://127.0.0.1:%1").arg(dovecot->imapsPort());
    for (const bool pinned : {false, true}) {
        SCOPED_TRACE(pinned ? "trusted" : "not trusted");
        forms::DestroyAll();
        Settle();
        if (pinned) {
            folder.write(QStringLiteral("★MailData/iniCert.ini"),
                         QStringLiteral("[127.0.0.1:%1]\r\nSHA256=%2\r\n").arg(dovecot->imapsPort()).arg(dovecot->fingerprint()).toUtf8());
        }
        const int64_t opened = mail::PushConnections(), idling = mail::PushIdling();
        Start("frank", "frankpw", "[EXEINI]\r\nNUMBER2=1440\r\n", 0, server);
        QElapsedTimer waited;
        waited.start();
        // Trusted: idling on the first connection. Not: a second one after the first back-off.
        while (!(pinned ? mail::PushIdling() > idling : mail::PushConnections() >= opened + 2) && waited.elapsed() < 30000) loop->RunFor(20);
        EXPECT_EQ(mail::PushIdling() > idling, pinned);
        EXPECT_GE(mail::PushConnections(), opened + (pinned ? 1 : 2));
        EXPECT_TRUE(boxes.empty());
        EXPECT_FALSE(platform::NMailLastCertificateProblem());
    }
}

TEST_F(MailCheck, AnEmptyMailboxShowsNothing) {
    MainForm& main = Start("carol", "carolpw");
    Check(main);
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(Opens(), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MailCheck, AWrongPasswordShowsTheServersReasonAndNothingElse) {
    MainForm& main = Start("alice", "wrong");
    Check(main);
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
    Check(main);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : std::get<0>(boxes[0]).toStdString());
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "1");
}

TEST_F(MailCheck, StartsTheMailProgramInsteadWhenAskedAndOneIsChosen) {
    MainForm& main = Start("alice", "alicepw", "[EXEINI]\r\nNUMBER3=1\r\nNAME=  /opt/mail client/run.sh \r\n");
    Check(main);
    EXPECT_EQ(started, (std::vector<std::string>{"/opt/mail client/run.sh"}));
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(Opens(), 0);

    main.Text7.SetText(QStringLiteral("未設定"));
    Check(main);
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
    Check(main);
    EXPECT_TRUE(boardUpBeforeShow);
    EXPECT_TRUE(boardGoneWhenShowStarts);
    Settle();
    EXPECT_FALSE(forms::MsgFormLoaded());
}

TEST_F(MailCheck, AnIncompleteAccountAsksForItAndDoesNotLogIn) {
    MainForm& main = Start("alice", "");
    Check(main);
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
    Check(main);
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "3");
    EXPECT_FALSE(forms::IdPassForm().Visible());
}

TEST_F(MailCheck, AnOldFilesPasswordMovesIntoTheKeyringAtStartAndTheCheckLogsInWithIt) {
    testsupport::KeyringSession keyring;
    ASSERT_TRUE(keyring.error().isEmpty()) << keyring.error().toStdString();
    MainForm& main = Start("alice", "alicepw");
    loop->DoEvents(0);  // the move runs once start-up is over
    EXPECT_EQ(keyring.Lookup("alice"), "alicepw");
    EXPECT_EQ(folder.read(IdPassName()), "[EXEINI]\r\nNAME=alice\r\nNAME2=\r\n");
    const int before = Logins("alice", 0);
    StopShowAfter(100);
    Check(main);
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "3");
    EXPECT_EQ(Logins("alice", before + 1), before + 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MailCheck, ALockedKeyringIsAskedOncePerCheckAndTheClockGoesOnWhileItAsks) {
    testsupport::KeyringSession keyring;
    ASSERT_TRUE(keyring.error().isEmpty()) << keyring.error().toStdString();
    MainForm& main = Start("alice", "alicepw");
    loop->DoEvents(0);  // the move into the keyring
    ASSERT_EQ(keyring.Lookup("alice"), "alicepw");
    ASSERT_TRUE(keyring.Lock());
    ASSERT_TRUE(keyring.HoldPrompts());
    const int before = Logins("alice", 0);
    forms::IdPassForm().Unload();  // loaded at start-up with the file's password: the check loads it anew
    Settle();

    // Cancelled by the person: no password, so the dialog asks and nobody logs in; and one prompt
    // for one check, not a second one right after it.
    keyring.CancelPrompts();
    Check(main);
    EXPECT_EQ(keyring.PromptsBegun(), 1);
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_EQ(forms::IdPassForm().PassText.Text(), "");
    EXPECT_EQ(Logins("alice", before), before);
    EXPECT_FALSE(forms::MsgFormLoaded());
    forms::IdPassForm().Unload();
    Settle();

    // A prompt left open: the clock runs on meanwhile, and the check waits.
    keyring.HoldLaterPrompts();
    std::set<QString> times;
    core::Timer probe(1000);
    probe.OnTimer = [&] { times.insert(main.Text3.Text()); };
    main.Command8_Click();
    ASSERT_TRUE(loop->RunUntil([&] { return keyring.PromptsBegun() > 1; }, 60000));
    loop->SetNetworkGraceMs(0);
    loop->RunFor(5000);
    EXPECT_GE(times.size(), 4u);
    EXPECT_FALSE(forms::IdPassFormLoaded() && forms::IdPassForm().Visible());
    // Closed without an answer: as cancelled.
    keyring.EndPrompts();
    Finish();
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_EQ(Logins("alice", before), before);
}

TEST_F(MailCheck, AnAccountDialogClosedWhileTheKeyringAsksIsOpenedAnewByTheCheck) {
    testsupport::KeyringSession keyring;
    ASSERT_TRUE(keyring.error().isEmpty()) << keyring.error().toStdString();
    MainForm& main = Start("alice", "alicepw");
    loop->DoEvents(0);  // the move into the keyring
    ASSERT_EQ(keyring.Lookup("alice"), "alicepw");
    ASSERT_TRUE(keyring.Lock());
    ASSERT_TRUE(keyring.HoldPrompts());
    forms::IdPassForm().Show();
    main.Command8_Click();
    ASSERT_TRUE(loop->RunUntil([&] { return keyring.PromptsBegun() > 0; }, 60000));
    // Closed by the person while the keyring asks for the check.
    forms::IdPassForm().CancelCommand.Press();
    Settle();
    keyring.EndPrompts();
    Finish();
    ASSERT_TRUE(forms::IdPassFormLoaded());
    ASSERT_TRUE(UntilInRealTime([] { return !forms::IdPassForm().AwaitedKeyring(); }));
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_EQ(forms::IdPassForm().IdText.Text(), "alice");
    EXPECT_EQ(forms::IdPassForm().PassText.Text(), "");
}

TEST_F(MailCheck, NoServerOrNoConnectionShowsNothing) {
    MainForm& main = Start("alice", "alicepw");
    prog::Pop3Server = "";
    Check(main);
    prog::Pop3Server = "127.0.0.1:1";  // nothing listens there
    Check(main);
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(forms::IdPassForm().Visible());
}

TEST_F(MailCheck, AnUnverifiedCertificateIsKeptForItsServerOnlyWhenTheUserTrustsIt) {
    platform::NMailClearTrustedCertificates();
    int answer = core::vbNo;
    core::SetMsgBoxHook([&](const QString& p, int s, const QString& t) {
        boxes.emplace_back(p, s, t);
        return answer;
    });
    MainForm& main = Start("alice", "alicepw");
    const QString server = QStringLiteral("127.0.0.1:%1").arg(dovecot->pop3Port());
    const QString file = QStringLiteral("★MailData/iniCert.ini");
    const QString first = dovecot->fingerprint();
    const auto logins = [] { return Logins("alice", 0); };
    const int before = logins();

    // No: nothing kept, no login, nothing more shown.
    Check(main);
    ASSERT_EQ(boxes.size(), 1u);
    const auto [text, style, title] = boxes[0];
    EXPECT_EQ(style, core::vbYesNo + core::vbExclamation);
    EXPECT_EQ(title, QStringLiteral("証明書の確認"));
    for (const QString& part : {server, first, QStringLiteral("自己署名"), QStringLiteral("CN=127.0.0.1"),
                                QStringLiteral("信頼しますか")}) {
        EXPECT_TRUE(text.contains(part)) << part.toStdString() << "\n" << text.toStdString();
    }
    EXPECT_FALSE(QFile::exists(folder.file(file)));
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_EQ(logins(), before);

    // Yes: kept for this server, and the check goes on to the mail at once.
    answer = core::vbYes;
    boxes.clear();
    StopShowAfter(100);
    Check(main);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(folder.read(file), ("[" + server + "]\r\nSHA256=" + first + "\r\n").toUtf8());
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "3");

    // From then on no question; the trust is read from the file, and lasts only while it is there.
    boxes.clear();
    StopShowAfter(100);
    Check(main);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Logins("alice", before + 2), before + 2);  // its log may lag the check
    prog::Pop3Server = QStringLiteral("localhost:%1").arg(dovecot->pop3Port());  // the same, by another name
    answer = core::vbNo;
    Check(main);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::get<2>(boxes[0]), QStringLiteral("証明書の確認"));
    prog::Pop3Server = server;

    // A new certificate on the same server: the box says it changed; No keeps the old trust.
    ASSERT_TRUE(dovecot->renewCertificate()) << dovecot->error().toStdString();
    const QString second = dovecot->fingerprint();
    ASSERT_NE(second, first);
    boxes.clear();
    Check(main);
    ASSERT_EQ(boxes.size(), 1u);
    const auto [changed, changedStyle, changedTitle] = boxes[0];
    EXPECT_EQ(changedTitle, QStringLiteral("証明書が変わりました"));
    EXPECT_EQ(changedStyle, core::vbYesNo + core::vbExclamation);
    EXPECT_TRUE(changed.contains(QStringLiteral("証明書が変わりました"))) << changed.toStdString();
    EXPECT_TRUE(changed.contains(first) && changed.contains(second)) << changed.toStdString();
    EXPECT_EQ(folder.read(file), ("[" + server + "]\r\nSHA256=" + first + "\r\n").toUtf8());
    EXPECT_EQ(logins(), before + 2);
    // Yes: the new one replaces the old.
    answer = core::vbYes;
    boxes.clear();
    StopShowAfter(100);
    Check(main);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(folder.read(file), ("[" + server + "]\r\nSHA256=" + second + "\r\n").toUtf8());
    EXPECT_EQ(Logins("alice", before + 3), before + 3);
}

TEST_F(MailCheck, ATrustThatCannotBeSavedIsSaidSoAndHoldsForThisRun) {
    platform::NMailClearTrustedCertificates();
    core::SetMsgBoxHook([&](const QString& p, int s, const QString& t) {
        boxes.emplace_back(p, s, t);
        return (s & 0x0F) == core::vbYesNo ? core::vbYes : core::vbOK;
    });
    MainForm& main = Start("alice", "alicepw");
    QDir().mkpath(folder.file(QStringLiteral("★MailData/iniCert.ini")));  // a folder where the file goes
    StopShowAfter(100);
    Check(main);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(std::get<2>(boxes[1]), QStringLiteral("エラー"));
    EXPECT_TRUE(std::get<0>(boxes[1]).contains(QStringLiteral("信頼する証明書を保存できませんでした"))) << std::get<0>(boxes[1]).toStdString();
    ASSERT_TRUE(forms::MsgFormLoaded());
    EXPECT_EQ(forms::MsgForm().Text2.Text(), "3");
    boxes.clear();
    StopShowAfter(100);
    Check(main);
    EXPECT_TRUE(boxes.empty());
}

namespace {

// The check against a server that stalls, played by hand: the clock goes on meanwhile, no second
// check starts, and closing the clock ends it at once.
class StalledServer : public ProgramTest {
protected:
    testsupport::HandServer server;
    std::vector<QString> boxes;

    void SetUp() override {
        ProgramTest::SetUp();
        InstallPictures();
        core::SetMsgBoxHook([this](const QString& p, int, const QString&) {
            boxes.push_back(p);
            return core::vbOK;
        });
        WriteServer(QByteArray("POP3=") + server.address().c_str() + "\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
    void TearDown() override {
        core::SetMsgBoxHook(nullptr);
        ProgramTest::TearDown();
    }
    MainForm& Start(const QByteArray& ini) {
        // All the server says is written before the client asks: silence is silence at once.
        loop->SetNetworkGraceMs(0);
        WriteIni(ini);
        return forms::MainForm();
    }
    // Runs fn once, ms from now.
    void At(int ms, std::function<void()> fn) {
        auto& timer = once_.emplace_back(std::make_unique<core::Timer>(ms));
        timer->OnTimer = [t = timer.get(), fn] {
            t->SetEnabled(false);
            fn();
        };
    }

private:
    std::vector<std::unique_ptr<core::Timer>> once_;
};

}  // namespace

TEST_F(StalledServer, TheClockGoesOnWhileTheServerSaysNothing) {
    StartAt(QDateTime(QDate(2026, 12, 8), QTime(12, 59, 45)));
    MainForm& main = Start("[EXEINI]\r\nNUMBER2=1\r\n");
    std::set<QString> times, lamps;
    std::set<std::pair<int, int>> secondHand;
    std::set<int> ticker;
    bool bird = false;
    core::Timer probe(1000);
    probe.OnTimer = [&] {
        times.insert(main.Text3.Text());
        if (main.picMain.Strokes().size() == 3) secondHand.insert({main.picMain.Strokes()[2].x2, main.picMain.Strokes()[2].y2});
        ticker.insert(main.Label1.Left());
        lamps.insert(main.Image1.PictureSource());
        bird = bird || main.picMain.PictureSource().contains("Bird");
    };
    const int64_t start = loop->Elapsed();
    main.Command8_Click();
    ASSERT_TRUE(FinishCheck());
    const int64_t took = loop->Elapsed() - start;
    EXPECT_GE(took, 30000);  // the time limit on the greeting
    EXPECT_LT(took, 32000);
    EXPECT_GE(times.size(), 29u);
    EXPECT_GE(secondHand.size(), 25u);  // a few positions repeat at the same pixel
    EXPECT_GE(ticker.size(), 29u);
    EXPECT_EQ(lamps.size(), 2u);  // green and red in turn
    EXPECT_TRUE(bird);            // the chime at one o'clock
    EXPECT_GE(core::LeadingNumber(main.Text4.Text()), 29);  // the interval counter counted on
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("時間内に応答がありませんでした"))) << boxes[0].toStdString();
    EXPECT_FALSE(forms::MsgFormLoaded());
}

TEST_F(StalledServer, NoSecondCheckStartsWhileOneWaits) {
    MainForm& main = Start("[EXEINI]\r\nNUMBER2=1\r\n");
    At(1000, [&] {
        main.mcheck.action()->trigger();
        main.Command8_Click();
        main.Picture7_Click();
        main.Text1.SetText("1");  // the interval has come round: the trigger fires meanwhile
    });
    main.Command8_Click();
    ASSERT_TRUE(FinishCheck());
    EXPECT_EQ(server.TakeWaiting(), 1);
    EXPECT_EQ(main.checksStarted_, 1);
}

// A server that refuses for now shows no box, and the interval checks keep away for as long as it
// asked (its CAPA LOGIN-DELAY, else the code's own wait); a check by hand still runs. Interval 1: the
// trigger comes every 61 s (61, 122 ... 427); the user checks by hand at 90 s.
TEST_F(StalledServer, RefusalsForNowShowNoBoxAndHoldIntervalChecksForTheDelayAsked) {
    struct Case {
        const char* name;
        std::string capa;    // announced besides USER
        std::string answer;  // to PASS, and what follows
        std::vector<int> starts;  // seconds after start-up at which checks began
        size_t boxes;
    };
    const std::vector<Case> cases = {
        // Held from 61 to 211, then from 90 to 240, then from 244 to 394.
        {"LOGIN-DELAY announced", "LOGIN-DELAY 150\r\n", "-ERR [LOGIN-DELAY] Logins must be 150 s apart\r\n",
         {61, 90, 244, 427}, 0},
        // None announced: a minute for another session's lock (from 61, from 90), five for the rest.
        {"IN-USE", "", "-ERR [IN-USE] Mailbox locked\r\n", {61, 90, 183, 244, 305, 366, 427}, 0},
        {"SYS/TEMP", "", "-ERR [SYS/TEMP] Try again later\r\n", {61, 90, 427}, 0},
        // Announced by a server whose logins work: every login counts, refused or not.
        {"login works, LOGIN-DELAY announced", "LOGIN-DELAY 100\r\n", "+OK\r\n+OK 0 0\r\n+OK bye\r\n",
         {61, 90, 244, 366}, 0},
        {"AUTH", "", "-ERR [AUTH] Authentication failed\r\n", {61, 90, 122, 183, 244, 305, 366, 427}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forms::DestroyAll();
        Settle();
        boxes.clear();
        MainForm& main = Start("[EXEINI]\r\nNUMBER2=1\r\n");
        const std::string script = "+OK ready\r\n+OK\r\nUSER\r\n" + c.capa + ".\r\n+OK\r\n" + c.answer;
        int answered = server.Taken();
        core::Timer answer(50);
        answer.OnTimer = [&] {
            server.TakeWaiting();
            for (; answered < server.Taken(); ++answered) server.Say(answered, script);
        };
        const int64_t start = loop->Elapsed();
        At(90000, [&] { main.Command8_Click(); });
        std::vector<int> starts;
        long seen = main.checksStarted_;
        core::Timer sampler(10);
        sampler.OnTimer = [&] {
            for (; seen < main.checksStarted_; ++seen) starts.push_back(int((loop->Elapsed() - start + 500) / 1000));
        };
        loop->RunFor(430000);
        ASSERT_TRUE(FinishCheck());
        EXPECT_EQ(starts, c.starts);
        EXPECT_EQ(boxes.size(), c.boxes);
        for (const QString& box : boxes) EXPECT_TRUE(box.contains("Authentication failed")) << box.toStdString();
        EXPECT_FALSE(forms::MsgFormLoaded());
        EXPECT_FALSE(forms::IdPassForm().Visible());
    }
}

TEST_F(StalledServer, ClosingDuringACheckEndsTheProgramAtOnceSayingNothingMore) {
    MainForm& main = Start("[EXEINI]\r\nNUMBER2=0\r\nNAME=/opt/mail/run.sh\r\n");
    main.Text7.SetText("/usr/bin/claws-mail");
    At(500, [&] {
        server.TakeWaiting();
        server.Say(0, "+OK ready\r\n+OK\r\nPIPELINING\r\n.\r\n+OK\r\n+OK\r\n+OK 2 300\r\n+OK\r\n1 150\r\n2 150\r\n.\r\n");
    });
    int64_t closedAt = -1;
    At(3000, [&] {
        closedAt = loop->Elapsed();
        forms::MainForm().Unload();  // the close box
    });
    bool ended = false;
    try {
        main.Command8_Click();
        FinishCheck();
    } catch (const testsupport::ProcessEnded&) {
        ended = true;
    }
    ASSERT_TRUE(ended);
    EXPECT_LT(loop->Elapsed() - closedAt, 1000);
    // Everything up to the messages it was waiting for, and then not a word, not even QUIT.
    EXPECT_EQ(server.Heard(0), "CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\nLIST\r\nRETR 1\r\nRETR 2\r\n");
    EXPECT_TRUE(server.ClosedByClient(0));
    EXPECT_TRUE(folder.read(IniName()).contains("NAME=/usr/bin/claws-mail\r\n"));
    EXPECT_FALSE(forms::MsgFormLoaded());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StalledServer, AnImpossibleCountOrAHangUpEndsTheCheckAtOnce) {
    // New mail would start the mail program, and none is chosen: a check that gets a count shows nothing.
    MainForm& main = Start("[EXEINI]\r\nNUMBER2=0\r\nNUMBER3=1\r\n");
    const std::string loggedIn = "+OK ready\r\n+OK\r\nPIPELINING\r\n.\r\n+OK\r\n+OK\r\n";
    struct Case {
        std::string rest;    // what the server says after the login, before it hangs up
        int64_t calls;       // the message calls the check makes
        bool box;            // "エラー"
    };
    for (const Case& c : {Case{"+OK 2147483647 0\r\n", 0, true}, Case{"+OK 9999999 0\r\n+OK\r\n1 100\r\n", 1, false}}) {
        SCOPED_TRACE(c.rest);
        const int connection = server.Taken();
        At(100, [&] {
            server.TakeWaiting();
            server.Say(connection, loggedIn + c.rest);
            server.HangUp(connection);
        });
        boxes.clear();
        const int64_t calls = platform::NMailPop3MessageCalls();
        const int64_t start = loop->Elapsed();
        main.Command8_Click();
        ASSERT_TRUE(FinishCheck());
        EXPECT_LT(loop->Elapsed() - start, 1000);
        EXPECT_EQ(platform::NMailPop3MessageCalls() - calls, c.calls);
        ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_TRUE(boxes[0].contains(QStringLiteral("2147483647"))) << boxes[0].toStdString();
        }
    }
}

// An IMAP check reads the count and makes no message call; a count past ten million, or a server gone
// silent after the login, ends the check with the box (the silence after 30 s of virtual time).
TEST_F(StalledServer, AnImapCountMakesNoMessageCallsAndSilenceOrAnAbsurdCountShowTheBox) {
    MainForm& main = Start("[EXEINI]\r\nNUMBER2=0\r\nNUMBER3=1\r\n");
    prog::Pop3Server = QString::fromStdString("imap://" + server.address());
    const std::string loggedIn = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] hi\r\na1 OK in\r\n";
    struct Case {
        std::string said;
        const char* box;  // what the "エラー" box says; none when empty
        int64_t waited;   // the least the check took
    };
    for (const Case& c : {Case{loggedIn + "* STATUS INBOX (UNSEEN 5)\r\na2 OK\r\n", "", 0},
                          Case{loggedIn + "* STATUS INBOX (UNSEEN 10000001)\r\na2 OK\r\n", "10000001", 0},
                          Case{loggedIn, "時間内に応答がありませんでした", 30000}}) {
        SCOPED_TRACE(c.said);
        const int connection = server.Taken();
        At(100, [&] {
            server.TakeWaiting();
            server.Say(connection, c.said);
        });
        boxes.clear();
        const int64_t calls = platform::NMailPop3MessageCalls();
        const int64_t start = loop->Elapsed();
        main.Command8_Click();
        ASSERT_TRUE(FinishCheck());
        EXPECT_GE(loop->Elapsed() - start, c.waited);
        EXPECT_LT(loop->Elapsed() - start, c.waited + 2000);
        EXPECT_EQ(platform::NMailPop3MessageCalls(), calls);
        EXPECT_NE(server.Heard(connection).find("STATUS INBOX (UNSEEN)"), std::string::npos);
        ASSERT_EQ(boxes.size(), std::string(c.box).empty() ? 0u : 1u);
        if (!boxes.empty()) {
            EXPECT_TRUE(boxes[0].contains(QString::fromUtf8(c.box))) << boxes[0].toStdString();
        }
    }
}

namespace {

// A mailbox of three messages one round trip away in virtual time: every command is answered rtt ms
// after the server heard it, and the server notes when it heard each one.
class DistantServer {
public:
    DistantServer(core::VirtualEventLoop& loop, bool pipelining, int rttMs)
        : loop_(loop), pipelining_(pipelining), rtt_(rttMs) {
        poll_.OnTimer = [this] { Poll(); };
    }
    std::string address() const { return hand_.address(); }
    // What the server heard, and when (virtual ms).
    std::vector<std::pair<std::string, int64_t>> heard;

private:
    static std::string Message(int n) { return "Subject: m" + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n"; }
    std::string Reply(const std::string& command) const {
        const int n = command.size() > 5 ? std::atoi(command.c_str() + 5) : 0;
        const std::string verb = command.substr(0, 4);
        if (verb == "CAPA") return std::string("+OK\r\n") + (pipelining_ ? "PIPELINING\r\n" : "") + "TOP\r\nUSER\r\n.\r\n";
        if (verb == "STAT") return "+OK 3 " + std::to_string(3 * Message(1).size()) + "\r\n";
        if (command == "LIST") {
            std::string list = "+OK\r\n";
            for (int i = 1; i <= 3; ++i) list += std::to_string(i) + " " + std::to_string(Message(i).size()) + "\r\n";
            return list + ".\r\n";
        }
        if (verb == "LIST") return "+OK " + std::to_string(n) + " " + std::to_string(Message(n).size()) + "\r\n";
        if (verb == "TOP ") return "+OK\r\n" + Message(n).substr(0, Message(n).find("\r\n\r\n") + 4) + ".\r\n";
        if (verb == "RETR") return "+OK\r\n" + Message(n) + ".\r\n";
        return "+OK\r\n";  // USER, PASS, QUIT
    }
    void Poll() {
        const int64_t now = loop_.Elapsed();
        if (hand_.Taken() == 0) {
            if (hand_.TakeWaiting() == 0) return;
            hand_.Say(0, "+OK ready\r\n");
        }
        const std::string all = hand_.Heard(0);
        for (size_t end; (end = all.find("\r\n", read_)) != std::string::npos; read_ = end + 2) {
            const std::string command = all.substr(read_, end - read_);
            heard.emplace_back(command, now);
            replies_.emplace_back(now + rtt_, Reply(command));
        }
        // Replies due together go out in one piece: the system's delayed acknowledgement would hold
        // a second piece for a while of real time.
        std::string out;
        while (!replies_.empty() && replies_.front().first <= now) {
            out += replies_.front().second;
            replies_.erase(replies_.begin());
        }
        if (!out.empty()) hand_.Say(0, out);
    }
    testsupport::HandServer hand_;
    core::VirtualEventLoop& loop_;
    bool pipelining_;
    int rtt_;
    size_t read_ = 0;
    std::vector<std::pair<int64_t, std::string>> replies_;
    core::Timer poll_{5};
};

}  // namespace

// The check runs beside everything else: the lamp's two-second wait and a cat show started from the
// menu while it runs neither hold up its commands nor make it any longer, with PIPELINING and without.
TEST_F(StalledServer, TheLampAndAShowFromTheMenuLeaveTheChecksPaceAlone) {
    enum Beside { Nothing, Lamp, ShowFromTheMenu };
    for (const bool pipelining : {false, true}) {
        std::vector<std::pair<std::string, int64_t>> alone;
        for (const Beside other : {Nothing, Lamp, ShowFromTheMenu}) {
            forms::DestroyAll();
            Settle();
            StartAt(startTime);
            DistantServer distant(*loop, pipelining, 200);
            WriteServer("POP3=" + QByteArray::fromStdString(distant.address()) + "\r\n");
            // Interval checking on for the lamp; the mail program option on with none chosen, so that
            // nothing follows the check itself.
            MainForm& main = Start(other == Lamp ? "[EXEINI]\r\nNUMBER2=1\r\nNUMBER3=1\r\n" : "[EXEINI]\r\nNUMBER3=1\r\n");
            main.Text7.SetText(QStringLiteral("未設定"));
            loop->RunFor(800);  // the lamp's tick at 1000 falls inside the check
            std::vector<std::unique_ptr<core::Timer>> later;
            const auto after = [&](int ms, std::function<void()> fn) {
                auto& t = later.emplace_back(std::make_unique<core::Timer>(ms));
                t->OnTimer = [t = t.get(), fn] {
                    t->SetEnabled(false);
                    fn();
                };
            };
            if (other == ShowFromTheMenu) {
                after(150, [&] { main.mkakunin.action()->trigger(); });
                after(6000, [&] { main.mmodosu.action()->trigger(); });
            }
            const int64_t start = loop->Elapsed();
            main.Command8_Click();
            ASSERT_TRUE(FinishCheck());
            loop->RunFor(100);
            std::vector<std::pair<std::string, int64_t>> log;
            for (const auto& [command, when] : distant.heard) log.emplace_back(command, when - start);
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back().first, "QUIT");
            EXPECT_GE(log.back().second, 600) << "the check must still run when the lamp ticks";
            if (other == Nothing)
                alone = log;
            else
                EXPECT_EQ(log, alone) << "pipelining " << pipelining << ", beside " << other;
        }
    }
}

namespace {

// An IMAP server played on the hand server in virtual time: every 20 ms it takes new connections,
// greets them and answers each whole line it has heard. INBOX holds 3 messages, 2 of them unseen.
class ImapResponder {
public:
    explicit ImapResponder(core::VirtualEventLoop& loop) : loop_(loop) { tick_.OnTimer = [this] { Serve(); }; }
    std::string address() const { return "imap://" + hand.address(); }

    std::string capabilities = "IMAP4rev1 SASL-IR AUTH=PLAIN IDLE";  // after the login
    std::string loginAnswer = "OK";  // to the login, after the tag
    std::string beforeIdle;     // said to IDLE before the go-ahead
    bool silent = false;        // answers nothing more
    bool hangUpAtOnce = false;  // closes every new connection before its greeting
    testsupport::HandServer hand;
    std::vector<int64_t> accepted;  // when each connection was taken (virtual ms)
    struct Line {
        std::string text;  // without its tag
        int64_t at;
    };
    std::vector<std::vector<Line>> heard;  // by connection

    // The connection that has EXAMINEd INBOX (the push connection), the last one first; -1 for none.
    int Push() const {
        for (int c = int(heard.size()) - 1; c >= 0; --c)
            for (const Line& l : heard[c])
                if (l.text == "EXAMINE INBOX") return c;
        return -1;
    }
    // The push connection waits in IDLE, its go-ahead given, and the client has not closed it.
    bool Idling() {
        const int c = Push();
        return c >= 0 && !heard[c].empty() && heard[c].back().text == "IDLE" && idleAnswered_[c] && !hand.ClosedByClient(c);
    }
    int Count(int c, const std::string& text) const {
        return int(std::count_if(heard[c].begin(), heard[c].end(), [&](const Line& l) { return l.text == text; }));
    }
    void Say(int c, const std::string& bytes) { hand.Say(c, bytes); }

private:
    void Serve() {
        for (int n = hand.TakeWaiting(); n > 0; --n) {
            const int c = hand.Taken() - n;
            accepted.push_back(loop_.Elapsed());
            heard.emplace_back();
            read_.push_back(0);
            idleTag_.emplace_back();
            idleAnswered_.push_back(false);
            if (hangUpAtOnce) {
                hand.HangUp(c);
                continue;
            }
            hand.Say(c, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] hi\r\n");
        }
        for (int c = 0; c < hand.Taken(); ++c) {
            const std::string all = hand.Heard(c);
            for (size_t end; (end = all.find("\r\n", read_[c])) != std::string::npos;) {
                std::string line = all.substr(read_[c], end - read_[c]);
                read_[c] = end + 2;
                std::string tag;
                if (line.size() > 1 && line[0] == 'a' && line.find(' ') != std::string::npos) {
                    tag = line.substr(0, line.find(' '));
                    line.erase(0, tag.size() + 1);
                }
                heard[c].push_back({line, loop_.Elapsed()});
                if (!silent) Answer(c, tag, line);
            }
        }
    }
    void Answer(int c, const std::string& tag, const std::string& line) {
        if (line.rfind("AUTHENTICATE PLAIN", 0) == 0) {
            Say(c, tag + " " + (loginAnswer == "OK" ? "OK [CAPABILITY " + capabilities + "] in" : loginAnswer) + "\r\n");
        } else if (line == "CAPABILITY") {
            Say(c, "* CAPABILITY " + capabilities + "\r\n" + tag + " OK\r\n");
        } else if (line == "EXAMINE INBOX") {
            Say(c, "* 3 EXISTS\r\n* 0 RECENT\r\n* OK [UNSEEN 2] first\r\n" + tag + " OK [READ-ONLY] done\r\n");
        } else if (line == "IDLE") {
            idleTag_[c] = tag;
            idleAnswered_[c] = true;
            Say(c, beforeIdle + "+ idling\r\n");
        } else if (line == "DONE") {
            idleAnswered_[c] = false;
            Say(c, idleTag_[c] + " OK idle done\r\n");
        } else if (line == "STATUS INBOX (UNSEEN)") {
            Say(c, "* STATUS INBOX (UNSEEN 2)\r\n" + tag + " OK\r\n");
        } else if (line == "LOGOUT") {
            Say(c, "* BYE\r\n" + tag + " OK\r\n");
            hand.HangUp(c);
        } else {
            Say(c, tag + " BAD what\r\n");
        }
    }

    core::VirtualEventLoop& loop_;
    core::Timer tick_{20};
    std::vector<size_t> read_;
    std::vector<std::string> idleTag_;
    std::vector<bool> idleAnswered_;
};

// Push against the played server: interval checking on (every 60 minutes, so that no interval check
// comes meanwhile), new mail starting the mail program, and none chosen: a check shows nothing.
class Push : public StalledServer {
protected:
    std::unique_ptr<ImapResponder> imap;
    void SetUp() override {
        StalledServer::SetUp();
        imap = std::make_unique<ImapResponder>(*loop);
        WriteServer(QByteArray("POP3=") + imap->address().c_str() + "\r\n");
    }
    void TearDown() override {
        forms::DestroyAll();
        imap.reset();
        StalledServer::TearDown();
    }
    MainForm& StartIdling(const QByteArray& interval = "60") {
        MainForm& main = Start("[EXEINI]\r\nNUMBER2=" + interval + "\r\nNUMBER3=1\r\n");
        EXPECT_TRUE(loop->RunUntil([&] { return imap->Idling(); }, 10000));
        return main;
    }
};

}  // namespace

// The push connection looks at INBOX read-only and idles; a message count grown past what it knew
// starts one check within a second, through the interval's path; anything else starts none.
TEST_F(Push, NewMailWhileIdlingStartsACheckWithinASecond) {
    struct Case {
        const char* said;
        long checks;
        const char* beforeIdle = "";  // what came between EXAMINE and the go-ahead to IDLE
    };
    for (const Case& c : {Case{"* 4 EXISTS\r\n", 1}, Case{"* 4 EXISTS\r\n* 1 RECENT\r\n", 1}, Case{"* 1 RECENT\r\n", 0},
                          Case{"* 3 EXISTS\r\n", 0}, Case{"* 2 FETCH (FLAGS (\\Seen))\r\n", 0},
                          Case{"* 1 EXPUNGE\r\n* 3 EXISTS\r\n", 1}, Case{"* 1 EXPUNGE\r\n", 0},
                          Case{"* 5 EXISTS\r\n* 6 EXISTS\r\n", 1}, Case{"", 1, "* 4 EXISTS\r\n* 1 RECENT\r\n"},
                          Case{"", 0, "* 3 EXISTS\r\n"}}) {
        SCOPED_TRACE(std::string(c.beforeIdle) + c.said);
        forms::DestroyAll();
        Settle();
        imap->beforeIdle = c.beforeIdle;
        MainForm& main = StartIdling();
        const int push = imap->Push();
        ASSERT_GE(push, 0);
        // Counted from start-up: news before the go-ahead may start its check before idling is seen.
        const long before = 0;
        imap->Say(push, c.said);
        loop->RunFor(1000);
        EXPECT_EQ(main.checksStarted_ - before, c.checks);
        ASSERT_TRUE(FinishCheck());
        EXPECT_TRUE(boxes.empty());
        // The push connection said nothing but its login, EXAMINE and IDLE: no SELECT, no FETCH, no STORE.
        ASSERT_GE(imap->heard[push].size(), 3u);
        EXPECT_EQ(imap->heard[push][0].text.rfind("AUTHENTICATE PLAIN", 0), 0u);
        EXPECT_EQ(imap->heard[push][1].text, "EXAMINE INBOX");
        for (size_t i = 2; i < imap->heard[push].size(); ++i) EXPECT_EQ(imap->heard[push][i].text, "IDLE");
    }
}

// Interval 0 opens no connection; turning interval checking on opens one, off closes it at once. A
// server without IDLE is logged out of and not tried again until the settings change.
TEST_F(Push, OnlyWhileIntervalCheckingIsOnAndTheServerOffersIdle) {
    Start("[EXEINI]\r\nNUMBER2=0\r\nNUMBER3=1\r\n");
    loop->RunFor(60000);
    EXPECT_TRUE(imap->accepted.empty());
    forms::SetForm().Text2.SetText("5");
    ASSERT_TRUE(loop->RunUntil([&] { return imap->Idling(); }, 10000));
    forms::SetForm().Text2.SetText("0");
    EXPECT_TRUE(imap->hand.ClosedByClient(0));
    EXPECT_EQ(imap->heard[0].back().text, "IDLE");  // cut off, not a word more

    imap->capabilities = "IMAP4rev1 SASL-IR AUTH=PLAIN";
    forms::SetForm().Text2.SetText("60");
    ASSERT_TRUE(loop->RunUntil([&] { return imap->hand.Taken() == 2 && imap->hand.ClosedByClient(1); }, 10000));
    loop->RunFor(30 * 60000);
    EXPECT_EQ(imap->hand.Taken(), 2);
    ASSERT_GE(imap->heard[1].size(), 2u);
    EXPECT_EQ(imap->heard[1][imap->heard[1].size() - 2].text, "CAPABILITY");
    EXPECT_EQ(imap->heard[1].back().text, "LOGOUT");

    // Another server: tried again, and idling there.
    imap->capabilities = "IMAP4rev1 SASL-IR AUTH=PLAIN IDLE";
    ImapResponder other(*loop);
    prog::Pop3Server = QString::fromStdString(other.address());
    forms::OptionForm().Show();
    forms::OptionForm().OKCommand_Click();
    EXPECT_TRUE(loop->RunUntil([&] { return other.Idling(); }, 10000));
    EXPECT_TRUE(boxes.empty());
}

// IDLE is renewed (DONE, IDLE) every few minutes, well before 29; a dropped connection is opened again
// after 1 s, then 2, 4 ... up to 5 minutes, with no box.
TEST_F(Push, RenewedBefore29MinutesAndReopenedWithBackOff) {
    MainForm& main = StartIdling("120");
    loop->RunFor(29 * 60000);
    ASSERT_EQ(imap->hand.Taken(), 1);
    std::vector<int64_t> idles;
    for (const auto& l : imap->heard[0])
        if (l.text == "IDLE") idles.push_back(l.at);
    ASSERT_GE(idles.size(), 2u);
    for (size_t i = 1; i < idles.size(); ++i) EXPECT_LT(idles[i] - idles[i - 1], 29 * 60000);
    EXPECT_EQ(imap->Count(0, "DONE"), int(idles.size()) - 1);
    EXPECT_EQ(main.checksStarted_, 0);

    imap->hangUpAtOnce = true;
    imap->hand.HangUp(0);
    imap->accepted[0] = loop->Elapsed();
    loop->RunFor(35 * 60000);
    std::vector<int> gaps;  // seconds from the drop to the first new connection, then between them
    for (size_t i = 1; i < imap->accepted.size(); ++i) gaps.push_back(int((imap->accepted[i] - imap->accepted[i - 1] + 500) / 1000));
    const std::vector<int> backOff = {1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300, 300};
    ASSERT_GE(gaps.size(), backOff.size());
    EXPECT_EQ(std::vector<int>(gaps.begin(), gaps.begin() + backOff.size()), backOff);
    EXPECT_TRUE(boxes.empty());
}

// A server that stops answering is noticed at the next round trip (within its reply limit) and left
// for a new connection; a refused login on the push connection shows no box either.
TEST_F(Push, ASilentServerIsNoticedAndARefusedLoginIsQuiet) {
    StartIdling();
    const int64_t quiet = loop->Elapsed();
    imap->silent = true;
    ASSERT_TRUE(loop->RunUntil([&] { return imap->hand.Taken() == 2; }, 10 * 60000));
    EXPECT_LE(imap->accepted[1] - quiet, 5 * 60000 + 30000 + 1000 + 100);
    EXPECT_TRUE(imap->hand.ClosedByClient(0));
    EXPECT_EQ(imap->heard[0].back().text, "DONE");

    imap->silent = false;
    imap->loginAnswer = "NO [AUTHENTICATIONFAILED] no";
    imap->hand.HangUp(1);
    loop->RunFor(60000);
    EXPECT_GE(imap->hand.Taken(), 5);
    EXPECT_TRUE(boxes.empty());
}

// News heard while a check talks may have come after that check read its count: one more check
// follows it, and only one.
TEST_F(Push, NewsWhileACheckTalksBringsOneMoreCheckAfterIt) {
    MainForm& main = StartIdling();
    const int push = imap->Push();
    main.Command8_Click();
    ASSERT_GT(main.checkRunning_, 0);
    imap->Say(push, "* 4 EXISTS\r\n");
    loop->RunFor(20);
    imap->Say(push, "* 5 EXISTS\r\n");
    loop->RunFor(5000);
    ASSERT_TRUE(FinishCheck());
    EXPECT_EQ(main.checksStarted_, 2);
    EXPECT_TRUE(boxes.empty());
}

// The check runs while the push connection waits, on a connection of its own; closing the clock cuts
// the push connection off at once.
TEST_F(Push, ACheckRunsWhilePushWaitsAndClosingTheClockCutsItOff) {
    MainForm& main = StartIdling("1");
    const int64_t opened = mail::PushConnections();
    main.Command8_Click();
    ASSERT_TRUE(FinishCheck());
    EXPECT_EQ(main.checksStarted_, 1);
    ASSERT_EQ(imap->hand.Taken(), 2);
    EXPECT_EQ(imap->Count(1, "STATUS INBOX (UNSEEN)"), 1);
    EXPECT_EQ(imap->heard[1].back().text, "LOGOUT");
    // And the interval's own checks come as before.
    loop->RunFor(125000);
    EXPECT_EQ(main.checksStarted_, 3);
    EXPECT_TRUE(imap->Idling());
    EXPECT_EQ(mail::PushConnections(), opened);

    EXPECT_TRUE(CloseMainWindow());
    EXPECT_TRUE(imap->hand.ClosedByClient(0));
    EXPECT_EQ(imap->heard[0].back().text, "IDLE");
    EXPECT_TRUE(boxes.empty());
}
