#include "e2e/desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <xcb/xcb.h>

namespace e2e {

bool Until(const std::function<bool()>& pred, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(20);
    }
    return pred();
}

void Pause(int ms) { Until([] { return false; }, ms); }

QString Tool(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

namespace {

QList<WindowId> Ids(const QString& xpropLine) {
    QList<WindowId> ids;
    static const QRegularExpression hex("0x[0-9a-fA-F]+");
    for (auto m = hex.globalMatch(xpropLine.section('#', 1)); m.hasNext();) ids << m.next().captured().toULong(nullptr, 16);
    return ids;
}

QString Hex(WindowId id) { return "0x" + QString::number(qulonglong(id), 16); }

int Field(const QString& text, const QString& label) {
    const QRegularExpression re(QRegularExpression::escape(label) + ":\\s+(-?\\d+)");
    const auto m = re.match(text);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

}  // namespace

QList<WindowId> ClientWindows() { return Ids(Tool("xprop", {"-root", "_NET_CLIENT_LIST"})); }

QString Title(WindowId id) {
    // _NET_WM_NAME(UTF8_STRING) = "title"
    const QString out = Tool("xprop", {"-id", Hex(id), "_NET_WM_NAME"});
    const qsizetype open = out.indexOf('"'), close = out.lastIndexOf('"');
    return open >= 0 && close > open ? out.mid(open + 1, close - open - 1) : QString();
}

std::optional<WindowId> FindWindow(const QString& title) {
    for (WindowId id : ClientWindows())
        if (Title(id) == title) return id;
    return std::nullopt;
}

std::optional<WindowId> WaitForWindow(const QString& title, int ms) {
    std::optional<WindowId> found;
    Until([&] { return (found = FindWindow(title)).has_value() && Viewable(*found); }, ms);
    return found && Viewable(*found) ? found : std::nullopt;
}

bool WaitUntilGone(const QString& title, int ms) {
    return Until([&] { return !FindWindow(title).has_value(); }, ms);
}

QString NetWmState(WindowId id) { return Tool("xprop", {"-id", Hex(id), "_NET_WM_STATE"}).trimmed(); }

bool Above(WindowId id) { return NetWmState(id).contains("_NET_WM_STATE_ABOVE"); }

bool StackedAbove(WindowId a, WindowId b) {
    const QList<WindowId> ids = Ids(Tool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}));  // bottom to top
    const qsizetype ia = ids.indexOf(a), ib = ids.indexOf(b);
    return ia >= 0 && ib >= 0 && ia > ib;
}

WindowId ActiveWindow() { return Ids(Tool("xprop", {"-root", "_NET_ACTIVE_WINDOW"})).value(0); }

WindowId TransientFor(WindowId id) { return Ids(Tool("xprop", {"-id", Hex(id), "WM_TRANSIENT_FOR"})).value(0); }

std::optional<WindowInfo> Info(WindowId id) {
    const QString out = Tool("xwininfo", {"-id", Hex(id)});
    if (out.isEmpty()) return std::nullopt;
    WindowInfo info;
    info.rect = QRect(Field(out, "Absolute upper-left X"), Field(out, "Absolute upper-left Y"), Field(out, "Width"),
                      Field(out, "Height"));
    info.viewable = out.contains("Map State: IsViewable");
    info.overrideRedirect = out.contains("Override Redirect State: yes");
    return info;
}

bool Viewable(WindowId id) {
    const auto info = Info(id);
    return info && info->viewable;
}

QRect FrameRect(WindowId id) {
    const auto info = Info(id);
    if (!info) return {};
    // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
    const QString out = Tool("xprop", {"-id", Hex(id), "_NET_FRAME_EXTENTS"});
    const QStringList n = out.section('=', 1).split(',', Qt::SkipEmptyParts);
    if (n.size() != 4) return info->rect;
    return info->rect.adjusted(-n[0].trimmed().toInt(), -n[2].trimmed().toInt(), n[1].trimmed().toInt(),
                               n[3].trimmed().toInt());
}

QList<TreeWindow> ParseTree(const QString& out) {
    // 0x400032 "Vellumine": ("vellumine" "Vellumine")  22x22+0+0  +1257+777
    static const QRegularExpression line(
        R"re(^\s*(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((.*)\)\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$)re",
        QRegularExpression::MultilineOption);
    QList<TreeWindow> windows;
    for (auto m = line.globalMatch(out); m.hasNext();) {
        const auto w = m.next();
        TreeWindow t;
        t.id = w.captured(1).toULong(nullptr, 16);
        t.name = w.captured(2);
        t.wmClass = w.captured(3);
        t.rect = QRect(w.captured(6).toInt(), w.captured(7).toInt(), w.captured(4).toInt(), w.captured(5).toInt());
        windows << t;
    }
    return windows;
}

std::optional<TreeWindow> ProgramPopup() {
    for (const TreeWindow& t : ParseTree(Tool("xwininfo", {"-root", "-children"}))) {
        if (!t.wmClass.contains("\"vellumine\"") || t.rect.width() < 8 || t.rect.height() < 8) continue;
        const auto info = Info(t.id);
        if (!info || !info->viewable || !info->overrideRedirect) continue;
        // Not a tool tip. (Menus cannot be told by their type: Qt gives a menu shown again the
        // type _NET_WM_WINDOW_TYPE_NORMAL.)
        if (!Tool("xprop", {"-id", Hex(t.id), "_NET_WM_WINDOW_TYPE"}).contains("TOOLTIP")) return t;
    }
    return std::nullopt;
}

void Activate(WindowId id) {
    Tool("xdotool", {"windowactivate", "--sync", QString::number(id)});
    Until([&] { return Ids(Tool("xprop", {"-root", "_NET_ACTIVE_WINDOW"})).value(0) == id; });
}

void Keys(const QStringList& keys) {
    // A short gap between keys, as fingers leave: each key is handled before the next arrives.
    Tool("xdotool", QStringList{"key", "--delay", "60"} + keys);
}

void Type(const QString& text) { Tool("xdotool", {"type", "--delay", "25", text}); }

void MoveMouse(QPoint at) { Tool("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y())}); }

void Click(QPoint at, int button) {
    Tool("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "sleep", "0.1", "click",
                     QString::number(button)});
}

void PaintDesktop(QRgb colour) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return;
    xcb_connection_t* c = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    // A 24-bit true-colour screen: the pixel value is the colour itself.
    const uint32_t pixel = colour & 0xFFFFFF;
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    xcb_flush(c);
    Until([&] { return (Grab(QRect(0, 0, 1, 1)).pixel(0, 0) & 0xFFFFFF) == pixel; }, 2000);
}

QImage Grab(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage GrabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32); }

QString SaveArtefact(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(VELLUMINE_E2E_ARTEFACTS);
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    image.save(path);
    std::printf("artefact: %s\n", qPrintable(path));
    std::fflush(stdout);
    return path;
}

}  // namespace e2e
