#include "platform/sound_midi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform::sound {

namespace {

constexpr uint32_t kDefaultTempo = 500000;  // 120 beats a minute until the file sets a tempo
constexpr size_t kMaxTracks = 128;          // FluidSynth's player refuses files with more
constexpr off_t kMaxFileBytes = 8 << 20;    // tunes are kilobytes; this keeps a wrong path cheap

// Bounds-checked reading of the big-endian numbers and variable-length quantities of the file.
struct Reader {
    std::string_view data;
    size_t pos = 0;

    bool Has(size_t n) const { return n <= data.size() - pos; }
    bool AtEnd() const { return pos >= data.size(); }
    bool Skip(size_t n) {
        if (!Has(n)) return false;
        pos += n;
        return true;
    }
    bool Byte(uint8_t& b) {
        if (!Has(1)) return false;
        b = uint8_t(data[pos++]);
        return true;
    }
    bool BigEndian(size_t bytes, uint32_t& v) {
        if (!Has(bytes)) return false;
        v = 0;
        for (size_t i = 0; i < bytes; ++i) v = (v << 8) | uint8_t(data[pos++]);
        return true;
    }
    // At most four bytes, as FluidSynth reads them.
    bool VarLen(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!Byte(b)) return false;
            v = (v << 7) | (b & 0x7Fu);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
};

struct TempoEvent {
    uint64_t tick;
    uint32_t usPerQuarter;
};

// One track's events; its end is the end-of-track event, else its last event that FluidSynth keeps
// (it drops names, markers, signatures and empty sysex, and their delta times with them).
bool ReadTrack(Reader r, std::vector<TempoEvent>& tempos, uint64_t& end) {
    uint64_t tick = 0;
    uint64_t lastKept = 0;
    uint8_t running = 0;
    while (!r.AtEnd()) {
        uint32_t delta;
        uint8_t status;
        if (!r.VarLen(delta) || !r.Byte(status)) return false;
        tick += delta;
        if (status < 0x80) {
            // Running status: the byte is data of a message like the previous one, meta and sysex
            // included (FluidSynth remembers those too).
            if (running == 0) return false;
            --r.pos;
            status = running;
        }
        running = status;
        if (status == 0xFF) {
            uint8_t type;
            uint32_t len;
            if (!r.Byte(type) || !r.VarLen(len) || !r.Has(len)) return false;
            const auto* body = reinterpret_cast<const uint8_t*>(r.data.data() + r.pos);
            r.pos += len;
            switch (type) {
            case 0x2F:  // end of track
                if (len != 0) return false;
                end = tick;
                return true;
            case 0x51: {  // tempo
                if (len != 3) return false;
                const uint32_t us = (uint32_t(body[0]) << 16) | (uint32_t(body[1]) << 8) | body[2];
                if (us == 0) return false;  // no time per beat: nothing could be timed
                tempos.push_back({tick, us});
                lastKept = tick;
                break;
            }
            case 0x01:  // text and lyrics are events FluidSynth keeps
            case 0x05:
                lastKept = tick;
                break;
            // FluidSynth refuses these with a wrong length.
            case 0x54:
                if (len != 5) return false;
                break;
            case 0x58:
                if (len != 4) return false;
                break;
            case 0x59:
                if (len != 2) return false;
                break;
            default:
                break;
            }
        } else if (status == 0xF0) {
            uint32_t len;
            if (!r.VarLen(len) || !r.Skip(len)) return false;
            if (len > 0) lastKept = tick;
        } else if (status > 0xF0) {
            return false;  // FluidSynth reads no other system message (nor F7 escapes) from a file
        } else {
            const uint8_t kind = status & 0xF0;
            if (!r.Skip(kind == 0xC0 || kind == 0xD0 ? 1 : 2)) return false;
            lastKept = tick;
        }
    }
    end = lastKept;
    return true;
}

}  // namespace

