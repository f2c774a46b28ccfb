// Choosing the mail program, and hanging up dial-up connections after a check.
#include <cstring>
#include <vector>

#include "app/main_form.h"
#include "core/program.h"
#include "platform/files.h"

void MainForm::Command7_Click() {
    const std::optional<std::string> chosen = platform::ShowOpenFileDialog(hWnd());
    // A cancelled dialog leaves the chosen program as it was.
    if (!chosen) return;
    Text7.SetText(core::FromAnsi(*chosen));
    char title[250] = {};
    platform::GetFileTitleA(*chosen, title, sizeof title);
    Text8.SetText(QString::fromUtf8(title, qsizetype(strnlen(title, sizeof title))));
}

// Until dial-up connections can be enumerated here, there is nothing to hang up.
void MainForm::Command5_Click() {}
