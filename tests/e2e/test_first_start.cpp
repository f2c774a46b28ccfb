// First start with no settings at all: the clock asks for the server and the account, and what is
// typed into the two dialogs lands in the settings files byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "e2e/desktop.h"
#include "e2e/program.h"
#include "support/dovecot_mail.h"
#include "support/keyring_session.h"

using namespace e2e;

class FirstStart : public OnTheDesktop {};

namespace {

const QString kServerTitle = QStringLiteral("サーバー設定");
const QString kAccountTitle = QStringLiteral("ID,PASS");

}  // namespace

TEST_F(FirstStart, BothDialogsOpenAndWhatIsTypedIsSaved) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "Open Sesame 42"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    dovecot.deliver("alice", MailMessage(1));
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();

    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const auto server = WaitForWindow(kServerTitle);
    const auto account = WaitForWindow(kAccountTitle);
    ASSERT_TRUE(server) << "no server dialog";
    ASSERT_TRUE(account) << "no account dialog";

    // The clock is centred on the 1280 × 800 screen (the program cannot know the height of the
    // title bar the window manager adds, hence the leeway upwards and downwards) and top-most.
    const QRect clockFrame = FrameRect(*clock);
    EXPECT_LE(std::abs(clockFrame.center().x() - 640), 2) << clockFrame.x();
    EXPECT_LE(std::abs(clockFrame.center().y() - 400), 25) << clockFrame.y();
    EXPECT_TRUE(Until([&] { return Above(*clock); })) << NetWmState(*clock).toStdString();
    // The server dialog stands to the right of the clock, the account dialog to its left, both at
    // the clock's height; the server dialog is top-most as well.
    const QRect serverFrame = FrameRect(*server), accountFrame = FrameRect(*account);
    EXPECT_GT(serverFrame.left(), clockFrame.right());
    EXPECT_LT(accountFrame.right(), clockFrame.left());
    EXPECT_LE(std::abs(serverFrame.top() - clockFrame.top()), 2);
    EXPECT_LE(std::abs(accountFrame.top() - clockFrame.top()), 2);
    EXPECT_TRUE(Until([&] { return Above(*server); })) << NetWmState(*server).toStdString();

    // The server dialog, through its tab order: SMTP, POP3, APOP, 設定, 中止, mail address.
    const QString pop3 = QString("127.0.0.1:%1").arg(dovecot.pop3Port());
    Activate(*server);
    Type("smtp.example.org");
    Keys({"Tab"});
    Type(pop3);
    Keys({"Tab", "space", "Tab", "Tab", "Tab"});  // APOP ticked, past 設定 and 中止
    Type("alice@example.org");
    Keys({"shift+Tab", "shift+Tab", "space"});  // back to 設定, pressed
    ASSERT_TRUE(WaitUntilGone(kServerTitle)) << "the server dialog stayed open";
    EXPECT_EQ(folder.read("qorvel.ini").toStdString(),
              ("SMTP=smtp.example.org\r\nPOP3=" + pop3 + "\r\nMAIL=alice@example.org\r\nAPOP=1\r\n").toStdString());

    // The account dialog, through its tab order: ID, Password, OK, Cancel, the save check box.
    Activate(*account);
    Type("alice");
    Keys({"Tab"});
    Type("Open Sesame 42");
    Keys({"Tab", "Tab", "Tab", "space"});  // the save check box, ticked
    Keys({"shift+Tab", "shift+Tab", "Return"});  // back to OK, pressed
    ASSERT_TRUE(WaitUntilGone(kAccountTitle)) << "the account dialog stayed open";
    EXPECT_EQ(folder.read("★MailData/iniIdPass.ini").toStdString(),
              std::string("[EXEINI]\r\nNAME=alice\r\nNAME2=Open Sesame 42\r\nNAME3=1\r\n"));
    // Only the user may read the password.
    struct stat st {};
    ASSERT_EQ(stat(folder.file("★MailData/iniIdPass.ini").toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // What was typed works at once: a manual check logs in (with APOP) and finds the message.
    MoveMouse({150, 650});  // where a ghost cat would not cover anything we look at
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    EXPECT_TRUE(WaitForWindow(QStringLiteral("新着お知らせボード")).has_value())
        << "no notice board after the check; Dovecot says:\n"
        << dovecot.log().toStdString();
}

TEST_F(FirstStart, WithAKeyringTheSavedPasswordLivesThereAndTheCheckLogsInWithIt) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "Open Sesame 42"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    dovecot.deliver("alice", MailMessage(1));
    testsupport::KeyringSession keyring;
    ASSERT_TRUE(keyring.error().isEmpty()) << keyring.error().toStdString();
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    options.sessionBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const auto account = WaitForWindow(kAccountTitle);
    ASSERT_TRUE(account) << "no account dialog";

    Activate(*account);
    Type("alice");
    Keys({"Tab"});
    Type("Open Sesame 42");
    Keys({"Tab", "Tab", "Tab", "space"});  // the save check box, ticked
    Keys({"shift+Tab", "shift+Tab", "Return"});  // back to OK, pressed
    ASSERT_TRUE(WaitUntilGone(kAccountTitle)) << "the account dialog stayed open";
    EXPECT_EQ(folder.read("★MailData/iniIdPass.ini").toStdString(), std::string("[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=1\r\n"));
    EXPECT_EQ(keyring.Lookup("alice").toStdString(), "Open Sesame 42");

    // The check finds the password in the keyring and logs in.
    MoveMouse({150, 650});
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    EXPECT_TRUE(WaitForWindow(QStringLiteral("新着お知らせボード")).has_value())
        << "no notice board after the check; Dovecot says:\n"
        << dovecot.log().toStdString();
}

