#pragma once
// The multimedia command strings the program sends to play its tune, answered as Windows' MIDI
// sequencer answers them, with FluidSynth making the sound.
//
// Understood (keywords in any case, names compared without case, blanks anywhere between words,
// a path in double quotes when it has blanks):
//   open <file> [type sequencer] [alias <name>]     the file is the name when no alias is given
//   play <name> [from <ms>]                         returns at once; without "from" it goes on
//                                                   from where it stands
//   stop <name>    close <name>                     "all" stops or closes every tune
//   status <name> mode|length|position              "playing"/"stopped"; milliseconds
// Whether a tune is still playing follows the tune's own length from its file and the clock, with
// sound or without (no sound device: playback is silent, and nothing is printed).
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

constexpr int32_t MCIERR_UNRECOGNIZED_KEYWORD = 259;
constexpr int32_t MCIERR_UNRECOGNIZED_COMMAND = 261;
constexpr int32_t MCIERR_INVALID_DEVICE_NAME = 263;  // no device open under that alias
constexpr int32_t MCIERR_DEVICE_OPEN = 265;          // a file opened twice without an alias
constexpr int32_t MCIERR_MISSING_COMMAND_STRING = 267;
constexpr int32_t MCIERR_PARAM_OVERFLOW = 268;  // the reply does not fit the buffer (nothing written)
constexpr int32_t MCIERR_MISSING_STRING_ARGUMENT = 269;
constexpr int32_t MCIERR_BAD_INTEGER = 270;
constexpr int32_t MCIERR_MISSING_PARAMETER = 273;
constexpr int32_t MCIERR_FILE_NOT_FOUND = 275;
constexpr int32_t MCIERR_CANNOT_USE_ALL = 279;
constexpr int32_t MCIERR_OUTOFRANGE = 282;
constexpr int32_t MCIERR_DUPLICATE_ALIAS = 289;
constexpr int32_t MCIERR_MISSING_DEVICE_NAME = 292;
constexpr int32_t MCIERR_NO_CLOSING_QUOTE = 294;
constexpr int32_t MCIERR_DUPLICATE_FLAGS = 295;
constexpr int32_t MCIERR_INVALID_FILE = 296;  // not a MIDI file our synthesizer can play
constexpr int32_t MCIERR_EXTRA_CHARACTERS = 305;
constexpr int32_t MCIERR_FILE_READ = 348;

// Sends one command; the reply (for queries) goes into reply, NUL-terminated, at most replySize bytes.
// The reply is emptied first whenever there is room for the NUL. callbackWindow is not used.
int32_t mciSendStringA(const std::string& command, char* reply, uint32_t replySize, void* callbackWindow);

using MciHook = std::function<int32_t(const std::string& command, char* reply, uint32_t replySize)>;
// While a hook is set, every command goes to it and to nothing else; nullptr brings the player back.
void SetMciHook(MciHook hook);

// The millisecond clock tunes are timed with; nullptr brings back the monotonic clock. Set it while
// no tune is open.
void SetMciClock(std::function<uint64_t()> nowMs);

// Silent: tunes play without sound output (their time still runs). For tests and for anyone who
// wants quiet.
void SetMciSilent(bool silent);

}  // namespace platform
