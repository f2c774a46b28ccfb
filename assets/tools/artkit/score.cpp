#include "artkit/score.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <initializer_list>
#include <map>

namespace vellumine::artkit {
namespace {

struct VoiceBars {
    std::vector<ScoreNote> notes;  // start ticks relative to the section
    int bars = 0;
};

struct Section {
    QString name;
    int line = 0;
    std::map<QString, VoiceBars> voices;  // by voice name
};

int pitchClassOf(QChar letter) {
    switch (letter.toUpper().unicode()) {
    case 'C': return 0;
    case 'D': return 2;
    case 'E': return 4;
    case 'F': return 5;
    case 'G': return 7;
    case 'A': return 9;
    case 'B': return 11;
    default: return -1;
    }
}

// "C#" / "Bb" / "F" as a pitch class, or -1.
int parseKeyName(const QString& name) {
    static const QRegularExpression re("^([A-Ga-g])([#b]?)$");
    const auto m = re.match(name);
    if (!m.hasMatch()) return -1;
    int pc = pitchClassOf(m.captured(1)[0]);
    if (m.captured(2) == "#") ++pc;
    if (m.captured(2) == "b") --pc;
    return (pc + 12) % 12;
}

int parseInt(const QString& text, int line, const QString& what, int low, int high) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        throw ScoreError(line, QStringLiteral("%1 must be a number from %2 to %3, not \"%4\"")
                                   .arg(what).arg(low).arg(high).arg(text));
    return value;
}

// Length suffix "4", "8.", "2" ... in ticks.
int parseLength(const QString& text, int line) {
    static const QRegularExpression re("^(1|2|4|8|16|32)(\\.?)$");
    const auto m = re.match(text);
    if (!m.hasMatch()) throw ScoreError(line, QStringLiteral("bad note length \"%1\"").arg(text));
    int ticks = kTicksPerQuarter * 4 / m.captured(1).toInt();
    if (!m.captured(2).isEmpty()) ticks += ticks / 2;
    return ticks;
}

int parsePitch(const QString& text, int line) {
    static const QRegularExpression re("^([A-Ga-g])([#b]?)(-?[0-9])$");
    const auto m = re.match(text);
    if (!m.hasMatch()) throw ScoreError(line, QStringLiteral("bad pitch \"%1\"").arg(text));
    int pitch = (m.captured(3).toInt() + 1) * 12 + pitchClassOf(m.captured(1)[0]);
    if (m.captured(2) == "#") ++pitch;
    if (m.captured(2) == "b") --pitch;
    if (pitch < 0 || pitch > 127) throw ScoreError(line, QStringLiteral("pitch \"%1\" is out of range").arg(text));
    return pitch;
}

void writeVarLen(QByteArray& out, quint32 value) {
    quint8 bytes[5];
    int count = 0;
    bytes[count++] = value & 0x7f;
    while ((value >>= 7) != 0) bytes[count++] = 0x80 | (value & 0x7f);
    while (count > 0) out.append(static_cast<char>(bytes[--count]));
}

void writeBE(QByteArray& out, quint32 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

struct Event {
    int tick;
    int order;  // at the same tick: note-offs before controllers before note-ons
    QByteArray bytes;
};

QByteArray trackChunk(std::vector<Event> events, int endTick) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    QByteArray body;
    int now = 0;
    for (const Event& e : events) {
        writeVarLen(body, static_cast<quint32>(e.tick - now));
        body.append(e.bytes);
        now = e.tick;
    }
    writeVarLen(body, static_cast<quint32>(endTick - now));
    body.append("\xff\x2f\x00", 3);  // end of track
    QByteArray chunk("MTrk");
    writeBE(chunk, static_cast<quint32>(body.size()), 4);
    chunk.append(body);
    return chunk;
}

QByteArray metaEvent(int type, const QByteArray& data) {
    QByteArray out;
    out.append(static_cast<char>(0xff));
    out.append(static_cast<char>(type));
    writeVarLen(out, static_cast<quint32>(data.size()));
    out.append(data);
    return out;
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values) out.append(static_cast<char>(v));
    return out;
}

QByteArray channelEvent(int status, int channel, int a, int b) { return bytes({status | channel, a, b}); }

// Key signature as sharps (+) or flats (-), choosing the spelling with fewer accidentals.
int sharpsFor(int tonic, bool minor) {
    const int major = minor ? (tonic + 3) % 12 : tonic;
    for (int sf = -5; sf <= 6; ++sf)
        if (((sf * 7) % 12 + 12) % 12 == major) return sf;
    return 0;  // unreachable: -5..6 covers every pitch class
}

}  // namespace

