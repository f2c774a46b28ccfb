#include "settings/dialog_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/form.h"

namespace settings {

void PlaceBesideMainWindow(core::Form& dialog, int slot) {
    if (!forms::MainFormLoaded()) return;
    const QRect main = forms::MainForm().hWnd()->frameGeometry();
    QWidget* w = dialog.hWnd();
    w->adjustSize();
    const int gap = 12;
    // The first dialog goes to the right of the clock, the second to its left.
    int x = slot == 0 ? main.right() + gap : main.left() - gap - w->frameGeometry().width();
    int y = main.top();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() - w->width()));
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - w->height()));
    }
    w->move(x, y);
}

}  // namespace settings
