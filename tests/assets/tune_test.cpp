// The new-mail tune: the score notation, and the MIDI file the build makes from it, read back with
// a reader written here independently of the writer.
#include "art_checks.h"
#include "artkit/score.h"

#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <optional>

using vellumine::artkit::parseScore;
using vellumine::artkit::Score;
using vellumine::artkit::ScoreError;

namespace {

struct MidiNote {
    int track, channel, pitch, velocity;
    long on, off;
};

struct Midi {
    int format = -1, division = 0;
    std::vector<long> trackEnds;
    std::map<long, int> tempos;  // tick -> microseconds per quarter
    std::optional<std::pair<int, int>> key;  // sharps, minor
    std::optional<std::pair<int, int>> metre;  // numerator, denominator
    std::map<int, int> programs;  // channel -> program
    std::vector<MidiNote> notes;
    int unmatchedOffs = 0, hangingNotes = 0;

    double seconds(long tick) const {
        double s = 0;
        long last = 0;
        int tempo = 500000;
        for (const auto& [at, value] : tempos) {
            if (at >= tick) break;
            s += (at - last) * tempo / 1e6 / division;
            last = at;
            tempo = value;
        }
        return s + (tick - last) * tempo / 1e6 / division;
    }
};

// A plain Standard MIDI File reader: chunks, variable-length deltas, running status, meta events.
Midi readMidi(const QByteArray& data) {
    Midi midi;
    auto u8 = [&](qsizetype i) { return static_cast<int>(static_cast<quint8>(data.at(i))); };
    auto be = [&](qsizetype i, int n) {
        long v = 0;
        for (int k = 0; k < n; ++k) v = v << 8 | u8(i + k);
        return v;
    };
    if (data.size() < 14 || data.left(4) != "MThd" || be(4, 4) != 6) return midi;
    midi.format = static_cast<int>(be(8, 2));
    const int tracks = static_cast<int>(be(10, 2));
    midi.division = static_cast<int>(be(12, 2));
    qsizetype pos = 14;
    for (int t = 0; t < tracks; ++t) {
        if (data.mid(pos, 4) != "MTrk") return midi;
        const qsizetype end = pos + 8 + be(pos + 4, 4);
        pos += 8;
        long tick = 0;
        int status = 0;
        std::map<std::pair<int, int>, std::pair<long, int>> sounding;  // (channel, pitch) -> (on, velocity)
        bool ended = false;
        while (pos < end && !ended) {
            long delta = 0;
            int b;
            do {
                b = u8(pos++);
                delta = delta << 7 | (b & 0x7f);
            } while (b & 0x80);
            tick += delta;
            if (u8(pos) & 0x80) status = u8(pos++);
            if (status == 0xff) {
                const int type = u8(pos++);
                long length = 0;
                do {
                    b = u8(pos++);
                    length = length << 7 | (b & 0x7f);
                } while (b & 0x80);
                if (type == 0x51) midi.tempos[tick] = static_cast<int>(be(pos, 3));
                if (type == 0x59) midi.key = {static_cast<qint8>(u8(pos)), u8(pos + 1)};
                if (type == 0x58) midi.metre = {u8(pos), 1 << u8(pos + 1)};
                if (type == 0x2f) ended = true;
                pos += length;
                status = 0;
                continue;
            }
            const int kind = status & 0xf0, channel = status & 0x0f;
            const int a = u8(pos++);
            const int second = (kind == 0xc0 || kind == 0xd0) ? 0 : u8(pos++);
            if (kind == 0xc0) midi.programs[channel] = a;
            if (kind == 0x90 && second > 0) {
                if (sounding.count({channel, a})) ++midi.hangingNotes;
                sounding[{channel, a}] = {tick, second};
            } else if (kind == 0x80 || (kind == 0x90 && second == 0)) {
                auto found = sounding.find({channel, a});
                if (found == sounding.end()) {
                    ++midi.unmatchedOffs;
                } else {
                    midi.notes.push_back({t, channel, a, found->second.second, found->second.first, tick});
                    sounding.erase(found);
                }
            }
        }
        midi.hangingNotes += static_cast<int>(sounding.size());
        midi.trackEnds.push_back(tick);
        pos = end;
    }
    return midi;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char* kSmallScore = R"(
# a comment line
tempo 100
time 3/4
key G major
voice lead program 9 channel 0 velocity 80
voice low  program 32 channel 1 velocity 70 gate 50
section one
lead | G4:4 B4 D5 | F#5:4. E5:8 D5:4 |   # a comment after the notes
low  | G2:2. | D3+A3:2. |
section two
lead | Bb3:8 C4 r:4 G4:4 |
form one two one
)";

}  // namespace

