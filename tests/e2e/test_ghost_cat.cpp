// The ghost cat from the first moment it is out: cut to the cat's outline, never the square picture
// with its silver background.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProcess>
#include <QThread>

#include <chrono>
#include <optional>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class GhostCat : public OnTheDesktop {};

TEST_F(GhostCat, CutToShapeFromTheMomentItComesOut) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER5=1\r\n");
    PaintDesktop(0x3A6EA5);  // silver is the picture's background, never the desktop's
    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();

    // It comes out at the pointer and walks a pixel or so a step: watch that area, in quick looks,
    // from the moment "確認" is chosen until well after it is out.
    const QPoint pointer(300, 200);
    MoveMouse(pointer);
    const QRect area(pointer - QPoint(20, 20), QSize(140, 140));
    ASSERT_TRUE(ChooseMenuItem(*clock, kShowCat, /*waitForTheMenuToGo=*/false));
    using Clock = std::chrono::steady_clock;
    const Clock::time_point asked = Clock::now();
    std::optional<Clock::time_point> cameOut;
    int mostSilver = 0, looksWithCat = 0, looksWithSilver = 0;
    QImage worst;
    // Until a second after it came out (or, if it never does, a while after it was asked for).
    while (cameOut ? Clock::now() - *cameOut < std::chrono::seconds(1)
                   : Clock::now() - asked < std::chrono::seconds(8)) {
        const QImage look = Grab(area);
        int silver = 0, cat = 0;
        for (int y = 0; y < look.height(); ++y)
            for (int x = 0; x < look.width(); ++x) {
                const QRgb p = look.pixel(x, y) & 0xFFFFFF;
                if (p == 0xC0C0C0) ++silver;
                else if (p != 0x3A6EA5) ++cat;
            }
        if (cat > 500) {
            ++looksWithCat;
            if (!cameOut) cameOut = Clock::now();
        }
        if (silver > 0) ++looksWithSilver;
        if (silver > mostSilver) {
            mostSilver = silver;
            worst = look;
        }
        QThread::msleep(2);
    }
    const bool out = cameOut.has_value();
    ASSERT_TRUE(out) << "no ghost cat at the pointer";
    EXPECT_EQ(mostSilver, 0) << "the ghost cat showed its silver background (up to " << mostSilver << " pixels) in "
                             << looksWithSilver << " of " << looksWithCat << " looks with the cat; see "
                             << SaveArtefact(worst, "ghost-cat-unshaped.png").toStdString();
}

// Xfce's window manager hands the focus to a window that asks for it when it is raised: a ghost cat
// that took the keyboard had it back within a step of the user clicking elsewhere.
TEST_F(GhostCat, NeverTakesTheKeyboardUnderXfwm4) {
    const QString before = Tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
    // xfwm4 reads its settings through Xfconf, a D-Bus service, and exits without a session bus: it
    // gets one of its own (the tests name none, so that nothing autolaunches one).
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForStarted(5000) && Until([&] { return bus.canReadLine(); }, 10000)) << "no dbus-daemon";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus.readLine()).trimmed());
    QProcess xfwm4;
    xfwm4.setProcessEnvironment(env);
    xfwm4.start("xfwm4", {"--replace", "--compositor=off", "--sm-client-disable"});
    if (!xfwm4.waitForStarted(5000)) GTEST_SKIP() << "xfwm4 is not installed (scripts/install-deps.sh test)";
    ASSERT_TRUE(Until([&] {
        const QString now = Tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
        return now.contains('#') && now != before;
    })) << "xfwm4 did not take over";

    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER5=1\r\n");
    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    MoveMouse({300, 200});
    ASSERT_TRUE(ChooseMenuItem(*clock, kShowCat));
    const auto ghost = WaitForWindow("Form1");
    ASSERT_TRUE(ghost) << "no ghost cat";

    // Another program's text field, clicked into as a person would while the cat walks.
    QLineEdit field;
    field.setWindowTitle("another program");
    field.setGeometry(700, 400, 300, 40);
    field.show();
    const auto fieldId = WaitForWindow("another program");
    ASSERT_TRUE(fieldId);
    Click(Info(*fieldId)->rect.center());
    ASSERT_TRUE(Until([&] { return field.hasFocus() && field.isActiveWindow(); })) << "the field never had the focus";
    // Typed a little at a time over some steps of the cat (a step is 0.2 s): every letter arrives.
    QString typed;
    for (const QString word : {"tora", "mike", "kuro", "shiro", "buchi"}) {
        Type(word);
        typed += word;
        Until([&] { return field.text() == typed; }, 2000);
        Pause(300);
        EXPECT_NE(ActiveWindow(), *ghost) << "the cat is the active window";
    }
    EXPECT_EQ(field.text().toStdString(), typed.toStdString()) << "letters went elsewhere";
    // Taking no focus, it still takes the mouse: the right button on its body ends the program.
    Click(Info(*ghost)->rect.center(), 3);
    EXPECT_TRUE(program.waitForExit()) << "still running after a right click on the cat";
    xfwm4.kill();
    xfwm4.waitForFinished();
    bus.kill();
    bus.waitForFinished();
}
