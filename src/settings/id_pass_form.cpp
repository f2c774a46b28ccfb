#include "settings/id_pass_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

#include "core/program.h"
#include "mail/push.h"
#include "platform/keyring.h"
#include "platform/net_wait.h"
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

IdPassForm::~IdPassForm() {
    if (keyring_) keyring_->form = nullptr;
}

void IdPassForm::Form_Load() {
    const settings::Account stored = settings::ReadStoredAccount();
    IdText.SetText(stored.id);
    PassText.SetText(stored.password);
    if (!settings::PasswordInKeyring(stored)) return;
    // The keyring may ask to be unlocked and the person may take their time: whoever loads the dialog
    // (start-up, a check) goes on meanwhile, and the password box is filled once the keyring answers.
    // Nothing waits in between.
    keyring_ = std::make_shared<KeyringAnswer>();
    keyring_->id = stored.id;
    keyring_->form = this;
    settings::ReadKeyringPasswordThen(stored.id, [answer = keyring_](const QString& password) {
        answer->password = password;
        answer->done = true;
        if (answer->form) answer->form->KeyringAnswered();
    });
}

void IdPassForm::KeyringAnswered() {
    if (Unloading()) return;
    // What the person typed meanwhile stays; the keyring's password belongs to the ID that was loaded.
    if (PassText.Text().isEmpty() && IdText.Text() == keyring_->id) PassText.SetText(keyring_->password);
    if (showIfIncomplete_) ShowIfIncomplete();
}

void IdPassForm::ShowIfIncomplete() {
    showIfIncomplete_ = keyring_ && !keyring_->done;
    if (!showIfIncomplete_ && (IdText.Text().isEmpty() || PassText.Text().isEmpty())) Show();
}

std::shared_ptr<const KeyringAnswer> IdPassForm::AwaitedKeyring() const {
    return keyring_ && !keyring_->done ? keyring_ : nullptr;
}

settings::Account IdPassForm::AwaitKeyring(const std::shared_ptr<const KeyringAnswer>& answer) {
    const std::function<bool()> answered = [answer] { return answer->done; };
    platform::Net().WaitUntil(answered, platform::kKeyringLongestWaitMs);
    return {answer->id, answer->done ? answer->password : QString()};
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
