#pragma once
// The account dialog "ID,PASS": the POP user ID and password, optionally saved to iniIdPass.ini.
// Its two boxes also hold the account for start-up and the mail check, shown or not.
#include <memory>

#include "core/controls.h"
#include "core/form.h"
#include "settings/account.h"

class IdPassForm;

// The keyring's answer for the password of the account a dialog loaded. A keyring may ask the person
// to unlock it first, so the answer comes after the load, as an event.
struct KeyringAnswer {
    QString id;
    QString password;  // empty: none
    bool done = false;
    IdPassForm* form = nullptr;  // the dialog it is for, while that lives
};

class IdPassForm : public core::Form {
public:
    IdPassForm();
    ~IdPassForm() override;

    void Form_Load() override;
    void OKCommand_Click();
    void CancelCommand_Click();

    // Start-up's step: shows the dialog when the ID or the password is empty; while the keyring's
    // answer is still to come, once it has come.
    void ShowIfIncomplete();
    // The keyring's answer for the loaded account while it is still to come; nullptr when none is.
    std::shared_ptr<const KeyringAnswer> AwaitedKeyring() const;
    // The loaded account once that answer has come (in a check, only the check waits for it).
    static settings::Account AwaitKeyring(const std::shared_ptr<const KeyringAnswer>& answer);

    core::Label Label1;
    core::TextBox IdText;
    core::Label Label2_0;
    core::TextBox PassText;
    core::CheckBox Check1;
    core::Label Label2_1;
    core::CommandButton OKCommand, CancelCommand;

private:
    void KeyringAnswered();
    std::shared_ptr<KeyringAnswer> keyring_;
    bool showIfIncomplete_ = false;
};
