#include "platform/mci.h"

#include <QDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "platform/mci_fake.h"
#include "platform/sound_synth.h"
#include "support/temp_folder.h"

using namespace platform;

namespace {

// A piano note lasting the whole tune: a quarter is a second over 1000 ticks, so a tick is a ms.
QByteArray TuneOfMs(uint32_t ms) {
    std::string delta(1, char(ms & 0x7F));
    while (ms >>= 7) delta.insert(delta.begin(), char(0x80 | (ms & 0x7F)));
    const std::string track = std::string("\0\xFF\x51\x03\x0F\x42\x40\0\xC0\0\0\x90\x3C\x64", 14) + delta +
                              std::string("\x80\x3C\0\0\xFF\x2F\0", 7);
    std::string file("MThd\0\0\0\x06\0\0\0\x01\x03\xE8MTrk\0\0\0", 21);
    file += char(track.size());
    return QByteArray::fromStdString(file + track);
}

using Sender = std::function<int32_t(const std::string&, char*, uint32_t)>;

Sender Real() {
    return [](const std::string& c, char* reply, uint32_t size) { return mciSendStringA(c, reply, size, nullptr); };
}

// The reply, or "error N" (with any reply text in brackets). Fails the test when the call writes past
// capacity or leaves no NUL within it.
std::string Ask(const Sender& send, const std::string& command, uint32_t capacity = 255) {
    std::vector<char> buf(capacity + 16, '#');
    const int32_t code = send(command, buf.data(), capacity);
    for (size_t i = capacity; i < buf.size(); ++i)
        if (buf[i] != '#') ADD_FAILURE() << "written past the reply buffer: " << command;
    std::string text;
    if (capacity > 0) {
        const size_t length = strnlen(buf.data(), capacity);
        if (length == capacity) ADD_FAILURE() << "reply without NUL: " << command;
        text.assign(buf.data(), length == capacity ? 0 : length);
    }
    if (code == 0) return text;
    return "error " + std::to_string(code) + (text.empty() ? "" : " [" + text + "]");
}

class Mci : public ::testing::Test {
protected:
    testsupport::TempFolder folder;
    uint64_t now = 5000000;

    void SetUp() override {
        SetMciSilent(true);
        SetMciClock([this] { return now; });
        folder.write("Kouka.mid", TuneOfMs(1234));
    }
    void TearDown() override {
        Send("close all");
        SetMciClock(nullptr);
        SetMciSilent(false);
    }
    std::string Path(const QString& name) const { return folder.fileUtf8(name); }
    int32_t Send(const std::string& command) { return mciSendStringA(command, nullptr, 0, nullptr); }
    int32_t Open(const QString& name = "Kouka.mid") { return Send("open \"" + Path(name) + "\" alias bgm"); }
    std::string Ask(const std::string& command, uint32_t capacity = 255) { return ::Ask(Real(), command, capacity); }
};

}  // namespace

