// The interval lamp: blinks green and red while interval checking is on, stays green while it is off.
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/program.h"

void MainForm::Timer5_Timer() {
    const QString green = core::DataPath(QStringLiteral("\\画像データ\\Green.gif"));
    if (Check3.Value() == 1) {
        Image1.LoadPicture(green);
        core::WaitMs(2000);
        Image1.LoadPicture(core::DataPath(QStringLiteral("\\画像データ\\Red.gif")));
    } else if (Check3.Value() == 0) {
        Image1.LoadPicture(green);
    }
}