Score parseScore(const QString& text) {
    Score score;
    std::vector<Section> sections;
    QStringList form;
    int formLine = 0;
    QHash<QString, int> voiceIndex;
    Section* current = nullptr;
    bool sawTonic = false;

    const QStringList lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const int lineNo = n + 1;
        QString line = lines[n];
        // '#' starts a comment, except as a sharp inside a pitch (where it follows a letter).
        for (int hash = line.indexOf('#'); hash >= 0; hash = line.indexOf('#', hash + 1)) {
            if (hash == 0 || line[hash - 1].isSpace()) {
                line.truncate(hash);
                break;
            }
        }
        const QStringList words = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (words.isEmpty()) continue;
        const QString keyword = words[0];

        if (keyword == "title") {
            score.title = words.mid(1).join(' ');
        } else if (keyword == "tempo") {
            if (words.size() != 2) throw ScoreError(lineNo, "tempo takes one number");
            score.tempo = parseInt(words[1], lineNo, "tempo", 20, 300);
        } else if (keyword == "time") {
            static const QRegularExpression re("^([0-9]+)/(1|2|4|8|16)$");
            const auto m = words.size() == 2 ? re.match(words[1]) : QRegularExpressionMatch();
            if (!m.hasMatch()) throw ScoreError(lineNo, "time takes a metre such as 4/4");
            score.beatsPerBar = parseInt(m.captured(1), lineNo, "beats per bar", 1, 16);
            score.beatUnit = m.captured(2).toInt();
        } else if (keyword == "key") {
            if (words.size() < 2 || words.size() > 3) throw ScoreError(lineNo, "key takes a tonic and major or minor");
            score.tonic = parseKeyName(words[1]);
            if (score.tonic < 0) throw ScoreError(lineNo, QStringLiteral("bad key \"%1\"").arg(words[1]));
            score.minor = words.size() == 3 && words[2] == "minor";
            if (words.size() == 3 && words[2] != "major" && words[2] != "minor")
                throw ScoreError(lineNo, "key mode must be major or minor");
            sawTonic = true;
        } else if (keyword == "voice") {
            if (words.size() < 2 || words.size() % 2 != 0)
                throw ScoreError(lineNo, "voice takes a name and pairs of setting and value");
            if (voiceIndex.contains(words[1])) throw ScoreError(lineNo, "voice " + words[1] + " declared twice");
            ScoreVoice voice;
            voice.name = words[1];
            for (int i = 2; i < words.size(); i += 2) {
                const QString& setting = words[i];
                const QString& value = words[i + 1];
                if (setting == "program") voice.program = parseInt(value, lineNo, setting, 0, 127);
                else if (setting == "channel") voice.channel = parseInt(value, lineNo, setting, 0, 15);
                else if (setting == "velocity") voice.velocity = parseInt(value, lineNo, setting, 1, 127);
                else if (setting == "volume") voice.volume = parseInt(value, lineNo, setting, 0, 127);
                else if (setting == "pan") voice.pan = parseInt(value, lineNo, setting, 0, 127);
                else if (setting == "reverb") voice.reverb = parseInt(value, lineNo, setting, 0, 127);
                else if (setting == "gate") voice.gate = parseInt(value, lineNo, setting, 10, 100);
                else throw ScoreError(lineNo, "unknown voice setting " + setting);
            }
            voiceIndex.insert(voice.name, static_cast<int>(score.voices.size()));
            score.voices.push_back(voice);
        } else if (keyword == "section") {
            if (words.size() != 2) throw ScoreError(lineNo, "section takes one name");
            for (const Section& s : sections)
                if (s.name == words[1]) throw ScoreError(lineNo, "section " + words[1] + " defined twice");
            sections.push_back({words[1], lineNo, {}});
            current = &sections.back();
        } else if (keyword == "form") {
            form = words.mid(1);
            formLine = lineNo;
        } else if (voiceIndex.contains(keyword)) {
            if (!current) throw ScoreError(lineNo, "notes outside a section");
            const ScoreVoice& voice = score.voices[voiceIndex.value(keyword)];
            VoiceBars& written = current->voices[keyword];
            int position = written.bars * score.ticksPerBar();  // continue where the last line stopped
            int barStart = position;
            int length = kTicksPerQuarter;
            bool barOpen = false;
            for (int i = 1; i < words.size(); ++i) {
                const QString& token = words[i];
                if (token == "|") {
                    if (barOpen) {
                        if (position - barStart != score.ticksPerBar())
                            throw ScoreError(lineNo, QStringLiteral("bar %1 of %2 in section %3 is %4 of %5 ticks long")
                                                         .arg(written.bars + 1).arg(keyword, current->name)
                                                         .arg(position - barStart).arg(score.ticksPerBar()));
                        ++written.bars;
                    }
                    barStart = position;
                    barOpen = false;
                    continue;
                }
                barOpen = true;
                QString pitches = token;
                const int colon = token.indexOf(':');
                if (colon >= 0) {
                    length = parseLength(token.mid(colon + 1), lineNo);
                    pitches = token.left(colon);
                }
                if (pitches != "r") {
                    for (const QString& p : pitches.split('+')) {
                        const int pitch = parsePitch(p, lineNo);
                        written.notes.push_back({position, length, pitch, voice.velocity});
                    }
                }
                position += length;
            }
            if (barOpen) throw ScoreError(lineNo, "a line of notes must end with a bar line |");
        } else {
            throw ScoreError(lineNo, "unknown word \"" + keyword + "\" (not a setting or a declared voice)");
        }
    }

    if (score.voices.empty()) throw ScoreError(lines.size(), "no voices declared");
    if (!sawTonic) throw ScoreError(lines.size(), "no key given");
    if (form.isEmpty()) throw ScoreError(lines.size(), "no form given");

    const int bar = score.ticksPerBar();
    int offset = 0;
    for (const QString& name : form) {
        auto found = std::find_if(sections.begin(), sections.end(), [&](const Section& s) { return s.name == name; });
        if (found == sections.end()) throw ScoreError(formLine, "form names unknown section " + name);
        int bars = -1;
        for (const auto& [voiceName, written] : found->voices) {
            if (bars >= 0 && written.bars != bars)
                throw ScoreError(found->line, QStringLiteral("voices of section %1 differ in length").arg(name));
            bars = written.bars;
        }
        if (bars <= 0) throw ScoreError(found->line, "section " + name + " is empty");
        for (const auto& [voiceName, written] : found->voices) {
            ScoreVoice& voice = score.voices[voiceIndex.value(voiceName)];
            for (ScoreNote note : written.notes) {
                // A little metric accent so that the plucked voices do not sound mechanical: the bar's
                // first beat is leaned on, the middle beat slightly, off-beats are lighter.
                const int inBar = note.start % bar;
                const int beat = kTicksPerQuarter * 4 / score.beatUnit;
                if (inBar == 0) note.velocity += 10;
                else if (score.beatsPerBar % 2 == 0 && inBar == bar / 2) note.velocity += 4;
                else if (inBar % beat != 0) note.velocity -= 6;
                note.velocity = std::clamp(note.velocity, 1, 127);
                note.start += offset;
                voice.notes.push_back(note);
            }
        }
        offset += bars * bar;
    }
    score.totalTicks = offset;
    return score;
}

