#pragma once
// Window placement calls the program makes, over Qt on X11. A window handle is the top-level widget.
#include <cstdint>

class QWidget;

namespace platform {

using HWND = QWidget*;
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);
constexpr uint32_t SWP_NOSIZE = 0x0001;
constexpr uint32_t SWP_NOMOVE = 0x0002;
constexpr uint32_t SWP_SHOWWINDOW = 0x0040;

// Puts the window into or out of the top-most band; with SWP_SHOWWINDOW also shows and activates it.
// Moving and sizing are not needed by the program: without SWP_NOMOVE/SWP_NOSIZE the call fails (0).
int32_t SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, uint32_t flags);

// Whether the window is in the top-most band, as far as this program has asked for it.
bool IsTopMost(HWND window);

}  // namespace platform

namespace platform {

// Raises the window above its siblings in the stack. Where no window manager keeps a top-most
// window above others, doing this now and then does. Under a window manager the raise is asked of
// it as a pager would ask it: a program's own restacking is subject to its focus-stealing
// prevention, which KWin answers by marking the window as demanding attention.
void RaiseWindow(HWND window);

// Keeps the window out of task bars and pagers and from asking for attention, whatever the window
// manager would decide for a window of its kind: it is told so before every map and once more when
// it has taken the window on. Call once, before the window is first shown.
void KeepOutOfTaskBars(HWND window);

}  // namespace platform
