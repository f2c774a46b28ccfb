#include "core/msgbox.h"

#include <QMessageBox>

#include "core/beside.h"
#include "platform/window.h"

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
    // The clock's box, above it whichever stack opened it; top-most as well, for when the clock is in
    // the tray and owns nothing, and to stay above the ghost cat.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    platform::MakeOwned(&box);
    const bool yesNo = (style & 0x0F) == vbYesNo;
    box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    if (OnBeside()) {
        // In the check: modal as ever, but a nested event loop here would hold up everything else
        // that waits. The box is shown and only the check waits for it to close.
        bool closed = false;
        QObject::connect(&box, &QMessageBox::finished, [&closed] { closed = true; });
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        const std::function<bool()> done = [&closed] { return closed; };
        beside::Suspend(&done, false, 0, false);
        if (!yesNo) return vbOK;
        return box.clickedButton() == box.button(QMessageBox::Yes) ? vbYes : vbNo;
    }
    if (yesNo) return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    box.exec();
    return vbOK;
}

}  // namespace core
