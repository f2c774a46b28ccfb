#include "platform/tray.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace platform {

namespace {
std::optional<bool> g_availableForTests;
}

TrayControl::TrayControl() = default;
TrayControl::~TrayControl() = default;

bool TrayControl::Available() {
    if (g_availableForTests) return *g_availableForTests;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayControl::SetAvailableForTests(std::optional<bool> available) { g_availableForTests = available; }

bool TrayControl::AddToTray() {
    ++adds_;
    if (!Available()) return false;
    if (!icon_widget_) {
        icon_widget_ = std::make_unique<QSystemTrayIcon>();
        QSystemTrayIcon* icon = icon_widget_.get();
        QObject::connect(icon, &QSystemTrayIcon::activated, icon, [this, icon](QSystemTrayIcon::ActivationReason why) {
            int16_t code;
            if (why == QSystemTrayIcon::Trigger) code = 0;
            else if (why == QSystemTrayIcon::Context) code = 1;
            else return;
            // A StatusNotifier tray calls the program over D-Bus and waits for the answer, which is
            // sent once this returns; an X11 tray's click is being handled. Answer first, act after.
            QMetaObject::invokeMethod(
                icon, [this, code] { if (TrayEvent) TrayEvent(code); }, Qt::QueuedConnection);
        });
    }
    // Before the icon is shown: a StatusNotifier tray reads the menu's address as the icon registers.
    if (menu_ && icon_widget_->contextMenu() != menu_) icon_widget_->setContextMenu(menu_);
    icon_widget_->setIcon(icon_);
    icon_widget_->setToolTip(tip_);
    icon_widget_->show();
    return true;
}

bool TrayControl::InTray() const { return icon_widget_ && icon_widget_->isVisible(); }

QString TrayControl::ShownTip() const { return icon_widget_ ? icon_widget_->toolTip() : QString(); }

QMenu* TrayControl::ShownMenu() const { return icon_widget_ ? icon_widget_->contextMenu() : nullptr; }

}  // namespace platform
