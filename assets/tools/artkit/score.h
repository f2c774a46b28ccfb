#pragma once
// The tune is kept as text (assets/tune/*.score, notation described at the top of each file) and
// turned into a Standard MIDI File at build time.
#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <vector>

namespace vellumine::artkit {

constexpr int kTicksPerQuarter = 480;

struct ScoreError : std::runtime_error {
    ScoreError(int line, const QString& message)
        : std::runtime_error(QStringLiteral("line %1: %2").arg(line).arg(message).toStdString()), line(line) {}
    int line;
};

struct ScoreNote {
    int start = 0;   // ticks from the beginning of the tune
    int length = 0;  // written length in ticks
    int pitch = 60;  // MIDI note number, C4 = 60
    int velocity = 64;
};

struct ScoreVoice {
    QString name;
    int program = 0;   // General MIDI program, 0-based
    int channel = 0;   // 0-based; 9 is percussion
    int velocity = 80;
    int volume = 100;  // controller 7
    int pan = 64;      // controller 10
    int reverb = 40;   // controller 91
    int gate = 90;     // percent of the written length that the note sounds
    std::vector<ScoreNote> notes;
};

struct Score {
    QString title;
    int tempo = 120;  // quarter notes per minute
    int beatsPerBar = 4;
    int beatUnit = 4;
    int tonic = 0;  // pitch class of the key, C = 0
    bool minor = false;
    std::vector<ScoreVoice> voices;
    int totalTicks = 0;

    int ticksPerBar() const { return beatsPerBar * kTicksPerQuarter * 4 / beatUnit; }
    double seconds() const { return totalTicks / static_cast<double>(kTicksPerQuarter) * 60.0 / tempo; }
};

// Throws ScoreError naming the line of the first mistake (bad note, bar of the wrong length, ...).
Score parseScore(const QString& text);

// A format 1 file: a conductor track (title, tempo, metre, key) and one track per voice. Every
// track ends exactly at the end of the last bar, so that the tune loops without a gap.
QByteArray writeMidi(const Score& score);

}  // namespace vellumine::artkit
