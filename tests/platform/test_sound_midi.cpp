#include <gtest/gtest.h>

#include <initializer_list>
#include <random>

#include "platform/sound_midi.h"

using platform::sound::MidiTune;

namespace {

std::string BigEndian(uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

std::string Chunk(const std::string& id, const std::string& body) { return id + BigEndian(uint32_t(body.size()), 4) + body; }

std::string Smf(uint16_t format, uint16_t division, const std::vector<std::string>& tracks) {
    std::string s = Chunk("MThd", BigEndian(format, 2) + BigEndian(uint16_t(tracks.size()), 2) + BigEndian(division, 2));
    for (const std::string& t : tracks) s += Chunk("MTrk", t);
    return s;
}

std::string Delta(uint32_t ticks) {
    std::string s(1, char(ticks & 0x7F));
    while (ticks >>= 7) s.insert(s.begin(), char(0x80 | (ticks & 0x7F)));
    return s;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(b);
    return s;
}

const std::string kEndOfTrack = Bytes({0xFF, 0x2F, 0x00});
std::string Tempo(uint32_t us) { return Bytes({0xFF, 0x51, 0x03}) + BigEndian(us, 3); }

// 480 ticks a quarter. The conductor track: 120 bpm, from tick 960 a quarter of 333333 us; it ends
// early. The notes go on to tick 2400, with running status, a track name and a sysex.
std::string TwoTrackTune() {
    const std::string conductor = Delta(0) + Tempo(500000) + Delta(960) + Tempo(333333) + Delta(480) + kEndOfTrack;
    const std::string notes = Delta(0) + Bytes({0xFF, 0x03, 0x05}) + "Piano" + Delta(0) + Bytes({0x90, 0x3C, 0x64}) +
                              Delta(480) + Bytes({0x40, 0x64}) +                   // running status
                              Delta(0) + Bytes({0xF0, 0x02, 0x7E, 0xF7}) +         //
                              Delta(1440) + Bytes({0x80, 0x3C, 0x00}) +            // tick 1920
                              Delta(480) + Bytes({0x40, 0x00}) + Delta(0) + kEndOfTrack;  // 2400
    return Smf(1, 480, {conductor, notes});
}

}  // namespace

TEST(SoundMidiTune, LengthFollowsTheTempoMapOfAllTracks) {
    const auto tune = MidiTune::Parse(TwoTrackTune());
    ASSERT_TRUE(tune);
    EXPECT_EQ(tune->TrackCount(), 2u);
    EXPECT_EQ(tune->EndTick(), 2400u);
    // 960 ticks at 500000 us = 1000 ms, then 1440 ticks (3 quarters) at 333333 us = 999.999 ms:
    // the last event plays at 1999.999 ms, so the tune has ended at 2000 ms and not at 1999.
    EXPECT_EQ(tune->LengthMs(), 2000u);
    EXPECT_EQ(tune->MsAtTick(960), 1000u);
    EXPECT_EQ(tune->MsAtTick(1440), 1334u);  // 1000 + 333.333
    EXPECT_EQ(tune->TickAtMs(999), 959u);
    EXPECT_EQ(tune->TickAtMs(1000), 960u);
    EXPECT_EQ(tune->TickAtMs(1999), 2398u);  // a tick is 0.694 ms now: 2399 comes at 1999.306 ms
    EXPECT_EQ(tune->TickAtMs(2000), 2400u);
    EXPECT_EQ(tune->TickAtMs(99999), 2400u);
}

TEST(SoundMidiTune, ReadsLooseFilesAsFluidSynthDoes) {
    // No end-of-track event: the track ends with its last note, not with a marker after it.
    const std::string open = Delta(0) + Bytes({0x90, 0x3C, 0x64}) + Delta(240) + Bytes({0x80, 0x3C, 0x00}) +
                             Delta(96) + Bytes({0xFF, 0x06, 0x01}) + "m";
    EXPECT_EQ(MidiTune::Parse(Smf(0, 240, {open}))->LengthMs(), 500u);  // 240 ticks at 120 bpm
    // An unknown chunk is skipped; a tempo in a later track at the same tick wins.
    std::string file = Smf(1, 96, {Delta(0) + Tempo(250000) + Delta(0) + kEndOfTrack,
                                   Delta(0) + Tempo(1000000) + Delta(96) + kEndOfTrack});
    file.insert(14, Chunk("XYZW", "junk"));
    EXPECT_EQ(MidiTune::Parse(file)->LengthMs(), 1000u);
    // The file ends inside a track chunk, after its end-of-track event.
    std::string cut = Smf(0, 96, {Delta(96) + kEndOfTrack});
    cut[21] = 0x40;  // the chunk claims more bytes than there are
    EXPECT_EQ(MidiTune::Parse(cut)->LengthMs(), 500u);
}

TEST(SoundMidiTune, RefusesWhatCannotBePlayed) {
    // From byte 22: delta, note on, delta, note off, delta, end of track.
    const std::string good =
        Smf(0, 96, {Delta(0) + Bytes({0x90, 0x3C, 0x64}) + Delta(96) + Bytes({0x80, 0x3C, 0}) + Delta(0) + kEndOfTrack});
    ASSERT_TRUE(MidiTune::Parse(good));
    auto with = [&](size_t at, const std::string& bytes) { return std::string(good).replace(at, bytes.size(), bytes); };
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"not a header", with(0, "RIFF")},
        {"header length", with(7, "\x07")},
        {"format 3", with(9, "\x03")},
        {"SMPTE time", with(12, "\xE7\x28")},
        {"no ticks", with(12, Bytes({0, 0}))},
        {"129 tracks", with(10, Bytes({0, 0x81}))},
        {"a missing track", with(11, "\x02")},
        {"non-ASCII chunk", with(14, "\xCD")},
        {"data without status", with(23, "\x3C")},
        {"other system message", with(23, "\xF2")},
        {"escaped sysex", with(23, "\xF7")},
        {"five-byte delta", Smf(0, 96, {Bytes({0x81, 0x81, 0x81, 0x81, 0x01}) + kEndOfTrack})},
        {"short tempo", Smf(0, 96, {Delta(0) + Bytes({0xFF, 0x51, 0x02, 0x07, 0xA1}) + Delta(0) + kEndOfTrack})},
        {"zero tempo", Smf(0, 96, {Delta(0) + Tempo(0) + Delta(0) + kEndOfTrack})},
        {"long end of track", Smf(0, 96, {Delta(0) + Bytes({0xFF, 0x2F, 0x01, 0x00})})},
        {"cut in an event", good.substr(0, good.size() - 5)},
    };
    for (const auto& [what, bytes] : bad) EXPECT_FALSE(MidiTune::Parse(bytes)) << what;
}

TEST(SoundMidiTune, SurvivesAnyDamage) {
    const std::string good = TwoTrackTune();
    for (size_t n = 0; n < good.size(); ++n) (void)MidiTune::Parse(good.substr(0, n));
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = good;
        for (int k = 0; k < 3; ++k) bytes[random() % bytes.size()] = char(random());
        if (const auto tune = MidiTune::Parse(bytes)) {
            EXPECT_EQ(tune->TickAtMs(tune->LengthMs()), tune->EndTick());
        }
    }
}
