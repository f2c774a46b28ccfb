#include "mail/msg_form.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include "app/forms.h"
#include "app/main_form.h"
#include "platform/window.h"

#include <algorithm>

MsgForm::MsgForm()
    : core::Form(QStringLiteral("新着お知らせボード"), 3600, 285),
      Text1(client(), QStringLiteral("新着メールがあります。"), core::Place{0, 0, 3135, 270}),
      Text2(client(), QString(), core::Place{3120, 0, 495, 270}) {
    Text2.widget()->setAlignment(Qt::AlignRight);
    platform::MakeOwned(hWnd());  // above the clock and the ghost cat it announces
    // Just above the clock (below it when the screen ends there), so that the board does not hide
    // the cat show it announces.
    QWidget* w = hWnd();
    w->adjustSize();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    QPoint at = area.center() - QPoint(w->width() / 2, w->height() / 2);
    if (forms::MainFormLoaded()) {
        const QRect clock = forms::MainForm().hWnd()->frameGeometry();
        at = QPoint(clock.center().x() - w->width() / 2, clock.top() - w->height() - 40);  // room for its title bar
        if (at.y() < area.top()) at.setY(clock.bottom() + 8);
    }
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - w->width())));
    w->move(at);
}

void MsgForm::Form_Load() {
    platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0,
                           platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
}
