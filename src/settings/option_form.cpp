#include "settings/option_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

#include "core/program.h"
#include "mail/push.h"
#include "platform/window.h"
#include "settings/dialog_placement.h"
#include "settings/server_file.h"

using core::Place;

OptionForm::OptionForm()
    : core::Form(QStringLiteral("サーバー設定"), 2895, 3015),
      Label1(client(), QStringLiteral("SMTPサーバー名(&S)"), Place{120, 120, 1575, 195}),
      SmtpText(client(), QString(), Place{120, 360, 2652, 264}),
      Label2(client(), QStringLiteral("POP3サーバー名(&P)"), Place{120, 720, 1635, 195}),
      Pop3Text(client(), QString(), Place{120, 960, 2652, 264}),
      Label3(client(), QStringLiteral("メールアドレス(&M)"), Place{120, 1320, 1635, 195}),
      MailText(client(), QString(), Place{120, 1560, 2652, 264}),
      ApopCheck(client(), QStringLiteral("APOP を使用する(&A)"), Place{480, 2040, 2172, 252}),
      OKCommand(client(), QStringLiteral("設定"), Place{660, 2520, 972, 372}),
      CancelCommand(client(), QStringLiteral("中止"), Place{1860, 2520, 912, 372}) {
    platform::MakeOwned(hWnd());  // above the clock
    // "&" marks the access key, as the captions are written.
    Label1.widget()->setBuddy(SmtpText.widget());
    Label2.widget()->setBuddy(Pop3Text.widget());
    Label3.widget()->setBuddy(MailText.widget());
    CancelCommand.SetCancel(true);
    OKCommand.Click = [this] { OKCommand_Click(); };
    CancelCommand.Click = [this] { CancelCommand_Click(); };
    QWidget::setTabOrder(SmtpText.widget(), Pop3Text.widget());
    QWidget::setTabOrder(Pop3Text.widget(), ApopCheck.widget());
    QWidget::setTabOrder(ApopCheck.widget(), OKCommand.widget());
    QWidget::setTabOrder(OKCommand.widget(), CancelCommand.widget());
    QWidget::setTabOrder(CancelCommand.widget(), MailText.widget());
    settings::PlaceBesideMainWindow(*this, 0);
}

void OptionForm::Form_Load() {
    platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0,
                           platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
    SmtpText.SetText(prog::SmtpServer);
    Pop3Text.SetText(prog::Pop3Server);
    MailText.SetText(prog::MailAddress);
    ApopCheck.SetValue(prog::ApopFlag);
}

void OptionForm::OKCommand_Click() {
    prog::SmtpServer = SmtpText.Text();
    prog::Pop3Server = Pop3Text.Text();
    prog::MailAddress = MailText.Text();
    prog::ApopFlag = int16_t(ApopCheck.Value());
    mail::UpdatePush();
    // A save that fails is told; the values taken above stay in use all the same.
    settings::ReportFailedSave(WriteServerFile(), QStringLiteral("サーバー設定（サーバー名、メールアドレス、APOP）"),
                               settings::SavedFileName(paths::kServerFile));
    Unload();
}

void OptionForm::CancelCommand_Click() { Unload(); }
