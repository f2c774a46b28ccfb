#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "core/timer.h"
#include "ghostcat/ghost_cat_form.h"
#include "platform/mci.h"
#include "platform/mci_fake.h"
#include "settings/set_form.h"
#include "core/msgbox.h"
#include "support/hand_server.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class Shows : public ProgramTest {
protected:
    platform::FakeMciPlayer mci;

    void SetUp() override {
        ProgramTest::SetUp();
        mci.AcceptAnyFile(true);
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
        InstallPictures();
    }

    // The pictures the clock face showed, in order, seen by a 5 ms sampler (every picture stays 50 ms
    // or more, or is the last of its run).
    struct PictureLog {
        std::vector<QString> shown;
        core::Timer sampler{5};
        explicit PictureLog(MainForm& main) {
            sampler.OnTimer = [this, &main] { Note(main); };
        }
        void Note(MainForm& main) {
            const QString name = main.picMain.PictureSource().section(u'/', -1).section(u'.', 0, 0);
            if (shown.empty() || shown.back() != name) shown.push_back(name);
        }
        long Count(const QString& name) const { return std::count(shown.begin(), shown.end(), name); }
    };

    // The commands the shows and the handlers sent, without the loop watcher's queries.
    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const auto& c : mci.Commands())
            if (c != "status bgm mode") out.push_back(c);
        return out;
    }
    std::string OpenCommand() const {
        return "open \"" + folder.file("Sound/Kouka.mid").toStdString() + "\" alias bgm";
    }
    // Runs fn once, after ms of virtual time, from inside whatever wait is going on then.
    void After(int ms, std::function<void()> fn) {
        auto timer = std::make_shared<core::Timer>(ms);
        // keep_ owns the timer; the handler must not, or the timer would keep itself alive for ever.
        timer->OnTimer = [t = timer.get(), fn = std::move(fn)]() mutable {
            t->SetEnabled(false);
            fn();
        };
        keep_.push_back(timer);
    }

private:
    std::vector<std::shared_ptr<core::Timer>> keep_;
};

}  // namespace

TEST_F(Shows, ChimeCyclesFollowTheTwelveHourDial) {
    const std::pair<int, int> hourAndCycles[] = {{0, 0}, {12, 12}, {13, 1}, {15, 3}, {23, 11}};
    for (const auto& [hour, cycles] : hourAndCycles) {
        MainForm& main = forms::MainForm();
        PictureLog log(main);
        prog::ChimeHour = hour;
        const int64_t start = loop->Elapsed();
        main.Command4_Click();
        log.Note(main);
        EXPECT_EQ(log.Count("Bird3"), cycles) << hour;
        EXPECT_EQ(log.Count("Bird1"), cycles) << hour;
        EXPECT_NEAR(loop->Elapsed() - start, cycles * 1100, cycles * 5 + 2) << hour;
        if (cycles > 0) {
            EXPECT_EQ(log.shown.back(), "Watch") << hour;
        }
        forms::DestroyAll();
        Settle();
    }
    EXPECT_TRUE(Sent().size() >= 2);  // start-up's stop and close; the chime itself sends nothing
    for (const auto& c : Sent()) EXPECT_TRUE(c == "stop bgm" || c == "close bgm") << c;
}

TEST_F(Shows, ChimeOnTheHourIsRunByTheClockAndLowersTheHour) {
    StartAt(QDateTime(QDate(2026, 12, 8), QTime(12, 59, 59, 500)));
    MainForm& main = forms::MainForm();
    PictureLog log(main);
    int32_t hourDuringShow = -1;
    After(1200, [&] { hourDuringShow = prog::ChimeHour; });  // inside the chime's first wait
    loop->RunFor(1000 + 1100 + 100);
    EXPECT_EQ(hourDuringShow, 1);
    EXPECT_EQ(log.Count("Bird3"), 1);
    loop->RunFor(1000);
    EXPECT_EQ(prog::ChimeHour, 13);  // the next second rewrites it
}

TEST_F(Shows, CatShowRunsExactly501CyclesAndLeavesTheTunePlaying) {
    MainForm& main = forms::MainForm();
    PictureLog log(main);
    mci.ClearCommands();
    main.Command2_Click();
    log.Note(main);
    std::vector<std::string> expected;
    for (int i = 0; i < 501; ++i) {
        expected.push_back(OpenCommand());
        expected.push_back("play bgm");
    }
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(log.Count("cat4"), 501);
    EXPECT_EQ(log.Count("cat1"), 501);
    EXPECT_EQ(log.shown.back(), "Watch");
    EXPECT_TRUE(mci.IsPlaying());  // the show never stops the tune itself
    EXPECT_FALSE(forms::Form1Loaded());  // the ghost cat option is clear
    // About five minutes: 501 cycles of four 150 ms waits.
    EXPECT_NEAR(loop->Elapsed(), 501 * 600, 501 * 5);

    // "戻す" afterwards stops it: its own stop and close, then the stop button's.
    mci.ClearCommands();
    main.mmodosu.action()->trigger();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"stop bgm", "close bgm", "stop bgm", "close bgm"}));
    EXPECT_FALSE(mci.IsOpen());
}

