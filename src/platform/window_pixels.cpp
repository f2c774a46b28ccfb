#include "platform/window_pixels.h"

#include <QGuiApplication>
#include <QRegion>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <map>
#include <vector>
#include <xcb/xcb.h>

namespace platform {

namespace {

xcb_connection_t* Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Pixels of depth 24 travel as 32-bit words in this machine's byte order: a QImage of Format_RGB32
// is then what the server expects, row for row.
bool Depth24IsNative(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const uint8_t native = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? XCB_IMAGE_ORDER_LSB_FIRST
                                                                        : XCB_IMAGE_ORDER_MSB_FIRST;
    if (setup->image_byte_order != native) return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24) return it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    return false;
}

struct Connected {
    xcb_connection_t* c = nullptr;
    bool native = false;
    uint32_t maxBytes = 0;   // the largest request the server takes
    xcb_gcontext_t gc = 0;   // made with the first window; serves every depth-24 window
    std::map<xcb_window_t, bool> depth24;  // asked once per window
};

Connected& State() {
    static Connected s;
    static const QGuiApplication* app = nullptr;
    if (qGuiApp == app) return s;
    // Asked once for each application object.
    app = qGuiApp;
    xcb_connection_t* c = Connection();
    {
        s = Connected{};
        s.c = c;
        if (c) {
            s.native = Depth24IsNative(c);
            s.maxBytes = xcb_get_maximum_request_length(c) * 4;
        }
    }
    return s;
}

}  // namespace

bool CanPutPixels(const QWidget* w) {
    Connected& s = State();
    if (!s.c || !s.native || !w->isVisible()) return false;
    const QWidget* top = w->window();
    const QWindow* handle = top->windowHandle();
    if (!handle || !handle->isExposed() || handle->devicePixelRatio() != 1.0) return false;
    const xcb_window_t window = xcb_window_t(top->winId());
    auto known = s.depth24.find(window);
    if (known == s.depth24.end()) {
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(s.c, xcb_get_geometry(s.c, window), nullptr);
        known = s.depth24.emplace(window, g && g->depth == 24).first;
        free(g);
        if (known->second && !s.gc) {
            s.gc = xcb_generate_id(s.c);
            const uint32_t noExposures = 0;
            xcb_create_gc(s.c, s.gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        }
    }
    return known->second;
}

bool PutPixels(const QWidget* w, const QImage& img, const QRect& from, const QPoint& to) {
    Connected& s = State();
    if (!s.c || !s.gc || img.format() != QImage::Format_RGB32) return false;
    const QWidget* top = w->window();
    const xcb_window_t window = xcb_window_t(top->winId());
    const QPoint origin = w->mapTo(top, QPoint(0, 0));
    // What is visible of w there: its children are drawn over it by Qt and stay as they are.
    QRegion region(QRect(to, from.size()) & w->rect());
    for (const QObject* o : w->children())
        if (auto* child = qobject_cast<const QWidget*>(o);
            child && child->isVisible() && region.intersects(child->geometry()))
            region -= child->geometry();
    for (const QRect& r : region)
        if (uint64_t(r.width()) * uint64_t(r.height()) * 4 + 32 > s.maxBytes) return false;
    static std::vector<uint8_t> rows;
    for (const QRect& r : region) {
        const uint32_t rowBytes = uint32_t(r.width()) * 4;
        const uint32_t bytes = rowBytes * uint32_t(r.height());
        rows.resize(bytes);
        const QPoint src = from.topLeft() + (r.topLeft() - to);
        for (int y = 0; y < r.height(); ++y)
            std::memcpy(rows.data() + size_t(y) * rowBytes, img.constScanLine(src.y() + y) + size_t(src.x()) * 4, rowBytes);
        xcb_put_image(s.c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, s.gc, uint16_t(r.width()), uint16_t(r.height()),
                      int16_t(origin.x() + r.x()), int16_t(origin.y() + r.y()), 0, 24, bytes, rows.data());
    }
    xcb_flush(s.c);
    return true;
}

}  // namespace platform
