#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <ostream>
#include <vector>

#include "core/timer.h"

#include "app/forms.h"
#include "app/main_form.h"
#include "mail/schedule.h"
#include "platform/tray.h"
#include "settings/set_form.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

// No server is set, so a check does nothing but count itself: the schedule alone is under test.
class Schedule : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
    MainForm& StartWithInterval(const char* interval) {
        WriteIni(QByteArray("[EXEINI]\r\nNUMBER2=") + interval + "\r\n");
        startedAt_ = loop->Elapsed();
        return forms::MainForm();
    }
    // Virtual seconds (from start-up) at which checks started, over a span. A 10 ms sampler sees them
    // even while the lamp waits inside its own tick.
    std::vector<double> CheckTimes(MainForm& main, int64_t spanMs) {
        std::vector<double> times;
        long seen = main.checksStarted_;
        core::Timer sampler(10);
        sampler.OnTimer = [&] {
            for (; seen < main.checksStarted_; ++seen) times.push_back((loop->Elapsed() - startedAt_) / 1000.0);
        };
        loop->RunFor(spanMs);
        return times;
    }
    int64_t startedAt_ = 0;
};

}  // namespace

TEST_F(Schedule, IntervalOfOneChecksEverySixtyOneSecondsOnceEach) {
    MainForm& main = StartWithInterval("1");
    const auto times = CheckTimes(main, 190000);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[0], 61, 0.15);
    EXPECT_NEAR(times[1], 122, 0.15);
    EXPECT_NEAR(times[2], 183, 0.15);
}

TEST_F(Schedule, ZeroAndNegativeIntervalsNeverCheckAndKeepTheCounters) {
    for (const char* interval : {"0", "-2"}) {
        MainForm& main = StartWithInterval(interval);
        main.Text1.SetText("3");
        main.Text4.SetText("17");
        EXPECT_TRUE(CheckTimes(main, 200000).empty()) << interval;
        EXPECT_EQ(main.Text1.Text(), "3");
        EXPECT_EQ(main.Text4.Text(), "17");
        forms::DestroyAll();
        Settle();
    }
}

TEST_F(Schedule, FractionsFireAtTheRoundedInterval) {
    // 1.5 and 2.5 both round to 2 (halves to even): a check every 122 s, where it used never to come.
    for (const char* interval : {"1.5", "2.5"}) {
        MainForm& main = StartWithInterval("5");
        forms::SetForm().Text2.SetText(interval);
        const auto times = CheckTimes(main, 250000);
        ASSERT_EQ(times.size(), 2u) << interval;
        EXPECT_NEAR(times[0], 122, 0.15);
        EXPECT_NEAR(times[1], 244, 0.15);
        forms::DestroyAll();
        Settle();
    }
}

TEST_F(Schedule, AnIntervalLoweredBelowTheCountStillComesRound) {
    MainForm& main = StartWithInterval("10");
    main.Text1.SetText("5");  // five minutes counted
    forms::SetForm().Text2.SetText("3");
    const auto times = CheckTimes(main, 200000);
    // The counter starts again at once, so the first check comes three counted minutes later.
    ASSERT_FALSE(times.empty());
    EXPECT_NEAR(times[0], 1 + 3 * 61, 1.5);
}

TEST_F(Schedule, ASecondsCounterHoldingAHugeNumberCountsOnFromTheEdgeOfTheRange) {
    // The hidden fields take any text; a number past what the counter can hold is brought into range
    // (this used to be an out-of-range conversion, caught by the sanitizer build).
    MainForm& main = StartWithInterval("5");
    main.Text4.SetText("-1e300");
    loop->RunFor(1500);
    const double seconds = main.Text4.Text().toDouble();
    EXPECT_GT(seconds, -1e15) << main.Text4.Text().toStdString();
    EXPECT_LT(seconds, -1e15 + 10) << main.Text4.Text().toStdString();
    // Past the minute and past the interval: both counters start again.
    main.Text1.SetText("&H" + QString(300, QChar(u'F')));
    main.Text4.SetText("1e300");
    loop->RunFor(1500);
    EXPECT_LT(main.Text4.Text().toInt(), 5) << main.Text4.Text().toStdString();
    EXPECT_EQ(main.Text1.Text(), "1");
}

TEST_F(Schedule, NoIntervalCheckStartsWhileACheckRuns) {
    MainForm& main = StartWithInterval("1");
    main.checkRunning_ = 1;  // as while a check waits for the server
    EXPECT_TRUE(CheckTimes(main, 65000).empty());
    main.checkRunning_ = 0;
}

