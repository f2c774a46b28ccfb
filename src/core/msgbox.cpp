#include "core/msgbox.h"

#include <QMessageBox>

namespace core {

namespace {
MsgBoxHook g_hook;
}

void SetMsgBoxHook(MsgBoxHook hook) { g_hook = std::move(hook); }

int MsgBox(const QString& prompt, int style, const QString& title) {
    if (g_hook) return g_hook(prompt, style, title);
    QMessageBox box;
    box.setText(prompt);
    box.setWindowTitle(title);
    switch (style & 0x70) {
        case vbQuestion: box.setIcon(QMessageBox::Question); break;
        case vbExclamation: box.setIcon(QMessageBox::Warning); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
    // Above the top-most clock, or it would open behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if ((style & 0x0F) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

}  // namespace core
