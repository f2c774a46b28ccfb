// Memory of the tune player over many cat shows: each show opens the tune, starts it, stops and
// closes it, through the same command strings the program sends. Printed after the first show and
// after the last: resident memory, and the bytes malloc has handed out (exact, where resident memory
// moves in pages). Beside it, as a floor and a reference, the same number of shows each making and
// deleting a FluidSynth synthesizer of its own, as the player once did. Prints figures; judges nothing.
// Usage: tune_memory [shows] [path to Kouka.mid]   (default: 300 and the build's program folder)
#include <QCoreApplication>
#include <fluidsynth.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/mci.h"
#include "platform/sound_synth.h"

namespace {

struct Memory {
    long residentKb;
    long heapKb;
};

Memory Now() {
    std::ifstream status("/proc/self/status");
    std::string line;
    long rss = -1;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) rss = std::stol(line.substr(6));
    return {rss, long(mallinfo2().uordblks / 1024)};
}

int32_t Send(const std::string& command) { return platform::mciSendStringA(command, nullptr, 0, nullptr); }

void Print(const char* what, int shows, const Memory& first, const Memory& last) {
    std::printf("%-34s after 1: %7ld KB resident %7ld KB heap   after %d: %7ld KB resident %7ld KB heap   "
                "growth %+6ld KB resident %+6ld KB heap (%+.2f KB heap a show)\n",
                what, first.residentKb, first.heapKb, shows, last.residentKb, last.heapKb,
                last.residentKb - first.residentKb, last.heapKb - first.heapKb,
                double(last.heapKb - first.heapKb) / (shows - 1));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int shows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 300;
    const std::string tune = argc > 2 ? argv[2] : VELLUMINE_TUNE;
    // As the program does: with sound on, so that each show also opens (or fails to open) an output.

    Memory first{}, last{};
    // The reference first: a synthesizer made with its soundfont for every show, and deleted after it.
    // First, because FluidSynth sets libinstpatch up with its first synthesizer and closes it with its
    // last: the set-up whose memory is never given back runs again for every synthesizer only while
    // no other is alive (as in a program that made one per show).
    for (int show = 1; show <= shows; ++show) {
        fluid_settings_t* settings = new_fluid_settings();
        fluid_synth_t* synth = new_fluid_synth(settings);
        fluid_synth_sfload(synth, platform::sound::kSoundFont, 1);
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        if (show == 1) first = Now();
    }
    last = Now();
    Print("a new synthesizer every show", shows, first, last);

    int failures = 0;
    for (int show = 1; show <= shows; ++show) {
        failures += Send("open \"" + tune + "\" alias bgm") != 0;
        failures += Send("play bgm") != 0;
        Send("stop bgm");
        Send("close bgm");
        if (show == 1) first = Now();
    }
    last = Now();
    Print("the player (mciSendString)", shows, first, last);
    std::printf("%-34s %d synthesizer(s) made for %d shows, %d command failures\n", "", platform::sound::MadeSynthCount(),
                shows, failures);

    return 0;
}
