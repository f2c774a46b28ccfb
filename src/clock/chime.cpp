// The hourly chime: a bird pops out of the clock once per hour of a 12-hour dial.
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/program.h"

void MainForm::Command4_Click() {
    if (prog::ChimeHour >= 13) prog::ChimeHour -= 12;
    const int16_t n = int16_t(prog::ChimeHour);
    for (int16_t i = 1; i <= n; ++i) {
        // A missing picture keeps the one shown; the waits go on regardless.
        picMain.LoadPicture(core::DataPath(QStringLiteral("\\画像データ\\Bird1.gif")));
        core::WaitMs(50);
        picMain.LoadPicture(core::DataPath(QStringLiteral("\\画像データ\\Bird2.gif")));
        core::WaitMs(50);
        picMain.LoadPicture(core::DataPath(QStringLiteral("\\画像データ\\Bird3.gif")));
        core::WaitMs(1000);
        picMain.LoadPicture(core::DataPath(paths::kWatchPicture));
    }
}
