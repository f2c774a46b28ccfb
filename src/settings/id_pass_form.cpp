#include "settings/id_pass_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

#include "core/program.h"
#include "mail/push.h"
#include "platform/window.h"
#include "settings/account.h"
#include "settings/dialog_placement.h"
#include "settings/profile_keys.h"

using core::Place;

IdPassForm::IdPassForm()
    : core::Form(QStringLiteral("ID,PASS"), 2880, 1785),
      Label1(client(), QStringLiteral("ID"), Place{120, 180, 675, 255}),
      IdText(client(), QString(), Place{960, 120, 1632, 264}),
      Label2_0(client(), QStringLiteral("Password"), Place{120, 600, 795, 255}),
      PassText(client(), QString(), Place{960, 600, 1632, 264}),
      Check1(client(), QString(), Place{420, 1020, 255, 255}),
      Label2_1(client(), QStringLiteral("IDパスワードを保存する"), Place{780, 1020, 1875, 255}),
      OKCommand(client(), QStringLiteral("OK"), Place{900, 1380, 852, 312}),
      CancelCommand(client(), QStringLiteral("Cancel"), Place{1860, 1380, 852, 312}) {
    platform::MakeOwned(hWnd());  // above the clock
    PassText.SetPasswordChar(u'*');
    OKCommand.SetDefault(true);
    CancelCommand.SetCancel(true);
    OKCommand.Click = [this] { OKCommand_Click(); };
    CancelCommand.Click = [this] { CancelCommand_Click(); };
    QWidget::setTabOrder(IdText.widget(), PassText.widget());
    QWidget::setTabOrder(PassText.widget(), OKCommand.widget());
    QWidget::setTabOrder(OKCommand.widget(), CancelCommand.widget());
    QWidget::setTabOrder(CancelCommand.widget(), Check1.widget());
    settings::PlaceBesideMainWindow(*this, 1);
}

void IdPassForm::Form_Load() {
    const settings::Account stored = settings::ReadAccount();
    IdText.SetText(stored.id);
    PassText.SetText(stored.password);
}

void IdPassForm::OKCommand_Click() {
    prog::PopUserId = IdText.Text();
    prog::PopPassword = PassText.Text();
    settings::SetLastAcceptedAccount({IdText.Text(), PassText.Text()});
    mail::UpdatePush();
    if (Check1.Value() == 1) {
        const settings::Saved saved = settings::SaveAccount({IdText.Text(), PassText.Text()});
        settings::ReportFailedSave(saved, QStringLiteral("IDとパスワード"), settings::SavedFileName(paths::kIdPassFile));
    } else {
        // Only the choice not to save, which nothing reads back: a failure loses nothing worth a box.
        settings::LogFailedSave(settings::WriteKeys(paths::kIdPassFile, {{"NAME3", QStringLiteral("0")}}),
                                settings::SavedFileName(paths::kIdPassFile));
    }
    Unload();
}

void IdPassForm::CancelCommand_Click() { Unload(); }
