#include "platform/mci.h"

#include <time.h>

#include <atomic>
#include <mutex>

#include "platform/mci_devices.h"
#include "platform/sound_synth.h"

namespace platform {

namespace {

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

struct Settings {
    std::mutex mutex;  // commands may come from any thread; one at a time
    MciHook hook;
    std::function<uint64_t()> clock;
    std::atomic<bool> silent{false};
};

Settings& Current() {
    static Settings s;
    return s;
}

class SynthOutput : public mci::TuneOutput {
public:
    SynthOutput(std::unique_ptr<sound::MidiSynth> synth, std::string bytes)
        : synth_(std::move(synth)), bytes_(std::move(bytes)) {}
    void Start(uint64_t tick) override { synth_->Play(bytes_, tick, !Current().silent); }
    void Stop() override { synth_->Stop(); }

private:
    std::unique_ptr<sound::MidiSynth> synth_;
    std::string bytes_;
};

mci::DeviceTable& Player() {
    static mci::DeviceTable table(
        [] { return Current().clock ? Current().clock() : MonotonicMs(); }, mci::LoadTuneFile,
        [](const mci::LoadedTune& tune) -> std::unique_ptr<mci::TuneOutput> {
            // The synth and its soundfont come with the first tune, not at start-up; a closed tune's
            // synth is kept for the next (see sound_synth.cpp).
            std::unique_ptr<sound::MidiSynth> synth = sound::MidiSynth::Create();
            if (!synth) return nullptr;  // no soundfont: the tune keeps its time in silence
            return std::make_unique<SynthOutput>(std::move(synth), tune.bytes);
        });
    return table;
}

}  // namespace

int32_t mciSendStringA(const std::string& command, char* reply, uint32_t replySize, void*) {
    std::unique_lock lock(Current().mutex);
    if (Current().hook) {
        MciHook hook = Current().hook;
        lock.unlock();  // the hook may send commands of its own or replace itself
        return hook(command, reply, replySize);
    }
    return Player().Send(command, reply, replySize);
}

void SetMciHook(MciHook hook) {
    std::lock_guard lock(Current().mutex);
    Current().hook = std::move(hook);
}

void SetMciClock(std::function<uint64_t()> nowMs) {
    std::lock_guard lock(Current().mutex);
    Current().clock = std::move(nowMs);
}

void SetMciSilent(bool silent) { Current().silent = silent; }

}  // namespace platform
