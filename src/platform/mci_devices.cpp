#include "platform/mci_devices.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/mci.h"

namespace platform::mci {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// Words separated by blanks; a word in double quotes may hold blanks and must end at a blank.
int32_t Split(std::string_view text, std::vector<std::string>& words) {
    size_t i = 0;
    while (true) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i == text.size()) return 0;
        if (text[i] == '"') {
            const size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos) return MCIERR_NO_CLOSING_QUOTE;
            words.emplace_back(text.substr(i + 1, close - i - 1));
            i = close + 1;
            if (i < text.size() && !IsBlank(text[i])) return MCIERR_EXTRA_CHARACTERS;
        } else {
            const size_t start = i;
            while (i < text.size() && !IsBlank(text[i])) ++i;
            words.emplace_back(text.substr(start, i - start));
        }
    }
}

// Unsigned decimal that fits the 32 bits Windows passes it in.
bool ParseMs(const std::string& word, uint64_t& value) {
    if (word.empty()) return false;
    value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint64_t(c - '0');
        if (value > UINT32_MAX) return false;
    }
    return true;
}

int32_t ParseOptions(Command& c, const std::vector<std::string>& words) {
    bool alias = false, type = false, item = false;
    for (size_t i = 2; i < words.size(); ++i) {
        const std::string key = Fold(words[i]);
        const bool hasValue = i + 1 < words.size();
        if (c.verb == Verb::Open && (key == "alias" || key == "type")) {
            bool& seen = key == "alias" ? alias : type;
            if (seen) return MCIERR_DUPLICATE_FLAGS;
            seen = true;
            if (!hasValue || words[i + 1].empty()) return MCIERR_MISSING_STRING_ARGUMENT;
            ++i;
            if (key == "alias")
                c.alias = words[i];
            else if (Fold(words[i]) != "sequencer")
                return MCIERR_INVALID_DEVICE_NAME;  // the only kind of device there is here
        } else if (c.verb == Verb::Play && key == "from") {
            if (c.from) return MCIERR_DUPLICATE_FLAGS;
            if (!hasValue) return MCIERR_MISSING_PARAMETER;
            uint64_t ms;
            if (!ParseMs(words[++i], ms)) return MCIERR_BAD_INTEGER;
            c.from = ms;
        } else if (c.verb == Verb::Status && (key == "mode" || key == "length" || key == "position")) {
            if (item) return MCIERR_DUPLICATE_FLAGS;
            item = true;
            c.item = key == "mode" ? StatusItem::Mode : key == "length" ? StatusItem::Length : StatusItem::Position;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    if (c.verb == Verb::Status && !item) return MCIERR_MISSING_PARAMETER;
    return 0;
}

}  // namespace

int32_t ParseCommand(std::string_view text, Command& out) {
    text = text.substr(0, text.find('\0'));  // Windows reads a C string: it ends at the first NUL
    std::vector<std::string> words;
    if (int32_t e = Split(text, words)) return e;
    if (words.empty()) return MCIERR_MISSING_COMMAND_STRING;
    static const std::pair<const char*, Verb> kVerbs[] = {
        {"open", Verb::Open}, {"play", Verb::Play}, {"stop", Verb::Stop}, {"close", Verb::Close}, {"status", Verb::Status}};
    const std::string verb = Fold(words[0]);
    const auto* found = std::find_if(std::begin(kVerbs), std::end(kVerbs), [&](const auto& v) { return verb == v.first; });
    if (found == std::end(kVerbs)) return MCIERR_UNRECOGNIZED_COMMAND;
    if (words.size() < 2 || words[1].empty()) return MCIERR_MISSING_DEVICE_NAME;
    out = Command{};
    out.verb = found->second;
    out.name = words[1];
    out.optionError = ParseOptions(out, words);
    return 0;
}

struct DeviceTable::Device {
    std::string file;
    LoadedTune loaded;
    std::unique_ptr<TuneOutput> output;
    bool playing = false;
    uint64_t position = 0;     // milliseconds into the tune, as of the last Update
    uint64_t startedAt = 0;    // clock at the last start
    uint64_t startedFrom = 0;  // position at the last start
};

DeviceTable::DeviceTable(Clock clock, Loader loader, OutputMaker outputs)
    : clock_(std::move(clock)), loader_(std::move(loader)), outputs_(std::move(outputs)) {}

DeviceTable::~DeviceTable() = default;

int32_t DeviceTable::Send(std::string_view text, char* reply, uint32_t replySize) {
    if (reply && replySize > 0) reply[0] = '\0';
    Command c;
    if (int32_t e = ParseCommand(text, c)) return e;
    if (c.verb == Verb::Open) return c.optionError ? c.optionError : Open(c);
    if (Fold(c.name) == "all") {
        if (c.optionError) return c.optionError;
        if (c.verb == Verb::Stop) {
            for (auto& entry : devices_) Stop(*entry.second);
        } else if (c.verb == Verb::Close) {
            devices_.clear();
        } else {
            return MCIERR_CANNOT_USE_ALL;
        }
        return 0;
    }
    Device* d = Find(c.name);
    if (!d) return MCIERR_INVALID_DEVICE_NAME;
    if (c.optionError) return c.optionError;
    switch (c.verb) {
    case Verb::Play:
        return Play(*d, c);
    case Verb::Stop:
        Stop(*d);
        return 0;
    case Verb::Close:
        devices_.erase(Fold(c.name));  // lets go of its synthesizer
        return 0;
    case Verb::Status:
        return Status(*d, c, reply, replySize);
    case Verb::Open:
        break;
    }
    return 0;
}

DeviceTable::Device* DeviceTable::Find(const std::string& name) {
    auto it = devices_.find(Fold(name));
    return it == devices_.end() ? nullptr : it->second.get();
}

void DeviceTable::Update(Device& d) {
    if (!d.playing) return;
    const uint64_t now = clock_();
    const uint64_t elapsed = now > d.startedAt ? now - d.startedAt : 0;
    const uint64_t length = d.loaded.lengthMs;
    if (elapsed >= length - d.startedFrom) {
        // The last event has played: stopped, as Windows' sequencer says. The last notes are left
        // to ring out.
        d.playing = false;
        d.position = length;
    } else {
        d.position = d.startedFrom + elapsed;
    }
}

int32_t DeviceTable::Open(const Command& c) {
    const std::string key = Fold(c.alias.empty() ? c.name : c.alias);
    if (key == "all") return MCIERR_CANNOT_USE_ALL;
    if (devices_.count(key)) return c.alias.empty() ? MCIERR_DEVICE_OPEN : MCIERR_DUPLICATE_ALIAS;
    auto d = std::make_unique<Device>();
    if (int32_t e = loader_(c.name, d->loaded)) return e;
    d->file = c.name;
    if (outputs_) d->output = outputs_(d->loaded);
    devices_[key] = std::move(d);
    return 0;
}

int32_t DeviceTable::Play(Device& d, const Command& c) {
    Update(d);
    const uint64_t length = d.loaded.lengthMs;
    if (c.from && *c.from > length) return MCIERR_OUTOFRANGE;
    if (d.playing && !c.from) return 0;  // already playing: it goes on undisturbed
    d.position = c.from.value_or(d.position);
    if (d.position >= length) {
        // At the end there is nothing left to play.
        d.playing = false;
        if (d.output) d.output->Stop();
        return 0;
    }
    d.playing = true;
    d.startedAt = clock_();
    d.startedFrom = d.position;
    if (d.output) d.output->Start(d.loaded.tune ? d.loaded.tune->TickAtMs(d.position) : 0);
    return 0;
}

void DeviceTable::Stop(Device& d) {
    Update(d);
    d.playing = false;
    if (d.output) d.output->Stop();
}

int32_t DeviceTable::Status(Device& d, const Command& c, char* reply, uint32_t replySize) {
    Update(d);
    std::string text;
    switch (c.item) {
    case StatusItem::Mode:
        text = d.playing ? "playing" : "stopped";
        break;
    case StatusItem::Length:
        text = std::to_string(d.loaded.lengthMs);
        break;
    case StatusItem::Position:
        text = std::to_string(d.position);
        break;
    }
    if (!reply) return 0;
    // A reply that does not fit is not cut short: nothing is written, as on Windows.
    if (text.size() >= replySize) return MCIERR_PARAM_OVERFLOW;
    std::memcpy(reply, text.data(), text.size());
    reply[text.size()] = '\0';
    return 0;
}

std::optional<DeviceState> DeviceTable::State(const std::string& name) {
    Device* d = Find(name);
    if (!d) return std::nullopt;
    Update(*d);
    return DeviceState{d->file, d->playing, d->position, d->loaded.lengthMs};
}

void DeviceTable::EndTune(const std::string& name) {
    Device* d = Find(name);
    if (!d) return;
    Update(*d);
    if (!d->playing) return;
    d->playing = false;
    d->position = d->loaded.lengthMs;
    if (d->output) d->output->Stop();
}

int32_t LoadTuneFile(const std::string& path, LoadedTune& out) {
    sound::MidiFile file;
    switch (sound::ReadMidiFile(path, file)) {
    case sound::MidiFileStatus::Missing:
        return MCIERR_FILE_NOT_FOUND;
    case sound::MidiFileStatus::Unreadable:
        return MCIERR_FILE_READ;
    case sound::MidiFileStatus::NotMidi:
        return MCIERR_INVALID_FILE;
    case sound::MidiFileStatus::Ok:
        break;
    }
    out.bytes = std::move(file.bytes);
    out.tune = file.tune;
    out.lengthMs = file.tune.LengthMs();
    return 0;
}

}  // namespace platform::mci
