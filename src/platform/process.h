#pragma once
// Ending the process, and starting other programs.
#include <functional>

namespace platform {

// Ends the process at once: no event loop, no window's handlers run after it.
[[noreturn]] void EndProcess(int code);

// Tests put their own ending in place: it must not return normally (throw to unwind instead).
void SetEndProcessHandler(std::function<void(int)> handler);

}  // namespace platform

#include <string>

namespace platform {

// The folder that holds the running executable (no separator at the end), as it was started: a
// program started through a link in a folder of its own belongs to that folder, so that a per-user
// folder of links can hold the settings of a program installed for everyone.
std::string ExecutableFolder(const char* argv0 = nullptr);

}  // namespace platform

namespace platform {

// Starts a program as a new process of its own, without a shell (no word splitting, nothing in the
// path is interpreted); the caller does not wait for it. False when it could not be started.
bool StartProgram(const std::string& path);
// Tests record starts themselves; nullptr restores real starts.
void SetStartProgramHook(std::function<bool(const std::string&)> hook);

}  // namespace platform
