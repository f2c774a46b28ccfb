#pragma once
// The settings dialog "設定": the check interval and four switches. Its controls are also where
// these options live while the program runs; other parts read them directly.
#include <optional>
#include <vector>

#include "core/controls.h"
#include "core/form.h"
#include "settings/profile_keys.h"

namespace settings {
// The five options as the settings dialog holds them.
struct Options {
    int check1 = 0, check2 = 0, check3 = 0, check4 = 0;
    QString text2;
};
// Options whose save failed in this run: every new load of the dialog takes them over the file's,
// so that they stay in use, and count as changes for shut-down, until a save lands (nullopt).
void SetUnsavedOptions(std::optional<Options> options);
}  // namespace settings

class SetForm : public core::Form {
public:
    SetForm();

    void Form_Load() override;
    void Form_Unload(int& cancel) override;
    void Text2_Change();
    void Command1_Click();  // "ID/PASS"
    void Command2_Click();  // "POPサーバー"

    // Writes the five options to ini.ini in one replacement, as closing the dialog does.
    settings::Saved SaveOptions();
    // The options that differ from what the last load read from the file: the changes made in this
    // dialog that would otherwise be lost, for shut-down to save (no rewrite of values nobody touched).
    std::vector<settings::KeyValue> ChangedOptions() const;

    core::CommandButton Command1, Command2;
    core::CheckBox Check1;
    core::Label Label1, Label5, Label3;
    core::TextBox Text2;
    core::Label Label2;
    core::CheckBox Check2, Check3;
    core::Label Label6;
    core::CheckBox Check4;

private:
    settings::Options Current() const;
    settings::Options loaded_;
};
