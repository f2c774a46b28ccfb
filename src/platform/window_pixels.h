#pragma once
// Pixels put straight into a window on the X server, past Qt's repainting: for a small part of a
// window that changes many times a second, where Qt's repaint of a widget costs several times what
// sending the few changed pixels does. Qt's own backing store does not learn of them: whoever puts
// pixels so must have Qt repaint that part (update()) before Qt shows its copy again, as it does
// when the window is exposed.
#include <QImage>
#include <QRect>

class QWidget;

namespace platform {

// Whether pixels can be put into the window that shows w: an X11 session, w on the screen, one
// device pixel to a pixel, and a window of 24-bit colour held in 32-bit pixels in this machine's
// byte order. Otherwise callers paint the usual way.
bool CanPutPixels(const QWidget* w);

// Puts the part from of img (Format_RGB32) into the window at to, both in w's own pixels; to is
// clipped to w, and nothing is drawn over w's visible children. Sent at once. False when nothing
// was put (the caller paints the usual way then).
bool PutPixels(const QWidget* w, const QImage& img, const QRect& from, const QPoint& to);

}  // namespace platform