TEST_F(Schedule, TickerScrollsLeftAndJumpsBackWithoutDrifting) {
    WriteIni(QByteArray("[EXEINI]\r\nNAME=/usr/bin/mail program\r\n"));
    MainForm& main = forms::MainForm();
    EXPECT_EQ(main.Label1.Left(), 1560);
    loop->RunFor(20);
    EXPECT_EQ(main.Label1.Left(), 1540);
    EXPECT_EQ(main.Label1.Caption(), "mail program");
    EXPECT_EQ(main.Text8.Text(), "mail program");
    loop->RunFor(20 * 152);
    EXPECT_EQ(main.Label1.Left(), -1500);
    loop->RunFor(20);
    EXPECT_EQ(main.Label1.Left(), 2760);
    loop->RunFor(20 * 212);
    EXPECT_EQ(main.Label1.Left(), -1480);
    loop->RunFor(20 * 2);
    EXPECT_EQ(main.Label1.Left(), 2760);  // a full lap of 213 ticks
}

TEST(TickerPlace, ManyTicksAtOnceLandWhereTickingOneByOneWould) {
    // One tick as the ticker has always made it.
    const auto step = [](int left) { return left == -1500 ? 2760 : left - 20; };
    struct Case {
        int left;
        int64_t ticks;
    };
    const Case cases[] = {{1560, 0}, {1560, 1}, {1560, 153}, {1560, 154}, {-1500, 1}, {-1480, 2}, {2760, 213},
                          {2760, 214}, {2760, 215}, {1560, 5000}, {3000, 400},
                          // Off the lap (never at -1500): it keeps moving left.
                          {1555, 300}, {-1520, 7}};
    for (const Case& c : cases) {
        int expected = c.left;
        for (int64_t i = 0; i < c.ticks; ++i) expected = step(expected);
        EXPECT_EQ(schedule::TickerLeftAfter(c.left, c.ticks), expected) << c.left << " + " << c.ticks;
    }
    // A day, a year hidden: round the lap of 214 places, no overflow.
    EXPECT_EQ(schedule::TickerLeftAfter(1560, 154 + 214LL * 20000000 + 3), 2700);
    EXPECT_EQ(schedule::TickerLeftAfter(-1000, 1LL << 40), schedule::TickerLeftAfter(-1000, (1LL << 40) % 214));
    // Off the lap near the edge of the range: the steps that would leave it fail and it stays.
    const int low = std::numeric_limits<int>::min() + 30;
    EXPECT_EQ(schedule::TickerLeftAfter(low, 1000), low - 20);
}

