#pragma once
// An icon in the desktop's system tray, with a tip text and a 16-bit event code for the mouse:
// 0 for a plain click, 1 for the context click (the one that should open a popup menu).
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSystemTrayIcon;

namespace platform {

class TrayControl {
public:
    TrayControl();
    ~TrayControl();

    // Written before AddToTray; taken at the next AddToTray.
    void SetIconHandle(const QIcon& icon) { icon_ = icon; }
    void SetTipText(const QString& text) { tip_ = text; }
    // Shows the icon with its tip text (again: a second call refreshes both). False where the desktop
    // has no system tray: nothing is shown then.
    bool AddToTray();
    bool InTray() const;

    std::function<void(int16_t code)> TrayEvent;

    // Whether the desktop has a system tray at all.
    static bool Available();
    // Tests stand in for the desktop: nullopt gives the real answer back.
    static void SetAvailableForTests(std::optional<bool> available);
    // What the icon shows now (for tests).
    QString ShownTip() const;
    int AddCount() const { return adds_; }

private:
    QIcon icon_;
    QString tip_;
    int adds_ = 0;
    std::unique_ptr<QSystemTrayIcon> icon_widget_;
};

}  // namespace platform
