// Tune files checked before they are played: any bytes are either refused or give a tune whose
// timing holds together (times grow with ticks, and the tick reached at a tick's time is that tick or
// later, never past the end).
//
// Input: the file's bytes.
#include <algorithm>

#include "fuzz_support.h"
#include "platform/sound_midi.h"

using namespace platform::sound;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto tune = MidiTune::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!tune) return 0;
    FUZZ_CHECK(tune->Division() > 0 && tune->Division() < 0x8000, "division out of range");
    FUZZ_CHECK(tune->TrackCount() <= 128, "more tracks than the synthesizer takes");
    const uint64_t end = tune->EndTick();
    FUZZ_CHECK(tune->TickAtMs(tune->LengthMs()) == end, "the tune's length does not reach its last tick");
    uint64_t lastMs = 0;
    const uint64_t step = std::max<uint64_t>(1, end / 16);
    for (uint64_t tick = 0; tick <= end; tick += step) {
        const uint64_t ms = tune->MsAtTick(tick);
        FUZZ_CHECK(ms >= lastMs, "time goes back at tick " + std::to_string(tick));
        lastMs = ms;
        const uint64_t reached = tune->TickAtMs(ms);
        FUZZ_CHECK(reached >= tick && reached <= end, "at " + std::to_string(ms) + " ms tick " + std::to_string(reached) +
                                                          " instead of at least " + std::to_string(tick));
        if (tick > end - step) break;
    }
    FUZZ_CHECK(tune->TickAtMs(UINT32_MAX) == end || tune->MsAtTick(end) > UINT32_MAX, "a late time before the end");
    return 0;
}