TEST_F(Mci, OpenPlayStopCloseAnswerAsWindowsDoes) {
    for (const char* c : {"play bgm", "stop bgm", "close bgm"}) EXPECT_EQ(Send(c), MCIERR_INVALID_DEVICE_NAME) << c;
    EXPECT_EQ(Ask("status bgm mode"), "error 263");  // and an empty reply
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(Ask("status bgm mode"), "stopped");  // opened, not played yet
    EXPECT_EQ(Ask("status bgm length"), "1234");
    EXPECT_EQ(Send("play bgm"), 0);
    now += 500;
    EXPECT_EQ(Ask("status bgm mode"), "playing");
    EXPECT_EQ(Send("stop bgm"), 0);
    now += 5000;
    EXPECT_EQ(Ask("status bgm mode"), "stopped");
    EXPECT_EQ(Ask("status bgm position"), "500");
    EXPECT_EQ(Send("play bgm"), 0);  // on from where it stopped
    now += 700;
    EXPECT_EQ(Send("play bgm"), 0);  // while playing: no restart
    EXPECT_EQ(Ask("status bgm position"), "1200");
    now += 34;
    EXPECT_EQ(Ask("status bgm mode"), "stopped");
    EXPECT_EQ(Send("close bgm"), 0);
    EXPECT_EQ(Send("close bgm"), MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(Ask("status bgm mode"), "error 263");
}

TEST_F(Mci, AWatcherSeesPlayingForTheTuneLengthThenStopped) {
    ASSERT_EQ(Open(), 0);
    for (const char* start : {"play bgm", "play bgm from 0"}) {
        EXPECT_EQ(Send(start), 0);
        int playing = 0;
        for (; playing < 100 && Ask("status bgm mode") == "playing"; now += 100) ++playing;
        EXPECT_EQ(playing, 13) << start;  // polls at 0, 100 ... 1200 ms; at 1300 the 1234 ms are over
        EXPECT_EQ(Send("play bgm"), 0);   // at the end nothing is left to play
        EXPECT_EQ(Ask("status bgm mode"), "stopped");
    }
    EXPECT_EQ(Send("play bgm from 1000"), 0);
    now += 233;
    EXPECT_EQ(Ask("status bgm mode"), "playing");
    now += 1;
    EXPECT_EQ(Ask("status bgm mode"), "stopped");
    EXPECT_EQ(Send("play bgm from 1234"), 0);
    EXPECT_EQ(Ask("status bgm mode"), "stopped");
    EXPECT_EQ(Send("play bgm from 1235"), MCIERR_OUTOFRANGE);
}

TEST_F(Mci, ASecondOpenLeavesThePlayingTuneAlone) {
    folder.write("Other.mid", TuneOfMs(5000));
    ASSERT_EQ(Open(), 0);
    ASSERT_EQ(Send("play bgm"), 0);
    now += 300;
    EXPECT_EQ(Open("Other.mid"), MCIERR_DUPLICATE_ALIAS);
    EXPECT_EQ(Send("open \"" + Path("Kouka.mid") + "\" ALIAS BGM"), MCIERR_DUPLICATE_ALIAS);
    now += 100;
    EXPECT_EQ(Ask("status bgm position"), "400");
    EXPECT_EQ(Ask("status bgm length"), "1234");
    // Without an alias the file is the name.
    const std::string other = Path("Other.mid");
    EXPECT_EQ(Send("open " + other), 0);
    EXPECT_EQ(Send("open " + other), MCIERR_DEVICE_OPEN);
    EXPECT_EQ(Ask("status " + other + " length"), "5000");
}

TEST_F(Mci, FilesThatCannotBePlayedLeaveNothingOpen) {
    QDir(folder.path()).mkdir("folder.mid");
    ASSERT_EQ(mkfifo(Path("pipe.mid").c_str(), 0600), 0);  // must not hang the open
    folder.write("text.mid", "MThd is not enough\n");
    folder.write("cut.mid", TuneOfMs(100).left(30));
    const std::pair<QString, int32_t> cases[] = {{"missing.mid", MCIERR_FILE_NOT_FOUND},
                                                 {"folder.mid", MCIERR_FILE_NOT_FOUND},
                                                 {"pipe.mid", MCIERR_FILE_NOT_FOUND},
                                                 {"text.mid", MCIERR_INVALID_FILE},
                                                 {"cut.mid", MCIERR_INVALID_FILE}};
    for (const auto& [name, code] : cases) {
        EXPECT_EQ(Open(name), code) << name.toStdString();
        EXPECT_EQ(Ask("status bgm mode"), "error 263") << name.toStdString();
    }
    EXPECT_EQ(sound::LiveSynthCount(), 0);
    QDir(folder.path()).mkpath("★ Mail Data/音 楽");
    folder.write("★ Mail Data/音 楽/効果 音.mid", TuneOfMs(10));
    EXPECT_EQ(Open("★ Mail Data/音 楽/効果 音.mid"), 0);
}

TEST_F(Mci, ParsingIsLiberalButRefusesWhatItDoesNotKnow) {
    ASSERT_EQ(Open(), 0);
    const std::string tune = Path("Kouka.mid");
    const std::pair<std::string, int32_t> cases[] = {
        {"  PLAY \t Bgm  ", 0}, {"Status BGM Mode", 0}, {"stop bgm\r\n", 0}, {std::string("play bgm\0from x", 15), 0},
        {"", 267}, {" \t ", 267}, {"dance bgm", 261}, {"play", 292}, {"play \"\"", 292}, {"play bgm to 5", 259},
        {"play bgm from", 273}, {"play bgm from -1", 270}, {"play bgm from 0x10", 270},
        {"play bgm from 4294967296", 270}, {"play bgm from 1 from 2", 295}, {"play bgm from 99999", 282},
        {"status bgm", 273}, {"status bgm volume", 259}, {"status bgm mode length", 295},
        {"status nothing volume", 263}, {"play all", 279}, {"stop bgm now", 259},
        {"open \"" + tune, 294}, {"open \"" + tune + "\"x alias b", 305}, {"open " + tune + " alias", 269},
        {"open " + tune + " type waveaudio alias b", 263}, {"open " + tune + " alias b alias c", 295},
        {"open " + tune + " alias all", 279}, {"open " + tune + " Type Sequencer Alias b", 0}};
    for (const auto& [command, code] : cases) EXPECT_EQ(Send(command), code) << command;
}

TEST_F(Mci, RepliesKeepToTheirBuffer) {
    ASSERT_EQ(Open(), 0);
    for (uint32_t capacity : {0u, 1u, 3u, 7u}) EXPECT_EQ(Ask("status bgm mode", capacity), "error 268") << capacity;
    EXPECT_EQ(Ask("status bgm mode", 8), "stopped");
    EXPECT_EQ(Ask("status bgm length", 4), "error 268");
    EXPECT_EQ(Ask("status bgm length", 5), "1234");
    EXPECT_EQ(Send("status bgm mode"), 0);  // no buffer, nothing written
}

TEST_F(Mci, TheSynthComesWithTheTuneAndIsKeptForTheNext) {
    if (access(sound::kSoundFont, R_OK) != 0) GTEST_SKIP() << "no soundfont installed";
    ASSERT_EQ(sound::LiveSynthCount(), 0);
    const int made = sound::MadeSynthCount();
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(sound::LiveSynthCount(), 1);
    EXPECT_EQ(Open(), MCIERR_DUPLICATE_ALIAS);
    EXPECT_EQ(Send("open " + Path("Kouka.mid") + " alias second"), 0);
    EXPECT_EQ(sound::LiveSynthCount(), 2);
    EXPECT_EQ(Send("close bgm"), 0);
    EXPECT_EQ(sound::LiveSynthCount(), 1);
    EXPECT_EQ(Send("close all"), 0);
    EXPECT_EQ(sound::LiveSynthCount(), 0);
    // A synth costs memory that FluidSynth never gives back: every show after these reuses one, and
    // opening two tunes at once needed at most two.
    const int afterTwo = sound::MadeSynthCount();
    EXPECT_LE(afterTwo - made, 2);
    for (int show = 0; show < 20; ++show) {
        ASSERT_EQ(Open(), 0) << show;
        EXPECT_EQ(Send("play bgm"), 0) << show;
        EXPECT_EQ(Send("close bgm"), 0) << show;
    }
    EXPECT_EQ(sound::MadeSynthCount(), afterTwo);
    EXPECT_EQ(sound::LiveSynthCount(), 0);
}

TEST_F(Mci, WithoutASoundDeviceNothingIsPrinted) {
    SetMciSilent(false);
    std::fflush(stderr);
    const int saved = dup(2);
    const int file = ::open(Path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    const int32_t opened = Open();
    const int32_t played = Send("play bgm");
    now += 100;
    const std::string mode = Ask("status bgm mode");
    Send("stop bgm");
    Send("close bgm");
    std::fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(played, 0);
    EXPECT_EQ(mode, "playing");
    EXPECT_EQ(folder.read("stderr.txt").toStdString(), "");
}

TEST_F(Mci, AHookTakesEveryCommandAndNothingElseHappens) {
    std::vector<std::string> seen;
    SetMciHook([&](const std::string& command, char* reply, uint32_t size) {
        seen.push_back(command);
        if (reply && size > 2) std::strcpy(reply, "ok");
        return 7;
    });
    EXPECT_EQ(Open(), 7);
    EXPECT_EQ(Ask("status bgm mode"), "error 7 [ok]");
    SetMciHook(nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"open \"" + Path("Kouka.mid") + "\" alias bgm", "status bgm mode"}));
    EXPECT_EQ(Ask("status bgm mode"), "error 263");  // the player never saw the open
}

