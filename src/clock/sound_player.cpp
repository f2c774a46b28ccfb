// The tune loop: restarts the tune when it has ended and "ループ" is ticked, else closes it.
#include <cstring>

#include "app/main_form.h"
#include "core/program.h"
#include "platform/mci.h"

void MainForm::Timer2_Timer() {
    // The reply lands left-aligned in a 256-character field padded with blanks.
    char reply[256];
    std::memset(reply, 0, sizeof reply);
    const int32_t status = platform::mciSendStringA("status bgm mode", reply, 255, nullptr);
    // With no tune open, a tick changes nothing and the next can wait up to a second for a wake-up of
    // the program's; once the tune is open its end is watched every tick.
    Timer2.SetSlack(status == platform::MCIERR_INVALID_DEVICE_NAME ? 1000 : 0);
    const QString text = core::CutAtNul(QString::fromUtf8(reply, qsizetype(strnlen(reply, sizeof reply))));
    prog::MciReply = text.leftJustified(256, QChar(u' '), true);
    if (prog::MciReply.left(7) != QStringLiteral("stopped")) return;
    if (Check1.Value() != 0) {
        platform::mciSendStringA("play bgm from 0", nullptr, 0, nullptr);
    } else {
        platform::mciSendStringA("stop bgm", nullptr, 0, nullptr);
        platform::mciSendStringA("close bgm", nullptr, 0, nullptr);
        Timer2.SetEnabled(false);
    }
}
