// The ghost cat from the first moment it is out: cut to the cat's outline, never the square picture
// with its silver background.
#include <gtest/gtest.h>

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
