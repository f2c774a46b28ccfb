#include "platform/tray.h"

#include <QDBusMessage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <utility>

// QtDBus shows every method call the program receives to the hooks added here, in the main thread and
// before the call is delivered (exported by QtDBus, declared only in its private headers).
void qDBusAddSpyHook(void (*hook)(const QDBusMessage&));

namespace platform {

namespace {
std::optional<bool> g_availableForTests;

// The point the last StatusNotifierItem ContextMenu(x, y) call named, until its activation takes it.
// Qt turns that call into a context activation and drops x and y, leaving the menu to open at the
// pointer, which a tray driven by keyboard or touch has not moved there.
std::optional<QPoint> g_contextMenuAt;

void NoteContextMenuCall(const QDBusMessage& call) {
    if (call.type() != QDBusMessage::MethodCallMessage || call.member() != QLatin1String("ContextMenu") ||
        call.path() != QLatin1String("/StatusNotifierItem") ||
        !(call.interface().isEmpty() || call.interface() == QLatin1String("org.kde.StatusNotifierItem"))) {
        return;
    }
    const QList<QVariant> args = call.arguments();
    if (args.size() != 2 || args[0].metaType().id() != QMetaType::Int || args[1].metaType().id() != QMetaType::Int)
        return;
    g_contextMenuAt = QPoint(args[0].toInt(), args[1].toInt());
}
}  // namespace

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
        static const bool watching = (qDBusAddSpyHook(NoteContextMenuCall), true);
        (void)watching;
        icon_widget_ = std::make_unique<QSystemTrayIcon>();
        QSystemTrayIcon* icon = icon_widget_.get();
        QObject::connect(icon, &QSystemTrayIcon::activated, icon, [this, icon](QSystemTrayIcon::ActivationReason why) {
            // Taken by this activation whatever it is, so that it never outlives the call it came with.
            const std::optional<QPoint> at = std::exchange(g_contextMenuAt, std::nullopt);
            int16_t code;
            if (why == QSystemTrayIcon::Trigger) code = 0;
            else if (why == QSystemTrayIcon::Context) code = 1;
            else return;
            // A StatusNotifier tray calls the program over D-Bus and waits for the answer, which is
            // sent once this returns; an X11 tray's click is being handled. Answer first, act after.
            QMetaObject::invokeMethod(
                icon,
                [this, code, at] {
                    eventPoint_ = code == 1 ? at : std::nullopt;
                    if (TrayEvent) TrayEvent(code);
                    eventPoint_.reset();
                },
                Qt::QueuedConnection);
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
