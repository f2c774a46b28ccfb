#include <QFile>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <tuple>

#include "platform/sound_midi.h"
#include "platform/sound_synth.h"
#include "support/temp_folder.h"

namespace {

struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::vector<int16_t> samples;
    double Seconds() const { return double(samples.size()) / channels / rate; }
    double Rms() const {
        double sum = 0;
        for (int16_t s : samples) sum += double(s) * s;
        return samples.empty() ? 0 : std::sqrt(sum / samples.size());
    }
};

uint32_t Little(const QByteArray& b, qsizetype at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

// The plain 44-byte header of 16-bit PCM that FluidSynth writes.
std::optional<Wav> ReadWav(const QByteArray& b) {
    if (b.size() < 44 || b.left(4) != "RIFF" || b.mid(8, 8) != "WAVEfmt " || b.mid(36, 4) != "data") return std::nullopt;
    Wav w{int(Little(b, 22, 2)), int(Little(b, 24, 4)), int(Little(b, 34, 2)), {}};
    for (qsizetype i = 44; i + 1 < b.size(); i += 2) w.samples.push_back(int16_t(Little(b, i, 2)));
    return w;
}

// Four piano quarter notes at 120 bpm: two seconds. Without notes: two seconds of rests.
QByteArray Piano(bool notes) {
    std::string track("\0\xC0\0", 3);
    for (int key : {60, 64, 67, 72}) {
        track += std::string("\0\x90", 2) + char(key) + char(notes ? 100 : 0);
        track += std::string("\x83\x60\x80", 3) + char(key) + '\0';
    }
    track += std::string("\0\xFF\x2F\0", 4);
    std::string file("MThd\0\0\0\x06\0\0\0\x01\x01\xE0MTrk\0\0\0", 21);
    return QByteArray::fromStdString(file + char(track.size()) + track);
}

// Renders and reads back; checks the format playback uses.
std::optional<Wav> Render(const std::string& midi, const testsupport::TempFolder& t, const QString& wav) {
    if (!platform::RenderMidiToWav(midi, t.fileUtf8(wav))) return std::nullopt;
    std::optional<Wav> w = ReadWav(t.read(wav));
    if (w) {
        EXPECT_EQ(std::make_tuple(w->channels, w->rate, w->bits), std::make_tuple(2, 44100, 16));
    }
    return w;
}

}  // namespace

TEST(SoundRender, NotesComeOutAsSoundAndRestsAsSilence) {
    testsupport::TempFolder t;
    t.write("notes.mid", Piano(true));
    t.write("rests.mid", Piano(false));
    const std::optional<Wav> notes = Render(t.fileUtf8("notes.mid"), t, "notes.wav");
    const std::optional<Wav> rests = Render(t.fileUtf8("rests.mid"), t, "rests.wav");
    ASSERT_TRUE(notes && rests);
    EXPECT_NEAR(rests->Seconds(), 2.0, 0.05);  // nothing to ring out
    EXPECT_GE(notes->Seconds(), 1.95);
    EXPECT_LE(notes->Seconds(), 4.1);  // the last note dies away, 2 s at most
    EXPECT_LT(rests->Rms(), 2.0);
    EXPECT_GT(notes->Rms(), 300.0);  // -40 dBFS and up, over a quiet ring-out: plainly audible
}

TEST(SoundRender, TheProgramTuneIsHeard) {
    const std::string tune = VELLUMINE_PROGRAM_DIR "/Sound/Kouka.mid";
    if (!QFile::exists(QString::fromStdString(tune))) GTEST_SKIP() << "no tune built yet at " << tune;
    platform::sound::MidiFile file;
    ASSERT_EQ(platform::sound::ReadMidiFile(tune, file), platform::sound::MidiFileStatus::Ok);
    const double seconds = file.tune.LengthMs() / 1000.0;
    testsupport::TempFolder t;
    const std::optional<Wav> wav = Render(tune, t, "Kouka.wav");
    ASSERT_TRUE(wav);
    EXPECT_GE(wav->Seconds(), seconds - 0.05);
    EXPECT_LE(wav->Seconds(), seconds + 2.1);
    EXPECT_GT(wav->Rms(), 1000.0);
}

TEST(SoundRender, RefusesWhatItCannotDo) {
    testsupport::TempFolder t;
    t.write("text.mid", "not a tune");
    t.write("notes.mid", Piano(true));
    EXPECT_FALSE(platform::RenderMidiToWav(t.fileUtf8("text.mid"), t.fileUtf8("text.wav")));
    EXPECT_FALSE(platform::RenderMidiToWav(t.fileUtf8("notes.mid"), t.fileUtf8("no such folder/notes.wav")));
}