TEST_F(Mci, TheFakeAnswersLikeTheRealPlayer) {
    const std::string open = "open \"" + Path("Kouka.mid") + "\" alias bgm";
    const std::pair<std::string, uint64_t> script[] = {  // a command and the milliseconds that pass after it
        {"status bgm mode", 0}, {"open \"" + Path("none.mid") + "\" alias bgm", 0}, {open, 0}, {open, 0},
        {"status bgm mode", 0}, {"play bgm", 600}, {"status bgm mode", 0}, {"stop bgm", 100},
        {"status bgm position", 0}, {"play bgm", 700}, {"status bgm mode", 0}, {"play bgm", 0},
        {"play bgm from 0", 1233}, {"status bgm mode", 1}, {"status bgm mode", 0}, {"play bgm from 2000", 0},
        {"pause bgm", 0}, {"status bgm length", 0}, {"close bgm", 0}, {"close bgm", 0}, {"status bgm mode", 0}};
    auto run = [&] {
        std::vector<std::string> answers;
        for (const auto& [command, wait] : script) {
            answers.push_back(::Ask(Real(), command));
            now += wait;
        }
        return answers;
    };
    const std::vector<std::string> real = run();
    ASSERT_EQ(real[6], "playing");
    ASSERT_EQ(real[14], "stopped");
    FakeMciPlayer fake;
    fake.SetClock([this] { return now; });
    EXPECT_EQ(run(), real);
    ASSERT_EQ(fake.Commands().size(), std::size(script));
    for (size_t i = 0; i < std::size(script); ++i) EXPECT_EQ(fake.Commands()[i], script[i].first);
}

