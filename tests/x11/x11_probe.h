#pragma once
// Looks at real windows from outside the program, through the X server: what the window manager was
// told, where a window is, and what is on the screen.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <functional>

namespace x11probe {

// Output of a command (an X client of its own), "" when it failed.
inline QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString WindowId(const QWidget* w) { return QString::number(w->winId()); }

// The window's state as the window manager keeps it (_NET_WM_STATE).
inline QString NetWmState(const QWidget* w) {
    return Run("xprop", {"-id", WindowId(w), "_NET_WM_STATE"});
}

// Lets the program's requests reach the server and the window manager answer, until pred holds
// (bounded: a few seconds of polling, not a timing assertion).
inline bool Until(const std::function<bool()>& pred) {
    for (int i = 0; i < 200; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (pred()) return true;
        QProcess::execute("sleep", {"0.02"});
    }
    return pred();
}

// Whether upper is above lower in the window manager's stacking order (bottom to top).
inline bool StackedAbove(const QWidget* upper, const QWidget* lower) {
    QStringList ids = Run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}).section('#', 1).split(',');
    for (QString& id : ids) id = QString::number(id.trimmed().toULongLong(nullptr, 16));
    const qsizetype u = ids.indexOf(WindowId(upper)), l = ids.indexOf(WindowId(lower));
    return u >= 0 && l >= 0 && u > l;
}

// The window a window says it belongs to (WM_TRANSIENT_FOR), as a decimal id; "" when none.
inline QString TransientFor(const QWidget* w) {
    const QString out = Run("xprop", {"-id", WindowId(w), "WM_TRANSIENT_FOR"});
    if (!out.contains('#')) return {};
    return QString::number(out.section('#', 1).trimmed().toULongLong(nullptr, 16));
}

// The whole screen as the X server has it now.
inline QImage Screen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace x11probe
