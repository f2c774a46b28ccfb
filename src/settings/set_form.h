#pragma once
// The settings dialog "設定": the check interval and four switches. Its controls are also where
// these options live while the program runs; other parts read them directly.
#include "core/controls.h"
#include "core/form.h"

class SetForm : public core::Form {
public:
    SetForm();

    void Form_Load() override;
    void Form_Unload(int& cancel) override;
    void Text2_Change();
    void Command1_Click();  // "ID/PASS"
    void Command2_Click();  // "POPサーバー"

    // Writes the five options to ini.ini, as closing the dialog does.
    void SaveOptions();
    // Writes only the options that differ from what the last load read: the changes made in this
    // dialog that would otherwise be lost, and no rewrite of values nobody touched.
    void SaveChangedOptions();

    core::CommandButton Command1, Command2;
    core::CheckBox Check1;
    core::Label Label1, Label5, Label3;
    core::TextBox Text2;
    core::Label Label2;
    core::CheckBox Check2, Check3;
    core::Label Label6;
    core::CheckBox Check4;

private:
    struct Options {
        int check1 = 0, check2 = 0, check3 = 0, check4 = 0;
        QString text2;
    };
    Options Current() const;
    Options loaded_;
};