namespace {

// What the timers leave: shown (the ticker, the hands, the lamp, the clock face) and held (the
// counters, the time fields, the chime's hour).
struct ClockState {
    int tickerLeft;
    QString caption, title, minutes, seconds, time, lamp, face;
    int32_t chimeHour;
    std::vector<core::PictureBox::Stroke> hands;
    bool operator==(const ClockState&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ClockState& s) {
    return os << "ticker " << s.tickerLeft << " " << s.caption.toStdString() << "/" << s.title.toStdString()
              << ", counters " << s.minutes.toStdString() << ":" << s.seconds.toStdString() << ", time "
              << s.time.toStdString() << ", lamp " << s.lamp.section(u'/', -1).toStdString() << ", face "
              << s.face.section(u'/', -1).toStdString() << ", chime hour " << s.chimeHour << ", "
              << s.hands.size() << " hands";
}

ClockState StateOf(MainForm& m) {
    return {m.Label1.Left(), m.Label1.Caption(), m.Text8.Text(), m.Text1.Text(), m.Text4.Text(), m.Text3.Text(),
            m.Image1.PictureSource(), m.picMain.PictureSource(), prog::ChimeHour, m.picMain.Strokes()};
}

}  // namespace

TEST_F(Schedule, AHiddenStretchOfAnyLengthLeavesWhatTickingWould) {
    InstallPictures();
    platform::TrayControl::SetAvailableForTests(true);
    struct Row {
        bool minimised;  // else in the tray
        int64_t hiddenMs;
    };
    // Hidden from 1.234 s after start; each stretch ends a few milliseconds after a tick of the hands,
    // within the same second. The longest takes in the hourly chime and dozens of interval checks.
    const Row rows[] = {{false, 0}, {false, 20}, {false, 4280}, {true, 65000}, {false, 3600007}};
    for (const Row& row : rows) {
        const std::string at = (row.minimised ? "minimised " : "in the tray ") + std::to_string(row.hiddenMs) + " ms";
        // The same stretch twice: once with the window shown all along, once hidden.
        const auto run = [&](bool hide, int64_t& wakeUps) {
            StartAt(QDateTime(QDate(2026, 12, 8), QTime(9, 59, 50)));
            WriteIni("[EXEINI]\r\nNUMBER2=1\r\nNAME=/usr/bin/mail program\r\n");
            MainForm& main = forms::MainForm();
            // Sees each check in the round of ticks it started in, without waking the program itself.
            std::vector<int64_t> checks;
            long seen = 0;
            core::Timer probe(10);
            probe.SetSlack(std::numeric_limits<int>::max());
            probe.OnTimer = [&] {
                for (; seen < main.checksStarted_; ++seen) checks.push_back(loop->Elapsed());
            };
            loop->RunFor(1234);
            if (hide && row.minimised) main.hWnd()->showMinimized();
            if (hide && !row.minimised) main.mtask.action()->trigger();
            Settle();
            EXPECT_EQ(main.Seen(), !hide) << at;
            const uint64_t before = loop->DoEventsCount();
            loop->RunFor(row.hiddenMs);
            wakeUps = int64_t(loop->DoEventsCount() - before);
            if (hide && row.minimised) main.hWnd()->showNormal();
            if (hide && !row.minimised) main.mnu_Popup[0].action()->trigger();
            Settle();
            EXPECT_TRUE(main.Seen()) << at;
            const ClockState state = StateOf(main);
            loop->RunFor(1100);  // a check up to a second late comes in now
            forms::DestroyAll();
            Settle();
            return std::make_pair(state, checks);
        };
        int64_t shownWakeUps = 0, hiddenWakeUps = 0;
        const auto [ticked, tickedChecks] = run(false, shownWakeUps);
        const auto [hidden, hiddenChecks] = run(true, hiddenWakeUps);
        EXPECT_EQ(hidden, ticked) << at;
        // Every interval check started, none early, none more than a second late.
        ASSERT_EQ(hiddenChecks.size(), tickedChecks.size()) << at;
        for (size_t i = 0; i < hiddenChecks.size(); ++i) {
            EXPECT_GE(hiddenChecks[i], tickedChecks[i]) << at << ", check " << i;
            EXPECT_LE(hiddenChecks[i], tickedChecks[i] + 1000) << at << ", check " << i;
        }
        // Hidden, the program wakes about once a second, not fifty times.
        if (row.hiddenMs >= 4000) {
            EXPECT_LE(hiddenWakeUps, 3 * row.hiddenMs / 1000) << at << " (shown: " << shownWakeUps << ")";
        }
    }
    platform::TrayControl::SetAvailableForTests(std::nullopt);
}

TEST_F(Schedule, TickerShowsNotSetOrItsEmptyText) {
    MainForm& main = forms::MainForm();
    loop->RunFor(20);
    EXPECT_EQ(main.Label1.Caption(), QStringLiteral("未設定"));
    main.Text7.SetText("");
    loop->RunFor(20);
    EXPECT_EQ(main.Label1.Caption(), QStringLiteral("設定されていません。"));
}

TEST_F(Schedule, LampBlinksOnlyWhileIntervalCheckingIsOn) {
    QDir().mkpath(folder.file("画像データ"));
    QImage green(16, 16, QImage::Format_RGB32), red(16, 16, QImage::Format_RGB32);
    green.fill(Qt::green);
    red.fill(Qt::red);
    green.save(folder.file("画像データ/Green.gif"), "PNG");
    red.save(folder.file("画像データ/Red.gif"), "PNG");

    MainForm& main = StartWithInterval("0");
    // Every change of the lamp's colour with its virtual time, seen by a 10 ms sampler.
    std::vector<std::pair<int64_t, QRgb>> changes;
    core::Timer sampler(10);
    sampler.OnTimer = [&] {
        const QRgb c = main.Image1.Picture().pixel(8, 8);
        if (changes.empty() || changes.back().second != c) changes.emplace_back(loop->Elapsed(), c);
    };
    loop->RunFor(6000);
    for (const auto& [at, c] : changes) EXPECT_NE(c, qRgb(255, 0, 0)) << at;  // never red while off

    forms::SetForm().Text2.SetText("5");
    changes.clear();
    loop->RunFor(12000);
    // Green for two seconds, red until the next tick turns it green again: a three-second beat.
    std::vector<int64_t> greenAt, redAt;
    for (const auto& [at, c] : changes) (c == qRgb(255, 0, 0) ? redAt : greenAt).push_back(at);
    ASSERT_GE(redAt.size(), 3u);
    ASSERT_GE(greenAt.size(), 3u);
    for (size_t i = 0; i + 1 < redAt.size(); ++i) EXPECT_NEAR(redAt[i + 1] - redAt[i], 3000, 30);
    for (int64_t r : redAt) {
        const auto g = std::upper_bound(greenAt.begin(), greenAt.end(), r);
        if (g == greenAt.end()) continue;
        EXPECT_NEAR(*g - r, 1000, 30);  // red shows for the rest of the beat
    }
}
