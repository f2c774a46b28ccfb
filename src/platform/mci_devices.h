#pragma once
// The command strings and the open tunes behind them: shared by the real player and the fake one,
// so both give the same answers to the same commands.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sound_midi.h"

namespace platform::mci {

enum class Verb { Open, Play, Stop, Close, Status };
enum class StatusItem { Mode, Length, Position };

struct Command {
    Verb verb = Verb::Open;
    std::string name;   // the device name; for open the file
    std::string alias;  // open
    std::optional<uint64_t> from;  // play, milliseconds
    StatusItem item = StatusItem::Mode;
    // Windows looks the device up before it reads the options, so "no such device" comes before
    // errors in them: those wait here. Errors before the name is known are returned at once.
    int32_t optionError = 0;
};

// 0 and the command, or the error that stops it before the device is looked up.
int32_t ParseCommand(std::string_view text, Command& out);

// How one open tune sounds. Start replaces whatever was sounding.
class TuneOutput {
public:
    virtual ~TuneOutput() = default;
    virtual void Start(uint64_t tick) = 0;
    virtual void Stop() = 0;
};

struct LoadedTune {
    std::string bytes;
    std::optional<sound::MidiTune> tune;  // none: a stand-in that plays until told it ended
    uint64_t lengthMs = 0;
};

struct DeviceState {
    std::string file;
    bool playing = false;
    uint64_t positionMs = 0;
    uint64_t lengthMs = 0;
};

class DeviceTable {
public:
    using Clock = std::function<uint64_t()>;
    using Loader = std::function<int32_t(const std::string& path, LoadedTune& out)>;
    using OutputMaker = std::function<std::unique_ptr<TuneOutput>(const LoadedTune&)>;

    // outputs may be empty (no sound at all).
    DeviceTable(Clock clock, Loader loader, OutputMaker outputs);
    ~DeviceTable();

    int32_t Send(std::string_view command, char* reply, uint32_t replySize);

    std::optional<DeviceState> State(const std::string& name);
    // A playing tune reaches its end now.
    void EndTune(const std::string& name);

private:
    struct Device;
    Clock clock_;
    Loader loader_;
    OutputMaker outputs_;
    std::map<std::string, std::unique_ptr<Device>> devices_;  // by name folded to lower case

    Device* Find(const std::string& name);
    void Update(Device& d);
    int32_t Open(const Command& c);
    int32_t Play(Device& d, const Command& c);
    void Stop(Device& d);
    int32_t Status(Device& d, const Command& c, char* reply, uint32_t replySize);
};

// The real player's way of loading a file: read, checked, timed from the file itself.
int32_t LoadTuneFile(const std::string& path, LoadedTune& out);

}  // namespace platform::mci
