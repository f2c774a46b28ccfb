// Screenshots kept as artefacts of the run (<build>/e2e-artefacts/), each checked before it is kept:
// the clock, the hourly bird, the ghost cat on the desktop and the settings dialog.
#include <gtest/gtest.h>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class Screenshots : public OnTheDesktop {};

namespace {

constexpr QRgb kSilver = 0xC0C0C0;

void PrepareAccount(const ProgramFolder& folder) {
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
}

}  // namespace

TEST_F(Screenshots, ClockWindow) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    PrepareAccount(folder);
    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);
    const QImage watch = folder.picture("Watch");
    ASSERT_TRUE(Until([&] { return FaceDifference(Grab(face), watch) == 0; }))
        << "the clock does not show Watch.gif: " << FaceDifference(Grab(face), watch) << " pixels differ";

    // The hands: inside their circle the picture is drawn over in yellow (hour, minute) and white
    // (second), nowhere in another colour.
    const QImage shown = Grab(face);
    int drawn = 0;
    for (int y = 28; y <= 52; ++y)
        for (int x = 38; x <= 62; ++x) {
            const QRgb s = shown.pixel(x, y) & 0xFFFFFF;
            if (s == (watch.pixel(x, y) & 0xFFFFFF)) continue;
            ++drawn;
            EXPECT_TRUE(s == 0xFFFF00 || s == 0xFFFFFF) << "at (" << x << "," << y << "): " << std::hex << s;
        }
    EXPECT_GT(drawn, 5) << "no hands drawn";
    SaveArtefact(Grab(FrameRect(*clock)), "clock-window.png");
}

TEST_F(Screenshots, ChimeBirdOnTheHour) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    PrepareAccount(folder);
    // Just before one o'clock: one bird.
    StartOptions options;
    options.fakeTime = StartOptions::kBeforeOne;
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);
    const QRect window = FrameRect(*clock);
    // Before the hour, the clock picture.
    ASSERT_TRUE(Until([&] { return FaceDifference(Grab(face), folder.picture("Watch")) == 0; }));

    QString bird;
    QImage at;
    ASSERT_TRUE(Until(
        [&] {
            at = Grab(window);
            bird = FaceShows(at.copy(face.translated(-window.topLeft())), folder, {"Bird1", "Bird2", "Bird3"});
            return !bird.isEmpty();
        },
        25000))
        << "no bird on the hour";
    SaveArtefact(at, "chime-bird.png");
    std::printf("the clock showed %s\n", qPrintable(bird));
    // One bird at one o'clock, then the clock picture again.
    EXPECT_TRUE(Until([&] { return FaceDifference(Grab(face), folder.picture("Watch")) == 0; }))
        << "the clock picture did not come back after the bird";
}

TEST_F(Screenshots, GhostCatOnTheDesktop) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    PrepareAccount(folder);
    folder.writeIni("NUMBER5=1\r\n");
    PaintDesktop(0x3A6EA5);  // a wallpaper blue: neither silver nor any colour of the cat
    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QImage desktop = GrabScreen();  // before the cat: what the desktop shows

    const QPoint pointer(300, 200);
    MoveMouse(pointer);
    ASSERT_TRUE(ChooseMenuItem(*clock, kShowCat));
    const auto ghost = WaitForWindow("Form1");
    ASSERT_TRUE(ghost) << "no ghost cat";
    EXPECT_TRUE(Until([&] { return Above(*ghost); })) << NetWmState(*ghost).toStdString();
    // It comes out where the pointer is, and walks only a few pixels a step.
    const QRect first = Info(*ghost)->rect;
    EXPECT_EQ(first.size(), QSize(100, 100));
    EXPECT_LE((first.topLeft() - pointer).manhattanLength(), 60) << first.x() << "," << first.y();

    // Cut to the cat's outline: within its window no silver (the picture's background) shows, the
    // desktop does around the cat, and the cat itself is there.
    QImage screen;
    QRect cat;
    int silver = 0, desktopShows = 0, catShows = 0;
    Until([&] {
        cat = Info(*ghost)->rect;
        screen = GrabScreen();
        silver = desktopShows = catShows = 0;
        for (int y = cat.top(); y <= cat.bottom(); ++y)
            for (int x = cat.left(); x <= cat.right(); ++x) {
                const QRgb s = screen.pixel(x, y) & 0xFFFFFF;
                if (s == kSilver) ++silver;
                else if (s == (desktop.pixel(x, y) & 0xFFFFFF)) ++desktopShows;
                else ++catShows;
            }
        return silver == 0 && catShows > 500 && desktopShows > 2000;
    });
    EXPECT_EQ(silver, 0) << "silver shows: the window is not cut to the cat";
    EXPECT_GT(catShows, 500) << "hardly any cat";
    EXPECT_GT(desktopShows, 2000) << "hardly any desktop around the cat";
    SaveArtefact(screen, "ghost-cat.png");
    SaveArtefact(screen.copy(cat.adjusted(-20, -20, 20, 20)), "ghost-cat-close-up.png");
}

TEST_F(Screenshots, SettingsDialog) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    PrepareAccount(folder);
    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();

    ASSERT_TRUE(ChooseMenuItem(*clock, kSettings));
    const auto settings = WaitForWindow("設定");
    ASSERT_TRUE(settings) << "no settings dialog";
    Activate(*settings);
    // Controls at their places in the dialog: the interval box and the ghost cat's check box.
    const QPoint origin = Info(*settings)->rect.topLeft();
    Click(origin + QPoint(172, 161));
    Keys({"ctrl+a"});
    Type("15");
    Click(origin + QPoint(16, 272));
    Pause(300);  // let the tick be drawn before the picture is taken
    SaveArtefact(Grab(FrameRect(*settings)), "settings-dialog.png");

    // Closing it keeps what was set.
    Keys({"alt+F4"});
    ASSERT_TRUE(WaitUntilGone("設定"));
    EXPECT_EQ(folder.iniValue("NUMBER2").value_or("<none>").toStdString(), "15");
    EXPECT_EQ(folder.iniValue("NUMBER5").value_or("<none>").toStdString(), "1");
    EXPECT_EQ(folder.iniValue("NUMBER").value_or("<none>").toStdString(), "0");
}
