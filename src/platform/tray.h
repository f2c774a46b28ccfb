#pragma once
// An icon in the desktop's system tray, with a tip text and a 16-bit event code for the mouse:
// 0 for a plain click, 1 for the context click (the one that should open a popup menu).
//
// Two kinds of tray are met: a StatusNotifier tray (KDE Plasma, GNOME with the AppIndicator
// extension; Qt talks to it over D-Bus whenever org.kde.StatusNotifierWatcher is on the session bus)
// and an X11 tray that embeds the icon's window (XEmbed: trayer and other X11 panels).
#include <QIcon>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace platform {

class TrayControl {
public:
    TrayControl();
    ~TrayControl();

    // Written before AddToTray; taken at the next AddToTray.
    void SetIconHandle(const QIcon& icon) { icon_ = icon; }
    void SetTipText(const QString& text) { tip_ = text; }
    // The menu for the context click, which the tray opens itself where it can, at its icon: a
    // StatusNotifier tray is handed it over D-Bus and shows it, an X11 tray's icon pops it up at the
    // click. The menu's own actions run its items either way.
    void SetPopupMenu(QMenu* menu) { menu_ = menu; }
    // Shows the icon with its tip text (again: a second call refreshes both). False where the desktop
    // has no system tray: nothing is shown then.
    bool AddToTray();
    bool InTray() const;

    // Raised from the event loop once the tray's own call has returned, so that whatever the handler
    // opens (a modal box included) never keeps the tray waiting for an answer.
    std::function<void(int16_t code)> TrayEvent;
    // While TrayEvent runs for a context click: where the tray asked for the menu, when it named a
    // place (a StatusNotifier tray's ContextMenu(x, y), in screen pixels); none when the click was
    // only reported, and the menu belongs at the pointer.
    std::optional<QPoint> EventPoint() const { return eventPoint_; }

    // Whether the desktop has a system tray at all.
    static bool Available();
    // Tests stand in for the desktop: nullopt gives the real answer back.
    static void SetAvailableForTests(std::optional<bool> available);
    // What the icon shows now (for tests).
    QString ShownTip() const;
    QMenu* ShownMenu() const;
    int AddCount() const { return adds_; }

private:
    QIcon icon_;
    QString tip_;
    QMenu* menu_ = nullptr;
    int adds_ = 0;
    std::optional<QPoint> eventPoint_;
    std::unique_ptr<QSystemTrayIcon> icon_widget_;
};

}  // namespace platform