TEST(Score, ReadsNotesLengthsChordsAndForm) {
    const Score score = parseScore(kSmallScore);
    EXPECT_EQ(score.tempo, 100);
    EXPECT_EQ(score.ticksPerBar(), 3 * 480);
    EXPECT_EQ(score.tonic, 7);
    ASSERT_EQ(score.voices.size(), 2u);
    const auto& lead = score.voices[0].notes;
    // one (two bars), two (one bar), one again: 6 + 3 + 6 notes.
    ASSERT_EQ(lead.size(), 15u);
    EXPECT_EQ(lead[0].pitch, 67);  // G4
    EXPECT_EQ(lead[1].start, 480) << "a note without a length keeps the last one";
    EXPECT_EQ(lead[3].pitch, 78);  // F#5
    EXPECT_EQ(lead[3].length, 720) << "dotted quarter";
    EXPECT_EQ(lead[4].start, 1440 + 720);
    EXPECT_EQ(lead[6].pitch, 58);  // Bb3, in section two
    EXPECT_EQ(lead[6].start, 2 * 1440);
    EXPECT_EQ(lead[8].start, 2 * 1440 + 480 + 480) << "the rest takes its time";
    EXPECT_EQ(lead[9].start, 3 * 1440) << "section one again after two";
    EXPECT_EQ(score.totalTicks, 5 * 1440);
    const auto& low = score.voices[1].notes;
    ASSERT_EQ(low.size(), 6u) << "one note and one two-note chord, twice; silent in section two";
    EXPECT_EQ(low[1].start, low[2].start);
    EXPECT_EQ(low[1].pitch, 50);
    EXPECT_EQ(low[2].pitch, 57);
}

TEST(Score, NamesTheLineOfEachMistake) {
    auto lineOf = [](const char* text) {
        try {
            parseScore(text);
        } catch (const ScoreError& e) {
            return e.line;
        }
        return -1;
    };
    const char* header = "tempo 120\ntime 4/4\nkey C\nvoice a program 0\nsection s\n";
    EXPECT_EQ(lineOf((std::string(header) + "a | C4:4 D4 E4 | \nform s\n").c_str()), 6) << "bar too short";
    EXPECT_EQ(lineOf((std::string(header) + "a | C4:2 D4 E4 |\nform s\n").c_str()), 6) << "bar too long";
    EXPECT_EQ(lineOf((std::string(header) + "a | H4:1 |\nform s\n").c_str()), 6) << "no such note";
    EXPECT_EQ(lineOf((std::string(header) + "a | C4:3 |\nform s\n").c_str()), 6) << "no such length";
    EXPECT_EQ(lineOf((std::string(header) + "b | C4:1 |\nform s\n").c_str()), 6) << "undeclared voice";
    EXPECT_EQ(lineOf((std::string(header) + "a | C4:1\nform s\n").c_str()), 6) << "unfinished bar";
    EXPECT_EQ(lineOf((std::string(header) + "a | C4:1 |\nform s t\n").c_str()), 7) << "unknown section";
    EXPECT_EQ(lineOf("tempo 120\ntime 4/4\nkey C\nvoice a program 0\nvoice b program 1\nsection s\n"
                     "a | C4:1 | C4:1 |\nb | C4:1 |\nform s\n"),
              6)
        << "voices of different lengths";
}

