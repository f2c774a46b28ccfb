#pragma once
// The desktop as a person at it sees and works it: windows found by their titles, what the window
// manager says about them, what is on the screen, and keys and clicks sent through the X server
// (xdotool). Everything is read from outside the program: xprop, xwininfo and screen grabs.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace e2e {

using WindowId = unsigned long;

// Polls pred until it holds, for at most ms milliseconds (generous: other builds may be loading
// the machine), letting this process's own events run
// (clipboard transfers, child processes). True when it held.
bool Until(const std::function<bool()>& pred, int ms = 8000);

// Lets ms milliseconds pass with this process's events running: the gap between two looks.
void Pause(int ms);

// Output of an X client tool run with a UTF-8 locale (window titles are Japanese); "" on failure.
QString Tool(const QString& program, const QStringList& args);

// ---- Windows the window manager looks after (_NET_CLIENT_LIST)
QList<WindowId> ClientWindows();
QString Title(WindowId id);
// The managed window with exactly this title; none when there is none.
std::optional<WindowId> FindWindow(const QString& title);
std::optional<WindowId> WaitForWindow(const QString& title, int ms = 8000);
// True once no managed window has this title any more.
bool WaitUntilGone(const QString& title, int ms = 8000);

// _NET_WM_STATE as the window manager keeps it, e.g. "_NET_WM_STATE_ABOVE".
QString NetWmState(WindowId id);
bool Above(WindowId id);
// Whether a is above b in the window manager's stacking order (_NET_CLIENT_LIST_STACKING).
bool StackedAbove(WindowId a, WindowId b);
// The window that has the focus, as the window manager says (_NET_ACTIVE_WINDOW); 0 when none.
WindowId ActiveWindow();
// The window this one belongs to (WM_TRANSIENT_FOR); 0 when none.
WindowId TransientFor(WindowId id);

struct WindowInfo {
    QRect rect;  // the window's own area (inside the frame), in screen coordinates
    bool viewable = false;
    bool overrideRedirect = false;
};
std::optional<WindowInfo> Info(WindowId id);
bool Viewable(WindowId id);
// The window with the frame the window manager put around it (_NET_FRAME_EXTENTS).
QRect FrameRect(WindowId id);

// ---- Windows the window manager does not look after: menus popped up by the program.
struct TreeWindow {
    WindowId id = 0;
    QString name, wmClass;
    QRect rect;  // absolute
};
// Parses `xwininfo -tree`/`-children` output.
QList<TreeWindow> ParseTree(const QString& xwininfoOutput);
// A menu of the program popped up (override-redirect, mapped, of class "vellumine", not a tool
// tip) when one is up.
std::optional<TreeWindow> ProgramPopup();

// ---- Input
void Activate(WindowId id);  // raises, focuses and waits until it has the focus
void Keys(const QStringList& keys);  // xdotool key names, e.g. "alt+f", "Tab", "Return"
void Type(const QString& text);
void MoveMouse(QPoint at);
void Click(QPoint at, int button = 1);

// ---- The screen
// Paints the desktop (the root window's background) in one colour, as a wallpaper would.
void PaintDesktop(QRgb colour);
QImage Grab(const QRect& area);
QImage GrabScreen();

// Where a run's screenshots go: the build tree's artefact folder. Returns the saved path.
QString SaveArtefact(const QImage& image, const QString& name);

}  // namespace e2e
