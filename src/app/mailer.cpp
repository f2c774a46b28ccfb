// Choosing the mail program, and hanging up dial-up connections after a check.
#include <cstring>
#include <vector>

#include "app/main_form.h"
#include "core/program.h"
#include "platform/files.h"
#include "platform/ras.h"

void MainForm::Command7_Click() {
    const std::optional<std::string> chosen = platform::ShowOpenFileDialog(hWnd());
    // A cancelled dialog leaves the chosen program as it was.
    if (!chosen) return;
    Text7.SetText(core::FromAnsi(*chosen));
    char title[250] = {};
    platform::GetFileTitleA(*chosen, title, sizeof title);
    Text8.SetText(QString::fromUtf8(title, qsizetype(strnlen(title, sizeof title))));
}

void MainForm::Command5_Click() {
    std::vector<platform::RASCONNA> table(256);
    table[0].dwSize = sizeof(platform::RASCONNA);
    uint32_t bytes = uint32_t(sizeof(platform::RASCONNA) * table.size());
    uint32_t count = 0;
    if (platform::RasEnumConnectionsA(table.data(), &bytes, &count) != 0) return;
    for (uint32_t i = 0; i < count && i < table.size(); ++i) platform::RasHangUpA(table[i].hrasconn);
}
