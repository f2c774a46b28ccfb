#include "platform/tray.h"

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
        QObject::connect(icon_widget_.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason why) {
                             if (!TrayEvent) return;
                             if (why == QSystemTrayIcon::Trigger) TrayEvent(0);
                             else if (why == QSystemTrayIcon::Context) TrayEvent(1);
                         });
    }
    icon_widget_->setIcon(icon_);
    icon_widget_->setToolTip(tip_);
    icon_widget_->show();
    return true;
}

bool TrayControl::InTray() const { return icon_widget_ && icon_widget_->isVisible(); }

QString TrayControl::ShownTip() const { return icon_widget_ ? icon_widget_->toolTip() : QString(); }

}  // namespace platform