TEST_F(Shows, StopDuringTheFirstCycleFinishesItsPicturesAndStartsNoOther) {
    MainForm& main = forms::MainForm();
    PictureLog log(main);
    mci.ClearCommands();
    bool playingWhenStopped = false;
    After(200, [&] {
        playingWhenStopped = mci.IsPlaying();
        main.mmodosu.action()->trigger();
        EXPECT_FALSE(mci.IsOpen());  // the tune stops at once
        log.Note(main);
    });
    main.Command2_Click();
    log.Note(main);
    EXPECT_TRUE(playingWhenStopped);
    EXPECT_EQ(Sent(), (std::vector<std::string>{OpenCommand(), "play bgm", "stop bgm", "close bgm", "stop bgm",
                                                "close bgm"}));
    // cat4, cat3, then Watch from the stop button, then the rest of the cycle and Watch to end it.
    EXPECT_EQ(log.shown, (std::vector<QString>{"cat4", "cat3", "Watch", "cat2", "cat1", "Watch"}));
    EXPECT_LT(loop->Elapsed(), 700);
    EXPECT_EQ(prog::CatShowStop, 1);
}

TEST_F(Shows, GhostCatJoinsOnlyWhenItsOptionIsExactlyOne) {
    MainForm& main = forms::MainForm();
    forms::SetForm().Check4.SetValue(2);
    After(100, [&] { main.Command3_Click(); });
    main.Command2_Click();
    EXPECT_FALSE(forms::Form1Loaded());

    forms::SetForm().Check4.SetValue(1);
    bool catOutBeforeFirstPicture = false;
    After(1, [&] { catOutBeforeFirstPicture = forms::Form1Loaded() && forms::Form1().Visible(); });
    After(100, [&] { main.mmodosu.action()->trigger(); });
    main.Command2_Click();
    EXPECT_TRUE(catOutBeforeFirstPicture);
    Settle();
    EXPECT_FALSE(forms::Form1Loaded());  // "戻す" sent it away
}

TEST_F(Shows, StopWithNoShowRunningRestoresTheClockAndKeepsTheFlagUp) {
    MainForm& main = forms::MainForm();
    mci.ClearCommands();
    main.mmodosu.action()->trigger();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"stop bgm", "close bgm", "stop bgm", "close bgm"}));
    EXPECT_TRUE(main.picMain.PictureSource().endsWith("Watch.gif"));
    EXPECT_EQ(prog::CatShowStop, 1);
    EXPECT_FALSE(forms::Form1Loaded());
    EXPECT_NE(prog::LastApiResult, 0);  // closing nothing fails, silently
}

TEST_F(Shows, CatShowInsideAChimeWaitRunsNestedAndTheChimeResumes) {
    MainForm& main = forms::MainForm();
    PictureLog log(main);
    prog::ChimeHour = 1;
    // During Bird3's one-second wait: a cat show, stopped after its first cycle.
    After(300, [&] {
        After(200, [&] { main.Command3_Click(); });
        main.Command2_Click();
    });
    main.Command4_Click();
    log.Note(main);
    // The chime stands still with the cats in the clock, then finishes its wait and shows the clock.
    EXPECT_EQ(log.shown, (std::vector<QString>{"Bird1", "Bird2", "Bird3", "cat4", "cat3", "Watch", "cat2", "cat1",
                                               "Watch"}));
    EXPECT_NEAR(loop->Elapsed(), 1100, 10);  // the show fitted into the chime's wait
}

TEST_F(Shows, LoopWatcherReplaysTheEndedTuneWhileLoopIsTicked) {
    MainForm& main = forms::MainForm();
    platform::mciSendStringA(OpenCommand(), nullptr, 0, nullptr);
    platform::mciSendStringA("play bgm", nullptr, 0, nullptr);
    loop->RunFor(500);
    EXPECT_TRUE(mci.IsPlaying());
    for (int lap = 0; lap < 3; ++lap) {
        mci.ClearCommands();
        mci.EndTune();
        loop->RunFor(100);  // the next tick of the watcher
        EXPECT_EQ(mci.Commands(), (std::vector<std::string>{"status bgm mode", "play bgm from 0"})) << lap;
        EXPECT_TRUE(mci.IsPlaying());
        loop->RunFor(1000);
        EXPECT_EQ(Sent(), (std::vector<std::string>{"play bgm from 0"}));  // only queries since
    }
    EXPECT_TRUE(main.Timer2.Enabled());
}

