#include <gtest/gtest.h>

#include <vector>

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
