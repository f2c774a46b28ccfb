#include "platform/sound_synth.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sound_midi.h"

namespace platform::sound {

namespace {

constexpr double kSampleRate = 44100;
constexpr int kBlock = 512;  // samples per period: the clock needs no low latency, only few wake-ups
constexpr double kRingOutSeconds = 2;

std::atomic<int> g_liveSynths{0};
std::atomic<int> g_madeSynths{0};

void IgnoreFluidMessage(int, const char*, void*) {}
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// Failing to open a sound device is normal here (servers, CI, muted desktops); both libraries
// would print about it.
void QuietSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, IgnoreFluidMessage, nullptr);
        snd_lib_error_set_handler(IgnoreAlsaMessage);
    });
}

// The settings playback and rendering share.
fluid_settings_t* NewSettings() {
    QuietSoundLibraries();
    fluid_settings_t* s = new_fluid_settings();
    if (!s) return nullptr;
    fluid_settings_setnum(s, "synth.sample-rate", kSampleRate);
    // FluidSynth's 0.2 is faint next to a Windows wavetable synth; 0.8 brings the tune's peaks to
    // about -7 dBFS, with headroom left for fuller chords.
    fluid_settings_setnum(s, "synth.gain", 0.8);
    fluid_settings_setint(s, "synth.lock-memory", 0);  // mlock fails under desktop limits anyway
    fluid_settings_setint(s, "synth.cpu-cores", 1);
    fluid_settings_setstr(s, "player.timing-source", "sample");
    // We reset before each start ourselves; a reset at the end would cut the last notes off.
    fluid_settings_setint(s, "player.reset-synth", 0);
    fluid_settings_setint(s, "audio.period-size", kBlock);
    fluid_settings_setint(s, "audio.periods", 8);
    return s;
}

fluid_synth_t* NewSynthWithSoundFont(fluid_settings_t* settings) {
    if (access(kSoundFont, R_OK) != 0) return nullptr;
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (!synth) return nullptr;
    if (fluid_synth_sfload(synth, kSoundFont, 1) == FLUID_FAILED) {
        delete_fluid_synth(synth);
        return nullptr;
    }
    return synth;
}

// A player over the tune's bytes, started at tick, not yet heard: the synth must be rendered.
fluid_player_t* StartPlayer(fluid_synth_t* synth, std::string_view smf, uint64_t tick) {
    fluid_player_t* player = new_fluid_player(synth);
    if (!player) return nullptr;
    if (fluid_player_add_mem(player, smf.data(), smf.size()) != FLUID_OK ||
        fluid_player_seek(player, int(std::min<uint64_t>(tick, INT_MAX))) != FLUID_OK ||
        fluid_player_play(player) != FLUID_OK) {
        delete_fluid_player(player);
        return nullptr;
    }
    return player;
}

// Synthesizers are made once and kept for the life of the program: FluidSynth cannot give back all
// that new_fluid_synth takes (libinstpatch's set-up, ipatch_init, runs again for every synth and its
// GObject types and parameter specs are never freed: about 1 KB a synth on Debian 12, more on 13), so
// a synth made for every show would grow the program by that much every time. A closed tune hands its
// synth back here, silenced and with its soundfont still loaded, and the next tune opened takes it.
// Only tunes open at the same time need a synth each; the program opens one at a time.
struct Kept {
    fluid_settings_t* settings;
    fluid_synth_t* synth;
};

struct Pool {
    std::mutex mutex;
    std::vector<Kept> idle;
};

Pool& Synths() {
    // Never destroyed: synths in use may be handed back by other static objects' destructors at exit.
    static Pool* const pool = new Pool;
    return *pool;
}

