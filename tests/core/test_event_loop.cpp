#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <vector>

#include "core/beside.h"
#include "core/msgbox.h"
#include "core/timer.h"
#include "core/virtual_event_loop.h"

namespace {

class VirtualTime : public ::testing::Test {
protected:
    void Use(uint32_t counterStart) {
        loop = std::make_unique<core::VirtualEventLoop>(QDateTime(QDate(2026, 1, 1), QTime(0, 0)), counterStart);
        core::SetLoop(loop.get());
    }
    void SetUp() override { Use(0); }
    void TearDown() override { core::SetLoop(nullptr); }
    std::unique_ptr<core::VirtualEventLoop> loop;
};

}  // namespace

TEST_F(VirtualTime, WaitMsWaitsMoreThanItsArgument) {
    core::Timer t(20);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    core::WaitMs(150);
    EXPECT_GT(loop->Elapsed(), 150);
    EXPECT_LE(loop->Elapsed(), 152);
    EXPECT_EQ(ticks, 7);  // 20, 40, ..., 140: the other timers kept running during the wait
}

TEST_F(VirtualTime, WaitMsAcrossTheCounterWrapNeitherEndsNorLengthensTheWait) {
    for (uint32_t start : {0xFFFFFFFFu - 10u, 0xFFFFFFFFu, 0xFFFFFF00u, 0x7FFFFFF0u}) {
        Use(start);
        core::WaitMs(50);
        EXPECT_GT(loop->Elapsed(), 50) << start;
        EXPECT_LE(loop->Elapsed(), 52) << start;
    }
}

TEST_F(VirtualTime, WaitMsOfZeroOrLessReturnsAfterOneStep) {
    core::WaitMs(0);
    EXPECT_LE(loop->Elapsed(), 1);
    const auto before = loop->Elapsed();
    core::WaitMs(-100);
    EXPECT_LE(loop->Elapsed() - before, 1);
}

TEST_F(VirtualTime, TimersTickAtTheirIntervalAndZeroNeverTicks) {
    core::Timer fast(100), slow(1000), none(0), off(100, false);
    int f = 0, s = 0, n = 0, o = 0;
    fast.OnTimer = [&] { ++f; };
    slow.OnTimer = [&] { ++s; };
    none.OnTimer = [&] { ++n; };
    off.OnTimer = [&] { ++o; };
    loop->RunFor(3000);
    EXPECT_EQ(f, 30);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(o, 0);

    none.SetInterval(1000);  // starts ticking from now
    off.SetEnabled(true);
    fast.SetInterval(0);     // stops
    loop->RunFor(2000);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(o, 20);
    EXPECT_EQ(f, 30);
}

TEST_F(VirtualTime, ATickNeverNestsInsideItselfAndOthersGoOn) {
    // A 1000 ms timer whose handler waits 2000 ms, beside a 100 ms timer.
    core::Timer lamp(1000), hands(100);
    int lampDepth = 0, lampMaxDepth = 0, lampTicks = 0, handTicks = 0;
    lamp.OnTimer = [&] {
        ++lampTicks;
        lampMaxDepth = std::max(lampMaxDepth, ++lampDepth);
        core::WaitMs(2000);
        --lampDepth;
    };
    hands.OnTimer = [&] { ++handTicks; };
    loop->RunFor(10000);
    EXPECT_EQ(lampMaxDepth, 1);
    // Ticks due during the wait are dropped: one lamp tick per 3 s or so, not a burst afterwards.
    EXPECT_GE(lampTicks, 3);
    EXPECT_LE(lampTicks, 4);
    EXPECT_GE(handTicks, 99);  // the hands never stopped
}

TEST_F(VirtualTime, TimersStoppedOrDestroyedDuringATickAreSafe) {
    auto victim = std::make_unique<core::Timer>(100);
    core::Timer killer(100);
    int victimTicks = 0;
    victim->OnTimer = [&] { ++victimTicks; };
    killer.OnTimer = [&] { victim.reset(); };
    loop->RunFor(1000);  // both due at 100: whichever runs first, nothing crashes
    EXPECT_LE(victimTicks, 1);
}

TEST_F(VirtualTime, LocalTimeMovesWithTheCounter) {
    loop->SetLocalTime(QDateTime(QDate(2026, 12, 8), QTime(12, 59, 59)));
    loop->RunFor(1000);
    EXPECT_EQ(loop->Now().time(), QTime(13, 0, 0));
}

TEST_F(VirtualTime, WorkBesideAndTheWaitsAroundItNeitherHoldNorAreHeld) {
    // The lamp's kind of tick, waiting 2000 ms in a 1000 ms timer, beside work that waits 150 ms at a
    // time: each wait ends when its own time is up, whichever began first.
    core::Timer lamp(1000);
    std::vector<int64_t> lampEnds, workEnds;
    lamp.OnTimer = [&] {
        core::WaitMs(2000);
        lampEnds.push_back(loop->Elapsed());
    };
    bool secondRan = false;
    ASSERT_TRUE(core::RunBeside([&] {
        for (int i = 0; i < 40; ++i) {
            core::WaitMs(150);
            workEnds.push_back(loop->Elapsed());
        }
    }));
    EXPECT_TRUE(core::BesideRunning());
    EXPECT_FALSE(core::RunBeside([&] { secondRan = true; }));  // one at a time
    loop->RunFor(7000);
    EXPECT_FALSE(core::BesideRunning());
    EXPECT_FALSE(secondRan);
    ASSERT_EQ(workEnds.size(), 40u);
    for (size_t i = 0; i < workEnds.size(); ++i) EXPECT_EQ(workEnds[i], int64_t(151 * (i + 1))) << i;
    EXPECT_EQ(lampEnds, (std::vector<int64_t>{3001, 6002}));
}

TEST_F(VirtualTime, WorkBesideThrowsToItsLoopShowsBoxesWithoutNestingAndCanBeAbandoned) {
    // What the work throws comes out where the loop resumed it.
    struct Thrown {};
    core::RunBeside([] {
        core::WaitMs(10);
        throw Thrown{};
    });
    EXPECT_THROW(loop->RunFor(100), Thrown);
    EXPECT_FALSE(core::BesideRunning());

    // A message box in the work: time goes on and timers tick while it is up; the work goes on with
    // the button chosen once it is closed.
    core::Timer t(100);
    int ticks = 0, answer = 0;
    t.OnTimer = [&] { ++ticks; };
    core::RunBeside([&] { answer = core::MsgBox(QStringLiteral("続けますか"), core::vbYesNo, QStringLiteral("確認")); });
    loop->RunFor(1000);
    EXPECT_GE(ticks, 9);
    EXPECT_EQ(answer, 0);
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isModal());
    box->button(QMessageBox::Yes)->click();
    loop->RunFor(10);
    EXPECT_EQ(answer, core::vbYes);
    EXPECT_FALSE(core::BesideRunning());

    // Abandoned, the work unwinds where it waits: its locals go, and nothing after the wait runs.
    struct Unwound {
        bool& flag;
        ~Unwound() { flag = true; }
    };
    bool unwound = false, wentOn = false;
    core::RunBeside([&] {
        Unwound guard{unwound};
        core::WaitMs(1000);
        wentOn = true;
    });
    loop->RunFor(100);
    core::AbandonBeside();
    EXPECT_TRUE(unwound);
    EXPECT_FALSE(core::BesideRunning());
    loop->RunFor(2000);
    EXPECT_FALSE(wentOn);
}
