// Menu commands of the clock window that belong to no other part of the program.
#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "platform/mci.h"

void MainForm::mmodosu_Click() {
    prog::LastApiResult = platform::mciSendStringA("stop bgm", nullptr, 0, nullptr);
    prog::LastApiResult = platform::mciSendStringA("close bgm", nullptr, 0, nullptr);
    Command3_Click();
    forms::UnloadForm1();
}

void MainForm::mnu_Popup_Click(int16_t index) {
    if (index == 0)
        Show();
    else if (index == 2)
        Unload();
}

// Still to come with the tray and the homepage prompt: these commands do nothing yet.
void MainForm::Command1_Click() {}
void MainForm::Command10_Click() { Picture10_Click(); }
void MainForm::Picture10_Click() {}

// Both try to show a window the program does not contain; no menu leads to them. Nothing to do.
void MainForm::Command11_Click() {}
void MainForm::Label2_DblClick() {}
