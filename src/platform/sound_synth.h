#pragma once
// The General MIDI synthesizer the tune plays through: FluidSynth with a small soundfont, heard
// through the desktop's sound server. Playing and rendering to a file share one set-up, so a
// rendered file sounds as the clock does. FluidSynth and ALSA are kept from printing: the program
// prints nothing of its own accord, and a machine without sound simply stays silent.
#include <fluidsynth/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform::sound {

// The small General MIDI soundfont from Debian (timgm6mb-soundfont): a few tens of milliseconds to
// load, where FluidSynth's own default here takes seconds.
inline constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class MidiSynth {
public:
    // A synthesizer with the soundfont loaded: one a closed tune handed back, else a new one.
    // nullptr when FluidSynth cannot be set up or the soundfont does not load.
    static std::unique_ptr<MidiSynth> Create();
    // Silences it and hands it back for the next tune: a synthesizer is never freed (see the .cpp).
    ~MidiSynth();
    MidiSynth(const MidiSynth&) = delete;
    MidiSynth& operator=(const MidiSynth&) = delete;

    // Plays a standard MIDI file from the given tick, in place of anything playing. The sound
    // server is tried first (it also serves PipeWire desktops), then ALSA. False when no output
    // opens or output is off: then nothing plays.
    bool Play(std::string_view smf, uint64_t tick, bool withOutput);
    // Silences the tune at once and lets go of the sound output; the soundfont stays loaded.
    void Stop();

private:
    MidiSynth() = default;

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    fluid_player_t* player_ = nullptr;
    fluid_audio_driver_t* output_ = nullptr;
};

// How many synthesizers (each holding its soundfont) are in use by open tunes: closing the tune
// brings this back.
int LiveSynthCount();
// How many synthesizers the program has made: they are kept and reused, so this is the most that were
// ever in use at once, however many tunes were opened.
int MadeSynthCount();

}  // namespace platform::sound

namespace platform {

// Renders a MIDI file to a 16-bit stereo WAV file as fast as the machine goes, through the same
// synthesizer set-up as playback: the whole tune, then the last notes dying away (at most 2 s).
// False when the MIDI file cannot be played or the WAV file cannot be written.
bool RenderMidiToWav(const std::string& midiPath, const std::string& wavPath);

}  // namespace platform
