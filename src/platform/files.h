#pragma once
// File names and the desktop's file-open dialog.
#include <functional>
#include <optional>
#include <string>

#include "platform/window.h"

namespace platform {

// The name of the file without its folder, NUL-terminated into buffer (at most size bytes, never
// splitting a character). 0 on success; a positive number is the size needed when buffer is too
// small; -1 for a name that has no file title (empty, or ending in a separator).
int32_t GetFileTitleA(const std::string& path, char* buffer, uint16_t size);

// The file-open dialog: all files listed, no title of its own; nullopt when cancelled.
std::optional<std::string> ShowOpenFileDialog(HWND owner);
// Tests answer the dialog themselves; nullptr restores the real one.
void SetOpenFileDialogHook(std::function<std::optional<std::string>()> hook);

}  // namespace platform