TEST(Score, MidiWriterKeepsEveryNote) {
    const Score score = parseScore(kSmallScore);
    const Midi midi = readMidi(vellumine::artkit::writeMidi(score));
    ASSERT_EQ(midi.format, 1);
    EXPECT_EQ(midi.division, vellumine::artkit::kTicksPerQuarter);
    EXPECT_EQ(midi.trackEnds.size(), 3u) << "conductor plus two voices";
    EXPECT_EQ(midi.tempos.at(0), 600000) << "100 beats per minute";
    EXPECT_EQ(midi.key, std::make_pair(1, 0)) << "G major: one sharp";
    EXPECT_EQ(midi.metre, std::make_pair(3, 4));
    EXPECT_EQ(midi.programs.at(0), 9);
    EXPECT_EQ(midi.programs.at(1), 32);
    EXPECT_EQ(midi.unmatchedOffs, 0);
    EXPECT_EQ(midi.hangingNotes, 0);
    std::size_t written = 0;
    for (const auto& v : score.voices) written += v.notes.size();
    ASSERT_EQ(midi.notes.size(), written);
    for (const MidiNote& n : midi.notes) {
        if (n.track == 2) {
            EXPECT_EQ(n.off - n.on, 720) << "gate: half of a dotted half note";
        }
    }
    for (long end : midi.trackEnds) EXPECT_EQ(end, score.totalTicks);
}

TEST(Tune, KoukaIsACheerfulLoopOfTheRightLength) {
    const Midi midi = readMidi(readFile(artchecks::soundFile("Kouka.mid")));
    ASSERT_EQ(midi.format, 1) << "Kouka.mid missing or not a Standard MIDI File";
    ASSERT_FALSE(midi.tempos.empty());
    for (const auto& [tick, tempo] : midi.tempos) {
        const double bpm = 60e6 / tempo;
        EXPECT_GE(bpm, 110);
        EXPECT_LE(bpm, 130);
    }
    const long end = *std::max_element(midi.trackEnds.begin(), midi.trackEnds.end());
    EXPECT_GE(midi.seconds(end), 30.0);
    EXPECT_LE(midi.seconds(end), 60.0);
    EXPECT_EQ(midi.hangingNotes, 0);
    EXPECT_EQ(midi.unmatchedOffs, 0);

    // Loops cleanly: every track ends together, on a bar line.
    ASSERT_TRUE(midi.metre.has_value());
    const long bar = midi.division * 4L * midi.metre->first / midi.metre->second;
    for (long trackEnd : midi.trackEnds) EXPECT_EQ(trackEnd, end);
    EXPECT_EQ(end % bar, 0);

    // A music box, glockenspiel or celesta carries the tune over plucked strings or bass.
    int melodyChannel = -1;
    bool plucked = false;
    for (const auto& [channel, program] : midi.programs) {
        if (program >= 8 && program <= 11 && melodyChannel < 0) melodyChannel = channel;
        if (program == 45 || (program >= 32 && program <= 35)) plucked = true;
    }
    ASSERT_GE(melodyChannel, 0);
    EXPECT_TRUE(plucked);

    // Major, and the melody's last note is the tonic.
    ASSERT_TRUE(midi.key.has_value());
    EXPECT_EQ(midi.key->second, 0) << "major";
    const int tonic = ((midi.key->first * 7) % 12 + 12) % 12;
    const MidiNote* last = nullptr;
    for (const MidiNote& n : midi.notes)
        if (n.channel == melodyChannel && (!last || n.on > last->on)) last = &n;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->pitch % 12, tonic);
    // Its music lasts to the end: no long silence before the loop starts again.
    long lastSound = 0;
    for (const MidiNote& n : midi.notes) lastSound = std::max(lastSound, n.off);
    EXPECT_GE(midi.seconds(lastSound), midi.seconds(end) - 1.0);
}

TEST(Tune, RepositoryScoreIsTheOneBuilt) {
    const QByteArray text = readFile(QStringLiteral(VELLUMINE_SOURCE_DIR "/assets/tune/kouka.score"));
    ASSERT_FALSE(text.isEmpty());
    const Score score = parseScore(QString::fromUtf8(text));
    EXPECT_EQ(vellumine::artkit::writeMidi(score), readFile(artchecks::soundFile("Kouka.mid")));
}