QByteArray writeMidi(const Score& score) {
    QByteArray file("MThd");
    writeBE(file, 6, 4);
    writeBE(file, 1, 2);  // format 1: simultaneous tracks
    writeBE(file, static_cast<quint32>(score.voices.size() + 1), 2);
    writeBE(file, kTicksPerQuarter, 2);

    std::vector<Event> conductor;
    conductor.push_back({0, 0, metaEvent(0x03, score.title.toUtf8())});
    QByteArray tempo;
    writeBE(tempo, static_cast<quint32>(60000000 / score.tempo), 3);
    conductor.push_back({0, 1, metaEvent(0x51, tempo)});
    int unitPower = 0;
    while ((1 << unitPower) < score.beatUnit) ++unitPower;
    conductor.push_back({0, 2, metaEvent(0x58, bytes({score.beatsPerBar, unitPower, 24, 8}))});
    conductor.push_back({0, 3, metaEvent(0x59, bytes({sharpsFor(score.tonic, score.minor) & 0xff,
                                                                 score.minor ? 1 : 0}))});
    file.append(trackChunk(conductor, score.totalTicks));

    for (const ScoreVoice& voice : score.voices) {
        std::vector<Event> events;
        const int ch = voice.channel;
        events.push_back({0, 0, metaEvent(0x03, voice.name.toUtf8())});
        events.push_back({0, 1, bytes({0xc0 | ch, voice.program})});
        events.push_back({0, 2, channelEvent(0xb0, ch, 7, voice.volume)});
        events.push_back({0, 3, channelEvent(0xb0, ch, 10, voice.pan)});
        events.push_back({0, 4, channelEvent(0xb0, ch, 91, voice.reverb)});
        for (const ScoreNote& note : voice.notes) {
            const int sounding = std::max(1, note.length * voice.gate / 100);
            events.push_back({note.start, 10, channelEvent(0x90, ch, note.pitch, note.velocity)});
            events.push_back({note.start + sounding, 5, channelEvent(0x80, ch, note.pitch, 64)});
        }
        file.append(trackChunk(std::move(events), score.totalTicks));
    }
    return file;
}

}  // namespace vellumine::artkit
