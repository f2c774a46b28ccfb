#pragma once
// The account dialog "ID,PASS": the POP user ID and password, optionally saved to iniIdPass.ini.
// Its two boxes also hold the account for start-up and the mail check, shown or not.
#include "core/controls.h"
#include "core/form.h"

class IdPassForm : public core::Form {
public:
    IdPassForm();

    void Form_Load() override;
    void OKCommand_Click();
    void CancelCommand_Click();

    core::Label Label1;
    core::TextBox IdText;
    core::Label Label2_0;
    core::TextBox PassText;
    core::CheckBox Check1;
    core::Label Label2_1;
    core::CommandButton OKCommand, CancelCommand;
};