std::optional<Kept> TakeSynth() {
    {
        std::lock_guard lock(Synths().mutex);
        if (!Synths().idle.empty()) {
            const Kept kept = Synths().idle.back();
            Synths().idle.pop_back();
            return kept;
        }
    }
    fluid_settings_t* settings = NewSettings();
    if (!settings) return std::nullopt;
    fluid_synth_t* synth = NewSynthWithSoundFont(settings);
    if (!synth) {
        delete_fluid_settings(settings);
        return std::nullopt;
    }
    ++g_madeSynths;
    return Kept{settings, synth};
}

void GiveBack(fluid_settings_t* settings, fluid_synth_t* synth) {
    fluid_synth_system_reset(synth);  // no note left sounding for the next tune
    std::lock_guard lock(Synths().mutex);
    Synths().idle.push_back({settings, synth});
}

}  // namespace

std::unique_ptr<MidiSynth> MidiSynth::Create() {
    const std::optional<Kept> kept = TakeSynth();
    if (!kept) return nullptr;
    std::unique_ptr<MidiSynth> m(new MidiSynth);
    m->settings_ = kept->settings;
    m->synth_ = kept->synth;
    ++g_liveSynths;
    return m;
}

MidiSynth::~MidiSynth() {
    Stop();
    GiveBack(settings_, synth_);
    --g_liveSynths;
}

bool MidiSynth::Play(std::string_view smf, uint64_t tick, bool withOutput) {
    Stop();
    if (!withOutput) return false;
    fluid_synth_system_reset(synth_);  // programs and controllers as at power-on; seeking replays the tune's own
    player_ = StartPlayer(synth_, smf, tick);
    if (!player_) return false;
    for (const char* driver : {"pulseaudio", "alsa"}) {
        fluid_settings_setstr(settings_, "audio.driver", driver);
        output_ = new_fluid_audio_driver(settings_, synth_);
        if (output_) return true;
    }
    Stop();
    return false;
}

void MidiSynth::Stop() {
    // The output goes first: a player must not be deleted while the synth is being rendered.
    if (output_) delete_fluid_audio_driver(output_);
    output_ = nullptr;
    if (player_) delete_fluid_player(player_);
    player_ = nullptr;
}

int LiveSynthCount() { return g_liveSynths.load(); }
int MadeSynthCount() { return g_madeSynths.load(); }

}  // namespace platform::sound

namespace platform {

bool RenderMidiToWav(const std::string& midiPath, const std::string& wavPath) {
    using namespace sound;
    MidiFile file;
    if (ReadMidiFile(midiPath, file) != MidiFileStatus::Ok) return false;
    // A kept synth, as for playing: rendering must not grow the program either.
    const std::optional<Kept> kept = TakeSynth();
    if (!kept) return false;
    fluid_settings_t* settings = kept->settings;
    fluid_synth_t* synth = kept->synth;
    fluid_settings_setstr(settings, "audio.file.name", wavPath.c_str());
    fluid_settings_setstr(settings, "audio.file.type", "wav");
    fluid_settings_setstr(settings, "audio.file.format", "s16");
    bool ok = false;
    fluid_player_t* player = StartPlayer(synth, file.bytes, 0);
    fluid_file_renderer_t* renderer = player ? new_fluid_file_renderer(synth) : nullptr;
    if (renderer) {
        // The tune's own length, then its last notes dying away. FluidSynth's player would go on
        // for a two-second grace after them.
        const double tuneBlocks = std::ceil(double(file.tune.LengthMs()) / 1000 * kSampleRate / kBlock);
        const double ringBlocks = kRingOutSeconds * kSampleRate / kBlock;
        ok = true;
        for (double block = 0; ok && block < tuneBlocks; ++block)
            ok = fluid_file_renderer_process_block(renderer) == FLUID_OK;
        for (double block = 0; ok && fluid_synth_get_active_voice_count(synth) > 0 && block < ringBlocks; ++block)
            ok = fluid_file_renderer_process_block(renderer) == FLUID_OK;
        delete_fluid_file_renderer(renderer);  // writes the WAV header's sizes
    }
    if (player) delete_fluid_player(player);
    GiveBack(settings, synth);
    return ok;
}

}  // namespace platform
