#pragma once
// The server dialog "サーバー設定": SMTP and POP3 server names, mail address, APOP; saved to qorvel.ini.
#include "core/controls.h"
#include "core/form.h"

class OptionForm : public core::Form {
public:
    OptionForm();

    void Form_Load() override;
    void OKCommand_Click();
    void CancelCommand_Click();

    core::Label Label1;
    core::TextBox SmtpText;
    core::Label Label2;
    core::TextBox Pop3Text;
    core::Label Label3;
    core::TextBox MailText;
    core::CheckBox ApopCheck;
    core::CommandButton OKCommand, CancelCommand;
};
