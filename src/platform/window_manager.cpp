// What the window manager is told about a window beyond Qt's own hints (EWMH and ICCCM, over the X
// connection Qt already has): states that keep a window out of task bars and pagers, raising it as a
// pager would, whom a box belongs to, and a window that never takes the focus. Off X11 nothing is
// done, and raising is left to Qt.
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
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
    xcb_generic_error_t* error = nullptr;  // a window gone is an answer here, not a fault to report
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), &error);
    free(error);
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

int64_t g_questions = 0;

// Whether a window manager runs that restacks on request: its check window is alive (it names
// itself) and it lists _NET_RESTACK_WINDOW. The answer is kept until the manager changes: until the
// root's check or list changes, or the check window is destroyed (a manager gone leaves its
// property behind), which the X server reports as events; no round trip per raise.
class RestackSupport : public QAbstractNativeEventFilter {
public:
    bool Restacks(xcb_connection_t* c) {
        if (!known_) Ask(c);
        return restacks_;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (!known_ || type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7F) {
            case XCB_PROPERTY_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                if (e->window == root_ && (e->atom == checkAtom_ || e->atom == supportedAtom_)) known_ = false;
                break;
            }
            case XCB_DESTROY_NOTIFY:
                if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == check_) known_ = false;
                break;
            default:
                break;
        }
        return false;
    }

private:
    void Ask(xcb_connection_t* c) {
        ++g_questions;
        known_ = true;
        restacks_ = false;
        check_ = XCB_WINDOW_NONE;
        root_ = Root(c);
        checkAtom_ = Atom(c, "_NET_SUPPORTING_WM_CHECK");
        supportedAtom_ = Atom(c, "_NET_SUPPORTED");
        if (!watching_) {
            // Qt listens to the root's property changes already; added to whatever it listens to.
            watching_ = true;
            xcb_get_window_attributes_reply_t* attributes =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root_), nullptr);
            const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
            free(attributes);
            xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
        const std::vector<uint32_t> onRoot = Property32(c, root_, checkAtom_, XCB_ATOM_WINDOW);
        if (onRoot.empty()) return;
        // Its destruction is watched before it is looked at, so that no end goes unseen; a window
        // already gone answers no property below.
        const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        free(xcb_request_check(c, xcb_change_window_attributes_checked(c, onRoot[0], XCB_CW_EVENT_MASK, &structure)));
        const std::vector<uint32_t> onItself = Property32(c, onRoot[0], checkAtom_, XCB_ATOM_WINDOW);
        if (onItself.empty() || onItself[0] != onRoot[0]) return;  // left behind by a manager gone
        check_ = onRoot[0];
        const std::vector<uint32_t> supported = Property32(c, root_, supportedAtom_, XCB_ATOM_ATOM);
        restacks_ = std::find(supported.begin(), supported.end(), Atom(c, "_NET_RESTACK_WINDOW")) != supported.end();
    }

    bool known_ = false, restacks_ = false, watching_ = false;
    xcb_window_t root_ = XCB_WINDOW_NONE, check_ = XCB_WINDOW_NONE;
    xcb_atom_t checkAtom_ = XCB_ATOM_NONE, supportedAtom_ = XCB_ATOM_NONE;
};

bool WindowManagerRestacks(xcb_connection_t* c) {
    static RestackSupport* support = new RestackSupport;  // lives as long as the connection
    return support->Restacks(c);
}

constexpr uint32_t kRemove = 0, kAdd = 1;
constexpr uint32_t kFromPager = 2;  // EWMH source indication: pagers and direct user actions
constexpr uint32_t kUrgencyHint = 1u << 8;

// Properties the window's own until it is mapped, rewritten before each map: the show event comes
// before the window is mapped. afterMap, when given, runs once the map has been asked for.
class BeforeEachMap : public QObject {
public:
    using Step = void (*)(xcb_connection_t*, xcb_window_t);
    BeforeEachMap(QWidget* window, Step beforeMap, Step afterMap = nullptr)
        : QObject(window), window_(window), beforeMap_(beforeMap), afterMap_(afterMap) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == window_ && e->type() == QEvent::Show) {
            Run(beforeMap_);
            if (afterMap_)
                QMetaObject::invokeMethod(this, [this] { if (window_ && window_->isVisible()) Run(afterMap_); },
                                          Qt::QueuedConnection);
        }
        return false;
    }

private:
    void Run(Step step) {
        xcb_connection_t* c = Connection();
        if (!c || !window_) return;
        step(c, xcb_window_t(window_->winId()));
        xcb_flush(c);
    }

    QPointer<QWidget> window_;
    Step beforeMap_, afterMap_;
};

// Before the window is mapped the states are the window's own property, which Qt merges its own
// into as it maps the window; once mapped they are the window manager's, changed on request.
void OutOfTaskBarsBeforeMap(xcb_connection_t* c, xcb_window_t w) {
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
}

// A manager may decide afresh as it takes the window on (KWin marks a window shown without being
// activated as demanding attention): the states are asked for once more.
void OutOfTaskBarsAfterMap(xcb_connection_t* c, xcb_window_t w) {
    const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
    AskWindowManager(c, w, state, {kAdd, Atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), Atom(c, "_NET_WM_STATE_SKIP_PAGER"),
                                   kFromPager, 0});
    AskWindowManager(c, w, state, {kRemove, Atom(c, "_NET_WM_STATE_DEMANDS_ATTENTION"), 0, kFromPager, 0});
}

