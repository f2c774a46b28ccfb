// The task tray: hiding the clock behind a tray icon (trayer is the tray host), its click and
// context menu, choosing the mail program and quitting from the tray; and a desktop without a tray.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSystemTrayIcon>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class Tray : public OnTheDesktop {};

namespace {

// A system tray at the bottom right of the screen, for as long as it lives.
class TrayHost {
public:
    TrayHost() {
        trayer_.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "200",
                                 "--heighttype", "pixel", "--height", "24", "--SetDockType", "true"});
        // Up once the tray is claimed (this process asks the X server as the program will).
        ready_ = trayer_.waitForStarted(5000) && Until([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
    }
    ~TrayHost() {
        trayer_.kill();
        trayer_.waitForFinished(3000);
    }
    bool ready() const { return ready_; }

    // The program's icon inside the tray, when there is one.
    static std::optional<TreeWindow> ProgramIcon() {
        const QList<TreeWindow> windows = ParseTree(Tool("xwininfo", {"-root", "-tree"}));
        QRect panel;
        for (const TreeWindow& t : windows)
            if (t.wmClass == "\"panel\" \"trayer\"") panel = t.rect;
        if (panel.isEmpty()) return std::nullopt;
        for (const TreeWindow& t : windows)
            if (t.wmClass.contains("\"vellumine\"") && panel.contains(t.rect) && t.rect.width() > 4) return t;
        return std::nullopt;
    }

private:
    QProcess trayer_;
    bool ready_ = false;
};

// Opens the icon's context menu and picks an item by keyboard (Down once per item, the separator
// is skipped); false when no menu came up or it did not go away.
bool ChooseTrayMenuItem(const TreeWindow& icon, int n) {
    Click(icon.rect.center(), 3);
    if (!Until([] { return ProgramPopup().has_value(); })) return false;
    QStringList keys;
    for (int i = 0; i < n; ++i) keys << "Down";
    keys << "Return";
    Keys(keys);
    return Until([] { return !ProgramPopup().has_value(); });
}

}  // namespace

TEST_F(Tray, RoundTripThroughTheTrayThenQuitFromItKeepingTheMailProgram) {
    TrayHost tray;
    ASSERT_TRUE(tray.ready()) << "trayer did not start (Debian package trayer)";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    // The mail program to choose: any existing file will do, it is not started here.
    const QString mailer = folder.file("tools/mail-reader");
    folder.write("tools/mail-reader", "#!/bin/sh\n");
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect placed = Info(*clock)->rect;

    // To the tray: the clock leaves the screen, an icon of the program sits in the tray.
    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    EXPECT_TRUE(Until([&] { return !Viewable(*clock); })) << "the clock stayed on the screen";
    std::optional<TreeWindow> icon;
    ASSERT_TRUE(Until([&] { return (icon = TrayHost::ProgramIcon()).has_value(); })) << "no icon in the tray";
    // Something is drawn there, not just the tray's background.
    EXPECT_TRUE(Until([&] {
        const QImage now = Grab(icon->rect);
        for (int y = 0; y < now.height(); ++y)
            for (int x = 0; x < now.width(); ++x)
                if (now.pixel(x, y) != now.pixel(0, 0)) return true;
        return false;
    })) << "the tray icon is blank";

    // A plain click says so in a message box titled "Vellumine"; Enter closes it.
    Click(icon->rect.center(), 1);
    const auto box = WaitForWindow("Vellumine");
    ASSERT_TRUE(box) << "no message box after a click on the icon";
    Activate(*box);
    Keys({"Return"});
    EXPECT_TRUE(WaitUntilGone("Vellumine"));

    // The context menu's "メイン画面を表示" brings the clock back where it was.
    ASSERT_TRUE(ChooseTrayMenuItem(*icon, 1)) << "no context menu on the icon";
    EXPECT_TRUE(Until([&] { return Viewable(*clock); })) << "the clock did not come back";
    EXPECT_EQ(Info(*clock)->rect, placed);

    // "起動メーラーの設定": Qt's file dialog; the path typed into it is taken.
    ASSERT_TRUE(ChooseMenuItem(*clock, kChooseMailer));
    const auto dialog = WaitForWindow("Open");
    ASSERT_TRUE(dialog) << "no file dialog";
    Activate(*dialog);
    Type(mailer);
    Keys({"Return"});
    ASSERT_TRUE(WaitUntilGone("Open")) << "the file dialog did not take " << mailer.toStdString();

    // Back to the tray, and "終了" from the icon's menu: the program ends as through its close box,
    // keeping the chosen program in ★MailData/ini.ini.
    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    ASSERT_TRUE(Until([&] { return !Viewable(*clock); }));
    ASSERT_TRUE(Until([&] { return (icon = TrayHost::ProgramIcon()).has_value(); }));
    ASSERT_TRUE(ChooseTrayMenuItem(*icon, 2)) << "no context menu on the icon";
    ASSERT_TRUE(program.waitForExit()) << "the program did not end";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(folder.iniValue("NAME").value_or("<none>").toStdString(), mailer.toStdString());

    // A restart reads it back: closed again through its close box, it writes the same path again
    // (one it had not read back would be written as "未設定").
    RunningProgram again(folder);
    const auto clock2 = again.waitForClock();
    ASSERT_TRUE(clock2) << again.error().toStdString();
    Activate(*clock2);
    Keys({"alt+F4"});
    ASSERT_TRUE(again.waitForExit()) << "the close box did not end the program";
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_EQ(folder.iniValue("NAME").value_or("<none>").toStdString(), mailer.toStdString());
}

TEST_F(Tray, WithoutATrayTheClockStaysOnTheScreen) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "this desktop is meant to have no tray";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect placed = Info(*clock)->rect;

    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    // A later command taking effect shows the tray item has been handled by then.
    ASSERT_TRUE(ChooseMenuItem(*clock, kTopMostOff));
    ASSERT_TRUE(Until([&] { return !Above(*clock); }));
    EXPECT_TRUE(Viewable(*clock)) << "the clock was hidden with no tray to come back from";
    EXPECT_EQ(Info(*clock)->rect, placed);
}
