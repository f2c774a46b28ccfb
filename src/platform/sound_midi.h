#pragma once
// What the tune player needs to know about a standard MIDI file before it plays it: whether our
// synthesizer can play it at all, and how long it lasts. The length comes from the file itself
// (delta times and the tempo map), so the "playing"/"stopped" answer does not depend on the sound
// output, which may be missing or late.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sound {

class MidiTune {
public:
    // nullopt when the bytes are not a MIDI file FluidSynth can play. Accepted as FluidSynth reads
    // them: formats 0-2, ticks per quarter note (no SMPTE), at most 128 tracks, unknown chunks
    // skipped, running status (also after meta and sysex events), a track may end without its
    // end-of-track event. Malformed data of any kind is refused, never read out of bounds.
    static std::optional<MidiTune> Parse(std::string_view smf);

    // The tick of the last event of the longest track.
    uint64_t EndTick() const { return endTick_; }
    uint32_t Division() const { return division_; }
    size_t TrackCount() const { return tracks_; }

    // Milliseconds from the start until the last event has played, rounded up.
    uint64_t LengthMs() const { return MsAtTick(endTick_); }
    // Milliseconds from the start to the given tick, rounded up.
    uint64_t MsAtTick(uint64_t tick) const;
    // The last tick reached after the given milliseconds, at most EndTick().
    uint64_t TickAtMs(uint64_t ms) const;

private:
    struct Tempo {
        uint64_t tick;
        uint32_t usPerQuarter;
        unsigned __int128 scaledUs;  // microseconds at tick, times the division
    };
    uint32_t division_ = 0;
    uint64_t endTick_ = 0;
    size_t tracks_ = 0;
    std::vector<Tempo> tempos_;  // by tick; the first at tick 0

    const Tempo& TempoAt(uint64_t tick) const;
};

// A MIDI file read whole: its bytes for the synthesizer and what they say about the tune.
struct MidiFile {
    std::string bytes;
    MidiTune tune;
};

enum class MidiFileStatus { Ok, Missing, Unreadable, NotMidi };

// Missing: no regular file can be opened at path (also a folder, a pipe, no rights); Unreadable: a
// read error; NotMidi: not a MIDI file we can play, or far bigger than any tune (over 8 MiB).
MidiFileStatus ReadMidiFile(const std::string& path, MidiFile& out);

}  // namespace platform::sound
