#include "platform/pointer.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace platform {

namespace {

// Moves a window with the pointer until the left button is released: for a desktop with no window
// manager to do it.
class FollowPointer : public QObject {
public:
    explicit FollowPointer(QWidget* window) : QObject(window), window_(window), grabOffset_(QCursor::pos() - window->pos()) {
        window_->installEventFilter(this);
        window_->grabMouse();
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseMove) {
            window_->move(static_cast<QMouseEvent*>(e)->globalPosition().toPoint() - grabOffset_);
            return true;
        }
        if (e->type() == QEvent::MouseButtonRelease) {
            window_->releaseMouse();
            window_->removeEventFilter(this);
            deleteLater();
            return true;
        }
        return false;
    }

private:
    QWidget* window_;
    QPoint grabOffset_;
};

}  // namespace

int32_t GetCursorPos(POINT* point) {
    if (!point) return 0;
    const QPoint p = QCursor::pos();
    *point = POINT{p.x(), p.y()};
    return 1;
}

int32_t ReleaseCapture() {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    return 1;
}

intptr_t SendMessageA(HWND window, uint32_t message, intptr_t wParam, const void*) {
    if (!window || message != WM_NCLBUTTONDOWN || wParam != HTCAPTION) return 0;
    QWindow* native = window->windowHandle();
    if (native && native->startSystemMove()) return 0;
    new FollowPointer(window);  // owned by the window; deletes itself when the button is released
    return 0;
}

}  // namespace platform