std::optional<MidiTune> MidiTune::Parse(std::string_view smf) {
    Reader r{smf};
    uint32_t headerLen, format, tracks, division;
    if (!r.Has(4) || smf.substr(0, 4) != "MThd") return std::nullopt;
    r.pos = 4;
    if (!r.BigEndian(4, headerLen) || headerLen != 6 || !r.BigEndian(2, format) || !r.BigEndian(2, tracks) ||
        !r.BigEndian(2, division))
        return std::nullopt;
    if (format > 2 || tracks > kMaxTracks || division == 0 || (division & 0x8000)) return std::nullopt;

    MidiTune tune;
    tune.division_ = division;
    tune.tracks_ = tracks;
    std::vector<TempoEvent> tempos;
    for (size_t found = 0; found < tracks;) {
        if (!r.Has(8)) return std::nullopt;
        const std::string_view id = smf.substr(r.pos, 4);
        if (std::any_of(id.begin(), id.end(), [](char c) { return uint8_t(c) >= 0x80; })) return std::nullopt;
        r.pos += 4;
        uint32_t len = 0;
        r.BigEndian(4, len);  // cannot fail: eight bytes were there
        // A chunk cut short by the end of the file is read as far as it goes, as FluidSynth does.
        const size_t avail = std::min<size_t>(len, smf.size() - r.pos);
        if (id == "MTrk") {
            uint64_t end = 0;
            if (!ReadTrack(Reader{smf.substr(r.pos, avail)}, tempos, end)) return std::nullopt;
            tune.endTick_ = std::max(tune.endTick_, end);
            ++found;
        }
        r.pos += avail;
    }

    // One tempo map for all tracks. At equal ticks the later track, then the later event, wins, as
    // the player sends them in that order.
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoEvent& a, const TempoEvent& b) { return a.tick < b.tick; });
    tune.tempos_.push_back({0, kDefaultTempo, 0});
    for (const TempoEvent& t : tempos) {
        Tempo& last = tune.tempos_.back();
        if (t.tick == last.tick) {
            last.usPerQuarter = t.usPerQuarter;
        } else {
            const unsigned __int128 at = last.scaledUs + (unsigned __int128)(t.tick - last.tick) * last.usPerQuarter;
            tune.tempos_.push_back({t.tick, t.usPerQuarter, at});
        }
    }
    return tune;
}

const MidiTune::Tempo& MidiTune::TempoAt(uint64_t tick) const {
    auto it = std::upper_bound(tempos_.begin(), tempos_.end(), tick,
                               [](uint64_t t, const Tempo& tempo) { return t < tempo.tick; });
    return *(it - 1);  // the first tempo is at tick 0
}

uint64_t MidiTune::MsAtTick(uint64_t tick) const {
    const Tempo& t = TempoAt(tick);
    const unsigned __int128 scaled = t.scaledUs + (unsigned __int128)(tick - t.tick) * t.usPerQuarter;
    const unsigned __int128 perMs = (unsigned __int128)division_ * 1000u;
    return uint64_t((scaled + perMs - 1) / perMs);
}

uint64_t MidiTune::TickAtMs(uint64_t ms) const {
    const unsigned __int128 target = (unsigned __int128)ms * division_ * 1000u;
    auto it = std::upper_bound(tempos_.begin(), tempos_.end(), target,
                               [](unsigned __int128 v, const Tempo& tempo) { return v < tempo.scaledUs; });
    const Tempo& t = *(it - 1);  // the first tempo is at 0 us
    const unsigned __int128 tick = t.tick + (target - t.scaledUs) / t.usPerQuarter;
    return tick >= endTick_ ? endTick_ : uint64_t(tick);
}

MidiFileStatus ReadMidiFile(const std::string& path, MidiFile& out) {
    // Non-blocking, so that a pipe or device named by mistake cannot hang the caller in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return MidiFileStatus::Missing;
    struct stat st {};
    MidiFileStatus status = MidiFileStatus::Ok;
    std::string bytes;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = MidiFileStatus::Missing;
    } else if (st.st_size > kMaxFileBytes) {
        status = MidiFileStatus::NotMidi;
    } else {
        bytes.resize(size_t(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                status = MidiFileStatus::Unreadable;
                break;
            }
            if (n == 0) break;  // shrank while we read: parse what is there
            got += size_t(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (status != MidiFileStatus::Ok) return status;
    std::optional<MidiTune> tune = MidiTune::Parse(bytes);
    if (!tune) return MidiFileStatus::NotMidi;
    out.bytes = std::move(bytes);
    out.tune = *tune;
    return MidiFileStatus::Ok;
}

}  // namespace platform::sound
