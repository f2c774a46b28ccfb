// "常に前面表示" and "前面表示解除", as the window manager records them and as they stack the clock
// against another window.
#include <gtest/gtest.h>

#include <QWidget>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class TopMost : public OnTheDesktop {};

TEST_F(TopMost, OffAndOnAgain) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    EXPECT_TRUE(Until([&] { return Above(*clock); })) << "not top-most from the start";

    // Another window of an ordinary program, right over the clock.
    QWidget other;
    other.setWindowTitle("another program");
    other.setGeometry(Info(*clock)->rect.adjusted(-20, -20, 20, 20));
    other.show();
    const auto otherId = WaitForWindow("another program");
    ASSERT_TRUE(otherId);
    Activate(*otherId);
    EXPECT_TRUE(Until([&] { return StackedAbove(*clock, *otherId); })) << "top-most, yet below another window";

    ASSERT_TRUE(ChooseMenuItem(*clock, kTopMostOff));
    EXPECT_TRUE(Until([&] { return !Above(*clock); })) << NetWmState(*clock).toStdString();
    Activate(*otherId);
    EXPECT_TRUE(Until([&] { return StackedAbove(*otherId, *clock); })) << "still in front of the active window";

    ASSERT_TRUE(ChooseMenuItem(*clock, kTopMostOn));
    EXPECT_TRUE(Until([&] { return Above(*clock); })) << NetWmState(*clock).toStdString();
    Activate(*otherId);
    EXPECT_TRUE(Until([&] { return StackedAbove(*clock, *otherId); })) << "top-most again, yet below another window";
}
