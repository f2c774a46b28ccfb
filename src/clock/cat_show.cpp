// The cat show: the tune plays while cat pictures take turns in the clock, up to 501 cycles or
// until "戻す".
#include "app/forms.h"
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/program.h"
#include "ghostcat/ghost_cat_form.h"
#include "platform/mci.h"
#include "settings/set_form.h"

namespace {

int32_t Mci(const std::string& command) { return platform::mciSendStringA(command, nullptr, 0, nullptr); }

}  // namespace

void MainForm::Command2_Click() {
    // Reading the option loads the settings dialog, hidden, when it is not loaded yet.
    if (forms::SetForm().Check4.Value() == 1) forms::Form1().Show();
    prog::CatShowStop = 0;
    const std::string open = "open \"" + core::Ansi(core::DataPath(paths::kTune)) + "\" alias bgm";
    for (int cycle = 0; cycle <= 500 && prog::CatShowStop != 1; ++cycle) {
        prog::LastApiResult = Mci(open);
        prog::LastApiResult = Mci("play bgm");
        for (const char* picture : {"cat4", "cat3", "cat2", "cat1"}) {
            // A missing picture keeps the one shown; the waits go on regardless.
            picMain.LoadPicture(core::DataPath(QStringLiteral("\\画像データ\\%1.gif").arg(picture)));
            core::WaitMs(150);
        }
        picMain.LoadPicture(core::DataPath(paths::kWatchPicture));
    }
}

void MainForm::Command3_Click() {
    prog::CatShowStop = 1;
    prog::LastApiResult = Mci("stop bgm");
    prog::LastApiResult = Mci("close bgm");
    picMain.LoadPicture(core::DataPath(paths::kWatchPicture));
}
