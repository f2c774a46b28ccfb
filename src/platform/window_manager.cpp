// What the window manager is told about a window beyond Qt's own hints (EWMH, over the X connection
// Qt already has): states that keep a window out of task bars and pagers, and raising it as a pager
// would. Off X11 nothing is done, and raising is left to Qt.
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include <xcb/xcb.h>

#include "platform/window.h"

namespace platform {

namespace {

xcb_connection_t* Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    static std::map<std::string, xcb_atom_t> known;
    if (auto it = known.find(name); it != known.end()) return it->second;
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    if (atom != XCB_ATOM_NONE) known[name] = atom;
    return atom;
}

xcb_window_t Root(xcb_connection_t* c) { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

// A property of 32-bit items; empty when the window or the property is missing.
std::vector<uint32_t> Property32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    std::vector<uint32_t> items;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr);
    if (reply && reply->format == 32 && reply->type == type) {
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        items.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return items;
}

// A request to the window manager about one of the program's windows (EWMH client message).
void AskWindowManager(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type, std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::memcpy(event.data.data32, data.data(), sizeof event.data.data32);
    xcb_send_event(c, 0, Root(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// Whether a window manager runs that restacks on request: its check window is alive (it names
// itself) and it lists _NET_RESTACK_WINDOW. Its list is read once per manager.
bool WindowManagerRestacks(xcb_connection_t* c) {
    const xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<uint32_t> onRoot = Property32(c, Root(c), check, XCB_ATOM_WINDOW);
    if (onRoot.empty()) return false;
    const std::vector<uint32_t> onItself = Property32(c, onRoot[0], check, XCB_ATOM_WINDOW);
    if (onItself.empty() || onItself[0] != onRoot[0]) return false;  // left behind by a manager gone
    static xcb_window_t askedOf = XCB_WINDOW_NONE;
    static bool restacks = false;
    if (askedOf != onRoot[0]) {
        askedOf = onRoot[0];
        const std::vector<uint32_t> supported = Property32(c, Root(c), Atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
        restacks = std::find(supported.begin(), supported.end(), Atom(c, "_NET_RESTACK_WINDOW")) != supported.end();
    }
    return restacks;
}

constexpr uint32_t kRemove = 0, kAdd = 1;
constexpr uint32_t kFromPager = 2;  // EWMH source indication: pagers and direct user actions
constexpr uint32_t kUrgencyHint = 1u << 8;

// Before the window is mapped the states are the window's own property, which Qt merges its own
// into as it maps the window; once mapped they are the window manager's, changed on request.
class OutOfTaskBars : public QObject {
public:
    explicit OutOfTaskBars(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* e) override {
        // The show event comes before the window is mapped.
        if (watched == window_ && e->type() == QEvent::Show) {
            BeforeMap();
            QMetaObject::invokeMethod(this, [this] { AfterMap(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void BeforeMap() {
        xcb_connection_t* c = Connection();
        if (!c) return;
        const xcb_window_t w = xcb_window_t(window_->winId());
        const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
        std::vector<uint32_t> states = Property32(c, w, state, XCB_ATOM_ATOM);
        std::erase(states, Atom(c, "_NET_WM_STATE_DEMANDS_ATTENTION"));
        for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
            if (std::find(states.begin(), states.end(), Atom(c, name)) == states.end()) states.push_back(Atom(c, name));
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, uint32_t(states.size()),
                            states.data());
        std::vector<uint32_t> hints = Property32(c, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS);
        if (!hints.empty() && (hints[0] & kUrgencyHint)) {
            hints[0] &= ~kUrgencyHint;
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                                uint32_t(hints.size()), hints.data());
        }
        xcb_flush(c);
    }

    // A manager may decide afresh as it takes the window on (KWin marks a window shown without
    // being activated as demanding attention): the states are asked for once more.
    void AfterMap() {
        xcb_connection_t* c = Connection();
        if (!c || !window_ || !window_->isVisible()) return;
        const xcb_window_t w = xcb_window_t(window_->winId());
        const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
        AskWindowManager(c, w, state, {kAdd, Atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), Atom(c, "_NET_WM_STATE_SKIP_PAGER"),
                                       kFromPager, 0});
        AskWindowManager(c, w, state, {kRemove, Atom(c, "_NET_WM_STATE_DEMANDS_ATTENTION"), 0, kFromPager, 0});
        xcb_flush(c);
    }

    QPointer<QWidget> window_;
};

}  // namespace

void KeepOutOfTaskBars(HWND window) {
    if (window) new OutOfTaskBars(window);
}

void RaiseWindow(HWND window) {
    if (!window || !window->isVisible()) return;
    if (xcb_connection_t* c = Connection(); c && WindowManagerRestacks(c)) {
        AskWindowManager(c, xcb_window_t(window->winId()), Atom(c, "_NET_RESTACK_WINDOW"),
                         {kFromPager, XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE, 0, 0});
        xcb_flush(c);
        return;
    }
    window->raise();
}

}  // namespace platform
