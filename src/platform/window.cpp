#include "platform/window.h"

#include <QWidget>
#include <QWindow>

namespace platform {

int32_t SetWindowPos(HWND window, HWND insertAfter, int, int, int, int, uint32_t flags) {
    if (!window || (flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) return 0;
    if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
        const bool on = insertAfter == HWND_TOPMOST;
        if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != on) {
            if (QWindow* native = window->windowHandle(); native && window->isVisible()) {
                // Changing the widget's flags would recreate a visible window (it vanishes and
                // reappears elsewhere); the native window updates its state in place instead.
                native->setFlag(Qt::WindowStaysOnTopHint, on);
                window->overrideWindowFlags(window->windowFlags().setFlag(Qt::WindowStaysOnTopHint, on));
            } else {
                window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
            }
        }
    }
    if (flags & SWP_SHOWWINDOW) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    return 1;
}

bool IsTopMost(HWND window) { return window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

}  // namespace platform