TEST(FakeMciPlayer, EndsTheTuneWhenTheTestSaysSo) {
    {
        FakeMciPlayer fake;
        fake.AcceptAnyFile(true);
        EXPECT_EQ(mciSendStringA("open \"/nowhere/Kouka.mid\" alias bgm", nullptr, 0, nullptr), 0);
        EXPECT_EQ(fake.FileOf(), "/nowhere/Kouka.mid");
        EXPECT_EQ(mciSendStringA("play bgm", nullptr, 0, nullptr), 0);
        EXPECT_EQ(Ask(Real(), "status bgm mode"), "playing");
        fake.EndTune();
        EXPECT_FALSE(fake.IsPlaying());
        EXPECT_EQ(Ask(Real(), "status bgm mode"), "stopped");
        EXPECT_EQ(mciSendStringA("play bgm from 0", nullptr, 0, nullptr), 0);
        EXPECT_TRUE(fake.IsPlaying());
        EXPECT_EQ(mciSendStringA("close bgm", nullptr, 0, nullptr), 0);
        EXPECT_FALSE(fake.IsOpen());
    }
    EXPECT_EQ(Ask(Real(), "status bgm mode"), "error 263");  // the real player is back, and has nothing open
}

TEST(FakeMciPlayer, AnyCommandIsSafe) {
    FakeMciPlayer fake;
    fake.AcceptAnyFile(true);
    const char* words[] = {"open", "play", "stop", "close", "status", "bgm", "all", "from", "alias", "type",
                           "mode", "length", "position", "\"", "\"a b\"", "0", "4294967295", " ", "\t", "\xE9\x9F\xB3", "x"};
    std::mt19937 random(11);
    for (int round = 0; round < 20000; ++round) {
        std::string command;
        for (int n = int(random() % 8); n > 0; --n) command += std::string(words[random() % std::size(words)]) + " ";
        if (random() % 4 == 0) command.erase(random() % (command.size() + 1));
        (void)Ask([&](const std::string& c, char* r, uint32_t s) { return fake.Send(c, r, s); }, command, random() % 12);
    }
}
