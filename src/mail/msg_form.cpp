#include "mail/msg_form.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include "platform/window.h"

MsgForm::MsgForm()
    : core::Form(QStringLiteral("新着お知らせボード"), 3600, 285),
      Text1(client(), QStringLiteral("新着メールがあります。"), core::Place{0, 0, 3135, 270}),
      Text2(client(), QString(), core::Place{3120, 0, 495, 270}) {
    Text2.widget()->setAlignment(Qt::AlignRight);
    QWidget* w = hWnd();
    w->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}

void MsgForm::Form_Load() {
    platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0,
                           platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
}