TEST_F(FirstStart, ALockedKeyringsOwnPromptCancelledLeavesNoPasswordAndTheAccountDialogAsks) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "Open Sesame 42"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    dovecot.deliver("alice", MailMessage(1));
    testsupport::KeyringSession keyring;
    ASSERT_TRUE(keyring.error().isEmpty()) << keyring.error().toStdString();
    ASSERT_TRUE(keyring.Store("alice", "Open Sesame 42"));
    ASSERT_TRUE(keyring.Lock());
    ASSERT_TRUE(keyring.RealPrompter()) << "gcr's prompter did not come up";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    folder.write("★MailData/iniIdPass.ini", "[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=1\r\n");
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    options.sessionBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();

    // The desktop's own unlock window, found by its class (its title is the keyring's, translated).
    const auto prompt = [] {
        WindowId found = 0;
        Until([&] {
            for (const WindowId id : ClientWindows())
                if (Tool("xprop", {"-id", QString::number(id), "WM_CLASS"}).contains("gcr-prompter")) found = id;
            return found != 0;
        });
        return found;
    };
    // At start it asks; the clock is up meanwhile, and the account dialog waits for the answer.
    WindowId asking = prompt();
    ASSERT_NE(asking, 0u) << "no unlock window at start";
    EXPECT_FALSE(FindWindow(kAccountTitle).has_value());
    // Cancelled: no password, so the account dialog asks, with the ID from the file.
    Activate(asking);
    Keys({"Escape"});
    auto account = WaitForWindow(kAccountTitle);
    ASSERT_TRUE(account) << "no account dialog after the prompt was cancelled";

    // Closed, and a check by hand: the keyring asks again, cancelled again; the check counts no
    // password, asks for the account and does not log in.
    Activate(*account);
    Keys({"Escape"});
    ASSERT_TRUE(WaitUntilGone(kAccountTitle));
    MoveMouse({150, 650});
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    asking = prompt();
    ASSERT_NE(asking, 0u) << "no unlock window at the check";
    Activate(asking);
    Keys({"Escape"});
    EXPECT_TRUE(WaitForWindow(kAccountTitle).has_value()) << "no account dialog after the check";
    EXPECT_FALSE(dovecot.log().contains("user=<alice>")) << dovecot.log().toStdString();
    EXPECT_EQ(folder.read("★MailData/iniIdPass.ini").toStdString(), std::string("[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=1\r\n"));
}

TEST_F(FirstStart, EscapeCancelsTheServerDialogAndEnterConfirmsTheAccount) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    ASSERT_TRUE(program.waitForClock()) << program.error().toStdString();
    const auto server = WaitForWindow(kServerTitle);
    const auto account = WaitForWindow(kAccountTitle);
    ASSERT_TRUE(server && account);

    // Esc is 中止: the dialog goes and nothing is written (OK writes before the dialog goes).
    Activate(*server);
    Type("smtp.example.org");
    Keys({"Escape"});
    EXPECT_TRUE(WaitUntilGone(kServerTitle)) << "Esc left the server dialog open";
    EXPECT_FALSE(folder.exists("qorvel.ini"));

    // Enter is OK wherever the focus is in the dialog, here still in the password box. The save
    // check box is not ticked: neither the ID nor the password may reach the disk.
    Activate(*account);
    Type("bob");
    Keys({"Tab"});
    Type("hunter2");
    Keys({"Return"});
    EXPECT_TRUE(WaitUntilGone(kAccountTitle))
        << "Enter in the password box did not press OK (the dialog is still open)";
    const QByteArray saved = folder.read("★MailData/iniIdPass.ini");
    EXPECT_FALSE(saved.contains("bob")) << saved.toStdString();
    EXPECT_FALSE(saved.contains("hunter2")) << saved.toStdString();
}
