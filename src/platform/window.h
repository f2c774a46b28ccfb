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
// prevention, which KWin answers by marking the window as demanding attention. While boxes of the
// program are open (MakeOwned) they are raised instead, so that nothing is put over them.
void RaiseWindow(HWND window);

// Keeps the window out of task bars and pagers and from asking for attention, whatever the window
// manager would decide for a window of its kind: it is told so before every map and once more when
// it has taken the window on. Call once, before the window is first shown.
void KeepOutOfTaskBars(HWND window);

// The window that owns the program's boxes and dialogs: the clock.
void SetOwnerWindow(HWND owner);

// Makes a box or dialog the owner's, as a box of a top-most window is owned by it on the system the
// program came from: the window manager is told it belongs to the owner (WM_TRANSIENT_FOR), which
// keeps it above the owner on any window manager, whether the owner is top-most or not; and
// RaiseWindow never puts another window over it. An owner that is not on the screen (the clock in
// the tray) owns nothing: some window managers hide what belongs to a withdrawn window, so the box
// is shown on its own then and tied once the owner is back. Call before the window is first shown.
void MakeOwned(HWND box);

// The window never takes the input focus, not even when clicked or raised: it tells the window
// manager it wants no input (WM_HINTS) and takes no part in handing the focus over (no
// WM_TAKE_FOCUS). Call once, before the window is first shown.
void NeverFocus(HWND window);

// How many times the window manager has been asked whether it restacks windows on request
// (diagnostics): once per window manager, and again only when another one takes over.
int64_t WindowManagerQuestions();

}  // namespace platform
