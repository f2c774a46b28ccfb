#pragma once
// The mouse pointer, and letting the user drag a borderless window as though by its title bar.
#include <cstdint>

#include "platform/window.h"

namespace platform {

struct POINT {
    int32_t x, y;
};

// The pointer's position in screen pixels.
int32_t GetCursorPos(POINT* point);

int32_t ReleaseCapture();

constexpr uint32_t WM_NCLBUTTONDOWN = 0xA1;
constexpr intptr_t HTCAPTION = 2;
// Only WM_NCLBUTTONDOWN with HTCAPTION is understood: the window then moves with the mouse until the
// button is released — moved by the window manager where there is one, else following the pointer itself.
intptr_t SendMessageA(HWND window, uint32_t message, intptr_t wParam, const void* lParam);

}  // namespace platform
