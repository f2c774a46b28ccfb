#pragma once
// A stand-in for the tune player in the program's tests: it records every command string in order
// and answers them as the real player does (same parser, same states, same error codes), without
// sound and in time the test controls.
//
//   platform::FakeMciPlayer mci;           // from here on mciSendStringA comes to the fake
//   mci.AcceptAnyFile(true);               // no tune file needed
//   ... the program opens and plays ...
//   mci.EndTune();                         // "status bgm mode" now answers "stopped"
//   EXPECT_EQ(mci.Commands().back(), "play bgm from 0");
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

namespace mci {
class DeviceTable;
}

class FakeMciPlayer {
public:
    FakeMciPlayer();   // installs itself as the hook of mciSendStringA
    ~FakeMciPlayer();  // gives mciSendStringA back to the real player
    FakeMciPlayer(const FakeMciPlayer&) = delete;
    FakeMciPlayer& operator=(const FakeMciPlayer&) = delete;

    // Every command string received, in order, as sent.
    const std::vector<std::string>& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }

    // The tune playing under this name has played to its end now.
    void EndTune(const std::string& name = "bgm");
    bool IsOpen(const std::string& name = "bgm") const;
    bool IsPlaying(const std::string& name = "bgm") const;
    // The file opened under this name; empty when nothing is open under it.
    std::string FileOf(const std::string& name = "bgm") const;

    // Off (the default): files are read and checked as the real player does (missing, not MIDI).
    // On: any path opens, as a tune that plays until EndTune.
    void AcceptAnyFile(bool accept) { anyFile_ = accept; }
    // The millisecond clock that ends tunes by their length. By default time stands still, and
    // tunes end only by EndTune.
    void SetClock(std::function<uint64_t()> nowMs) { clock_ = std::move(nowMs); }

    // What mciSendStringA is sent to while the fake is installed.
    int32_t Send(const std::string& command, char* reply, uint32_t replySize);

private:
    std::vector<std::string> commands_;
    bool anyFile_ = false;
    std::function<uint64_t()> clock_;
    std::unique_ptr<mci::DeviceTable> table_;
};

}  // namespace platform
