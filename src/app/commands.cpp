// Commands of the clock window that belong to no other part of the program: the tray, the homepage
// prompt and "戻す".
#include <QLocale>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/msgbox.h"
#include "core/program.h"
#include "platform/browser.h"
#include "platform/mci.h"
#include "platform/pointer.h"

namespace {

const QString kHomepage = QStringLiteral("https://vellumine.example.org/");

// The date and time as the system writes them: short date, a blank, the time.
QString GeneralDate(const QDateTime& t) {
    return QLocale::system().toString(t.date(), QLocale::ShortFormat) + u' ' + t.time().toString(QStringLiteral("H:mm:ss"));
}

}  // namespace

void MainForm::Command1_Click() {
    TrayControl1.SetIconHandle(hWnd()->windowIcon());
    TrayControl1.SetTipText(GeneralDate(core::Loop().Now()));
    // Where the desktop has no tray the window would be hidden for good: it stays where it is.
    if (!TrayControl1.AddToTray()) return;
    Hide();
}

void MainForm::TrayControl1_TrayEvent(int16_t code) {
    if (code == 0) {
        core::MsgBox(QStringLiteral("Clicked!"), core::vbExclamation, QStringLiteral("Vellumine"));
    } else if (code == 1) {
        // The tray opens the menu at its icon itself where it can (it has been given it). A tray that
        // asks the program for it gets it where it says, and one that only reports the click at the
        // pointer.
        if (mnuPopup->isVisible()) return;
        platform::POINT at{};
        if (const std::optional<QPoint> asked = TrayControl1.EventPoint())
            at = {asked->x(), asked->y()};
        else
            platform::GetCursorPos(&at);
        mnuPopup->popup(QPoint(at.x, at.y));
    }
}

void MainForm::mnu_Popup_Click(int16_t index) {
    if (index == 0)
        Show();
    else if (index == 2)
        Unload();
}

void MainForm::mmodosu_Click() {
    prog::LastApiResult = platform::mciSendStringA("stop bgm", nullptr, 0, nullptr);
    prog::LastApiResult = platform::mciSendStringA("close bgm", nullptr, 0, nullptr);
    Command3_Click();
    forms::UnloadForm1();
}

void MainForm::Command10_Click() { Picture10_Click(); }

void MainForm::Picture10_Click() {
    const int answer = core::MsgBox(QStringLiteral("「Pelindra」作者のホームページです。ちょっと見てみますか？"),
                                    core::vbYesNo + core::vbQuestion, QStringLiteral("確認"));
    if (answer != core::vbYes) return;
    platform::BrowserAutomation browser;
    browser.SetVisible(true);
    browser.Navigate(kHomepage);
}

// Both try to show a window the program does not contain; no menu leads to them. Nothing to do.
void MainForm::Command11_Click() {}
void MainForm::Label2_DblClick() {}