// ---- Owned boxes

QPointer<QWidget> g_owner;
std::vector<QPointer<QWidget>> g_owned;

// The owner when it is on the screen; none otherwise.
QWidget* ShownOwner() { return g_owner && g_owner->isVisible() && !g_owner->isMinimized() ? g_owner.data() : nullptr; }

// Tells the window manager whom the box belongs to, or that it belongs to no one. Qt writes the
// property itself for windows of a dialog's kind as it maps them, from the transient parent.
void Tie(QWidget* box, QWidget* owner) {
    QWindow* native = box->windowHandle();
    if (!native) return;
    native->setTransientParent(owner ? owner->windowHandle() : nullptr);
    xcb_connection_t* c = Connection();
    if (!c) return;
    const xcb_window_t w = xcb_window_t(box->winId());
    if (owner) {
        const xcb_window_t o = xcb_window_t(owner->winId());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &o);
    } else {
        xcb_delete_property(c, w, XCB_ATOM_WM_TRANSIENT_FOR);
    }
    xcb_flush(c);
}

std::vector<QWidget*> OpenBoxes() {
    std::erase_if(g_owned, [](const QPointer<QWidget>& box) { return box.isNull(); });
    std::vector<QWidget*> open;
    for (const QPointer<QWidget>& box : g_owned)
        if (box->isVisible()) open.push_back(box.data());
    return open;
}

// Ties a box to the owner as it is shown. Before the map for Qt, which writes the property from the
// transient parent for a dialog's kind of window; and once more as the map has been asked for,
// since Qt deletes the property of any other kind as it maps it (in the same burst of requests, so
// the window manager finds it as it takes the window on).
class Owned : public QObject {
public:
    explicit Owned(QWidget* box) : QObject(box), box_(box) { box->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == box_ && (e->type() == QEvent::Show || e->type() == QEvent::ShowToParent)) Tie(box_, ShownOwner());
        return false;
    }

private:
    QWidget* box_;
};

// Ties the open boxes to the owner when it comes back on the screen, and lets them go when it
// leaves it (to the tray), so that none is hidden with it.
class Owner : public QObject {
public:
    explicit Owner(QWidget* owner) : QObject(owner), owner_(owner) { owner->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != owner_ || g_owner != owner_) return false;
        if (e->type() == QEvent::Show)
            // Once the owner is mapped: a box tied to a window not yet mapped is not tied by all.
            QMetaObject::invokeMethod(this, [] { TieOpenBoxes(); }, Qt::QueuedConnection);
        else if (e->type() == QEvent::Hide)
            for (QWidget* box : OpenBoxes()) Tie(box, nullptr);
        return false;
    }

    static void TieOpenBoxes() {
        if (QWidget* owner = ShownOwner())
            for (QWidget* box : OpenBoxes()) Tie(box, owner);
    }

private:
    QWidget* owner_;
};

// The stack order is the window manager's: asked of it as a pager would ask (see RaiseWindow).
void Raise(xcb_connection_t* c, QWidget* window) {
    if (c && WindowManagerRestacks(c)) {
        AskWindowManager(c, xcb_window_t(window->winId()), Atom(c, "_NET_RESTACK_WINDOW"),
                         {kFromPager, XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE, 0, 0});
        xcb_flush(c);
        return;
    }
    window->raise();
}

// Qt writes its WM_PROTOCOLS as it creates the native window and WM_HINTS as it maps it: the
// protocols are rewritten before every map, the input hint is Qt's own (WindowDoesNotAcceptFocus).
void NoFocusBeforeMap(xcb_connection_t* c, xcb_window_t w) {
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    std::vector<uint32_t> items = Property32(c, w, protocols, XCB_ATOM_ATOM);
    // A window that lists WM_TAKE_FOCUS asks to be offered the focus even with no input hint
    // (ICCCM's globally active model); without it the window manager never hands it over.
    if (std::erase(items, Atom(c, "WM_TAKE_FOCUS")) == 0) return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocols, XCB_ATOM_ATOM, 32, uint32_t(items.size()),
                        items.data());
}

}  // namespace

void KeepOutOfTaskBars(HWND window) {
    if (window) new BeforeEachMap(window, OutOfTaskBarsBeforeMap, OutOfTaskBarsAfterMap);
}

void SetOwnerWindow(HWND owner) {
    g_owner = owner;
    if (owner) new Owner(owner);
}

void MakeOwned(HWND box) {
    if (!box) return;
    std::erase_if(g_owned, [](const QPointer<QWidget>& b) { return b.isNull(); });
    g_owned.emplace_back(box);
    new Owned(box);
}

void NeverFocus(HWND window) {
    if (!window) return;
    window->setWindowFlag(Qt::WindowDoesNotAcceptFocus, true);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    new BeforeEachMap(window, NoFocusBeforeMap);
}

int64_t WindowManagerQuestions() { return g_questions; }

void RaiseWindow(HWND window) {
    if (!window || !window->isVisible()) return;
    xcb_connection_t* c = Connection();
    const std::vector<QWidget*> boxes = OpenBoxes();
    bool raisedBox = false;
    for (QWidget* box : boxes)
        if (box != window) {
            Raise(c, box);
            raisedBox = true;
        }
    if (!raisedBox) Raise(c, window);
}

}  // namespace platform