TEST_F(Shows, LoopWatcherClosesTheEndedTuneForGoodWhenLoopIsClear) {
    MainForm& main = forms::MainForm();
    main.Check1.SetValue(0);
    platform::mciSendStringA(OpenCommand(), nullptr, 0, nullptr);
    platform::mciSendStringA("play bgm", nullptr, 0, nullptr);
    mci.ClearCommands();
    mci.EndTune();
    loop->RunFor(100);
    EXPECT_EQ(mci.Commands(), (std::vector<std::string>{"status bgm mode", "stop bgm", "close bgm"}));
    EXPECT_FALSE(main.Timer2.Enabled());
    // Ticking the loop box again changes nothing: the watcher stays off, and an ended tune stays open.
    main.Check1.SetValue(1);
    platform::mciSendStringA(OpenCommand(), nullptr, 0, nullptr);
    platform::mciSendStringA("play bgm", nullptr, 0, nullptr);
    mci.EndTune();
    mci.ClearCommands();
    loop->RunFor(1000);
    EXPECT_TRUE(mci.Commands().empty());
    EXPECT_TRUE(mci.IsOpen());
}

TEST_F(Shows, StartAndShutDownCloseAnyTuneLeftOpen) {
    MainForm& main = forms::MainForm();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"stop bgm", "close bgm"}));
    platform::mciSendStringA(OpenCommand(), nullptr, 0, nullptr);
    platform::mciSendStringA("play bgm", nullptr, 0, nullptr);
    mci.ClearCommands();
    EXPECT_TRUE(CloseMainWindow());
    EXPECT_EQ(Sent(), (std::vector<std::string>{"stop bgm", "close bgm"}));
    EXPECT_FALSE(mci.IsOpen());
    EXPECT_FALSE(main.Timer2.Enabled());
}

TEST_F(Shows, RightButtonOnTheGhostCatClosesTheTuneBeforeTheEnd) {
    forms::MainForm();
    platform::mciSendStringA(OpenCommand(), nullptr, 0, nullptr);
    platform::mciSendStringA("play bgm", nullptr, 0, nullptr);
    Form1& cat = forms::Form1();
    EXPECT_THROW(cat.Form_MouseDown(2, 0), testsupport::ProcessEnded);
    EXPECT_FALSE(mci.IsOpen());
}

TEST_F(Shows, AMissingPictureKeepsTheOneShownAndTheShowGoesOn) {
    QFile::remove(folder.file("画像データ/cat2.gif"));
    QFile(folder.file("画像データ/cat1.gif")).open(QIODevice::WriteOnly | QIODevice::Truncate);  // unreadable
    MainForm& main = forms::MainForm();
    PictureLog log(main);
    After(100, [&] { main.Command3_Click(); });
    main.Command2_Click();
    log.Note(main);
    // cat2 is missing and cat1 unreadable: cat3 stays until the clock comes back.
    EXPECT_EQ(log.shown, (std::vector<QString>{"cat4", "Watch", "cat3", "Watch"}));
    EXPECT_NEAR(loop->Elapsed(), 600, 10);  // all four waits happened
}

// A check that starts in the middle of a show or of the lamp's wait runs beside it: on a server that
// says nothing, every frame of the chime (50, 50 and 1000 ms), of a cat show started from the menu
// (150 ms) and of the lamp (green for 2 s of every 3) still comes when it would without the check.
TEST_F(Shows, ACheckWaitingOnASilentServerHoldsUpNoFrame) {
    enum Running { Chime, CatShowFromTheMenu, Lamp };
    testsupport::HandServer silent;
    core::SetMsgBoxHook([](const QString&, int, const QString&) { return core::vbOK; });
    // (picture, ms after the start) for each change of the picture box the row watches.
    using Frames = std::vector<std::pair<QString, int64_t>>;
    const auto frames = [&](Running running, bool check) {
        forms::DestroyAll();
        Settle();
        StartAt(startTime);
        loop->SetNetworkGraceMs(0);
        WriteServer("POP3=" + QByteArray::fromStdString(silent.address()) + "\r\n");
        WriteIni(running == Lamp ? "[EXEINI]\r\nNUMBER2=1\r\n" : "[EXEINI]\r\nNUMBER2=0\r\n");
        MainForm& main = forms::MainForm();
        core::PictureBox& box = running == Lamp ? main.Image1 : main.picMain;
        const int64_t start = loop->Elapsed();
        Frames seen;
        core::Timer sampler(1);
        sampler.OnTimer = [&] {
            const QString name = box.PictureSource().section(u'/', -1).section(u'.', 0, 0);
            if (seen.empty() || seen.back().first != name) seen.emplace_back(name, loop->Elapsed() - start);
        };
        if (check) After(running == Lamp ? 1030 : 30, [&] { main.Command8_Click(); });
        switch (running) {
            case Chime:
                prog::ChimeHour = 2;
                main.Command4_Click();
                break;
            case CatShowFromTheMenu:
                After(1000, [&] { main.mmodosu.action()->trigger(); });
                main.mkakunin.action()->trigger();
                break;
            case Lamp:
                loop->RunFor(7500);
                break;
        }
        EXPECT_EQ(check, core::BesideRunning()) << running;  // the check still waits for the server
        return seen;
    };
    for (const Running running : {Chime, CatShowFromTheMenu, Lamp}) {
        const Frames alone = frames(running, false);
        EXPECT_GE(alone.size(), running == Lamp ? 5u : 6u) << running;
        EXPECT_EQ(frames(running, true), alone) << running;
    }
    core::SetMsgBoxHook(nullptr);
}
