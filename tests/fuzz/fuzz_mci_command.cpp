// Multimedia command strings sent to the tune player's device table (shared by the real player and
// the silent stand-in): any sequence of commands, with time passing between them and reply buffers
// of any size, fenced with canaries. Replies are never cut and never overrun; a status answers
// "playing" or "stopped" (as the device's state says) or a number no larger than the tune; a command
// that fails or is not a status leaves the reply empty.
//
// Input: lines, each one command preceded by one byte: reply buffer size (low 5 bits; 31 = no
// buffer at all) and milliseconds to let pass before it (high 3 bits, scaled). Tunes opened get a
// length that depends on their file name; names starting with "missing" are not found.
#include <algorithm>

#include "fuzz_support.h"
#include "platform/mci.h"
#include "platform/mci_devices.h"

using namespace platform;

namespace {

uint64_t g_now = 0;

// The stand-in's tunes have no MIDI data behind them: sound starts at tick 0 or not at all.
class SilentOutput : public mci::TuneOutput {
public:
    void Start(uint64_t tick) override { FUZZ_CHECK(tick == 0, "sound of a tune without events started at a tick"); }
    void Stop() override {}
};

int32_t Load(const std::string& path, mci::LoadedTune& out) {
    if (path.starts_with("missing")) return MCIERR_FILE_NOT_FOUND;
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : path) h = (h ^ c) * 1099511628211ull;
    switch (h % 4) {
    case 0: out.lengthMs = 0; break;
    case 1: out.lengthMs = 1 + h % 5000; break;
    case 2: out.lengthMs = UINT32_MAX + (h >> 40); break;
    default: out.lengthMs = UINT64_MAX; break;  // the stand-in's tunes that play until told
    }
    return 0;
}

bool AllDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_now = 1000;
    // Half the inputs with sound outputs, half without (no sound device).
    mci::DeviceTable table([] { return g_now; }, Load,
                           size % 2 ? mci::DeviceTable::OutputMaker([](const mci::LoadedTune&) {
                               return std::unique_ptr<mci::TuneOutput>(std::make_unique<SilentOutput>());
                           })
                                    : mci::DeviceTable::OutputMaker());

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t pos = 0;
    int commands = 0;
    while (pos < input.size() && commands++ < 64) {
        const uint8_t control = static_cast<uint8_t>(input[pos++]);
        const size_t end = std::min(input.find('\n', pos), input.size());
        const std::string command(input.substr(pos, end - pos));
        pos = end + 1;
        g_now += uint64_t(control >> 5) * (control & 0x10 ? 997 : 3);

        const uint32_t replySize = control & 0x1F;
        const bool noBuffer = replySize == 31;
        fuzz::FencedBuffer reply(noBuffer ? 0 : replySize);
        const std::string what = "command " + fuzz::Quoted(command) + " with a reply buffer of " +
                                 (noBuffer ? std::string("none") : std::to_string(replySize));
        const int32_t r = table.Send(command, noBuffer ? nullptr : reply.data(), replySize);
        FUZZ_CHECK(reply.FencesIntact(), "reply written outside its buffer: " + what);
        if (noBuffer || replySize == 0) continue;
        FUZZ_CHECK(reply.Terminated(), "reply not NUL-terminated: " + what);
        const std::string answer = reply.Text();
        if (r != 0) {
            FUZZ_CHECK(answer.empty(), "a failed command left a reply: " + what);
            continue;
        }

        mci::Command parsed;
        FUZZ_CHECK(mci::ParseCommand(command, parsed) == 0 && !parsed.name.empty(), "accepted but does not parse: " + what);
        if (parsed.verb != mci::Verb::Status) {
            FUZZ_CHECK(answer.empty(), "a command other than status replied: " + what);
            continue;
        }
        const auto state = table.State(parsed.name);
        FUZZ_CHECK(state.has_value(), "status answered for a device that is not open: " + what);
        switch (parsed.item) {
        case mci::StatusItem::Mode:
            FUZZ_CHECK(answer == (state->playing ? "playing" : "stopped"), "mode " + fuzz::Quoted(answer) + ": " + what);
            break;
        case mci::StatusItem::Length:
            FUZZ_CHECK(AllDigits(answer) && answer == std::to_string(state->lengthMs), "length " + fuzz::Quoted(answer));
            break;
        case mci::StatusItem::Position:
            FUZZ_CHECK(AllDigits(answer) && std::stoull(answer) <= state->lengthMs,
                       "position " + fuzz::Quoted(answer) + " past the length " + std::to_string(state->lengthMs));
            break;
        }
    }
    return 0;
}
